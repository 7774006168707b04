#include "plan/detect.h"

#include <boost/math/tools/toms748_solve.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "plan/report.h"
#include "values/number.h"

namespace gxe::plan {
namespace {

using values::format_number;

// The first outward step in log ROR^tb, to ROR^tb 1.01 (or 1/1.01); a
// detectable ROR^tb nearer 1 is found inside it all the same.
constexpr double kFirstStep = 0.01;
constexpr double kStepGrowth = 2.0;
// When a trial value has no power, the last step is halved this many times
// to find how far out the power can still be computed (to 1/1024 of it).
constexpr int kReachHalvings = 10;
// Iterations of the root finder: it narrows a bracket of a few units of log
// ROR^tb to kDetectableRorTolerance in about a dozen.
constexpr std::uintmax_t kMaxIterations = 100;

Error no_answer(std::string rule) {
  return Error{Error::Kind::no_answer, std::string(), std::string(), std::move(rule)};
}

// ROR^tb in a message: 4 decimals above 1, 6 below (down to 1e-4).
std::string ratio_shown(double ror) { return trimmed(ror, ror >= 1.0 ? 4 : 6); }

// The trial calculations, on the distance d = |log ROR^tb| from no
// interaction on the chosen side: d = 0 is ROR^tb = 1.
class Trials {
 public:
  Trials(const Design& design, double cases, double target, Direction direction,
         const Ranges& ranges, const Settings& settings)
      : design_(design),
        cases_(cases),
        target_(target),
        sign_(direction == Direction::risk ? 1.0 : -1.0),
        ranges_(ranges),
        settings_(settings) {}

  double ror(double d) const { return std::exp(sign_ * d); }
  double target() const { return target_; }

  // power_over at the distance d; every trial value is a design of its own.
  Outcome at(double d, SharedSearches* shared) const {
    Design trial = design_;
    trial.ror = ror(d);
    return power_over(trial, cases_, ranges_, settings_, shared);
  }

  // The least favourable power less the target: the function whose first
  // root is sought.
  double gap(const Outcome& o) const { return o.result.least.power - target_; }

 private:
  Design design_;
  double cases_;
  double target_;
  double sign_;
  Ranges ranges_;
  Settings settings_;
};

// The bracket of the first root: the power is below the target at `low` and
// reaches it at `high`, whose calculation is `reached`.
struct Bracket {
  double low = 0.0;
  double low_gap = 0.0;
  double high = 0.0;
  Outcome reached;
};

// "no ROR^tb from 1 to X ... (P at X)": what the outward steps found.
std::string not_reached(const Trials& trials, const Bracket& b) {
  const double x = trials.ror(b.low);
  return "no ROR^tb from 1 to " + ratio_shown(x) +
         " was found at which the least favourable power reaches the target " +
         format_number(trials.target()) + " (it is " + trimmed(b.low_gap + trials.target(), 4) +
         " at " + ratio_shown(x) + ")";
}

// The trial at `bad` has no answer (`failure`): halves the step from
// b.low towards it, to find the target within the farthest reach of the
// power, or to say where the power can no longer be computed.
std::optional<Error> within_reach(const Trials& trials, double bad, Outcome failure,
                                  Bracket& b) {
  for (int i = 0; i < kReachHalvings; ++i) {
    const double middle = (b.low + bad) / 2;
    Outcome o = trials.at(middle, nullptr);
    if (!o.ok()) {
      bad = middle;
      failure = std::move(o);
    } else if (trials.gap(o) >= 0.0) {
      b.high = middle;
      b.reached = std::move(o);
      return std::nullopt;
    } else {
      b.low = middle;
      b.low_gap = trials.gap(o);
    }
  }
  return no_answer(not_reached(trials, b) + ", and beyond it the power cannot be computed: " +
                   failure.error->message());
}

// From b.low = 0, where the power is below the target, outwards in steps
// that double, until the power reaches the target: the last step is the
// bracket.
std::optional<Error> step_outwards(const Trials& trials, SharedSearches* shared, Bracket& b) {
  const double farthest = std::log(kFarthestDetectableRor);
  for (double d = kFirstStep;; d = std::min(d * kStepGrowth, farthest)) {
    Outcome o = trials.at(d, shared);
    if (!o.ok()) return within_reach(trials, d, std::move(o), b);
    if (trials.gap(o) >= 0.0) {
      b.high = d;
      b.reached = std::move(o);
      return std::nullopt;
    }
    b.low = d;
    b.low_gap = trials.gap(o);
    if (d >= farthest) {
      return no_answer(not_reached(trials, b) + ": give more cases or a lower target");
    }
  }
}

// A trial inside the bracket without an answer, thrown out of the root
// finder.
struct TrialFailed {
  Outcome outcome;
};

// Narrows the bracket to kDetectableRorTolerance in log ROR^tb. Every trial
// lies inside the current bracket and replaces its end of the same sign, so
// the nearest trial that reaches the target is always its upper end.
std::optional<Error> refine(const Trials& trials, Bracket& b) {
  const auto gap_at = [&trials, &b](double d) {
    Outcome o = trials.at(d, nullptr);
    if (!o.ok()) throw TrialFailed{std::move(o)};
    const double gap = trials.gap(o);
    if (gap >= 0.0 && d < b.high) {
      b.high = d;
      b.reached = std::move(o);
    }
    return gap;
  };
  const auto narrow_enough = [](double a, double c) {
    return std::fabs(c - a) <= kDetectableRorTolerance;
  };
  std::uintmax_t iterations = kMaxIterations;
  try {
    const auto [low, high] = boost::math::tools::toms748_solve(
        gap_at, b.low, b.high, b.low_gap, trials.gap(b.reached), narrow_enough, iterations);
    if (!narrow_enough(low, high)) {
      return no_answer("the search for the detectable ROR^tb did not narrow it to a relative " +
                       format_number(kDetectableRorTolerance) + " in " +
                       std::to_string(kMaxIterations) + " steps");
    }
  } catch (const TrialFailed& failed) {
    return no_answer("a trial value of ROR^tb inside the bracket of the detectable one has no "
                     "answer: " + failed.outcome.error->message());
  } catch (const std::exception& e) {
    return no_answer(std::string("the root finder for the detectable ROR^tb failed: ") +
                     e.what());
  }
  return std::nullopt;
}

}  // namespace

Outcome detectable_ror(const Design& design, double cases, double target_power,
                       Direction direction, const Ranges& ranges, const Settings& settings,
                       SharedSearches* shared) {
  Outcome out;
  const Scenario scenario{Mode::detect, design, cases, target_power, ranges, settings, direction};
  if (auto e = check(scenario)) {
    out.error = std::move(e);
    return out;
  }
  if (!(target_power > settings.alpha)) {
    out.error = no_answer("the target power " + format_number(target_power) +
                          " is not above the level alpha = " + format_number(settings.alpha) +
                          ": the test rejects that often without any interaction");
    return out;
  }
  const Trials trials(design, cases, target_power, direction, ranges, settings);
  // 1. No interaction. Under the classical formula a box whose alternative's
  //    variance exceeds the null's everywhere has a least favourable power
  //    above alpha/2 here, which may already pass a low target.
  Outcome none = trials.at(0.0, shared);
  if (!none.ok()) return none;
  Bracket b;
  b.low_gap = trials.gap(none);
  if (b.low_gap >= 0.0) {
    const std::string floor = trimmed(none.result.least.power, 4);
    out.error = no_answer("the large-sample formula gives a least favourable power of " + floor +
                          " already at ROR^tb = 1, where there is no interaction, so no ROR^tb "
                          "is the first to reach the target " + format_number(target_power) +
                          ": give a target above " + floor);
    return out;
  }
  // 2. Outwards to the first trial that reaches the target, then 3. the
  //    root inside that last step.
  if (auto e = step_outwards(trials, shared, b)) {
    out.error = std::move(e);
    return out;
  }
  if (auto e = refine(trials, b)) {
    out.error = std::move(e);
    return out;
  }
  out = std::move(b.reached);
  out.result.ror_detectable = trials.ror(b.high);
  return out;
}

}  // namespace gxe::plan
