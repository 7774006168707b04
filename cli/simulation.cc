#include "cli/simulation.h"

#include "plan/simulation.h"

namespace gxe::cli {

RowAnswer answer(const plan::Scenario& scenario, const SimulationSettings& settings,
                 ProgressLine& progress, const std::string& what) {
  RowAnswer out{plan::run(scenario), std::nullopt};
  if (settings.replicates <= 0 || !out.outcome.ok()) return out;
  simulate::Options options;
  options.replicates = settings.replicates;
  options.seed = settings.seed;
  options.threads = settings.threads;
  options.progress = [&](long done, long total) {
    progress.update("simulating " + what, static_cast<double>(done), static_cast<double>(total));
  };
  out.simulation = plan::check_by_simulation(scenario, out.outcome, options);
  return out;
}

}  // namespace gxe::cli
