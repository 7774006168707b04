#include "model/reduced_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

// Eigen's scalar code only: with SIMD it sums the products of the 3 x 3
// information and its solve in another order than without, so that a build
// without SIMD (the WebAssembly page's) would differ in the last bits. Only
// fixed 3 x 3 objects are used here, which no other file instantiates.
#define EIGEN_DONT_VECTORIZE
#include <Eigen/Dense>

#include "model/fits_impl.h"

namespace gxe::model {
namespace {

// A finite maximum is reached in a handful of steps from a start near it.
constexpr int kMaxSteps = 100;

struct State {
  double loglik = 0.0;
  double scale = 0.0;  // sum of the magnitudes of the log-likelihood's terms
  Eigen::Vector3d score = Eigen::Vector3d::Zero();
  Eigen::Matrix3d information = Eigen::Matrix3d::Zero();
};

State evaluate(std::span<const double> cases, std::span<const double> controls,
               const Eigen::Vector3d& a) {
  State st;
  const std::size_t k = cases.size() / 2;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const double y = cases[i];
    const double m = y + controls[i];
    if (m == 0.0) continue;
    const Eigen::Vector3d x(1.0, i < k ? 0.0 : 1.0, static_cast<double>(i % k));
    const double eta = a.dot(x);
    const double t = std::exp(-std::abs(eta));
    const double mu = eta >= 0.0 ? 1.0 / (1.0 + t) : t / (1.0 + t);
    const double sp = std::max(eta, 0.0) + impl::log_one_plus(t);
    st.loglik += y * eta - m * sp;
    st.scale += std::abs(y * eta) + m * sp;
    st.score += (y - m * mu) * x;
    st.information += (m * mu * (1.0 - mu)) * x * x.transpose();
  }
  return st;
}

}  // namespace

double softplus(double eta) { return std::max(eta, 0.0) + impl::log_one_plus(std::exp(-std::abs(eta))); }

ReducedFit fit_without_interaction(std::span<const double> cases,
                                   std::span<const double> controls,
                                   const std::array<double, 3>& start) {
  ReducedFit fit;
  if (cases.size() != controls.size() || cases.size() < 4 || cases.size() % 2 != 0) return fit;
  double total = 0.0;
  for (std::size_t i = 0; i < cases.size(); ++i) total += cases[i] + controls[i];
  if (!std::isfinite(total)) return fit;
  Eigen::Vector3d a(start[0], start[1], start[2]);
  State st = evaluate(cases, controls, a);
  for (fit.steps = 0; fit.steps <= kMaxSteps; ++fit.steps) {
    const Eigen::LDLT<Eigen::Matrix3d> ldlt(st.information);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return fit;
    const Eigen::Vector3d step = ldlt.solve(st.score);
    const double decrement = st.score.dot(step);
    if (!std::isfinite(decrement)) return fit;
    if (decrement < kNewtonDecrement * (1.0 + total)) {
      const Eigen::Matrix3d inverse = ldlt.solve(Eigen::Matrix3d::Identity());
      for (int r = 0; r < 3; ++r) {
        fit.a[r] = a[r];
        for (int c = 0; c < 3; ++c) {
          fit.information[3 * r + c] = st.information(r, c);
          fit.inverse[3 * r + c] = inverse(r, c);
        }
      }
      fit.loglik = st.loglik;
      fit.converged = std::isfinite(st.loglik) && inverse.allFinite();
      return fit;
    }
    // Newton's step, halved until the log-likelihood does not fall by more
    // than its rounding: on a separated table the climb goes on for ever
    // and ends at the step limit.
    double scale = 1.0;
    State next;
    int halvings = 0;
    for (; halvings <= kMaxHalvings; ++halvings, scale /= 2) {
      next = evaluate(cases, controls, a + scale * step);
      if (next.loglik >= st.loglik - kRoundingSlack * std::max(1.0, st.scale)) break;
    }
    if (halvings > kMaxHalvings) return fit;
    a += scale * step;
    st = next;
  }
  return fit;
}

}  // namespace gxe::model
