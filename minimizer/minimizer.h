#ifndef GXE_MINIMIZER_MINIMIZER_H_
#define GXE_MINIMIZER_MINIMIZER_H_

// Public face of the bound-constrained trust-region minimizer: the layout of
// the caller's IV and V arrays with their codes and settings (slots.h), the
// defaults (divset, params.h) and the reverse-communication driver. Most
// callers use the entry routine dmngb (dmngb.h), which includes this header.
//
// Inside the minimizer each group of routines has its header: linalg.h
// (vector and triangular kernels), machine.h (machine constants), params.h
// (settings and their checks), assess.h (step assessment), dogleg.h (bounded
// double-dogleg step), secant.h (BFGS update of the factor) and summary.h
// (iteration summary).

#include "minimizer/params.h"
#include "minimizer/slots.h"

namespace gxe::minimizer {

// One step of the reverse-communication protocol of the minimization of f
// over the box given by b (pairs lower(i), upper(i)) in n variables, all
// state in iv and v (liv, lv: the lengths claimed for them). Returns with
// IV(1) = kNeedF (f wanted at x: call again with it in fx), kNeedGradient
// (the gradient wanted at x: call again with it in g) or a final code, x then
// holding the best point found. d is the scale vector; a fresh start with
// DINIT >= 0 rewrites it with DINIT. g (n entries) may be empty on a fresh
// start.
void drmngb(CVec b, Vec d, double fx, Vec g, IvView iv, int liv, int lv, int n, VView v, Vec x);

// The interrupt query, asked once per iteration; always false here, so
// kInterrupted never ends a run. The argument is not read.
bool stopx(int dummy);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_MINIMIZER_H_
