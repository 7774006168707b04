#ifndef GXE_MODEL_REDUCED_FIT_H_
#define GXE_MODEL_REDUCED_FIT_H_

// Maximum-likelihood fit of the model without the interaction,
//   logit P(case) = a0 + ag g + ae s,
// to a 2 x k table of case and control counts: the likelihood-ratio test of
// the interaction compares it with the fit of the full model. The counts may
// be expected counts (the alternative's table per case) or the counts of a
// simulated study, and need not be whole numbers.
//
// The log-likelihood is concave in (a0, ag, ae), so Newton's method with
// step halving climbs to the maximum from any start; a finite maximum exists
// whenever the full model's does (a table separated by the three covariates
// is separated by the four of the full model too), and it is unique when the
// table has subjects at two exposure scores and in both genotypes.

#include <array>
#include <span>

namespace gxe::model {

// The rules of the Newton fits of logistic models to tables, this one and
// the full model's fit of a simulated study. Converged when the squared
// Newton decrement U' I^-1 U, twice the predicted gain in log-likelihood, is
// below kNewtonDecrement (1 + total count): the estimate is then within about
// 1e-10 sqrt(1 + total) standard errors of the maximum, and quadratic
// convergence takes it to full precision in the final step. Scaling with the
// total keeps the test above the rounding floor of the score, which grows
// like eps^2 times the total. A step is halved at most kMaxHalvings times,
// and accepted when it lowers the log-likelihood by no more than its
// rounding error, kRoundingSlack times the sum of the magnitudes of its terms.
inline constexpr double kNewtonDecrement = 1e-20;
inline constexpr int kMaxHalvings = 60;
inline constexpr double kRoundingSlack = 1e-12;

struct ReducedFit {
  bool converged = false;  // false: a separated table, or no convergence in the step limit
  std::array<double, 3> a{};     // (a0, ag, ae) at the maximum
  double loglik = 0.0;           // sum over the cells of y eta - m log(1 + exp(eta))
  // The information (the log-likelihood's negative Hessian) at the maximum,
  // row by row, and its inverse.
  std::array<double, 9> information{};
  std::array<double, 9> inverse{};
  int steps = 0;
};

// Fits the model to `cases` and `controls`, 2k counts each: the
// non-carriers at exposure scores 0, 1, ..., k-1, then the carriers at the
// same scores (2 <= k). Newton's method from `start`; a good start (the full
// fit's parameters without the interaction) takes a handful of steps.
ReducedFit fit_without_interaction(std::span<const double> cases,
                                   std::span<const double> controls,
                                   const std::array<double, 3>& start);

// The log-likelihood contribution log(1 + exp(eta)) of one subject, written
// so that it neither overflows nor loses the small values: max(eta, 0) +
// log(1 + exp(-|eta|)).
double softplus(double eta);

}  // namespace gxe::model

#endif  // GXE_MODEL_REDUCED_FIT_H_
