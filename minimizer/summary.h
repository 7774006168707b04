#ifndef GXE_MINIMIZER_SUMMARY_H_
#define GXE_MINIMIZER_SUMMARY_H_

// Iteration summary of the bounded minimizer.

#include "minimizer/slots.h"

namespace gxe::minimizer {

// Prints what the code in IV(1) calls for on the unit OUTPUT_UNIT: the
// initial x and d, an iteration line, or the final message with statistics
// and the final x, d and g (n variables each). Nothing, and no slot changes,
// when OUTPUT_UNIT is 0 or liv, lv (the lengths claimed for IV and V) do not
// cover the slots it reads.
void ditsum(CVec d, CVec g, IvView iv, int liv, int lv, int n, VView v, CVec x);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_SUMMARY_H_
