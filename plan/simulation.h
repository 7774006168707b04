#ifndef GXE_PLAN_SIMULATION_H_
#define GXE_PLAN_SIMULATION_H_

// The answer of one calculation and its simulation check, shared by every
// front end's row loop: at the least and the most favourable points it
// reports, studies of its size are drawn from the alternative and the real
// Wald test is run on each.

#include <cstdint>
#include <functional>
#include <optional>

#include "plan/plan.h"
#include "plan/row.h"
#include "simulate/simulate.h"

namespace gxe::plan {

// What the simulation check simulates: `replicates` studies at each
// extreme (0: no check) from `seed`, on `threads` threads (0: one per
// hardware thread; the result does not depend on it).
struct SimulationSettings {
  double replicates = 0;
  double seed = static_cast<double>(simulate::kDefaultSeed);
  double threads = 0;
};

// The first setting out of its range: each a whole number, replicates from
// 0 to 1e9, seed from 0 to 2147483647, threads from 0 to 1024. The error
// names "simulate", "seed" or "threads", as the front ends call them.
std::optional<Error> check(const SimulationSettings& settings);

// Checks `outcome` (the answer plan::run gave for `scenario`) with the
// studies `options` asks for. Nothing when the outcome has no answer; an
// answer whose check cannot be made is reported as having none: the
// outcome's error says why and nothing is returned.
std::optional<Simulation> check_by_simulation(const Scenario& scenario, Outcome& outcome,
                                              const simulate::Options& options);

// A calculation's answer, and its simulation check when one was made.
struct Answer {
  Outcome outcome;
  std::optional<Simulation> simulation;
};

// Studies done of those to simulate, reported now and then from the calling
// thread while a check runs; it may throw to stop the check.
using Progress = std::function<void(long done, long total)>;

// The answer of `scenario` and, when `settings` ask for replicates and
// there is an answer, its check by simulation (settings must pass check()).
// `shared` as for plan::run.
Answer answer(const Scenario& scenario, const SimulationSettings& settings,
              const Progress& progress = {}, SharedSearches* shared = nullptr);

}  // namespace gxe::plan

#endif  // GXE_PLAN_SIMULATION_H_
