#ifndef GXE_MODEL_NORMAL_IMPL_H_
#define GXE_MODEL_NORMAL_IMPL_H_

// Standard normal tail probabilities over the scalar type T (double, or a
// value-with-gradient type). Branches look at values only, so a gradient is
// the derivative of the branch the value takes.

#include <cmath>

#include "model/fits_impl.h"

namespace gxe::model::impl {
namespace normal_constants {

// Rational approximation of the tail, P(|z|)/Q(|z|) times exp(-z^2/2), for
// |z| below the cutoff. q0 = 2 p0 exactly, so the form gives 0.5 at z = 0.
inline constexpr double kP0 = 220.2068679123761;
inline constexpr double kP1 = 221.2135961699311;
inline constexpr double kP2 = 112.0792914978709;
inline constexpr double kP3 = 33.912866078383;
inline constexpr double kP4 = 6.37396220353165;
inline constexpr double kP5 = 0.7003830644436881;
inline constexpr double kP6 = 0.03526249659989109;
inline constexpr double kQ0 = 2.0 * kP0;  // 440.4137358247522
inline constexpr double kQ1 = 793.8265125199484;
inline constexpr double kQ2 = 637.3336333788311;
inline constexpr double kQ3 = 296.5642487796737;
inline constexpr double kQ4 = 86.78073220294608;
inline constexpr double kQ5 = 16.06417757920695;
inline constexpr double kQ6 = 1.755667163182642;
inline constexpr double kQ7 = 0.08838834764831845;
// From here on the continued fraction of the Mills ratio is used.
inline constexpr double kCutoff = 7.071;
inline constexpr double kRoot2Pi = 2.506628274631001;  // sqrt(2 pi)
// Beyond 37 the tail is below 6e-300 and taken as 0 (density too).
inline constexpr double kSaturation = 37.0;

}  // namespace normal_constants

// p = P(Z <= z), q = P(Z > z), pdf = density at z. The tail t beyond |z| is
// computed and then assigned to the side of z:
//   1. |z| > 37: constants (0 or 1, density 0);
//   2. |z| < 7.071: t = exp(-z^2/2) P(|z|) / Q(|z|), a rational fit;
//   3. otherwise: t = pdf / (|z| + 1/(|z| + 2/(|z| + 3/(|z| + 4/(|z| + 0.65))))),
//      the continued fraction of the Mills ratio, truncated.
template <class T>
void normp(const T& z, T& p, T& q, T& pdf) {
  using namespace normal_constants;
  using std::abs;
  using std::exp;
  const T zabs = abs(z);
  if (value(zabs) > kSaturation) {
    pdf = T(0.0);
    if (value(z) > 0.0) {
      p = T(1.0);
      q = T(0.0);
    } else {
      p = T(0.0);
      q = T(1.0);
    }
    return;
  }
  const T expntl = exp(-(zabs * zabs * 0.5));
  pdf = expntl / kRoot2Pi;
  T tail;
  if (value(zabs) < kCutoff) {
    // Horner's scheme, highest coefficient first.
    T num = kP6 * zabs + kP5;
    num = num * zabs + kP4;
    num = num * zabs + kP3;
    num = num * zabs + kP2;
    num = num * zabs + kP1;
    num = num * zabs + kP0;
    T den = kQ7 * zabs + kQ6;
    den = den * zabs + kQ5;
    den = den * zabs + kQ4;
    den = den * zabs + kQ3;
    den = den * zabs + kQ2;
    den = den * zabs + kQ1;
    den = den * zabs + kQ0;
    tail = expntl * num / den;
  } else {
    tail = pdf / (zabs + 1.0 / (zabs + 2.0 / (zabs + 3.0 / (zabs + 4.0 / (zabs + 0.65)))));
  }
  if (value(z) < 0.0) {
    p = tail;
    q = 1.0 - p;
  } else {
    q = tail;
    p = 1.0 - q;
  }
}

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_NORMAL_IMPL_H_
