#ifndef GXE_MODEL_POWER_IMPL_H_
#define GXE_MODEL_POWER_IMPL_H_

// Power and sample size from the two per-case variances, over the scalar
// type T (double, or a value-with-gradient type).
//
// The Wald statistic for beg in a study of n cases is approximately normal
// with mean sqrt(n) |beg| / sqrt(varh1) and standard deviation 1 under the
// alternative, and its critical value is taken from the null variance.

#include <cmath>

#include "model/normal_impl.h"

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

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_POWER_IMPL_H_
