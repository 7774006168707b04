#ifndef GXE_TESTS_PLAN_EXAMPLE_H_
#define GXE_TESTS_PLAN_EXAMPLE_H_

// The design of the worked examples as a planning scenario: 4 quantiles,
// carrier prevalence 0.3, one control per case, OR^tb(E|G=0) 2 and OR(G|E=0)
// 1.5 under the null, ROR^tb 2, 500 cases or a target power of 0.8, no
// ranges (the conversion's point) and the default settings.

#include "plan/plan.h"

namespace gxe::testing {

inline plan::Scenario example_scenario(plan::Mode mode) {
  plan::Scenario s;
  s.mode = mode;
  s.design.quantiles = 4;
  s.design.gene_prevalence = 0.3;
  s.design.or_e = 2.0;
  s.design.or_g = 1.5;
  s.design.ror = 2.0;
  s.cases = 500;
  s.target_power = 0.8;
  return s;
}

}  // namespace gxe::testing

#endif  // GXE_TESTS_PLAN_EXAMPLE_H_
