#include "plan/simulation.h"

#include <string>

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
  const auto study_at = [&](const Extreme& x) {
    return simulate::Study{d.prevalences(), d.gene_prevalence, controls_per_case, x.or_g,
                           x.or_e, d.ror, result.n_cases, scenario.settings.alpha};
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

}  // namespace gxe::plan
