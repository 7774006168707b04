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

// A calculation's answer, and its simulation check when one was made.
struct RowAnswer {
  plan::Outcome outcome;
  std::optional<plan::Simulation> simulation;
};

// Calculates `scenario` and, when `settings` ask for replicates and there is
// an answer, checks it by simulation at its two extremes. An answer whose
// check cannot be made is reported as having none: the outcome's error says
// why. `what` names the work on the progress line ("row 3 of 12").
RowAnswer answer(const plan::Scenario& scenario, const SimulationSettings& settings,
                 ProgressLine& progress, const std::string& what);

}  // namespace gxe::cli

#endif  // GXE_CLI_SIMULATION_H_
