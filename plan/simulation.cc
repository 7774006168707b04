#include "plan/simulation.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "values/number.h"

namespace gxe::plan {
namespace {

// z(0.975): the simulated size's interval covers 95 %.
constexpr double kInterval95 = 1.959963984540054;

// The study drawn at an extreme of the answer, with `cases` cases and
// `controls` controls; the point's carrier prevalence and association are
// the design's, or where the search over them put the extreme.
simulate::Study study_at(const Scenario& scenario, const Result& result, const Extreme& x,
                         double cases, double controls) {
  const Design& d = scenario.design;
  // The interaction simulated: the one a detect calculation found.
  const double ror = scenario.mode == Mode::detect ? result.ror_detectable : d.ror;
  const double controls_per_case =
      controls == d.controls_per_case * cases ? d.controls_per_case : controls / cases;
  return simulate::Study{d.prevalences(), x.gene_prevalence, controls_per_case, x.or_g, x.or_e,
                         ror, cases, scenario.settings.alpha, x.or_ge};
}

SimulatedPoint point_of(const simulate::Check& c) {
  return SimulatedPoint{c.power, c.se, static_cast<double>(c.failed), c.wald_power,
                        c.lr_power, c.lr_se};
}

// The simulated power of the test at one number of cases.
struct Trial {
  double cases = 0.0;
  double power = 0.0;
  double se = 0.0;
  double failed = 0.0;
};

// The bracket [below, reached]: the simulated power is under the target at
// below.cases and reaches it at reached.cases.
struct Bracket {
  Trial below;
  Trial reached;
};

// The 95 % interval of the simulated size m from the Monte-Carlo error. The
// simulated power near m is p(m') ~= p(m) + slope (m' - m) + e, the error e
// with standard deviation se; solving p = target moves the crossing by
// e / slope, so the interval is m +/- 1.96 se / slope, rounded outward to
// whole cases (and at least one case). The slope is the secant of the
// narrowest bracket of the search whose two powers differ by at least the
// interval's width in power, 2 (1.96 se): local, yet measured over a span of
// cases no shorter than the interval, so that the noise of the two powers
// (correlated by the common random numbers) moves it little. Without such
// a bracket the widest one serves. The standard error is the larger of the
// power's own and the one a power at the target would have, so that a
// simulated power of exactly 1 (standard error 0) gives no interval of
// width 0.
void set_interval(SimulatedSize& size, const std::vector<Bracket>& brackets, double target,
                  double replicates) {
  const double se = std::max(size.se, std::sqrt(target * (1.0 - target) / replicates));
  const Bracket* used = &brackets.front();
  for (const Bracket& b : brackets) {
    if (b.reached.power - b.below.power >= 2.0 * kInterval95 * se) used = &b;
  }
  const double slope =
      (used->reached.power - used->below.power) / (used->reached.cases - used->below.cases);
  const double half = kInterval95 * se / slope;
  size.low = std::max(1.0, std::floor(size.cases - half));
  size.high = std::ceil(size.cases + half);
}

}  // namespace

std::optional<Simulation> check_by_simulation(const Scenario& scenario, Outcome& outcome,
                                              const simulate::Options& options) {
  if (!outcome.ok()) return std::nullopt;
  const Result& result = outcome.result;
  // The studies drawn are the study reported, its cases and its controls. A
  // sample size rounds the controls up to whole subjects, so that they can
  // be a little more than c times the cases.
  const simulate::ExtremesOutcome o = simulate::simulate_extremes(
      study_at(scenario, result, result.least, result.n_cases, result.n_controls),
      study_at(scenario, result, result.most, result.n_cases, result.n_controls), options);
  if (const simulate::Error* e = o.error()) {
    outcome.error = Error{Error::Kind::no_answer, "", "", "simulation: " + e->message()};
    return std::nullopt;
  }
  return Simulation{static_cast<double>(options.replicates), point_of(o.least.check),
                    point_of(o.most.check)};
}

// The search for the simulated size, in whole numbers of cases:
//   1. bracket the target from the formula's size m0, whose power the check
//      has simulated: halve the cases while the power reaches the target
//      (down to one case; with none, no study rejects), or double them while
//      it does not (up to kMaxSizeGrowth m0, and the largest study the
//      simulation takes);
//   2. bisect the bracket until its ends are one case apart: the upper end
//      is the simulated size.
// Every trial draws from the same seed, and so from the same block streams:
// the studies at m and m + 1 cases start from the same random numbers
// (common random numbers), so that the difference between their simulated
// powers is less noisy than that of independent runs. The coupling is
// loose: multinomial draws of different sizes are not nested, and a
// binomial draw of another size may take another count of random numbers,
// after which the rest of its block's studies are drawn from other numbers.
// Measured at k = 4 around 1,200 cases with 10,000 studies, the powers of
// neighbouring numbers of cases differ by 0.004 in standard deviation
// (0.0057 for independent runs), about one standard error of the power,
// while the power rises by 0.0003 a case. So the simulated power is
// monotone only at the scale of tens of cases, and the bisection takes it as
// monotone: the size found reaches the target and one case fewer does not,
// and it lies among the crossings the noise makes within about se / slope
// of the true one, the half-width of the interval reported. Each step
// simulates one number of cases, at most log2(kMaxSizeGrowth) + 1 to
// bracket and log2 of the bracket's width to bisect: about 12 for a size of
// a thousand cases.
std::optional<SimulatedSize> size_by_simulation(const Scenario& scenario, Outcome& outcome,
                                                const Simulation& simulation,
                                                const simulate::Options& options) {
  if (!outcome.ok()) return std::nullopt;
  const Result& result = outcome.result;
  const Design& d = scenario.design;
  const bool lr = scenario.settings.test == Test::lr;
  const double target = scenario.target_power;
  const double m0 = result.n_cases;
  // The largest number of cases tried: both it and its controls within the
  // simulation's limit on the subjects of a study.
  const double most_cases =
      std::min(std::floor(kMaxSizeGrowth * m0),
               std::floor(simulate::kMaxSubjects / std::max(1.0, d.controls_per_case)));

  SimulatedSize size;
  size.lr = lr;
  std::optional<Error> failure;
  long studies = 0;  // simulated so far, for the progress
  simulate::Options trial_options = options;
  if (options.progress) {
    trial_options.progress = [&](long done, long) { options.progress(studies + done, 0); };
  }
  const auto trial = [&](double cases) -> std::optional<Trial> {
    ++size.trials;
    const SimulatedPoint* p = &simulation.least;
    SimulatedPoint simulated;
    if (cases != m0) {
      const double controls = whole_controls(cases, d.controls_per_case);
      const simulate::Outcome o = simulate::simulate_power(
          study_at(scenario, result, result.least, cases, controls), trial_options);
      if (!o.ok()) {
        failure = Error{Error::Kind::no_answer, "", "",
                        "simulation: " + o.error->message()};
        return std::nullopt;
      }
      studies += o.check.replicates;
      simulated = point_of(o.check);
      p = &simulated;
    }
    return Trial{cases, lr ? p->lr_power : p->power, lr ? p->lr_se : p->se, p->failed};
  };

  // 1. The bracket.
  std::vector<Bracket> brackets;
  std::optional<Trial> at = trial(m0);
  if (!at) {
    outcome.error = failure;
    return std::nullopt;
  }
  Bracket b{*at, *at};
  if (at->power >= target) {
    for (;;) {
      b.reached = *at;
      const double fewer = std::floor(at->cases / 2.0);
      if (fewer < 1.0) {
        b.below = Trial{0.0, 0.0, 0.0, 0.0};
        break;
      }
      if (!(at = trial(fewer))) break;
      if (at->power < target) {
        b.below = *at;
        break;
      }
    }
  } else {
    for (;;) {
      b.below = *at;
      if (at->cases >= most_cases) {
        failure = Error{
            Error::Kind::no_answer, "", "",
            "simulated size: the simulated power at the least favourable point stays below "
            "the target up to " + std::to_string(static_cast<long long>(at->cases)) +
                " cases, where it is " + values::format_number(at->power) +
                (at->failed > kMaxFailedShare * simulation.replicates
                     ? " with too many failed fits (separated tables)"
                     : std::string()) +
                "; the search goes up to " + values::format_number(kMaxSizeGrowth) +
                " times the formula's size and up to 1000000000 subjects a group"};
        at.reset();
        break;
      }
      if (!(at = trial(std::min(2.0 * at->cases, most_cases)))) break;
      if (at->power >= target) {
        b.reached = *at;
        break;
      }
    }
  }
  if (!at) {
    outcome.error = failure;
    return std::nullopt;
  }
  brackets.push_back(b);

  // 2. The bisection.
  while (b.reached.cases - b.below.cases > 1.0) {
    at = trial(std::floor((b.below.cases + b.reached.cases) / 2.0));
    if (!at) {
      outcome.error = failure;
      return std::nullopt;
    }
    (at->power >= target ? b.reached : b.below) = *at;
    brackets.push_back(b);
  }
  size.cases = b.reached.cases;
  size.power = b.reached.power;
  size.se = b.reached.se;
  size.failed = b.reached.failed;
  set_interval(size, brackets, target, simulation.replicates);
  return size;
}

std::optional<Error> check(const SimulationSettings& s) {
  struct Setting {
    const char* name;
    double value;
    double high;
    const char* rule;
  } const settings[] = {
      {"simulate", s.replicates, static_cast<double>(simulate::kMaxReplicates),
       "must be a whole number from 0 to 1000000000"},
      {"seed", s.seed, static_cast<double>(simulate::kMaxSeed),
       "must be a whole number from 0 to 2147483647"},
      {"threads", s.threads, static_cast<double>(simulate::kMaxThreads),
       "must be a whole number from 0 to 1024"},
  };
  for (const Setting& setting : settings) {
    const double x = setting.value;
    if (!(x >= 0.0 && x <= setting.high && x == std::trunc(x))) {
      return Error(Error::Kind::invalid_input, values::fault(setting.name, x, setting.rule));
    }
  }
  if (s.size_by == SizeBy::simulation && s.replicates == 0) {
    return Error(Error::Kind::invalid_input, "size_by", values::quoted(name(s.size_by)),
                 "needs {simulate}: the studies to simulate at each number of cases tried "
                 "(10000 is a good number)");
  }
  return std::nullopt;
}

std::string_view name(SizeBy size_by) {
  return kSizeByNames[static_cast<std::size_t>(size_by)];
}

std::optional<SizeBy> parse_size_by(std::string_view text) {
  for (std::size_t i = 0; i < kSizeByNames.size(); ++i) {
    if (text == kSizeByNames[i]) return static_cast<SizeBy>(i);
  }
  return std::nullopt;
}

Answer answer(const Scenario& scenario, const SimulationSettings& settings,
              const Progress& progress, SharedSearches* shared) {
  Answer out{run(scenario, shared), std::nullopt};
  if (settings.replicates <= 0 || !out.outcome.ok()) return out;
  simulate::Options options;
  options.replicates = static_cast<long>(settings.replicates);
  options.seed = static_cast<std::uint64_t>(settings.seed);
  options.threads = static_cast<int>(settings.threads);
  options.progress = progress;
  out.simulation = check_by_simulation(scenario, out.outcome, options);
  if (out.simulation && settings.size_by == SizeBy::simulation &&
      scenario.mode == Mode::size) {
    out.simulation->size =
        size_by_simulation(scenario, out.outcome, *out.simulation, options);
    if (!out.simulation->size) out.simulation.reset();
  }
  return out;
}

}  // namespace gxe::plan
