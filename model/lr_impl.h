#ifndef GXE_MODEL_LR_IMPL_H_
#define GXE_MODEL_LR_IMPL_H_

// The expected noncentrality of the likelihood-ratio test of the
// interaction, per case, over the scalar type T (double, or a value that
// carries gradients).
//
// In a study of n cases the likelihood-ratio statistic of beg = 0 is
// approximately noncentral chi-square on one degree of freedom with
// noncentrality n d, where d is twice the expected log-likelihood per case
// that the full model gains over the model without the interaction, both
// fitted to the alternative's expected table (cases and c controls per case):
//   d = 2 sum over the cells of  y (eta_f - eta_r) - m (sp(eta_f) - sp(eta_r)),
// y the cell's cases, m its cases and controls, sp(eta) = log(1 + exp(eta)),
// eta_f the full model's linear predictor and eta_r the reduced model's. The
// full model reproduces the table (model/fits_impl.h), so its fit is the
// generating parameters; the reduced model is fitted by Newton's method
// (model/reduced_fit.h) in double.
//
// The gradient goes through the reduced fit by the implicit-function rule:
// the fitted a(theta) solves U(a, theta) = 0, the score of the table of
// theta, so da/dtheta = I^-1 dU/dtheta, I the information at the fit. One
// Newton step from the double fit taken in T, a + I^-1 U(a, theta), has the
// fit as its value (U is zero there, to rounding) and exactly that
// derivative: one linear solve with the information already factored. (The
// reduced log-likelihood is stationary in a, so its derivative would not
// need da/dtheta at all; carrying it costs nothing and keeps every
// intermediate value's gradient right.)

#include <array>
#include <cmath>
#include <limits>
#include <span>

#include "model/fits_impl.h"
#include "model/records.h"
#include "model/reduced_fit.h"

namespace gxe::model::impl {

// log(1 + exp(eta)) without overflow: the same operations in every scalar
// type, so that double and gradient-carrying values agree bit for bit.
template <class T>
T softplus(const T& eta) {
  using std::exp;
  using std::log;
  if (value(eta) >= 0.0) return eta + log(1.0 + exp(-eta));
  return log(1.0 + exp(eta));
}

// d at the point (bg, be) of hypothesis r, with the control distribution's
// factors `controls`; not a number when the reduced fit fails (a table that
// is degenerate: an exposure category or genotype without subjects).
template <class T, class Controls>
T lr_noncentrality(const Hypothesis& r, const Controls& controls, const T& bg, const T& be,
                   int k) {
  k = bounded_categories(k);
  CellArray<T> cell{};
  const T b0 = cell_table(r, controls, bg, be, k, cell);
  // The table in the layout of the reduced fit: non-carriers, then carriers.
  std::array<double, 2 * kMaxCategories> cases{};
  std::array<double, 2 * kMaxCategories> others{};
  for (int g = 0; g <= 1; ++g) {
    for (int s = 0; s < k; ++s) {
      cases[g * k + s] = value(cell[cell_at(2, g + 1, s + 1)]);
      others[g * k + s] = value(cell[cell_at(1, g + 1, s + 1)]);
    }
  }
  const auto n = static_cast<std::size_t>(2 * k);
  const ReducedFit fit = fit_without_interaction(std::span<const double>(cases.data(), n),
                                                 std::span<const double>(others.data(), n),
                                                 {value(b0), value(bg), value(be)});
  if (!fit.converged) return T(std::numeric_limits<double>::quiet_NaN());

  // The score of the table of T at the fit, and the step a + I^-1 U.
  std::array<T, 3> score{T(0.0), T(0.0), T(0.0)};
  for (int g = 0; g <= 1; ++g) {
    for (int s = 0; s < k; ++s) {
      const double x[3] = {1.0, static_cast<double>(g), static_cast<double>(s)};
      const double eta = fit.a[0] + fit.a[1] * x[1] + fit.a[2] * x[2];
      const double mu = 1.0 / (1.0 + std::exp(-eta));
      const T& y = cell[cell_at(2, g + 1, s + 1)];
      const T residual = y - (y + cell[cell_at(1, g + 1, s + 1)]) * mu;
      for (int j = 0; j < 3; ++j) score[j] = score[j] + residual * x[j];
    }
  }
  std::array<T, 3> a{};
  for (int i = 0; i < 3; ++i) {
    a[i] = T(fit.a[i]);
    for (int j = 0; j < 3; ++j) a[i] = a[i] + fit.inverse[3 * i + j] * score[j];
  }

  T sum = T(0.0);
  for (int g = 0; g <= 1; ++g) {
    for (int s = 0; s < k; ++s) {
      const double gd = g;
      const double sd = s;
      const T eta_full = b0 + gd * bg + sd * be + gd * sd * r.beg;
      const T eta_reduced = a[0] + gd * a[1] + sd * a[2];
      const T& y = cell[cell_at(2, g + 1, s + 1)];
      const T m = y + cell[cell_at(1, g + 1, s + 1)];
      sum = sum + (y * (eta_full - eta_reduced) - m * (softplus(eta_full) - softplus(eta_reduced)));
    }
  }
  // The gain is never negative; at no interaction it is zero up to rounding.
  const T d = 2.0 * sum;
  return value(d) > 0.0 ? d : T(0.0);
}

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_LR_IMPL_H_
