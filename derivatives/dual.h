#ifndef GXE_DERIVATIVES_DUAL_H_
#define GXE_DERIVATIVES_DUAL_H_

// A value carried together with its gradient with respect to N search
// variables: forward-mode differentiation with a fixed N-component tangent.
// Dual, with N = 2, differentiates in x(1) = log OR(G|E=0) and
// x(2) = per-step log OR^tb(E|G=0); a box with more search variables takes
// BasicDual<N> with one direction per variable.
//
// Each operation computes the value exactly as the double operation does, so
// a computation over a dual has the same value, bit for bit, as the same
// computation over double. The gradient follows one rule per operation, given
// as the first-order Taylor line above it and applied to each component in
// turn, so that the components of a BasicDual<N> are those a BasicDual<2>
// computes for the same two seeds, bit for bit. Constants (doubles) have
// gradient zero, and c*u, u/c, u+c have rules of their own. Where a function
// is not differentiable (sqrt at 0 or below, |u| at 0) or its argument is not
// a number, the gradient is the zero vector.
//
// Each rule is written once for every N as a pack expansion in place,
// {rule(0), ..., rule(N-1)} with the direction a constant, so that for N = 2
// the compiler sees the very two-component expressions a hand-written dual
// has and emits the same code. (A loop over the components, or a helper that
// takes the rule as a function object, changed the compiler's inlining and
// vectorizing choices and slowed the fits by 3 to 8 %.)

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace gxe::derivatives {

template <int N>
using BasicGradient = std::array<double, N>;

template <int N>
struct BasicDual {
  static_assert(N >= 1, "a dual carries at least one direction");

  double v = 0.0;
  BasicGradient<N> d{};

  constexpr BasicDual() = default;
  // A constant: zero gradient. Implicit, so that constants mix with duals.
  constexpr BasicDual(double value) : v(value) {}  // NOLINT(google-explicit-constructor)
  constexpr BasicDual(double value, const BasicGradient<N>& gradient) : v(value), d(gradient) {}
};

inline constexpr int kDirections = 2;
using Gradient = BasicGradient<kDirections>;
using Dual = BasicDual<kDirections>;

// The search variable x in direction i (0-based): value x, unit gradient e_i.
template <int N>
constexpr BasicDual<N> variable(double x, int i) {
  return [&]<std::size_t... j>(std::index_sequence<j...>) -> BasicDual<N> {
    return {x, {(static_cast<int>(j) == i ? 1.0 : 0.0)...}};
  }(std::make_index_sequence<N>{});
}

template <int N>
double value(const BasicDual<N>& u) {
  return u.v;
}

// u with its value replaced by v and its gradient kept.
template <int N>
BasicDual<N> with_value(const BasicDual<N>& u, double v) {
  return {v, u.d};
}

// (u + h) + (w + k) = (u + w) + (h + k)
template <int N>
BasicDual<N> operator+(const BasicDual<N>& u, const BasicDual<N>& w) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v + w.v, {(u.d[i] + w.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// (u + h) - (w + k) = (u - w) + (h - k)
template <int N>
BasicDual<N> operator-(const BasicDual<N>& u, const BasicDual<N>& w) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v - w.v, {(u.d[i] - w.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// (u + h) + c = (u + c) + h
template <int N>
BasicDual<N> operator+(const BasicDual<N>& u, double c) {
  return {u.v + c, u.d};
}
template <int N>
BasicDual<N> operator+(double c, const BasicDual<N>& u) {
  return {c + u.v, u.d};
}
// (u + h) - c = (u - c) + h
template <int N>
BasicDual<N> operator-(const BasicDual<N>& u, double c) {
  return {u.v - c, u.d};
}
// c - (u + h) = (c - u) - h
template <int N>
BasicDual<N> operator-(double c, const BasicDual<N>& u) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {c - u.v, {(-u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// -(u + h) = -u - h
template <int N>
BasicDual<N> operator-(const BasicDual<N>& u) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {-u.v, {(-u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// c (u + h) = c u + c h
template <int N>
BasicDual<N> operator*(double c, const BasicDual<N>& u) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {c * u.v, {(c * u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
template <int N>
BasicDual<N> operator*(const BasicDual<N>& u, double c) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v * c, {(c * u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// (u + h) / c = u/c + h/c
template <int N>
BasicDual<N> operator/(const BasicDual<N>& u, double c) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v / c, {(u.d[i] / c)...}};
  }(std::make_index_sequence<N>{});
}
// (u + h)(w + k) ~= u w + w h + u k  (a square u u gives 2 u h)
template <int N>
BasicDual<N> operator*(const BasicDual<N>& u, const BasicDual<N>& w) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v * w.v, {(w.v * u.d[i] + u.v * w.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// (u + h)/(w + k) ~= u/w + (1/w) h - ((u/w)/w) k
template <int N>
BasicDual<N> operator/(const BasicDual<N>& u, const BasicDual<N>& w) {
  const double r = 1.0 / w.v;
  const double s = (u.v / w.v) / w.v;
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {u.v / w.v, {(r * u.d[i] - s * w.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// c/(w + k) ~= c/w - ((c/w)/w) k   (the quotient rule with a constant numerator)
template <int N>
BasicDual<N> operator/(double c, const BasicDual<N>& w) {
  const double s = (c / w.v) / w.v;
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {c / w.v, {(-(s * w.d[i]))...}};
  }(std::make_index_sequence<N>{});
}

// exp(u + h) ~= exp(u) + exp(u) h
template <int N>
BasicDual<N> exp(const BasicDual<N>& u) {
  const double e = std::exp(u.v);
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {e, {(e * u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// log(u + h) ~= log(u) + (1/u) h; the argument is not checked.
template <int N>
BasicDual<N> log(const BasicDual<N>& u) {
  const double r = 1.0 / u.v;
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {std::log(u.v), {(r * u.d[i])...}};
  }(std::make_index_sequence<N>{});
}
// sqrt(u + h) ~= sqrt(u) + h/(2 sqrt(u)) for u > 0; zero gradient otherwise
// (u = 0, u < 0 or not a number), where the slope is infinite or undefined.
template <int N>
BasicDual<N> sqrt(const BasicDual<N>& u) {
  const double r = std::sqrt(u.v);
  if (!(u.v > 0.0)) return BasicDual<N>(r);
  const double f = 1.0 / (r + r);
  return [&]<std::size_t... i>(std::index_sequence<i...>) -> BasicDual<N> {
    return {r, {(u.d[i] * f)...}};
  }(std::make_index_sequence<N>{});
}
// |u + h| = |u| + sign(u) h for u != 0; zero gradient at 0 or not a number.
template <int N>
BasicDual<N> abs(const BasicDual<N>& u) {
  if (u.v > 0.0) return {u.v, u.d};
  if (u.v < 0.0) return -u;
  return BasicDual<N>(std::fabs(u.v));
}

}  // namespace gxe::derivatives

#endif  // GXE_DERIVATIVES_DUAL_H_
