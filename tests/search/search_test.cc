#include "search/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "console/console.h"
#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"
#include "tests/support/test_util.h"

namespace gxe::search {
namespace {

using gxe::testing::Design;

// The design into records from zeros.
void store(Records& rec, const Design& d) {
  rec = Records{};
  gxe::testing::store_design(rec.model, d);
}

// The box of the dialogue: OR(G|E=0) in [g_lo, g_hi], OR^tb(E|G=0) in
// [e_lo, e_hi], in search variables.
struct Ranges {
  double g_lo, g_hi, e_lo, e_hi;
};

void box_of(const Ranges& r, int k, Box& lower, Box& upper) {
  lower = {std::log(r.g_lo), std::log(r.e_lo) / (k - 1)};
  upper = {std::log(r.g_hi), std::log(r.e_hi) / (k - 1)};
}

// Runs `body` with the console writing into a string, which it returns.
template <class Body>
std::string captured(Body body) {
  std::istringstream in;
  std::ostringstream out, err;
  console::bind(in, out, err);
  body();
  console::bind_standard();
  return out.str();
}

// Smallest and largest power over a fine grid of the box, at the records' size.
struct Scan {
  double pmin = std::numeric_limits<double>::infinity();
  double pmax = -std::numeric_limits<double>::infinity();
};

Scan scan_power(model::Records& rec, const Box& lower, const Box& upper, int kSteps = 160) {
  Scan s;
  for (int i = 0; i <= kSteps; ++i) {
    for (int j = 0; j <= kSteps; ++j) {
      const double x[2] = {lower[0] + (upper[0] - lower[0]) * i / kSteps,
                           lower[1] + (upper[1] - lower[1]) * j / kSteps};
      double pw = 0.0;
      model::power3(rec, 2, x, pw);
      s.pmin = std::min(s.pmin, pw);
      s.pmax = std::max(s.pmax, pw);
    }
  }
  return s;
}

// Largest number of cases needed over the same grid.
double scan_cases(model::Records& rec, const Box& lower, const Box& upper, int kSteps = 160) {
  double most = 0.0;
  for (int i = 0; i <= kSteps; ++i) {
    for (int j = 0; j <= kSteps; ++j) {
      const double x[2] = {lower[0] + (upper[0] - lower[0]) * i / kSteps,
                           lower[1] + (upper[1] - lower[1]) * j / kSteps};
      double n = 0.0;
      model::sample(rec, 2, x, n);
      most = std::max(most, n);
    }
  }
  return most;
}

void expect_inside(const Box& x, const Box& lower, const Box& upper) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_GE(x[i], lower[i]);
    EXPECT_LE(x[i], upper[i]);
  }
}

constexpr double kPowerTolerance = 1e-4;

// ---------------------------------------------------------------------------

TEST(StudySize, WholePartOfSubjectsPlusOne) {
  struct Case {
    double cases, ccr, size;
  } const cases[] = {
      {224.3, 1.0, 449.0},       // 448.6 -> 449
      {225.0, 1.0, 451.0},       // a whole 450 still gets one added
      {1097.01296, 1.0, 2195.0}, // the worked example
      {100.0, 2.0, 301.0},
      {0.2, 1.0, 1.0},
  };
  for (const auto& c : cases) EXPECT_EQ(study_size(c.cases, c.ccr), c.size) << c.cases;
}

struct BoxCase {
  Design design;
  Ranges ranges;
};

// Readable test names in place of a byte dump of the parameter.
void PrintTo(const BoxCase& c, std::ostream* os) {
  *os << "k=" << c.design.k << " probg=" << c.design.probg << " ROR=" << c.design.ror_tb
      << " OR(G) in [" << c.ranges.g_lo << ", " << c.ranges.g_hi << "], OR^tb(E) in ["
      << c.ranges.e_lo << ", " << c.ranges.e_hi << "]";
}

class PowerBoxTest : public ::testing::TestWithParam<BoxCase> {};

// The extremes the minimizer finds agree with a brute-force scan of the box.
TEST_P(PowerBoxTest, ExtremesMatchGridScan) {
  const auto& p = GetParam();
  Records rec;
  store(rec, p.design);
  Box lower, upper;
  box_of(p.ranges, p.design.k, lower, upper);
  rec.model.z[0] = 1.959963984540055;
  const Scan scan = scan_power(rec.model, lower, upper);

  store(rec, p.design);
  const Extremes r = power_search(rec, lower, upper);
  EXPECT_NEAR(r.pmin, scan.pmin, kPowerTolerance);
  EXPECT_NEAR(r.pmax, scan.pmax, kPowerTolerance);
  EXPECT_LE(r.pmin, r.pmax);
  expect_inside(r.xmin, lower, upper);
  expect_inside(r.xmax, lower, upper);
  EXPECT_EQ(r.size, p.design.cases * (1 + p.design.ccr));
  EXPECT_EQ(r.searches.size(), 2u);
  // After the driver the alternative holds the maximum point.
  EXPECT_EQ(rec.model.alt.bg, r.xmax[0]);
  EXPECT_EQ(rec.model.alt.be, r.xmax[1]);
}

class SizeBoxTest : public ::testing::TestWithParam<BoxCase> {};

// The size search fixes the study size at the least favourable point: the
// need there is the largest over the box, the power there reaches the target,
// and the maximum power is the largest over the box at that size.
TEST_P(SizeBoxTest, SizeFromLeastFavourablePoint) {
  const auto& p = GetParam();
  constexpr double kTarget = 0.8;
  Records rec;
  store(rec, p.design);
  Box lower, upper;
  box_of(p.ranges, p.design.k, lower, upper);
  rec.model.z = {1.959963984540055, model::mynormi(1.0 - kTarget)};
  const double most_cases = scan_cases(rec.model, lower, upper);

  store(rec, p.design);
  double copy = kTarget;
  const Extremes r = ssize_search(rec, copy, lower, upper);
  EXPECT_CLOSE(copy, 1.0 - kTarget, 1e-15);
  const double cases = r.size / (1 + p.design.ccr);
  EXPECT_GE(cases, most_cases * (1 - 1e-6));
  EXPECT_LE(cases, most_cases * (1 + 1e-4) + 1.0);
  EXPECT_GE(r.pmin, kTarget);
  expect_inside(r.xmin, lower, upper);
  expect_inside(r.xmax, lower, upper);

  const Scan scan = scan_power(rec.model, lower, upper);
  EXPECT_NEAR(r.pmax, scan.pmax, kPowerTolerance);
  EXPECT_GE(r.pmax, r.pmin - 1e-12);
}

const BoxCase kBoxes[] = {
    {{.k = 4, .probg = 0.3, .ccr = 1.0, .or_g = 1.5, .or_e_tb = 2.0, .ror_tb = 2.0, .cases = 500.0},
     {0.5, 2.0, 1.0, 4.0}},
    {{.k = 2, .probg = 0.2, .ccr = 2.0, .or_g = 1.2, .or_e_tb = 1.5, .ror_tb = 3.0, .cases = 300.0},
     {0.5, 2.0, 1.0, 4.0}},
    {{.k = 5, .probg = 0.4, .ccr = 1.0, .or_g = 1.0, .or_e_tb = 1.0, .ror_tb = 0.5, .cases = 800.0},
     {0.8, 1.5, 0.5, 2.0}},
    {{.k = 10, .probg = 0.1, .ccr = 3.0, .or_g = 2.0, .or_e_tb = 3.0, .ror_tb = 2.5,
      .cases = 1000.0},
     {1.0, 3.0, 1.5, 6.0}},
};

INSTANTIATE_TEST_SUITE_P(Boxes, PowerBoxTest, ::testing::ValuesIn(kBoxes));
INSTANTIATE_TEST_SUITE_P(Boxes, SizeBoxTest, ::testing::ValuesIn(kBoxes));

// A range collapsed to one value in one direction only is still searched in
// the other; the collapsed variable keeps its only value.
TEST(SizeSearch, BoxCollapsedInOneDirectionIsSearched) {
  const Design d;
  Records rec;
  store(rec, d);
  Box lower, upper;
  box_of({1.5, 1.5, 0.5, 4.0}, d.k, lower, upper);
  rec.model.z = {1.959963984540055, model::mynormi(0.2)};
  const double most_cases = scan_cases(rec.model, lower, upper);

  store(rec, d);
  double copy = 0.8;
  const Extremes r = ssize_search(rec, copy, lower, upper);
  EXPECT_EQ(r.searches.size(), 2u);
  EXPECT_EQ(r.xmin[0], lower[0]);
  EXPECT_EQ(r.xmax[0], lower[0]);
  EXPECT_GE(r.size / 2, most_cases * (1 - 1e-6));
}

// The global method finds the extremes of varh1 once and reads the power and
// the need of every number of cases, level and target off those two points.
// On random designs and boxes (a fixed seed; k up to 20; wide boxes, some
// fixed in one direction; small and large studies, so that the power is
// below 1/2 in some and above in others) no point of a dense scan may be
// more extreme than what it reports, at two sizes and two targets from the
// one search.
TEST(GlobalSearch, OneSearchHoldsTheExtremesOfEverySize) {
  std::mt19937_64 draw(20261207);
  const auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(draw);
  };
  const auto log_uniform = [&](double lo, double hi) {
    return std::exp(uniform(std::log(lo), std::log(hi)));
  };
  const int ks[] = {2, 3, 4, 6, 10, 20};
  const Options global{model::kCriticalValue, Method::global, false};
  constexpr int kScanSteps = 60;
  for (int trial = 0; trial < 24; ++trial) {
    Design d;
    d.k = ks[trial % 6];
    d.probg = log_uniform(0.02, 0.8);
    d.ccr = log_uniform(0.5, 4.0);
    d.ror_tb = trial % 3 == 0 ? log_uniform(0.2, 0.8) : log_uniform(1.3, 5.0);
    const double g_lo = log_uniform(0.3, 3.0);
    const double e_lo = log_uniform(0.3, 5.0);
    const Ranges ranges{g_lo, g_lo * log_uniform(1.0, 6.0), e_lo,
                        trial % 5 == 4 ? e_lo : e_lo * log_uniform(1.0, 8.0)};
    SCOPED_TRACE(::testing::PrintToString(BoxCase{d, ranges}));
    Records rec;
    store(rec, d);
    Box lower, upper;
    box_of(ranges, d.k, lower, upper);
    const VarianceExtremes v = variance_extremes(rec, lower, upper, global);
    for (const double cases : {80.0, 3000.0}) {
      rec.model.size = cases * (1.0 + d.ccr);
      const Extremes r = powers_from(rec, v, global);
      const Scan scan = scan_power(rec.model, lower, upper, kScanSteps);
      EXPECT_LE(r.pmin, scan.pmin + 1e-12) << cases << " cases";
      EXPECT_GE(r.pmax, scan.pmax - 1e-12) << cases << " cases";
    }
    for (const double target : {0.3, 0.9}) {
      rec.model.z[1] = model::mynormi(1.0 - target);
      const Need need = need_from(rec, v);
      EXPECT_GE(need.cases, scan_cases(rec.model, lower, upper, kScanSteps) * (1 - 1e-12))
          << target;
    }
  }
}

// ---------------------------------------------------------------------------
// The reach check: with it, every search stops at the first point out of
// reach, a point of the box where a fit really fails; without it (the
// dialogue's options) the same searches run to the end.

TEST(Reach, EverySearchStopsAtThePointOutOfReach) {
  struct Case {
    const char* what;
    Design design;
    Ranges box;
    OutOfReach::Fit fit;
  } const cases[] = {
      {"ROR^tb 1e12 at a point", Design{.ror_tb = 1e12}, {1, 1, 1, 1},
       OutOfReach::Fit::alternative},
      // Within reach up to OR(G|E=0) of about 4700 (the plan sweeps).
      {"a box out to OR(G|E=0) 1e5", Design{}, {1, 1e5, 1.5, 2.5}, OutOfReach::Fit::alternative},
      {"one exposure category empty", Design{.k = 2, .pexp = {1.0, 0.0}}, {1, 2, 1.5, 2.5},
       OutOfReach::Fit::null},
  };
  for (const Case& c : cases) {
    for (const Method method : {Method::centre, Method::global}) {
      for (const bool size : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + (method == Method::global ? ", global" : ", centre") +
                     (size ? ", size" : ", power"));
        Box lower, upper;
        box_of(c.box, c.design.k, lower, upper);
        Records rec;
        const auto search = [&](bool check) {
          store(rec, c.design);
          double power = 0.8;
          const Options options{model::kCriticalValue, method, check};
          if (size) {
            ssize_search(rec, power, lower, upper, options);
          } else {
            power_search(rec, lower, upper, options);
          }
        };
        try {
          search(false);
        } catch (const OutOfReach&) {
          ADD_FAILURE() << "checked without the check";
        } catch (const console::ProgramEnd&) {
          // The dialogue's stop on a need that is not a number.
        }
        try {
          search(true);
          ADD_FAILURE() << "no point out of reach";
        } catch (const OutOfReach& failure) {
          EXPECT_EQ(failure.fit, c.fit);
          EXPECT_FALSE(failure.check.within_reach());
          for (int i = 0; i < 2; ++i) {
            EXPECT_GE(failure.x[i], lower[i]);
            EXPECT_LE(failure.x[i], upper[i]);
          }
          const std::optional<OutOfReach> again = reach_at(rec, failure.x);
          ASSERT_TRUE(again.has_value());
          EXPECT_EQ(again->fit, c.fit);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Reports.

const char kRule80[] =
    "--------------------------------------------------------------------------------\n";
const char kHeader[] =
    "\n    Size     Min power    OR(G|E=0) OR^tb(E|G=0)    Max power    OR(G|E=0) "
    "OR^tb(E|G=0)\n";

TEST(Report, PowerWorkedExample) {
  const Design d;
  Records rec;
  store(rec, d);
  Box lower, upper;
  box_of({1.5, 1.5, 2.0, 2.0}, d.k, lower, upper);
  const std::string text = captured([&] { power_calc(rec, lower, upper); });
  EXPECT_EQ(text, std::string(kHeader) + kRule80 +
                      "    1000       0.4761       1.5000       2.0000       0.4761       1.5000"
                      "       2.0000\n"
                      "\nThe values of OR(G|E=0) and OR^tb(E|G=0)\n"
                      "are the values under the alternative that produced the\n"
                      " minimum and maximum power over the interval given as input.\n\n");
}

TEST(Report, SizeWorkedExample) {
  const Design d;
  Records rec;
  store(rec, d);
  Box lower, upper;
  box_of({1.5, 1.5, 2.0, 2.0}, d.k, lower, upper);
  double copy = 0.8;
  const std::string text = captured([&] { ssize_calc(rec, copy, lower, upper); });
  EXPECT_EQ(text, std::string(kHeader) + kRule80 +
                      "    2195       0.8002       1.5000       2.0000       0.8002       1.5000"
                      "       2.0000\n"
                      "\nThe values of OR(G|E=0) and OR^tb(E|G=0)\n"
                      "are the values under the alternative that produced the \n"
                      "minimum and maximum power over the interval given as input.\n\n");
  EXPECT_EQ(rec.model.size, 2195.0);
}

// A design whose cells are thin: 20 quantiles, 5 % carriers, a strong
// interaction (ROR^tb = 10) and a low target power keep the study small, so
// some carrier cells expect fewer than 5 cases.
Design thin_design() {
  Design d;
  d.k = 20;
  d.probg = 0.05;
  d.or_e_tb = 1.0;
  d.or_g = 1.0;
  d.ror_tb = 10.0;
  d.cases = 40.0;
  return d;
}

// The warning is written when either extreme point fails the cell-count
// check, in each report's own wording, and not at all when both points pass.
TEST(Report, SmallCellWarnings) {
  const Design thin = thin_design();
  Box lower, upper;
  box_of({1.0, 2.0, 1.0, 3.0}, thin.k, lower, upper);

  Records rec;
  store(rec, thin);
  const std::string power_text = captured([&] { power_calc(rec, lower, upper); });
  EXPECT_NE(power_text.find(
                "\n Suspect values : some cell counts when d=1                 where less than 5.\n"),
            std::string::npos)
      << power_text;

  store(rec, thin);
  double copy = 0.2;
  const std::string size_text = captured([&] { ssize_calc(rec, copy, lower, upper); });
  EXPECT_NE(size_text.find("\n Suspect values : some cell counts when d=1 where less than 5.\n"),
            std::string::npos)
      << size_text;

  const Design ample;  // 500 cases: at least ~27 expected cases per cell
  store(rec, ample);
  box_of({1.5, 1.5, 2.0, 2.0}, ample.k, lower, upper);
  const std::string quiet = captured([&] { power_calc(rec, lower, upper); });
  EXPECT_EQ(quiet.find("Suspect"), std::string::npos);
}

// A single-point box takes the no-search path, but the cell counts at the
// point are still checked.
TEST(Report, SinglePointBoxStillChecksCells) {
  const Design thin = thin_design();
  Records rec;
  store(rec, thin);
  Box lower, upper;
  box_of({1.0, 1.0, 1.0, 1.0}, thin.k, lower, upper);
  double copy = 0.2;
  Extremes r;
  const std::string text = captured([&] { ssize_calc(rec, copy, lower, upper); });
  store(rec, thin);
  copy = 0.2;
  r = ssize_search(rec, copy, lower, upper);
  EXPECT_TRUE(r.searches.empty());
  EXPECT_EQ(r.okmin, 0);
  EXPECT_EQ(r.okmax, 0);
  EXPECT_EQ(r.pmin, r.pmax);
  EXPECT_NE(text.find("Suspect values"), std::string::npos) << text;
}

TEST(Report, NoSizeWithoutInteraction) {
  Design d;
  d.ror_tb = 1.0;
  Records rec;
  store(rec, d);
  Box lower, upper;
  box_of({1.0, 2.0, 1.0, 3.0}, d.k, lower, upper);
  double copy = 0.8;
  const std::string text = captured([&] { ssize_calc(rec, copy, lower, upper); });
  EXPECT_EQ(text, " No sample size reaches the target power when ROR^tb = 1.\n");
}

// Sizes that do not fit the 8-column field, however large or not finite, are
// written as asterisks (never converted to an integer type).
TEST(Report, OversizedStudySizeIsAsterisks) {
  for (double size : {1e8, 123456789.0, 1e300, std::numeric_limits<double>::infinity(),
                      std::numeric_limits<double>::quiet_NaN()}) {
    Extremes r;
    r.size = size;
    r.k = 4;
    const std::string row = captured([&] { write_row(r); });
    EXPECT_EQ(row.substr(0, 9), "******** ") << size;
  }
  Extremes r;
  r.size = 99999999.0;
  r.k = 4;
  EXPECT_EQ(captured([&] { write_row(r); }).substr(0, 8), "99999999");
}

}  // namespace
}  // namespace gxe::search
