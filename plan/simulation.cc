#include "plan/simulation.h"

#include <cmath>
#include <string>

#include "values/number.h"

namespace gxe::plan {

std::optional<Simulation> check_by_simulation(const Scenario& scenario, Outcome& outcome,
                                              const simulate::Options& options) {
  if (!outcome.ok()) return std::nullopt;
  const Result& result = outcome.result;
  const Design& d = scenario.design;
  // The studies drawn are the study reported, its cases and its controls. A
  // sample size rounds the controls up to whole subjects, so that they can
  // be a little more than c times the cases.
  const double controls_per_case = result.n_controls == d.controls_per_case * result.n_cases
                                       ? d.controls_per_case
                                       : result.n_controls / result.n_cases;
  // The interaction simulated: the one a detect calculation found.
  const double ror = scenario.mode == Mode::detect ? result.ror_detectable : d.ror;
  const auto study_at = [&](const Extreme& x) {
    // The point's carrier prevalence and association: the design's, or where
    // the search over them put the extreme.
    return simulate::Study{d.prevalences(), x.gene_prevalence, controls_per_case, x.or_g,
                           x.or_e, ror, result.n_cases, scenario.settings.alpha, x.or_ge};
  };
  const simulate::ExtremesOutcome o =
      simulate::simulate_extremes(study_at(result.least), study_at(result.most), options);
  if (const simulate::Error* e = o.error()) {
    outcome.error = Error{Error::Kind::no_answer, "", "", "simulation: " + e->message()};
    return std::nullopt;
  }
  const auto point = [](const simulate::Check& c) {
    return SimulatedPoint{c.power, c.se, static_cast<double>(c.failed), c.wald_power};
  };
  return Simulation{static_cast<double>(options.replicates), point(o.least.check),
                    point(o.most.check)};
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
  return out;
}

}  // namespace gxe::plan
