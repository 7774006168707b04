#ifndef GXE_PLAN_SIMULATION_H_
#define GXE_PLAN_SIMULATION_H_

// The answer of one calculation and its simulation check, shared by every
// front end's row loop: at the least and the most favourable points it
// reports, studies of its size are drawn from the alternative and the real
// Wald and likelihood-ratio tests are run on each. A sample size may also be
// sought by simulation: the fewest cases whose simulated power reaches the
// target at the least favourable point.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "plan/plan.h"
#include "plan/row.h"
#include "simulate/simulate.h"

namespace gxe::plan {

// How a sample-size calculation finds its size: by the formula alone, or
// also by simulation (SimulatedSize), as the front ends name them
// ("formula", "simulation").
enum class SizeBy { formula, simulation };
inline constexpr std::array<std::string_view, 2> kSizeByNames = {"formula", "simulation"};
std::string_view name(SizeBy size_by);
std::optional<SizeBy> parse_size_by(std::string_view text);

// What the simulation check simulates: `replicates` studies at each
// extreme (0: no check) from `seed`, on `threads` threads (0: one per
// hardware thread; the result does not depend on it); and whether the
// sample size of a sample-size calculation is also sought by simulation,
// with `replicates` studies at each number of cases tried.
struct SimulationSettings {
  double replicates = 0;
  double seed = static_cast<double>(simulate::kDefaultSeed);
  double threads = 0;
  SizeBy size_by = SizeBy::formula;
};

// The first setting out of its range: each a whole number, replicates from
// 0 to 1e9, seed from 0 to 2147483647, threads from 0 to 1024; a size by
// simulation needs replicates. The error names "simulate", "seed",
// "threads" or "size_by", as the front ends call them.
std::optional<Error> check(const SimulationSettings& settings);

// Checks `outcome` (the answer plan::run gave for `scenario`) with the
// studies `options` asks for. Nothing when the outcome has no answer; an
// answer whose check cannot be made is reported as having none: the
// outcome's error says why and nothing is returned.
std::optional<Simulation> check_by_simulation(const Scenario& scenario, Outcome& outcome,
                                              const simulate::Options& options);

// The sample size by simulation of a sample-size calculation whose answer
// `outcome` holds and whose check `simulation` is (check_by_simulation with
// the same `options`): the smallest whole number of cases m whose
// simulated power at the formula's least favourable point, with
// whole_controls(m, c) controls, reaches the target. The power is the
// likelihood-ratio test's when the scenario's test is lr, else the Wald
// test's. Nothing, and the outcome's error says why, when no number of cases
// up to kMaxSizeGrowth times the formula's reaches it.
inline constexpr double kMaxSizeGrowth = 64.0;
std::optional<SimulatedSize> size_by_simulation(const Scenario& scenario, Outcome& outcome,
                                                const Simulation& simulation,
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
// With SizeBy::simulation a sample-size calculation also gets its simulated
// size (power calculations ignore it); a size that cannot be found is
// reported as no answer, as a check that cannot be made. `progress`
// reports the studies of the check (done of each point's total), then
// those of the size's search (done so far, total 0: not known in advance).
// `shared` as for plan::run.
Answer answer(const Scenario& scenario, const SimulationSettings& settings,
              const Progress& progress = {}, SharedSearches* shared = nullptr);

}  // namespace gxe::plan

#endif  // GXE_PLAN_SIMULATION_H_
