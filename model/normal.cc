// Standard normal distribution: tail probabilities, density, quantiles.

#include <cmath>

#include "model/model.h"
#include "model/normal_impl.h"

namespace gxe::model {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kNewtonStart = 0.001;
constexpr double kNewtonTol = 1e-9;  // on the change of the iterate
// Newton converges quadratically for pp in (0, 1), in a handful of steps
// from the start; the slowest legitimate run, pp = 0 (the iterates creep to
// the saturation point -37 by steps of about 1/|x|), takes under a thousand.
// The bound only stops what could otherwise cycle for ever once the
// iterates sit where the rounded probability no longer changes.
constexpr int kNewtonMaxSteps = 10000;

}  // namespace

void normp(double z, double& p, double& q, double& pdf) { impl::normp(z, p, q, pdf); }

double norm(double x) { return std::exp(-(x * x / 2)) / std::sqrt(kTwoPi); }

// Newton's method on Phi(x) = pp: x <- x - (Phi(x) - pp) / phi(x). Phi is
// convex left of 0 and concave right of it, so after the first step the
// iterates approach the root from one side. A change that is not a number
// (pp outside [0, 1] drives the iterates to infinity, or pp is not a number)
// ends the loop, and the last iterate is returned.
double mynormi(double pp) {
  double x = kNewtonStart;
  double x1 = x;
  for (int step = 1;; ++step) {
    double p = 0.0;
    double q = 0.0;
    double pdf = 0.0;
    normp(x, p, q, pdf);
    x1 = x - (p - pp) / norm(x);
    if (!(std::abs(x1 - x) >= kNewtonTol) || step >= kNewtonMaxSteps) break;
    x = x1;
  }
  return x1;
}

}  // namespace gxe::model
