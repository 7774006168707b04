#ifndef GXE_PLAN_SIMULATION_H_
#define GXE_PLAN_SIMULATION_H_

// The simulation check of an answered calculation, shared by the front ends:
// at the least and the most favourable points it reports, studies of its
// size are drawn from the alternative and the real Wald test is run on each.

#include <optional>

#include "plan/plan.h"
#include "plan/row.h"
#include "simulate/simulate.h"

namespace gxe::plan {

// Checks `outcome` (the answer plan::run gave for `scenario`) with the
// studies `options` asks for. Nothing when the outcome has no answer; an
// answer whose check cannot be made is reported as having none: the
// outcome's error says why and nothing is returned.
std::optional<Simulation> check_by_simulation(const Scenario& scenario, Outcome& outcome,
                                              const simulate::Options& options);

}  // namespace gxe::plan

#endif  // GXE_PLAN_SIMULATION_H_
