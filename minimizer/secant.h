#ifndef GXE_MINIMIZER_SECANT_H_
#define GXE_MINIMIZER_SECANT_H_

// Damped BFGS update of the Cholesky factor L of the Hessian approximation
// H = L L', after a step s with gradient change y: H+ = L (I + z w')(I + w z') L'.

#include "minimizer/slots.h"

namespace gxe::minimizer {

// The update vectors for the packed n x n factor l: w = L's and z such that
// the product above is the BFGS update, damped when y's < 0.1 s'Hs.
void dw7zbf(CVec l, int n, CVec s, Vec w, CVec y, Vec z);

// The packed factor lplus of L (I + z w')(I + w z') L' from l, w and z (n
// entries each); lplus may be l. beta, gamma and lambda (n entries each) are
// work; w and z are overwritten.
void dl7upd(Vec beta, Vec gamma, CVec l, Vec lambda, Vec lplus, int n, Vec w, Vec z);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_SECANT_H_
