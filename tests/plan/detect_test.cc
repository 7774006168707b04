#include "plan/detect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

// The power at a detectable ROR^tb may miss the target by no more than the
// root's bracket allows (1e-10 in log ROR^tb), far inside this.
constexpr double kPowerTolerance = 1e-6;

// A ROR^tb a thousandth nearer 1 than `ror`, on its side of 1.
double nearer_one(double ror) { return ror > 1.0 ? 0.999 * ror : ror / 0.999; }

Outcome detect(const Scenario& s) {
  return detectable_ror(s.design, s.cases, s.target_power, s.direction, s.ranges, s.settings);
}

Outcome power_at_ror(const Scenario& s, double ror) {
  Design d = s.design;
  d.ror = ror;
  return power_over(d, s.cases, s.ranges, s.settings);
}

struct DetectCase {
  const char* what;
  void (*change)(Scenario&);
};

const DetectCase kDesigns[] = {
    {"the worked example with both ranges",
     [](Scenario& s) { s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}}; }},
    {"protective, target 0.9",
     [](Scenario& s) {
       s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}};
       s.direction = Direction::protective;
       s.target_power = 0.9;
     }},
    {"no ranges: the conversion's point moves with ROR^tb",
     [](Scenario& s) {
       s.design.quantiles = 5;
       s.design.gene_prevalence = 0.1;
       s.cases = 2000;
       s.settings.alpha = 5e-8;
     }},
    {"given prevalences, two controls per case, the centre search, protective",
     [](Scenario& s) {
       s.design.quantiles = 0;
       s.design.exposure_prevalences = {0.5, 0.3, 0.2};
       s.design.controls_per_case = 2.0;
       s.cases = 300;
       s.ranges = {Range{1.0, 3.0}, Range{0.5, 2.0}};
       s.settings.search = SearchMethod::centre;
       s.direction = Direction::protective;
     }},
    {"a box of four dimensions",
     [](Scenario& s) {
       s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}, Range{0.7, 1.5}, Range{0.2, 0.4}};
     }},
    {"the Wald test, protective",
     [](Scenario& s) {
       s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}};
       s.settings.test = Test::wald;
       s.direction = Direction::protective;
     }},
    {"the likelihood-ratio test over four dimensions",
     [](Scenario& s) {
       s.ranges = {Range{1.5, 2.5}, Range{1.0, 2.0}, Range{0.7, 1.5}, Range{0.2, 0.4}};
       s.settings.test = Test::lr;
     }},
};

// The least favourable power at the reported ROR^tb is the target, and a
// thousandth nearer 1 it falls short; the reported extremes are power_over's
// at that ROR^tb.
TEST(DetectableRor, ReachesTheTargetThereAndNotNearerOne) {
  for (const DetectCase& c : kDesigns) {
    SCOPED_TRACE(c.what);
    Scenario s = testing::example_scenario(Mode::detect);
    c.change(s);
    const Outcome found = detect(s);
    ASSERT_TRUE(found.ok()) << found.error->message();
    const double ror = found.result.ror_detectable;
    EXPECT_EQ(ror > 1.0, s.direction == Direction::risk) << ror;

    const Outcome at = power_at_ror(s, ror);
    ASSERT_TRUE(at.ok());
    EXPECT_EQ(found.result.least.power, at.result.least.power);
    EXPECT_EQ(found.result.most.power, at.result.most.power);
    EXPECT_GE(at.result.least.power, s.target_power);
    EXPECT_NEAR(at.result.least.power, s.target_power, kPowerTolerance);

    const Outcome nearer = power_at_ror(s, nearer_one(ror));
    ASSERT_TRUE(nearer.ok());
    EXPECT_LT(nearer.result.least.power, s.target_power) << "at " << nearer_one(ror);
  }
}

// More cases detect an interaction nearer 1, on either side.
TEST(DetectableRor, MovesTowardsOneAsTheCasesGrow) {
  for (const Direction direction : {Direction::risk, Direction::protective}) {
    Scenario s = testing::example_scenario(Mode::detect);
    s.ranges = {Range{1.0, 4.0}, Range{0.5, 3.0}};
    s.direction = direction;
    double previous = direction == Direction::risk ? INFINITY : 0.0;
    for (const double cases : {100.0, 300.0, 1000.0, 3000.0, 1e4, 1e5}) {
      s.cases = cases;
      const Outcome found = detect(s);
      ASSERT_TRUE(found.ok()) << cases << ": " << found.error->message();
      const double ror = found.result.ror_detectable;
      if (direction == Direction::risk) {
        EXPECT_LT(ror, previous) << cases;
      } else {
        EXPECT_GT(ror, previous) << cases;
      }
      previous = ror;
    }
  }
}

// Each way of having no answer says why; refused inputs are wrong use.
TEST(DetectableRor, SaysWhyThereIsNoAnswer) {
  const struct {
    const char* what;
    void (*change)(Scenario&);
    Error::Kind kind;
    const char* says;
  } cases[] = {
      {"a target not above alpha", [](Scenario& s) { s.target_power = 0.04; },
       Error::Kind::no_answer, "is not above the level alpha = 0.05"},
      // Far from the null's odds ratios the alternative's variance exceeds
      // the null's all over the box, and the formula's power at ROR^tb = 1 is
      // about 0.25.
      {"a target reached without interaction",
       [](Scenario& s) {
         s.target_power = 0.06;
         s.ranges = {Range{50, 100}, Range{50, 100}};
       },
       Error::Kind::no_answer, "already at ROR^tb = 1"},
      {"a target no ROR^tb up to 1e4 reaches",
       [](Scenario& s) {
         s.cases = 20;
         s.target_power = 0.99;
         s.design.or_e = 1.0;
         s.design.or_g = 1.0;
       },
       Error::Kind::no_answer, "from 1 to 10000 was found"},
      {"a box that leaves the model's reach first",
       [](Scenario& s) {
         s.cases = 30;
         s.target_power = 0.95;
         s.ranges = {Range{1.0, 1000.0}, Range{1.0, 2.0}};
       },
       Error::Kind::no_answer,
       "the power cannot be computed: or_e_high = 1000: beyond the model's numerical reach"},
      {"no cases", [](Scenario& s) { s.cases = 0; }, Error::Kind::invalid_input,
       "cases = 0: must be greater than 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario s = testing::example_scenario(Mode::detect);
    c.change(s);
    const Outcome found = detect(s);
    ASSERT_FALSE(found.ok()) << found.result.ror_detectable;
    EXPECT_EQ(found.error->kind, c.kind);
    EXPECT_NE(found.error->message().find(c.says), std::string::npos) << found.error->message();
  }
}

}  // namespace
}  // namespace gxe::plan
