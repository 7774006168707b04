// Calculations along ROR^tb and along the bounds of the box, out to 1e+-12:
// every row is either an answer or an error saying the model is out of its
// numerical reach, the answers form one unbroken run, and neighbouring
// answers are as close as the real curves allow on these grids.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

// Neighbouring answers on a grid of 40 points per decade (steps of 0.058 in
// ln ROR^tb or in the log of a bound). The power moves by at most
// phi(0) sqrt(n / varh1) / (k - 1) per unit of ln ROR^tb; the size, times
// (ln ROR^tb)^2 along ROR^tb (which takes out its pole at ROR^tb = 1), grows
// about as fast as varh1, at most in proportion to the odds ratios: a factor
// of 1.06 per step, plus one subject of rounding. Measured on these sweeps
// with the check: power steps of at most 0.068 (k = 2, 300 cases) along
// ROR^tb and 0.005 along the bounds, size factors of at most 1.06; without
// it, jumps of 0.5 in power and factors of 6 to 35 in size.
constexpr double kPowerStep = 0.1;
constexpr double kSizeFactor = 1.25;
constexpr int kPerDecade = 40;
constexpr double kCases = 300;

struct Row {
  double x;  // the swept value
  Outcome out;
};

// What is compared between neighbours: both powers, and in a sample-size
// calculation the size, scaled along ROR^tb.
double scaled_size(const Row& row, bool along_ror) {
  const double scale = along_ror ? std::pow(std::log(row.x), 2) : 1.0;
  return row.out.result.size * scale;
}

void expect_one_continuous_run(const std::vector<Row>& rows, Mode mode, bool along_ror) {
  std::vector<std::size_t> answered;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Outcome& out = rows[i].out;
    if (out.ok()) {
      answered.push_back(i);
      continue;
    }
    EXPECT_EQ(out.error->kind, Error::Kind::no_answer) << rows[i].x;
    EXPECT_NE(out.error->rule.find("beyond the model's numerical reach"), std::string::npos)
        << rows[i].x << ": " << out.error->message();
  }
  ASSERT_FALSE(answered.empty());
  EXPECT_EQ(answered.back() - answered.front() + 1, answered.size())
      << "answers from " << rows[answered.front()].x << " to " << rows[answered.back()].x
      << " with errors between";
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    const Row& a = rows[i];
    const Row& b = rows[i + 1];
    if (!a.out.ok() || !b.out.ok()) continue;
    SCOPED_TRACE("between " + std::to_string(a.x) + " and " + std::to_string(b.x));
    EXPECT_LE(std::fabs(a.out.result.least.power - b.out.result.least.power), kPowerStep);
    EXPECT_LE(std::fabs(a.out.result.most.power - b.out.result.most.power), kPowerStep);
    if (mode == Mode::size) {
      const double sa = scaled_size(a, along_ror);
      const double sb = scaled_size(b, along_ror);
      EXPECT_LE(std::max(sa, sb) / std::min(sa, sb), kSizeFactor);
    }
  }
}

Scenario scenario(Mode mode, const Ranges& ranges) {
  Scenario s = testing::example_scenario(mode);
  s.cases = kCases;
  s.ranges = ranges;
  return s;
}

TEST(Reach, AlongRorEveryRowIsAnErrorOrContinuousWithItsNeighbours) {
  struct Sweep {
    const char* what;
    Scenario power;
  } sweeps[] = {
      {"a point", scenario(Mode::power, {Range{1, 1}, Range{1, 1}})},
      {"a box", scenario(Mode::power, {Range{1.5, 2.5}, Range{1, 2}})},
      {"k 2, rare carriers, 4 controls per case",
       scenario(Mode::power, {Range{0.5, 2}, Range{0.5, 2}})},
  };
  sweeps[2].power.design.quantiles = 2;
  sweeps[2].power.design.gene_prevalence = 0.1;
  sweeps[2].power.design.controls_per_case = 4;
  for (const Sweep& sweep : sweeps) {
    for (Mode mode : {Mode::power, Mode::size}) {
      SCOPED_TRACE(std::string(sweep.what) + ", " + std::string(name(mode)));
      std::vector<Row> rows;
      for (int i = -12 * kPerDecade; i <= 12 * kPerDecade; ++i) {
        if (mode == Mode::size && i == 0) continue;  // no size without interaction
        Scenario s = sweep.power;
        s.mode = mode;
        s.design.ror = std::pow(10.0, static_cast<double>(i) / kPerDecade);
        rows.push_back({s.design.ror, run(s)});
      }
      expect_one_continuous_run(rows, mode, true);
    }
  }
}

TEST(Reach, AlongEachBoundEveryRowIsAnErrorOrContinuousAndNamesThatBound) {
  // One range from 1 out to b (the box only grows along the sweep), the
  // other as in the worked example.
  struct Bound {
    const char* field;
    double direction;  // b goes out to 10^(12 direction)
    void (*widen)(Ranges&, double b);
  } const bounds[] = {
      {"or_e_high", 1.0, [](Ranges& r, double b) { r.or_e = Range{1, b}; }},
      {"or_e_low", -1.0, [](Ranges& r, double b) { r.or_e = Range{b, 1}; }},
      {"or_g_high", 1.0, [](Ranges& r, double b) { r.or_g = Range{1, b}; }},
      {"or_g_low", -1.0, [](Ranges& r, double b) { r.or_g = Range{b, 1}; }},
  };
  for (const Bound& bound : bounds) {
    for (Mode mode : {Mode::power, Mode::size}) {
      SCOPED_TRACE(std::string(bound.field) + ", " + std::string(name(mode)));
      std::vector<Row> rows;
      for (int i = 0; i <= 12 * kPerDecade; ++i) {
        Scenario s = scenario(mode, {Range{1.5, 2.5}, Range{1, 2}});
        const double b = std::pow(10.0, bound.direction * i / kPerDecade);
        bound.widen(s.ranges, b);
        rows.push_back({b, run(s)});
        const Outcome& out = rows.back().out;
        EXPECT_EQ(out.ok() ? bound.field : out.error->input, bound.field) << b;
      }
      expect_one_continuous_run(rows, mode, false);
    }
  }
}

}  // namespace
}  // namespace gxe::plan
