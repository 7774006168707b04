#ifndef GXE_MINIMIZER_PARAMS_H_
#define GXE_MINIMIZER_PARAMS_H_

// Settings of the minimizer: the defaults written into the caller's IV and V
// arrays, and the check of both arrays and the scale vector that precedes
// every fresh start or continuation. Failures are reported through IV(1)
// (ReturnCode) and, when OUTPUT_UNIT is not 0, in words.
//
// The minimizer belongs to a family of solvers selected by ALG = 1 to 4; only
// ALG = 2 (general optimisation with simple bounds) has a solver here, but
// the layouts of the others are kept consistent. ALG1 = (ALG - 1) % 2 + 1
// picks the set of real settings: 1 for ALG = 1 or 3, 2 for ALG = 2 or 4.

#include "minimizer/slots.h"

namespace gxe::minimizer {

// The family of the solver here: general optimisation with simple bounds.
inline constexpr int kBoundedFamily = 2;

// Fills IV and V with the defaults of family `alg`: the output unit and ALG
// first, then (when the family exists and the arrays are long enough) every
// integer setting, the layout slots and, through dv7dfl, the real settings.
// liv and lv are the lengths claimed for IV and V (never beyond the views).
// IV(1) becomes kFreshStart, or kBadFamily, kIvTooShort or kVTooShort.
void divset(int alg, IvView iv, int liv, int lv, VView v);

// Writes the default real settings of set `alg1` (1 or 2, see above) into
// the slots from 19 of `v`, skipping slots beyond its end; lv is not used.
void dv7dfl(int alg1, int lv, VView v);

// Checks IV, V and the scale vector d (n entries) for family `alg` before a
// run starts or resumes: family, storage for n variables, the code in IV(1),
// the real settings' ranges and the scale entries. When all is well IV(1)
// keeps its code (kDefaultsFirst becomes kFreshStart through divset), else it
// holds the failure's code. With an output unit it
// also reports each failure and the settings changed since the last report.
void dparck(int alg, CVec d, IvView iv, int liv, int lv, int n, VView v);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_PARAMS_H_
