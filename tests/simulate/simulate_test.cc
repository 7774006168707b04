// Statistical properties of the simulated power, its reproducibility, its
// progress reports and its input checks.

#include "simulate/simulate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace gxe::simulate {
namespace {

Study quantiles(int k, double carrier, double ror, double cases) {
  Study s;
  s.exposure_prevalences.assign(static_cast<std::size_t>(k), 1.0 / k);
  s.carrier_prevalence = carrier;
  s.ror = ror;
  s.cases = cases;
  return s;
}

Options replicates(long r) {
  Options o;
  o.replicates = r;
  return o;
}

Check run(const Study& s, const Options& o) {
  const Outcome out = simulate_power(s, o);
  EXPECT_TRUE(out.ok()) << (out.ok() ? "" : out.error->message());
  return out.check;
}

// No interaction: the Wald and the likelihood-ratio tests reject in a share
// alpha of the studies. 4 quantiles, carriers 0.3, OR(G|E=0) 1.5,
// OR^tb(E|G=0) 2, 2000 cases and as many controls: every cell expects over
// 100 subjects.
TEST(SimulatePowerTest, RejectsAtLevelAlphaWithoutInteraction) {
  for (const double alpha : {0.05, 0.01}) {
    SCOPED_TRACE(alpha);
    Study s = quantiles(4, 0.3, 1.0, 2000);
    s.or_g = 1.5;
    s.or_e = 2.0;
    s.alpha = alpha;
    const Check c = run(s, replicates(20000));
    EXPECT_NEAR(c.power, alpha, 3.0 * std::sqrt(alpha * (1 - alpha) / c.replicates));
    EXPECT_NEAR(c.lr_power, alpha, 3.0 * std::sqrt(alpha * (1 - alpha) / c.replicates));
    EXPECT_NEAR(c.wald_power, alpha, 1e-12);
    EXPECT_EQ(c.failed, 0);
    EXPECT_EQ(c.lr_failed, 0);
  }
}

// Large studies with well-filled cells: the share of rejections is the Wald
// approximation with the alternative's variance, for both tests (they are
// asymptotically equivalent under local alternatives). Equal carrier and
// non-carrier prevalences, equally frequent exposure categories, one
// control per case. The studies are large enough (over 3,000 subjects a
// cell) that the finite-sample bias of the Wald test, about 0.001 in power
// at 2,000 cases for k = 2, is well below the Monte-Carlo band.
TEST(SimulatePowerTest, LargeBalancedDesignsAgreeWithTheWaldApproximation) {
  struct Row {
    int k;
    double ror;
    double cases;
  };
  for (const Row& r : {Row{2, 1.2, 12000}, Row{3, 1.15, 20000}}) {
    SCOPED_TRACE(r.k);
    const Check c = run(quantiles(r.k, 0.5, r.ror, r.cases), replicates(20000));
    EXPECT_GT(c.wald_power, 0.7);  // far from alpha and from 1: a real check of the power
    EXPECT_LT(c.wald_power, 0.95);
    EXPECT_NEAR(c.power, c.wald_power, 3.0 * c.se);
    EXPECT_NEAR(c.lr_power, c.wald_power, 3.0 * c.lr_se);
  }
}

// 5 quantiles, carriers 0.1, one control per case, OR(G|E=0) = OR^tb(E|G=0)
// = 1, ROR^tb = 3, 400 cases: 0.430 +/- 0.005 of 10,000 studies reject (the
// asymptotic power is 0.368). The band combines both Monte-Carlo errors.
TEST(SimulatePowerTest, ReproducesTheKnownExample) {
  const Check c = run(quantiles(5, 0.1, 3.0, 400), replicates(10000));
  EXPECT_EQ(c.n_cases, 400);
  EXPECT_EQ(c.n_controls, 400);
  EXPECT_NEAR(c.power, 0.430, 3.0 * std::hypot(c.se, 0.005));
}

// 5 quantiles, carriers 0.02, 100 cases: each carrier cell of the cases
// expects 0.4 to 1.6 subjects, so many tables are separated.
TEST(SimulatePowerTest, NearEmptyCellsGiveFailedFitsAndFiniteResults) {
  const Check c = run(quantiles(5, 0.02, 3.0, 100), replicates(2000));
  EXPECT_GT(c.failed, c.replicates / 10);
  EXPECT_LE(c.rejections + c.failed, c.replicates);
  // A table the full model fits is never separated for the model without
  // the interaction: the likelihood-ratio test fails on the same studies.
  EXPECT_EQ(c.lr_failed, c.failed);
  EXPECT_TRUE(std::isfinite(c.power) && std::isfinite(c.se) && std::isfinite(c.wald_power));
}

// The same seed gives the same studies whatever the number of threads (and a
// count of replicates that leaves a partial last block); another seed gives
// other studies.
TEST(SimulatePowerTest, ResultDependsOnTheSeedAloneNotOnTheThreads) {
  Study s = quantiles(3, 0.05, 2.5, 150);  // some separated tables, power near 0.3
  Options o = replicates(1000);
  std::vector<Check> checks;
  for (const int threads : {1, 2, 3, 8}) {
    o.threads = threads;
    checks.push_back(run(s, o));
  }
  ASSERT_GT(checks[0].failed, 0);
  for (const Check& c : checks) {
    EXPECT_EQ(c.rejections, checks[0].rejections);
    EXPECT_EQ(c.failed, checks[0].failed);
    EXPECT_EQ(c.lr_rejections, checks[0].lr_rejections);
  }
  o.seed = kDefaultSeed + 1;
  EXPECT_NE(run(s, o).rejections, checks[0].rejections);
}

TEST(SimulatePowerTest, ProgressIsReportedFromTheCallingThreadEndingWithTheTotal) {
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<long> reported;
  bool other_thread = false;
  Options o = replicates(20000);
  o.progress_interval = std::chrono::milliseconds(1);
  o.progress = [&](long done, long total) {
    other_thread = other_thread || std::this_thread::get_id() != caller;
    EXPECT_EQ(total, o.replicates);
    reported.push_back(done);
  };
  run(quantiles(4, 0.3, 2.0, 500), o);
  EXPECT_FALSE(other_thread);
  ASSERT_GE(reported.size(), 2U);  // reports while running (the run takes tens of ms)
  EXPECT_EQ(reported.back(), o.replicates);
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));

  // A callback that throws ends the run; the workers are joined first.
  o.progress = [](long, long) { throw std::runtime_error("cancelled"); };
  EXPECT_THROW(simulate_power(quantiles(4, 0.3, 2.0, 500), o), std::runtime_error);
}

TEST(SimulatePowerTest, InputsOutOfRangeAreErrorsNamingTheField) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    const char* field;
    std::function<void(Study&, Options&)> change;
  };
  const std::vector<Row> rows = {
      {"exposure_prevalences", [](Study& s, Options&) { s.exposure_prevalences = {1.0}; }},
      {"exposure_prevalences",
       [](Study& s, Options&) { s.exposure_prevalences.assign(101, 1.0 / 101); }},
      {"exposure_prevalences",
       [](Study& s, Options&) {
         s.exposure_prevalences = {0.5, 0.6};
       }},
      {"exposure_prevalences",
       [nan](Study& s, Options&) {
         s.exposure_prevalences = {nan, 1};
       }},
      {"exposure_prevalences",
       [](Study& s, Options&) {
         s.exposure_prevalences = {-0.5, 1.5};
       }},
      {"carrier_prevalence", [](Study& s, Options&) { s.carrier_prevalence = 1.0; }},
      {"controls_per_case", [](Study& s, Options&) { s.controls_per_case = 0.0; }},
      {"controls_per_case", [](Study& s, Options&) { s.controls_per_case = 1e-4; }},
      {"or_g", [inf](Study& s, Options&) { s.or_g = inf; }},
      {"or_e", [](Study& s, Options&) { s.or_e = -2.0; }},
      {"ror", [nan](Study& s, Options&) { s.ror = nan; }},
      {"cases", [](Study& s, Options&) { s.cases = 0.4; }},
      {"cases", [](Study& s, Options&) { s.cases = 1e300; }},
      {"alpha", [](Study& s, Options&) { s.alpha = 1.0; }},
      {"alpha", [](Study& s, Options&) { s.alpha = 1e-305; }},
      {"replicates", [](Study&, Options& o) { o.replicates = 0; }},
      {"threads", [](Study&, Options& o) { o.threads = -1; }},
      {"progress_interval", [](Study&, Options& o) { o.progress_interval = {}; }},
      {"", [](Study& s, Options&) { s.or_e = 1e300; }},  // exp overflows in the cell table
  };
  for (const Row& r : rows) {
    Study s = quantiles(4, 0.3, 2.0, 500);
    Options o = replicates(10);
    r.change(s, o);
    const Outcome out = simulate_power(s, o);
    ASSERT_FALSE(out.ok()) << r.field;
    EXPECT_EQ(out.error->input, r.field) << out.error->message();
  }
}

// The planning library accepts an exposure category no control falls in, so
// the simulation of its answer must too: its cells are simply empty.
TEST(SimulatePowerTest, AnEmptyExposureCategoryIsSimulated) {
  Study s = quantiles(4, 0.3, 2.0, 500);
  s.exposure_prevalences = {0.25, 0.0, 0.25, 0.5};
  const Outcome out = simulate_power(s, replicates(200));
  ASSERT_TRUE(out.ok()) << out.error->message();
  EXPECT_GT(out.check.power, 0.0);
}

}  // namespace
}  // namespace gxe::simulate

namespace gxe::simulate {
namespace {

// Gene and exposure associated among controls: the studies are drawn from
// the associated control distribution, so in a large study the share of
// rejections is the Wald approximation with that distribution's variance,
// which the association moves well away from independence's.
TEST(SimulatePowerTest, DrawsFromTheAssociatedControlDistribution) {
  Study s = quantiles(4, 0.3, 1.6, 2500);
  s.or_g = 1.5;
  s.or_e = 2.0;
  const Check independent = run(s, replicates(1));
  s.or_ge = 4.0;
  const Check c = run(s, replicates(20000));
  const double se = std::sqrt(c.wald_power * (1 - c.wald_power) / c.replicates);
  EXPECT_NEAR(c.power, c.wald_power, 3.0 * se);
  EXPECT_GT(std::fabs(c.wald_power - independent.wald_power), 10.0 * se);
}

}  // namespace
}  // namespace gxe::simulate
