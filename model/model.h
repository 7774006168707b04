#ifndef GXE_MODEL_MODEL_H_
#define GXE_MODEL_MODEL_H_

// The trend-interaction model at one point of the alternative: the fits under
// both hypotheses, the information matrix and the variance of the interaction
// estimate, power and sample size, the normal distribution routines and the
// expected cell-count check. The routines that need the records of
// model/records.h take those of their calculation as the first argument;
// none allocates and none keeps any state of its own, so calculations on
// different records may run at the same time.
//
// The arithmetic is written once, as templates over the scalar type
// (model/fits_impl.h, model/normal_impl.h, model/power_impl.h); the routines
// below are its double versions, and the derivative code runs the same
// templates on values that carry their gradients.

#include <array>
#include <span>

#include "model/oreg.h"
#include "model/records.h"

namespace gxe::model {

// Critical value of the two-sided 5 % test, z(0.975).
inline constexpr double kCriticalValue = 1.959963984540055;

// --- Information matrix -----------------------------------------------------

// 4 x 4 expected information of the logistic model (b0, bg, be, beg) on the
// table in `rec.cells`, stored column by column: sum over the cells of
// N pi (1 - pi) x x', N = controls + cases of the cell, pi the modelled case
// probability, x = (1, g, s, g s). n is the order (4), used only as the
// leading dimension.
void hess2(const Records& rec, int n, const std::array<double, 4>& mle,
           std::array<double, 16>& h4);

// Element (4, 4) of the inverse of h4: the cofactor of (4, 4) divided by the
// determinant, both expanded in closed form. All 16 entries are read as
// stored; no symmetry is assumed.
void myinv(const std::array<double, 16>& h4, double& v);

// --- Fits -------------------------------------------------------------------

// Per-case variance of the estimate of beg under the alternative (rec.alt).
// Writes the alternative's expected table into rec.cells and rec.alt.b0.
void fs_a(Records& rec, double& varh1);
// The same under the null (rec.null); writes rec.cells and rec.null.b0.
void fs_0(Records& rec, double& varh0);

// --- Numerical reach ---------------------------------------------------------

// Far out (odds ratios of 1e6 and beyond, say) some cells of the expected
// table hold so small a share of the subjects that the information matrix is
// nearly singular, and its inverse element by cofactors cancels away the
// digits of double precision: the variance, and the power or size computed
// from it, come out wrong, negative or not a number while still looking like
// answers. A fit is within reach when its variance is finite and positive and
// its cofactor cancellation (impl::cofactor_cancellation) is at most
// kMaxCancellation, so that at least 8 of the 16 digits remain.
//
// How the bound was chosen: the two fits were run in double and in 50-digit
// arithmetic (the same templates), at 87,300 points: k = 2, 4, 100; carrier
// prevalence 0.01, 0.3, 0.5, 0.9; 0.25, 1, 4 controls per case; ROR^tb from
// 1e-12 to 1e12 in steps of 10^0.25; OR(G|E=0) and OR^tb(E|G=0) from 1e-12
// to 1e12 in steps of 1e6. The relative error of the double variance never
// exceeded 1.5 eps times the cancellation (27 eps where the cancellation is
// below 100: the rounding of the cell table), and it passed 1e-6 only where
// the cancellation passed 1e9. Neither the smallest cell share nor the
// condition number of the scaled information told the two apart: shares of
// 1e-38 gave variances good to 1e-14, and condition numbers of 1e5 both
// exact and wrong ones. At 1e8 the variance is good to 3e-8, a margin of 30
// on 1e-6; along ROR^tb with OR(G|E=0) = OR^tb(E|G=0) = 1, k = 4 and carrier
// prevalence 0.3 that is reached at ROR^tb of about 1.4e4, while the first
// wrong digit of the power at 1000 cases appears near 3e5.
inline constexpr double kMaxCancellation = 1e8;

// What one fit says about its own arithmetic.
struct FitCheck {
  double variance = 0.0;      // per-case variance of the interaction estimate
  double cancellation = 0.0;  // of the cofactor formula, at least 1
  bool within_reach() const;
};

// The checks of both fits of one evaluation.
struct FitChecks {
  FitCheck null;
  FitCheck alt;
};

// fs_a and fs_0 with their checks; the same variance, bit for bit.
void fs_a(Records& rec, FitCheck& fit);
void fs_0(Records& rec, FitCheck& fit);

// --- Power and sample size --------------------------------------------------

// Power of the interaction test at x = (bg, be) of the alternative, for
// rec.size / (1 + ccr) cases. Stores x into rec.alt.bg and rec.alt.be. n is
// not read.
void power3(Records& rec, int n, std::span<const double> x, double& pw);
// The same, with the checks of both fits.
void power3(Records& rec, int n, std::span<const double> x, double& pw, FitChecks& checks);

// Power for `ncase` cases at the current alternative: runs the null fit and
// then the alternative fit, then require_positive_cases(ncase).
void power(Records& rec, double ncase, double& pw);

// Number of cases in a study of rec.size subjects with rec.alt.ccr controls
// per case: size / (1 + ccr).
double study_cases(const Records& rec);

// Writes "error in power : n <= 0 " with the number and ends the program
// (status 0) when ncase is not positive or not a number.
void require_positive_cases(double ncase);

// Number of cases (unrounded) that reaches the power whose normal quantile of
// 1 - power is rec.z(2), at x = (bg, be) of the alternative. Stores x into
// rec.alt.
void sample(Records& rec, int n, std::span<const double> x, double& ss);
// The same, with the checks of both fits.
void sample(Records& rec, int n, std::span<const double> x, double& ss, FitChecks& checks);

// --- The Wald and likelihood-ratio tests ---------------------------------------

// The likelihood-ratio noncentrality per case (model/lr_impl.h) at
// x = (bg, be) of the alternative; stores x into rec.alt. Not a number when
// the fit without the interaction fails.
double lr_noncentrality(Records& rec, std::span<const double> x);

// The mean shift t >= 0 at which a two-sided test at critical value z has
// the power `target`: Phi(t - z) + Phi(-t - z) = target (impl::two_sided_power),
// found by a bracketing root search between 0 (power alpha) and the shift
// that the near tail alone needs. 0 for a target not above the level.
double needed_shift(double target, double z);

// --- Normal distribution ----------------------------------------------------

// p = P(Z <= z), q = P(Z > z), pdf = standard normal density at z.
void normp(double z, double& p, double& q, double& pdf);

// x with P(Z <= x) = pp, by Newton's method from 0.001 (pp in (0, 1)).
double mynormi(double pp);

// Standard normal density.
double norm(double x);

// --- Association among controls ---------------------------------------------

// Associates gene and exposure among controls: fills h.dependence so that
// the control distribution is the log-linear one with margins h.pgen and
// h.pexp (k categories) and OR^tb(G,E) = or_ge, the odds ratio of being a
// carrier in the top against the bottom exposure category
// (model/association_impl.h). or_ge = 1 is independence: all zeros.
void set_association(Hypothesis& h, double or_ge, int k);

// --- Expected cell-count check ----------------------------------------------

// ok = 1 when every case cell of the alternative at the current rec.alt.bg,
// rec.alt.be expects at least rec.cellmin (set to 5) cases in a study of
// rec.size subjects, ok = 0 otherwise. k: number of exposure categories.
void cell_cnt(Records& rec, int k, int& ok);

// The two halves of cell_cnt, for a point whose counts are checked at many
// study sizes: the odds exp(eta) of each cell at the current alternative and
// their sum weighted by the control distribution, times 1 + ccr (what does
// not depend on the size); then the check at rec.size, with the same
// arithmetic as cell_cnt, bit for bit.
struct CellOdds {
  std::array<double, 2 * kMaxCategories> odds{};  // cell (g, e) at (g - 1) kMaxCategories + e - 1
  double sum = 0.0;
};
void cell_odds(const Records& rec, int k, CellOdds& out);
int cells_reach_minimum(Records& rec, int k, const CellOdds& at);

}  // namespace gxe::model

#endif  // GXE_MODEL_MODEL_H_
