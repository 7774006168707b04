#ifndef GXE_SIMULATE_FIT_H_
#define GXE_SIMULATE_FIT_H_

// Maximum-likelihood fit of the trend-interaction model to one observed
// 2 x k table of cases and controls, and the Wald statistic of its product
// term.
//
// The model logit P(case) = b0 + bg g + be s + beg g s has one intercept and
// one slope in the exposure score s for each genotype: non-carriers follow
// the line b0 + be s, carriers the line (b0 + bg) + (be + beg) s. The
// log-likelihood of the grouped table is the sum of two independent
// two-parameter logistic regressions, one per genotype, and
//   beg = (slope of carriers) - (slope of non-carriers).
// The information matrix in the two-line parameters is block diagonal, so
// var(beg) = var(carriers' slope) + var(non-carriers' slope), exactly.
// Newton's method is invariant under the linear change of parameters
// (b0, bg, be, beg) -> two lines, so fitting the two lines by Newton's method
// takes exactly the iterates that Newton-Raphson (IRLS, the canonical link)
// takes on the four-parameter model.

#include <array>
#include <limits>
#include <span>

namespace gxe::simulate {

enum class FitStatus {
  converged,      // the maximum-likelihood estimate, to the tolerance
  separated,      // no finite, unique maximum-likelihood estimate: within one
                  // genotype all cases lie at or below and all controls at or
                  // above one exposure score (or the other way round), the
                  // genotype has no cases or no controls at all, or all its
                  // subjects are at one score (its slope is not identified)
  not_converged,  // Newton's method reached its step limit, its line search
                  // failed, or the information became singular in double
                  // precision (counts so large or so uneven that the
                  // arithmetic breaks down)
  invalid_input,  // a count not finite or negative, tables of different
                  // lengths, or a length that is not 2k with 2 <= k <= 100
};

struct InteractionFit {
  FitStatus status = FitStatus::invalid_input;
  // Per-step log interaction beg and its standard error (from the
  // information at the estimate); NaN unless the fit converged.
  double estimate = std::numeric_limits<double>::quiet_NaN();
  double se = std::numeric_limits<double>::quiet_NaN();
  // The log-likelihood at the estimate, the sum over the cells of
  // y eta - m log(1 + exp(eta)) (y cases of m subjects at linear predictor
  // eta); NaN unless the fit converged.
  double loglik = std::numeric_limits<double>::quiet_NaN();
  // The two lines at the estimate, non-carriers first: intercepts b0 and
  // b0 + bg, slopes be and be + beg.
  std::array<double, 2> intercepts{};
  std::array<double, 2> slopes{};
  // Per line, the variance of its slope and its centre, the
  // information-weighted mean score (where the line is best determined).
  std::array<double, 2> slope_variances{};
  std::array<double, 2> centres{};
  int newton_steps = 0;  // both genotypes together
};

// Fits the model to the counts of one table. `cases` and `controls` hold 2k
// counts each: the non-carriers at exposure scores 0, 1, ..., k-1, then the
// carriers at the same scores. Counts need not be whole numbers (weighted
// tables are fitted the same way). Never allocates.
InteractionFit fit_interaction(std::span<const double> cases, std::span<const double> controls);

// The two-sided Wald test of beg = 0 at critical value z: rejects when the
// fit converged and |estimate| / se > z.
bool wald_rejects(const InteractionFit& fit, double z);

// The likelihood-ratio statistic of beg = 0 for the table `fit` was fitted
// to: twice the log-likelihood the interaction gains, 2 (l(full) - l(without)),
// with the model without the interaction, logit P(case) = a0 + ag g + ae s,
// fitted by Newton's method from the full fit's lines (a shared slope, the
// two lines' slopes weighted by their information). NaN when the full fit
// did not converge, or when the fit without the interaction fails (which a
// converged full fit rules out: a table separated by three of the covariates
// is separated by all four). Asymptotically chi-square on 1 degree of
// freedom under the null, so the two-sided test at level alpha rejects above
// z(1 - alpha/2)^2.
double lr_statistic(const InteractionFit& fit, std::span<const double> cases,
                    std::span<const double> controls);
bool lr_rejects(double statistic, double z);

}  // namespace gxe::simulate

#endif  // GXE_SIMULATE_FIT_H_
