// The Wald and likelihood-ratio tests: the likelihood-ratio noncentrality's
// gradient through the fit without the interaction, its agreement with the
// Wald noncentrality for a weak interaction, and the mean shift a target
// power needs.

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "derivatives/derivatives.h"
#include "derivatives/dual.h"
#include "model/lr_impl.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::derivatives {
namespace {

using gxe::testing::Design;
using X = std::array<double, 2>;

struct Case {
  Design design;
  X x;
};

const Case kCases[] = {
    {Design{}, {std::log(1.5), std::log(2.0) / 3}},
    {Design{5, 0.1, 1.0, 1.0, 1.0, 3.0}, {0.0, 0.0}},
    {Design{3, 0.2, 4.0, 0.8, 1.4, 0.5}, {std::log(0.5), std::log(3.0) / 2}},
    {Design{10, 0.6, 0.5, 2.5, 0.6, 1.4}, {std::log(2.5), std::log(0.6) / 9}},
};

TEST(LikelihoodRatio, GradientMatchesCentralDifferencesAndValueTheDouble) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "k " << c.design.k << ", ROR " << c.design.ror_tb);
    model::Records rec;
    gxe::testing::store_design(rec, c.design);
    const auto d_at = [&rec](X x) { return model::lr_noncentrality(rec, x); };
    X g{};
    dlr(rec, 2, c.x, g);
    const double d = d_at(c.x);
    const Dual dual = model::impl::lr_noncentrality(
        rec.alt, model::impl::RecordControls{rec.alt}, variable<2>(c.x[0], 0),
        variable<2>(c.x[1], 1), c.design.k);
    EXPECT_EQ(dual.v, d);
    EXPECT_GT(d, 0.0);
    for (int i = 0; i < 2; ++i) {
      constexpr double h = 1e-4;
      X lo = c.x;
      X hi = c.x;
      lo[i] -= h;
      hi[i] += h;
      const double difference = (d_at(hi) - d_at(lo)) / (2 * h);
      EXPECT_NEAR(g[i], difference, 1e-6 * std::fabs(d) + 1e-7 * std::fabs(g[i]));
    }
  }
}

// For a weak interaction the likelihood-ratio and Wald noncentralities per
// case, d and beg^2 / varh1, agree to second order in beg.
TEST(LikelihoodRatio, WeakInteractionGivesTheWaldNoncentrality) {
  for (const double ror : {1.02, 0.98}) {
    Design design;
    design.ror_tb = ror;
    model::Records rec;
    gxe::testing::store_design(rec, design);
    const X x{rec.alt.bg, rec.alt.be};
    const double d = model::lr_noncentrality(rec, x);
    double varh1 = 0.0;
    model::fs_a(rec, varh1);
    const double wald = rec.alt.beg * rec.alt.beg / varh1;
    EXPECT_NEAR(d / wald, 1.0, 0.02) << "ROR " << ror;
  }
}

TEST(NeededShift, GivesTheTargetPower) {
  struct Case {
    double target;
    double alpha;
  } const cases[] = {{0.8, 0.05}, {0.9, 5e-8}, {0.06, 0.05}, {0.5, 0.01}, {0.999999, 0.05}};
  for (const Case& c : cases) {
    const double z = -model::mynormi(c.alpha / 2);
    const double t = model::needed_shift(c.target, z);
    EXPECT_NEAR(model::impl::two_sided_power(t, z), c.target, 1e-13 * c.target)
        << c.target << " at " << c.alpha;
    // The smallest such shift: a shift a little smaller falls short.
    EXPECT_LT(model::impl::two_sided_power(t * (1 - 1e-9), z), c.target);
  }
  EXPECT_EQ(model::needed_shift(0.05, -model::mynormi(0.025)), 0.0);  // the level: no shift
}

}  // namespace
}  // namespace gxe::derivatives
