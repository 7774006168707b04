#ifndef GXE_MODEL_MODEL_H_
#define GXE_MODEL_MODEL_H_

// The trend-interaction model at one point of the alternative: the fits under
// both hypotheses, the information matrix and the variance of the interaction
// estimate, power and sample size, the normal distribution routines and the
// expected cell-count check. All routines work on the records of
// model/records.h; none allocates.
//
// The arithmetic is written once, as templates over the scalar type
// (model/fits_impl.h, model/normal_impl.h, model/power_impl.h); the routines
// below are its double versions, and the derivative code runs the same
// templates on values that carry their gradients.

#include <array>
#include <span>

#include "model/oreg.h"

namespace gxe::model {

// Critical value of the two-sided 5 % test, z(0.975).
inline constexpr double kCriticalValue = 1.959963984540055;

// --- Information matrix -----------------------------------------------------

// 4 x 4 expected information of the logistic model (b0, bg, be, beg) on the
// table in `cells`, stored column by column: sum over the cells of
// N pi (1 - pi) x x', N = controls + cases of the cell, pi the modelled case
// probability, x = (1, g, s, g s). n is the order (4), used only as the
// leading dimension.
void hess2(int n, const std::array<double, 4>& mle, std::array<double, 16>& h4);

// Element (4, 4) of the inverse of h4: the cofactor of (4, 4) divided by the
// determinant, both expanded in closed form. All 16 entries are read as
// stored; no symmetry is assumed.
void myinv(const std::array<double, 16>& h4, double& v);

// --- Fits -------------------------------------------------------------------

// Per-case variance of the estimate of beg under the alternative (`alt`).
// Writes the alternative's expected table into `cells` and alt.b0.
void fs_a(double& varh1);
// The same under the null (`null`); writes `cells` and null.b0.
void fs_0(double& varh0);

// --- Power and sample size --------------------------------------------------

// Power of the interaction test at x = (bg, be) of the alternative, for
// size / (1 + ccr) cases. Stores x into alt.bg and alt.be. n is not read.
void power3(int n, std::span<const double> x, double& pw);

// Power for `ncase` cases at the current alternative: runs the null fit and
// then the alternative fit, then require_positive_cases(ncase).
void power(double ncase, double& pw);

// Number of cases in a study of `size` subjects with alt.ccr controls per
// case: size / (1 + ccr).
double study_cases();

// Writes "error in power : n <= 0 " with the number and ends the program
// (status 0) when ncase is not positive or not a number.
void require_positive_cases(double ncase);

// Number of cases (unrounded) that reaches the power whose normal quantile of
// 1 - power is z(2), at x = (bg, be) of the alternative. Stores x into alt.
void sample(int n, std::span<const double> x, double& ss);

// --- Normal distribution ----------------------------------------------------

// p = P(Z <= z), q = P(Z > z), pdf = standard normal density at z.
void normp(double z, double& p, double& q, double& pdf);

// x with P(Z <= x) = pp, by Newton's method from 0.001 (pp in (0, 1)).
double mynormi(double pp);

// Standard normal density.
double norm(double x);

// --- Expected cell-count check ----------------------------------------------

// ok = 1 when every case cell of the alternative at the current alt.bg,
// alt.be expects at least `cellmin` (= 5) cases in a study of `size`
// subjects, ok = 0 otherwise. k: number of exposure categories.
void cell_cnt(int k, int& ok);

}  // namespace gxe::model

#endif  // GXE_MODEL_MODEL_H_
