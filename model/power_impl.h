#ifndef GXE_MODEL_POWER_IMPL_H_
#define GXE_MODEL_POWER_IMPL_H_

// Power and sample size from the two per-case variances, over the scalar
// type T (double, or a value-with-gradient type).
//
// The Wald statistic for beg in a study of n cases is approximately normal
// with mean sqrt(n) |beg| / sqrt(varh1) and standard deviation 1 under the
// alternative, and its critical value is taken from the null variance.

#include <cmath>

#include "model/model.h"
#include "model/normal_impl.h"
#include "model/tests.h"

namespace gxe::model::impl {

// Power for ncase cases: the upper tail beyond
//   testfs = (sqrt(varh0) z1 - sqrt(ncase) |beg|) / sqrt(varh1),
// that is Phi((sqrt(ncase) |beg| - z1 sqrt(varh0)) / sqrt(varh1)); only the
// tail on the side of the true effect is counted.
template <class T>
T power_of(double ncase, const T& varh0, const T& varh1, double beg, double z1) {
  using std::sqrt;
  const T testfs = (sqrt(varh0) * z1 - std::sqrt(ncase) * std::abs(beg)) / sqrt(varh1);
  T p;
  T q;
  T pdf;
  normp(testfs, p, q, pdf);
  return q;
}

// Number of cases for the power whose quantile of 1 - power is z2:
//   ((z1 sqrt(varh0) - z2 sqrt(varh1)) / beg)^2.
// The sign of beg does not matter; beg = 0 gives an infinite or undefined
// result, which the callers let through.
template <class T>
T sample_of(const T& varh0, const T& varh1, double beg, double z1, double z2) {
  using std::sqrt;
  const T tmp = (z1 * sqrt(varh0) - z2 * sqrt(varh1)) / beg;
  return tmp * tmp;
}

// The power of a two-sided test at critical value z whose statistic is
// normal with mean t >= 0 and standard deviation 1: both tails,
// Phi(t - z) + Phi(-t - z). Its square is noncentral chi-square on one
// degree of freedom with noncentrality t^2, so this is also
// P(chi2_1(t^2) > z^2). At t = 0 it is the level.
template <class T>
T two_sided_power(const T& t, double z) {
  T p;
  T q_near;
  T q_far;
  T pdf;
  normp(z - t, p, q_near, pdf);
  normp(z + t, p, q_far, pdf);
  return q_near + q_far;
}

// The power of `test` for ncase cases from what it depends on at a point of
// the alternative: the null's per-case variance varh0 and q, which is the
// alternative's per-case variance varh1 for the null-variance and the Wald
// formulas and the likelihood-ratio noncentrality per case d for the
// likelihood-ratio test.
template <class T>
T power_for(Test test, double ncase, const T& varh0, const T& q, double beg, double z1) {
  using std::sqrt;
  switch (test) {
    case Test::wald:
      return two_sided_power(std::sqrt(ncase) * std::abs(beg) / sqrt(q), z1);
    case Test::lr:
      return two_sided_power(sqrt(ncase * q), z1);
    case Test::null_variance:
      break;
  }
  return power_of(ncase, varh0, q, beg, z1);
}

// The number of cases (unrounded) that gives `test` the power whose
// quantile of 1 - power is z2, from varh0 and q as in power_for. The Wald
// and likelihood-ratio tests reach it where their mean shift t is
// needed_shift(power, z1): n = t^2 varh1 / beg^2 and n = t^2 / d.
template <class T>
T need_for(Test test, const T& varh0, const T& q, double beg, double z1, double z2) {
  if (test == Test::null_variance) return sample_of(varh0, q, beg, z1, z2);
  double p = 0.0;
  double target = 0.0;
  double pdf = 0.0;
  normp(z2, p, target, pdf);
  const double t = needed_shift(target, z1);
  return test == Test::wald ? t * t * q / (beg * beg) : t * t / q;
}

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_POWER_IMPL_H_
