#include "plan/curve.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

Scenario base(Mode mode) {
  Scenario s = testing::example_scenario(mode);
  s.ranges = {Range{1.0, 4.0}, Range{0.5, 2.0}};
  return s;
}

TEST(Curve, AxisEndsExactAndSpacing) {
  const auto cases = axis_values(Axis::cases, 100, 1000, 4);
  ASSERT_EQ(cases.size(), 4u);
  EXPECT_EQ(cases.front(), 100);
  EXPECT_EQ(cases.back(), 1000);
  EXPECT_DOUBLE_EQ(cases[1], 400);
  // ROR^tb evenly on the log scale: 1.1 .. 3 in 5 points, equal ratios.
  const auto ror = axis_values(Axis::ror, 1.1, 3.0, 5);
  EXPECT_EQ(ror.front(), 1.1);
  EXPECT_EQ(ror.back(), 3.0);
  for (int i = 1; i < 4; ++i) EXPECT_NEAR(ror[i + 1] / ror[i], ror[1] / ror[0], 1e-12);
  // A range a few units in the last place wide: exp(log) would round past
  // its lower end; every value stays inside, in order.
  const auto narrow = axis_values(Axis::ror, 1000, 1000.0000000000001, 3);
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    EXPECT_GE(narrow[i], 1000.0);
    EXPECT_LE(narrow[i], 1000.0000000000001);
    if (i > 0) {
      EXPECT_GE(narrow[i], narrow[i - 1]);
    }
  }
}

TEST(Curve, PowerGrowsWithCasesInsideItsBand) {
  CurveQuery query{base(Mode::power), Axis::cases, 100, 3000, 12, {1.5, 2.5}};
  const auto points = curve(query);
  ASSERT_EQ(points.size(), 24u);
  for (std::size_t i = 0; i < points.size(); ++i) {
    ASSERT_TRUE(points[i].outcome.ok());
    const Result& r = points[i].outcome.result;
    EXPECT_LE(r.least.power, r.most.power);
    if (i % 12 != 0) {
      EXPECT_GT(r.least.power, points[i - 1].outcome.result.least.power) << i;
      EXPECT_GT(r.most.power, points[i - 1].outcome.result.most.power) << i;
    }
  }
  // A stronger interaction has more power at every number of cases.
  for (int i = 0; i < 12; ++i) {
    EXPECT_GT(points[12 + i].outcome.result.least.power, points[i].outcome.result.least.power);
  }
}

TEST(Curve, SizeAgainstRorPassesOverNoAnswerAtOne) {
  // A size curve over ROR^tb from 0.5 to 2 in 3 points goes through 1,
  // where no size exists: that point keeps its error, the others their size.
  CurveQuery query{base(Mode::size), Axis::ror, 0.5, 2.0, 3, {}};
  const auto points = curve(query);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_TRUE(points[0].outcome.ok());
  ASSERT_FALSE(points[1].outcome.ok());
  EXPECT_EQ(points[1].outcome.error->kind, Error::Kind::no_answer);
  EXPECT_TRUE(points[2].outcome.ok());
}

TEST(Curve, ChecksNameTheInput) {
  struct Case {
    const char* field;
    CurveQuery query;
  } const cases[] = {
      {"from", {base(Mode::power), Axis::cases, 0, 100, 10, {}}},
      {"from", {base(Mode::power), Axis::cases, 200, 100, 10, {}}},
      {"to", {base(Mode::power), Axis::ror, 1, INFINITY, 10, {}}},
      {"points", {base(Mode::power), Axis::cases, 100, 200, 1, {}}},
      {"over", {base(Mode::size), Axis::cases, 100, 200, 10, {}}},
      {"ror", {base(Mode::power), Axis::cases, 100, 200, 10, {2.0, -1.0}}},
      {"power", {base(Mode::size), Axis::ror, 1.5, 3, 10, {0.8, 1.2}}},
  };
  for (const Case& c : cases) {
    const auto e = check(c.query);
    ASSERT_TRUE(e.has_value()) << c.field;
    EXPECT_EQ(e->input, c.field) << e->message();
  }
}

}  // namespace
}  // namespace gxe::plan
