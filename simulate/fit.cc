// Newton's method for the two exposure lines of the trend-interaction model.

#include "simulate/fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

#include "model/fits_impl.h"
#include "model/records.h"
#include "model/reduced_fit.h"

namespace gxe::simulate {
namespace {

// Convergence, step halving and the rounding slack follow the rules of the
// Newton fits of tables (model/reduced_fit.h).
using model::kMaxHalvings;
using model::kNewtonDecrement;
using model::kRoundingSlack;
// A finite maximum is reached in a handful of steps from the start below;
// estimates of a few tens (nearly separated tables) take about one step per
// unit, so this limit only stops what would not end.
constexpr int kMaxNewtonSteps = 200;

// Log-likelihood, score and information of one line a + b s at one point.
struct LineState {
  double loglik = 0.0;
  double scale = 0.0;  // sum of the magnitudes of the log-likelihood's terms
  double u0 = 0.0;     // score: sum (y - m mu), sum s (y - m mu)
  double u1 = 0.0;
  double i00 = 0.0;  // information: sum w, sum s w, sum s^2 w, w = m mu (1 - mu)
  double i01 = 0.0;
  double i11 = 0.0;
};

// The cell with y cases of m subjects at linear predictor eta contributes
//   y eta - m log(1 + exp(eta))
// to the log-likelihood. With t = exp(-|eta|), which never overflows,
// log(1 + exp(eta)) = max(eta, 0) + log(1 + t) and mu = 1 / (1 + t) for
// eta >= 0, t / (1 + t) below.
LineState evaluate(const double* y, const double* c, int k, double a, double b) {
  LineState st;
  for (int s = 0; s < k; ++s) {
    const double m = y[s] + c[s];
    if (m == 0.0) continue;
    const double sd = s;
    const double eta = a + b * sd;
    const double t = std::exp(-std::abs(eta));
    const double mu = eta >= 0.0 ? 1.0 / (1.0 + t) : t / (1.0 + t);
    const double softplus = std::max(eta, 0.0) + model::impl::log_one_plus(t);
    st.loglik += y[s] * eta - m * softplus;
    st.scale += std::abs(y[s] * eta) + m * softplus;
    const double r = y[s] - m * mu;
    st.u0 += r;
    st.u1 += sd * r;
    const double w = m * mu * (1.0 - mu);
    st.i00 += w;
    st.i01 += sd * w;
    st.i11 += sd * sd * w;
  }
  return st;
}

struct LineFit {
  FitStatus status = FitStatus::not_converged;
  double intercept = 0.0;
  double slope = 0.0;
  double var_slope = 0.0;
  double loglik = 0.0;
  // The information-weighted mean score, i01 / i00: the line's estimate is
  // best determined there, and its intercept and slope are uncorrelated
  // about it.
  double centre = 0.0;
  int steps = 0;
};

// The maximum-likelihood estimate of one line is finite exactly when the
// cases and controls overlap along s: a separating direction (da, db) makes
// da + db s >= 0 wherever there are cases and <= 0 wherever there are
// controls, and in one dimension that means a threshold, all controls at or
// below it and all cases at or above it, or the reverse (db = 0: only cases
// or only controls). Overlap in both directions also gives two distinct
// scores with subjects, so the slope is identified.
bool overlaps(const double* y, const double* c, int k) {
  int case_lo = k;
  int case_hi = -1;
  int control_lo = k;
  int control_hi = -1;
  for (int s = 0; s < k; ++s) {
    if (y[s] > 0.0) {
      case_lo = std::min(case_lo, s);
      case_hi = s;
    }
    if (c[s] > 0.0) {
      control_lo = std::min(control_lo, s);
      control_hi = s;
    }
  }
  if (case_hi < 0 || control_hi < 0) return false;
  return control_hi > case_lo && case_hi > control_lo;
}

// Newton's method with step halving from a = log(cases / controls), b = 0:
//   1. solve I (da, db) = U, and stop when the decrement U'(da, db) is small,
//      taking that last step;
//   2. otherwise halve the step until the log-likelihood does not fall
//      (it is concave, so a short enough step always gains).
// The variance of the slope is (I^-1)_11 = i00 / det at the final iterate.
LineFit fit_line(const double* y, const double* c, int k) {
  LineFit fit;
  if (!overlaps(y, c, k)) {
    fit.status = FitStatus::separated;
    return fit;
  }
  double ysum = 0.0;
  double csum = 0.0;
  for (int s = 0; s < k; ++s) {
    ysum += y[s];
    csum += c[s];
  }
  const double tol = kNewtonDecrement * (1.0 + ysum + csum);
  double a = std::log(ysum) - std::log(csum);
  double b = 0.0;
  LineState cur = evaluate(y, c, k, a, b);
  for (int step = 1; step <= kMaxNewtonSteps; ++step) {
    fit.steps = step;
    const double det = cur.i00 * cur.i11 - cur.i01 * cur.i01;
    if (!(det > 0.0) || !std::isfinite(det)) return fit;
    const double da = (cur.i11 * cur.u0 - cur.i01 * cur.u1) / det;
    const double db = (cur.i00 * cur.u1 - cur.i01 * cur.u0) / det;
    const double decrement = cur.u0 * da + cur.u1 * db;
    if (!std::isfinite(decrement)) return fit;
    if (decrement <= tol) {
      // The log-likelihood is the current one: the last step would raise it
      // by about decrement / 2, far below its rounding.
      fit.status = FitStatus::converged;
      fit.intercept = a + da;
      fit.slope = b + db;
      fit.var_slope = cur.i00 / det;
      fit.loglik = cur.loglik;
      fit.centre = cur.i01 / cur.i00;
      return fit;
    }
    double t = 1.0;
    for (int halving = 0;; ++halving) {
      const LineState trial = evaluate(y, c, k, a + t * da, b + t * db);
      if (trial.loglik >= cur.loglik - kRoundingSlack * (1.0 + cur.scale)) {
        a += t * da;
        b += t * db;
        cur = trial;
        break;
      }
      if (halving == kMaxHalvings) return fit;
      t *= 0.5;
    }
  }
  return fit;
}

}  // namespace

InteractionFit fit_interaction(std::span<const double> cases, std::span<const double> controls) {
  InteractionFit out;
  const std::size_t n = cases.size();
  if (controls.size() != n || n % 2 != 0 || n < 4 ||
      n > 2 * static_cast<std::size_t>(model::kMaxCategories)) {
    return out;
  }
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(cases[i] >= 0.0) || !(controls[i] >= 0.0)) return out;  // also NaN
    total += cases[i] + controls[i];
  }
  if (!std::isfinite(total)) return out;

  const int k = static_cast<int>(n / 2);
  const LineFit non_carriers = fit_line(cases.data(), controls.data(), k);
  const LineFit carriers = fit_line(cases.data() + k, controls.data() + k, k);
  out.newton_steps = non_carriers.steps + carriers.steps;
  if (non_carriers.status == FitStatus::separated || carriers.status == FitStatus::separated) {
    out.status = FitStatus::separated;
    return out;
  }
  if (non_carriers.status != FitStatus::converged || carriers.status != FitStatus::converged) {
    out.status = FitStatus::not_converged;
    return out;
  }
  const double estimate = carriers.slope - non_carriers.slope;
  const double se = std::sqrt(carriers.var_slope + non_carriers.var_slope);
  if (!std::isfinite(estimate) || !(se > 0.0) || !std::isfinite(se)) {
    out.status = FitStatus::not_converged;
    return out;
  }
  out.status = FitStatus::converged;
  out.estimate = estimate;
  out.se = se;
  out.loglik = non_carriers.loglik + carriers.loglik;
  out.intercepts = {non_carriers.intercept, carriers.intercept};
  out.slopes = {non_carriers.slope, carriers.slope};
  out.centres = {non_carriers.centre, carriers.centre};
  out.slope_variances = {non_carriers.var_slope, carriers.var_slope};
  return out;
}

bool wald_rejects(const InteractionFit& fit, double z) {
  return fit.status == FitStatus::converged && std::abs(fit.estimate) > z * fit.se;
}

double lr_statistic(const InteractionFit& fit, std::span<const double> cases,
                    std::span<const double> controls) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  if (fit.status != FitStatus::converged) return kNan;
  // The start: one slope, the two lines' slopes averaged with weights
  // 1 / var (the estimate of a common slope from two independent ones), each
  // line turned about its centre, where its value is best determined, so
  // that the start stays close to both lines' fitted values.
  const double w0 = 1.0 / fit.slope_variances[0];
  const double w1 = 1.0 / fit.slope_variances[1];
  const double slope = (w0 * fit.slopes[0] + w1 * fit.slopes[1]) / (w0 + w1);
  std::array<double, 2> intercept{};
  for (std::size_t g = 0; g < 2; ++g) {
    intercept[g] = fit.intercepts[g] + (fit.slopes[g] - slope) * fit.centres[g];
  }
  const model::ReducedFit without = model::fit_without_interaction(
      cases, controls, {intercept[0], intercept[1] - intercept[0], slope});
  if (!without.converged) return kNan;
  return 2.0 * (fit.loglik - without.loglik);
}

bool lr_rejects(double statistic, double z) { return statistic > z * z; }

}  // namespace gxe::simulate
