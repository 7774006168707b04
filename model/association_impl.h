#ifndef GXE_MODEL_ASSOCIATION_IMPL_H_
#define GXE_MODEL_ASSOCIATION_IMPL_H_

// The joint distribution of genotype and exposure among controls when the
// two are associated, written once over the scalar type T (double, or a
// value-with-gradient type).
//
// With carrier prevalence p, exposure prevalences q_0 .. q_(k-1) and an
// association of gamma per step of the exposure score s, the log-linear
// model
//   pi(g, s) = a_g b_s exp(gamma g s)
// with its margins held at p and q has, for each category, the carrier share
//   P(G = 1 | E = s) = sigma(u + gamma s),  sigma(x) = 1 / (1 + exp(-x)),
// so that pi(1, s) = q_s sigma(u + gamma s) and pi(0, s) = q_s sigma(-u - gamma s),
// where u = log(a_1 / a_0) solves the one equation
//   F(u) = sum_s q_s sigma(u + gamma s) - p = 0.
// F rises strictly with u (its slope is sum_s q_s sigma (1 - sigma) > 0), and
// since u + gamma s lies within |gamma| (k - 1) of u, the root lies within
// |gamma| (k - 1) of logit(p): bisection inside that bracket, with Newton
// steps where they stay inside it, finds it in double precision.
//
// Exact derivatives: once u solves F(u) = 0 in double, one more Newton step
// taken in T,
//   u_T = u - F_T(u) / F'(u),
// with F_T evaluated on the T-valued p and gamma, carries the derivative of
// the root, -(dF/dtheta) / (dF/du), by the implicit-function rule; its value
// moves by no more than the rounding of F(u). Both instantiations take that
// step, so their values agree bit for bit.
//
// gamma = 0 is independence, written as the product (1 - p) q_s and p q_s
// exactly as the model without association writes it, so that every result
// with it stays the same to the last bit.

#include <array>
#include <cmath>
#include <span>

#include "model/fits_impl.h"
#include "model/records.h"

namespace gxe::model::impl {

// The control distribution pi(g, s), g = 0, 1 and s = 0 .. k-1, at
// [g * kMaxCategories + s].
template <class T>
using ControlTable = std::array<T, 2 * kMaxCategories>;

// sigma(x) = 1 / (1 + exp(-x)), without overflow for x of either sign.
template <class T>
T logistic(const T& x) {
  using std::exp;
  if (value(x) >= 0.0) return 1.0 / (1.0 + exp(-x));
  const T e = exp(x);
  return e / (1.0 + e);
}

// logit(p) = log(p / (1 - p)), without the cancellation of 1 - p for a
// small p.
inline double logit(double p) { return std::log(p) - log_one_plus(-p); }

// F(u) and its slope dF/du at a double u, in double.
struct CarrierEquation {
  double f = 0.0;
  double slope = 0.0;
};

inline CarrierEquation carrier_equation(double u, double p, double gamma,
                                        std::span<const double> q, int k) {
  CarrierEquation r;
  r.f = -p;
  for (int s = 0; s < k; ++s) {
    const double t = logistic(u + gamma * s);
    r.f += q[s] * t;
    r.slope += q[s] * t * logistic(-(u + gamma * s));
  }
  return r;
}

// The root u of F in double: bisection on the bracket logit(p) +- |gamma| (k-1),
// with a Newton step taken whenever it lands strictly inside the current
// bracket. Stops when the bracket no longer shrinks (adjacent doubles) or F
// is exactly zero.
inline double carrier_log_odds(double p, double gamma, std::span<const double> q, int k) {
  const double centre = logit(p);
  const double reach = std::fabs(gamma) * (k - 1);
  double lo = centre - reach;
  double hi = centre + reach;
  double u = centre;
  // Newton converges in a handful of steps; bisection alone shrinks a bracket
  // of width 2 |log OR| to adjacent doubles in about 110 halvings.
  constexpr int kMaxSteps = 200;
  for (int step = 0; step < kMaxSteps; ++step) {
    const CarrierEquation e = carrier_equation(u, p, gamma, q, k);
    if (e.f == 0.0) return u;
    (e.f < 0.0 ? lo : hi) = u;
    const double newton = u - e.f / e.slope;
    const double mid = lo + (hi - lo) / 2;
    const double next = newton > lo && newton < hi ? newton : mid;
    if (next == u || mid == lo || mid == hi) return next;
    u = next;
  }
  return u;
}

// The same number with its value replaced (its gradient kept): the value
// type's version; a value-with-gradient type brings its own, found by
// argument-dependent lookup.
inline double with_value(double /*x*/, double v) { return v; }

// pi for carrier prevalence p, association gamma per step and exposure
// prevalences q (k of them), into `pi`. p and gamma may carry gradients.
template <class T>
void control_distribution(const T& p, const T& gamma, std::span<const double> q, int k,
                          ControlTable<T>& pi) {
  const double u = carrier_log_odds(value(p), value(gamma), q, k);
  const CarrierEquation e = carrier_equation(u, value(p), value(gamma), q, k);
  T f = -p;
  for (int s = 0; s < k; ++s) f = f + q[s] * logistic(u + gamma * static_cast<double>(s));
  const T u_t = u - f / e.slope;
  for (int s = 0; s < k; ++s) {
    const T x = u_t + gamma * static_cast<double>(s);
    pi[kMaxCategories + s] = q[s] * logistic(x);
    pi[s] = q[s] * logistic(-x);
  }
  if (value(gamma) != 0.0) return;
  // Independence: the product's values, as the model without association
  // computes them; a gradient in gamma keeps the first-order effect above.
  const double carriers = value(p);
  const double non_carriers = 1.0 - carriers;
  for (int s = 0; s < k; ++s) {
    pi[kMaxCategories + s] = with_value(pi[kMaxCategories + s], carriers * q[s]);
    pi[s] = with_value(pi[s], non_carriers * q[s]);
  }
}

// The control factors (see RecordControls in model/fits_impl.h) of a
// distribution pi made by control_distribution for carrier prevalence
// `carriers`, of the same scalar type: what the fits take when the carrier
// prevalence or the association varies over the search.
template <class T>
struct TableControls {
  const Hypothesis& r;
  const ControlTable<T>& pi;
  T carriers;
  T pgen(int g) const { return g == 1 ? 1.0 - carriers : carriers; }
  T related(int g, int e) const {
    return pi[(g - 1) * kMaxCategories + (e - 1)] / (pgen(g) * r.pexp[e - 1]);
  }
};

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_ASSOCIATION_IMPL_H_
