#ifndef GXE_CLI_SIMULATION_H_
#define GXE_CLI_SIMULATION_H_

// The simulation check of a calculation (--simulate R): at the least and the
// most favourable points it reports, and at its study size, R studies are
// drawn from the alternative and the real Wald test is run on each.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/progress.h"
#include "plan/plan.h"
#include "plan/row.h"
#include "simulate/simulate.h"

namespace gxe::cli {

struct SimulationSettings {
  long replicates = 0;  // 0: no simulation
  std::uint64_t seed = simulate::kDefaultSeed;
  int threads = 0;      // 0: one per hardware thread
};

struct SimulationResult {
  plan::Simulation simulation;
  std::optional<std::string> error;  // why there is none
};

// Simulates an answered calculation at its two extremes. `what` names the
// work on the progress line ("row 3 of 12").
SimulationResult simulate_extremes(const plan::Scenario& scenario, const plan::Result& result,
                                   const SimulationSettings& settings, ProgressLine& progress,
                                   const std::string& what);

}  // namespace gxe::cli

#endif  // GXE_CLI_SIMULATION_H_
