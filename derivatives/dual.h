#ifndef GXE_DERIVATIVES_DUAL_H_
#define GXE_DERIVATIVES_DUAL_H_

// A value carried together with its gradient with respect to the two search
// variables x(1) = log OR(G|E=0) and x(2) = per-step log OR^tb(E|G=0):
// forward-mode differentiation with a fixed two-component tangent.
//
// Each operation computes the value exactly as the double operation does, so
// a computation over Dual has the same value, bit for bit, as the same
// computation over double. The gradient follows one rule per operation, given
// as the first-order Taylor line above it. Constants (doubles) have gradient
// zero, and c*u, u/c, u+c have rules of their own. Where a function is not
// differentiable (sqrt at 0 or below, |u| at 0) or its argument is not a
// number, the gradient is the zero vector.

#include <array>
#include <cmath>

namespace gxe::derivatives {

inline constexpr int kDirections = 2;
using Gradient = std::array<double, kDirections>;

struct Dual {
  double v = 0.0;
  Gradient d{};

  constexpr Dual() = default;
  // A constant: zero gradient. Implicit, so that constants mix with duals.
  constexpr Dual(double value) : v(value) {}  // NOLINT(google-explicit-constructor)
  constexpr Dual(double value, const Gradient& gradient) : v(value), d(gradient) {}
};

inline double value(const Dual& u) { return u.v; }

// u with its value replaced by v and its gradient kept.
inline Dual with_value(const Dual& u, double v) { return {v, u.d}; }

// (u + h) + (w + k) = (u + w) + (h + k)
inline Dual operator+(const Dual& u, const Dual& w) {
  return {u.v + w.v, {u.d[0] + w.d[0], u.d[1] + w.d[1]}};
}
// (u + h) - (w + k) = (u - w) + (h - k)
inline Dual operator-(const Dual& u, const Dual& w) {
  return {u.v - w.v, {u.d[0] - w.d[0], u.d[1] - w.d[1]}};
}
// (u + h) + c = (u + c) + h
inline Dual operator+(const Dual& u, double c) { return {u.v + c, u.d}; }
inline Dual operator+(double c, const Dual& u) { return {c + u.v, u.d}; }
// (u + h) - c = (u - c) + h
inline Dual operator-(const Dual& u, double c) { return {u.v - c, u.d}; }
// c - (u + h) = (c - u) - h
inline Dual operator-(double c, const Dual& u) { return {c - u.v, {-u.d[0], -u.d[1]}}; }
// -(u + h) = -u - h
inline Dual operator-(const Dual& u) { return {-u.v, {-u.d[0], -u.d[1]}}; }
// c (u + h) = c u + c h
inline Dual operator*(double c, const Dual& u) { return {c * u.v, {c * u.d[0], c * u.d[1]}}; }
inline Dual operator*(const Dual& u, double c) { return {u.v * c, {c * u.d[0], c * u.d[1]}}; }
// (u + h) / c = u/c + h/c
inline Dual operator/(const Dual& u, double c) { return {u.v / c, {u.d[0] / c, u.d[1] / c}}; }
// (u + h)(w + k) ~= u w + w h + u k  (a square u u gives 2 u h)
inline Dual operator*(const Dual& u, const Dual& w) {
  return {u.v * w.v, {w.v * u.d[0] + u.v * w.d[0], w.v * u.d[1] + u.v * w.d[1]}};
}
// (u + h)/(w + k) ~= u/w + (1/w) h - ((u/w)/w) k
inline Dual operator/(const Dual& u, const Dual& w) {
  const double r = 1.0 / w.v;
  const double s = (u.v / w.v) / w.v;
  return {u.v / w.v, {r * u.d[0] - s * w.d[0], r * u.d[1] - s * w.d[1]}};
}
// c/(w + k) ~= c/w - ((c/w)/w) k   (the quotient rule with a constant numerator)
inline Dual operator/(double c, const Dual& w) {
  const double s = (c / w.v) / w.v;
  return {c / w.v, {-(s * w.d[0]), -(s * w.d[1])}};
}

// exp(u + h) ~= exp(u) + exp(u) h
inline Dual exp(const Dual& u) {
  const double e = std::exp(u.v);
  return {e, {e * u.d[0], e * u.d[1]}};
}
// log(u + h) ~= log(u) + (1/u) h; the argument is not checked.
inline Dual log(const Dual& u) {
  const double r = 1.0 / u.v;
  return {std::log(u.v), {r * u.d[0], r * u.d[1]}};
}
// sqrt(u + h) ~= sqrt(u) + h/(2 sqrt(u)) for u > 0; zero gradient otherwise
// (u = 0, u < 0 or not a number), where the slope is infinite or undefined.
inline Dual sqrt(const Dual& u) {
  const double r = std::sqrt(u.v);
  if (!(u.v > 0.0)) return {r, {0.0, 0.0}};
  const double f = 1.0 / (r + r);
  return {r, {u.d[0] * f, u.d[1] * f}};
}
// |u + h| = |u| + sign(u) h for u != 0; zero gradient at 0 or not a number.
inline Dual abs(const Dual& u) {
  if (u.v > 0.0) return {u.v, u.d};
  if (u.v < 0.0) return {-u.v, {-u.d[0], -u.d[1]}};
  return {std::fabs(u.v), {0.0, 0.0}};
}

}  // namespace gxe::derivatives

#endif  // GXE_DERIVATIVES_DUAL_H_
