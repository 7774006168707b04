// Power, sample size, the stop for a non-positive number of cases, and the
// normal distribution routines.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"
#include "tests/support/test_util.h"

namespace gxe::model {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Upper tail from the C library, an independent reference.
double upper_tail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

// --- normp ----------------------------------------------------------------------

TEST(NormpTest, ZeroIsExact) {
  double p = 0.0;
  double q = 0.0;
  double pdf = 0.0;
  normp(0.0, p, q, pdf);
  EXPECT_EQ(p, 0.5);
  EXPECT_EQ(q, 0.5);
  EXPECT_EQ(pdf, 1.0 / 2.506628274631001);
}

// Both branches against erfc. The rational form is accurate to about 1e-16
// in absolute terms, so its relative error in the small tail grows from the
// last digit at 0 to a few 1e-9 at the cutoff; the truncated continued
// fraction stays within about 1e-8 (largest, 9e-9, near 7.8).
TEST(NormpTest, TailsAgainstTheCLibrary) {
  struct Row {
    double z;
    double rel;
  };
  const double below_cutoff = std::nextafter(7.071, 0.0);
  const std::vector<Row> rows = {
      {1.959963984540055, 2e-15},
      {-1.959963984540055, 2e-15},
      {0.3, 2e-15},
      {-2.5, 2e-14},
      {5.0, 1e-10},
      {below_cutoff, 5e-9},
      {-below_cutoff, 5e-9},
      {7.071, 1e-8},
      {-7.071, 1e-8},
      {10.0, 1e-8},
      {-20.0, 1e-8},
      {37.0, 1e-8},
  };
  for (const Row& r : rows) {
    double p = 0.0;
    double q = 0.0;
    double pdf = 0.0;
    normp(r.z, p, q, pdf);
    SCOPED_TRACE(::testing::Message() << "z = " << r.z);
    // The small tail is accurate in relative terms, the other one is 1 - tail.
    if (r.z > 0) {
      EXPECT_CLOSE(q, upper_tail(r.z), r.rel);
      EXPECT_EQ(p, 1.0 - q);
    } else {
      EXPECT_CLOSE(p, upper_tail(-r.z), r.rel);
      EXPECT_EQ(q, 1.0 - p);
    }
    EXPECT_CLOSE(pdf, std::exp(-r.z * r.z / 2) / std::sqrt(2 * M_PI), 1e-13);
  }
}

TEST(NormpTest, CriticalValueGivesTwoAndAHalfPercent) {
  double p = 0.0;
  double q = 0.0;
  double pdf = 0.0;
  normp(kCriticalValue, p, q, pdf);
  EXPECT_NEAR(q, 0.025, 1e-15);
  normp(-kCriticalValue, p, q, pdf);
  EXPECT_NEAR(p, 0.025, 1e-15);
  EXPECT_NEAR(q, 0.975, 1e-15);
}

TEST(NormpTest, SaturatesStrictlyBeyond37) {
  struct Row {
    double z, p, q;
  };
  for (const Row& r : {Row{38.0, 1.0, 0.0}, Row{-38.0, 0.0, 1.0},
                       Row{std::numeric_limits<double>::infinity(), 1.0, 0.0},
                       Row{-std::numeric_limits<double>::infinity(), 0.0, 1.0}}) {
    double p = -1.0;
    double q = -1.0;
    double pdf = -1.0;
    normp(r.z, p, q, pdf);
    EXPECT_EQ(p, r.p) << r.z;
    EXPECT_EQ(q, r.q) << r.z;
    EXPECT_EQ(pdf, 0.0) << r.z;
  }
  double p = 0.0;
  double q = 0.0;
  double pdf = 0.0;
  normp(37.0, p, q, pdf);  // still computed
  EXPECT_CLOSE(q, 5.7255712225e-300, 1e-8);
  EXPECT_GT(pdf, 0.0);
  normp(-37.0, p, q, pdf);
  EXPECT_CLOSE(p, 5.7255712225e-300, 1e-8);
}

// --- mynormi and norm -------------------------------------------------------------

TEST(MynormiTest, Quantiles) {
  struct Row {
    double pp, x, tol;
  };
  // Reference quantiles from standard tables (17 digits from a
  // high-precision evaluation).
  for (const Row& r :
       {Row{0.2, -0.8416212335729143, 1e-13}, Row{0.025, -1.959963984540054, 1e-12},
        Row{0.975, 1.959963984540054, 1e-12}, Row{0.5, 0.0, 1e-9},
        Row{0.05, -1.6448536269514722, 1e-12}, Row{0.9, 1.2815515655446004, 1e-12}}) {
    EXPECT_NEAR(mynormi(r.pp), r.x, r.tol) << r.pp;
  }
}

TEST(MynormiTest, RoundTripsThroughNormp) {
  for (const double pp : {1e-12, 1e-6, 0.001, 0.3, 0.7, 0.999, 1.0 - 1e-9}) {
    const double x = mynormi(pp);
    double p = 0.0;
    double q = 0.0;
    double pdf = 0.0;
    normp(x, p, q, pdf);
    EXPECT_CLOSE(p, pp, 1e-9) << pp;
  }
}

// Newton's iterates either settle or become not a number for every input;
// pp = 1e-300 lies beyond the point where the tail saturates, and there the
// iterates would jump back and forth across -37 for ever without the bound
// on the number of steps.
TEST(MynormiTest, EndsForEveryInput) {
  struct Row {
    double pp;
    double low, high;  // expected range of the result (NaN allowed when low is NaN)
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Row& r : {Row{0.0, -37.1, -37.0}, Row{1e-300, -37.1, -36.9}, Row{5e-324, -37.1, -37.0},
                       Row{1.0, 8.0, 9.0}, Row{std::nextafter(1.0, 0.0), 8.0, 8.5},
                       Row{2.0, inf, inf}, Row{-1.0, -inf, -inf}}) {
    const double x = mynormi(r.pp);
    EXPECT_GE(x, r.low) << r.pp;
    EXPECT_LE(x, r.high) << r.pp;
  }
  EXPECT_TRUE(std::isnan(mynormi(kNaN)));
}

// --- power, power3, sample ----------------------------------------------------------

TEST(PowerTest, WorkedExample) {
  Records rec;
  store_design(rec, gxe::testing::example_design());
  const std::array<double, 2> x{std::log(1.5), std::log(2.0) / 3};
  double pw = 0.0;
  power3(rec, 2, x, pw);
  EXPECT_NEAR(pw, 0.476120, 5e-7);
  double ss = 0.0;
  sample(rec, 2, x, ss);
  EXPECT_NEAR(ss, 1097.013, 5e-4);
  EXPECT_NEAR(ss, 1097.01296, 5e-6);
}

TEST(PowerTest, Power3AndSampleStoreThePointAndLeaveTheAlternativeTable) {
  Records rec;
  store_design(rec, Design{.k = 6, .ror_tb = 0.5});
  const std::array<double, 2> x{0.7, -0.2};
  double v = 0.0;
  for (int routine = 0; routine < 2; ++routine) {
    rec.alt.bg = 0.0;
    rec.alt.be = 0.0;
    routine == 0 ? power3(rec, 2, x, v) : sample(rec, 2, x, v);
    EXPECT_EQ(rec.alt.bg, 0.7);
    EXPECT_EQ(rec.alt.be, -0.2);
    const std::array<double, 400> table = rec.cells.cell;
    const double b0 = rec.alt.b0;
    fs_a(rec, v);
    EXPECT_EQ(rec.cells.cell, table);
    EXPECT_EQ(rec.alt.b0, b0);
  }
}

// The number of cases that sample() asks for reaches exactly the target
// power in power(): the two formulas are inverses of each other.
TEST(PowerTest, SampleSizeReachesItsPower) {
  const std::vector<Design> designs = {
      Design{},
      Design{.k = 2, .probg = 0.1, .ccr = 3.0, .or_g = 0.7, .or_e_tb = 1.4, .ror_tb = 0.5},
      Design{.k = 9, .probg = 0.45, .ccr = 0.5, .or_g = 2.0, .or_e_tb = 0.5, .ror_tb = 1.8}};
  for (const Design& d : designs) {
    for (const double target : {0.3, 0.5, 0.8, 0.95}) {
      Records rec;
      store_design(rec, d);
      rec.z[1] = mynormi(1.0 - target);
      const std::array<double, 2> x{rec.alt.bg + 0.2, rec.alt.be - 0.05};
      double ss = 0.0;
      sample(rec, 2, x, ss);
      double pw = 0.0;
      power(rec, ss, pw);
      EXPECT_CLOSE(pw, target, 1e-9) << "k = " << d.k << ", power " << target;
    }
  }
}

class PowerStopTest : public ::testing::Test {
 protected:
  void SetUp() override { console::bind(in_, out_, err_); }
  void TearDown() override { console::bind_standard(); }
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(PowerStopTest, NonPositiveNumberOfCasesStopsAfterBothFits) {
  struct Row {
    double ncase;
    std::string line;
  };
  for (const Row& r :
       {Row{0.0, " error in power : n <= 0   0.\n"}, Row{-5.0, " error in power : n <= 0  -5.\n"},
        Row{kNaN, " error in power : n <= 0 " + console::format_real_item(kNaN) + "\n"}}) {
    Records rec;
    store_design(rec, gxe::testing::example_design());
    rec.null.b0 = 99.0;
    rec.alt.b0 = 99.0;
    out_.str("");
    double pw = -1.0;
    try {
      power(rec, r.ncase, pw);
      ADD_FAILURE() << "power did not stop for " << r.ncase;
    } catch (const console::ProgramEnd& end) {
      EXPECT_EQ(end.status, 0);
    }
    EXPECT_EQ(out_.str(), r.line);
    EXPECT_EQ(pw, -1.0);
    EXPECT_NE(rec.null.b0, 99.0);  // both fits ran before the test
    EXPECT_NE(rec.alt.b0, 99.0);
  }
}

TEST_F(PowerStopTest, Power3WithSizeZeroStops) {
  Records rec;
  store_design(rec, gxe::testing::example_design());
  rec.size = 0.0;
  const std::array<double, 2> x{0.1, 0.1};
  double pw = 0.0;
  EXPECT_THROW(power3(rec, 2, x, pw), console::ProgramEnd);
  EXPECT_EQ(out_.str(), " error in power : n <= 0   0.\n");
}

}  // namespace
}  // namespace gxe::model
