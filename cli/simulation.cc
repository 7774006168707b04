#include "cli/simulation.h"

#include <vector>

namespace gxe::cli {

RowAnswer answer(const plan::Scenario& scenario, const SimulationSettings& settings,
                 ProgressLine& progress, const std::string& what) {
  RowAnswer out{plan::run(scenario), std::nullopt};
  if (settings.replicates <= 0 || !out.outcome.ok()) return out;
  const plan::Result& result = out.outcome.result;
  const plan::Design& d = scenario.design;
  const auto study_at = [&](const plan::Extreme& x) {
    return simulate::Study{d.prevalences(), d.gene_prevalence, d.controls_per_case, x.or_g,
                           x.or_e, d.ror, result.n_cases, scenario.settings.alpha};
  };
  simulate::Options options;
  options.replicates = settings.replicates;
  options.seed = settings.seed;
  options.threads = settings.threads;
  options.progress = [&](long done, long total) {
    progress.update("simulating " + what, static_cast<double>(done), static_cast<double>(total));
  };
  const simulate::ExtremesOutcome o =
      simulate::simulate_extremes(study_at(result.least), study_at(result.most), options);
  if (const simulate::Error* e = o.error()) {
    out.outcome.error =
        plan::Error{plan::Error::Kind::no_answer, "", "", "simulation: " + e->message()};
    return out;
  }
  const auto point = [](const simulate::Check& c) {
    return plan::SimulatedPoint{c.power, c.se, static_cast<double>(c.failed), c.wald_power};
  };
  out.simulation = plan::Simulation{static_cast<double>(settings.replicates),
                                    point(o.least.check), point(o.most.check)};
  return out;
}

}  // namespace gxe::cli
