#ifndef GXE_MINIMIZER_DOGLEG_H_
#define GXE_MINIMIZER_DOGLEG_H_

// Bounded double-dogleg step of the trust-region iteration, and the plane
// reflections that re-triangularise the Cholesky factor when a variable is
// fixed at a bound.

#include <span>

#include "minimizer/slots.h"

namespace gxe::minimizer {

// Double-dogleg step inside the trust region, cut at the box and retaken on
// the variables still free each time it hits a bound, for the model with
// gradient g and Hessian L L' about x0.
//   b       bounds pair by pair: b[2(i-1)] = lower(i), b[2(i-1)+1] = upper(i)
//   d       scale vector; steps are measured as |diag(d) s|
//   dig     work: the scaled-gradient direction of the current pass
//   dst     work: the scaled step taken so far, in permuted order
//   g       gradient at x0
//   ipiv    permutation, free variables first; variables cut at a bound move
//           behind the ones still free
//   ka      -1 on the first call of an iteration (the full Newton step's
//           length and decrease are then recorded), then the pass count
//   l       packed factor of the free variables in permuted order;
//           re-triangularised as variables are fixed
//   lv      not read
//   p, pc   number of variables and of free variables
//   nwtst   work: the Newton step of the reduced model
//   step    the step, in the variables' own order and units
//   td, tg  work: scale and model gradient in permuted order
//   v       reads SCALED_GRAD_NORM, RADIUS, BIAS; writes STEP_NORM, STPPAR,
//           PRED_DECREASE, GRAD_DOT_STEP, NEWTON_NORM and NEWTON_DECREASE
//   w       work, p entries
//   x0      the point the step starts from
void dd7dgb(CVec b, CVec d, Vec dig, Vec dst, CVec g, std::span<int> ipiv, int& ka, Vec l,
            int lv, int p, int pc, Vec nwtst, Vec step, Vec td, Vec tg, VView v, Vec w, CVec x0);

// One double-dogleg step of n variables without bounds: the point where the
// path 0 -> Cauchy point -> relaxed Newton point -> Newton point leaves the
// trust region of radius RADIUS, written to step. dig is the scaled-gradient
// direction D^-2 g and nwtstp the Newton direction H^-1 g (the Newton step
// is its negative). v supplies NEWTON_NORM, SCALED_GRAD_NORM, RADIUS,
// CURVATURE_NORM, NEWTON_DECREASE and BIAS and receives STPPAR, STEP_NORM,
// GRAD_DOT_STEP, PRED_DECREASE, GRAD_COEF and NEWTON_COEF. lv is not read.
void dd7dog(CVec dig, int lv, int n, CVec nwtstp, Vec step, VView v);

// Moves variable k of the packed p x p factor r (H = R R') to position p and
// restores R's triangular form with 2x2 reflections from the right; w (p
// entries) is work. When havqtr, qtr receives the same reflections.
void dq7rsh(int k, int p, bool havqtr, Vec qtr, Vec r, Vec w);

// 2x2 Householder reflection that maps (a, b) to (result, 0); returns the
// result and sets x, y, z, with which dh2rfa applies it.
double dh2rfg(double a, double b, double& x, double& y, double& z);

// Applies the reflection (x, y, z) of dh2rfg to the n pairs (a(i), b(i)).
void dh2rfa(int n, Vec a, Vec b, double x, double y, double z);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_DOGLEG_H_
