#include "plan/row.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

bool empty(const Cell& c) { return std::holds_alternative<std::monostate>(c); }

Scenario example(Mode mode) {
  Scenario s = testing::example_scenario(mode);
  s.ranges.or_g = Range{1.0, 2.0};  // OR^tb(E|G=0): the conversion's point
  return s;
}

TEST(MakeRow, ColumnsFollowTheModeAndTheOutcome) {
  // An answered power calculation: the cases, no target power; the box is
  // the range given and the conversion's point; every result filled.
  const Scenario power = example(Mode::power);
  const Outcome answered = run(power);
  ASSERT_TRUE(answered.ok());
  const Row a = make_row(power, answered);
  EXPECT_EQ(cell_text(a[Column::mode]), "power");
  EXPECT_EQ(cell_text(a[Column::cases]), "500");
  EXPECT_TRUE(empty(a[Column::power]));
  EXPECT_EQ(cell_text(a[Column::quantiles]), "4");
  EXPECT_TRUE(empty(a[Column::exposure_prevalences]));
  EXPECT_EQ(cell_text(a[Column::or_g_low]), "1");
  EXPECT_EQ(cell_text(a[Column::or_g_high]), "2");
  EXPECT_EQ(a[Column::or_e_low], Cell(answered.result.or_e_conditional));
  EXPECT_EQ(a[Column::or_e_high], Cell(answered.result.or_e_conditional));
  EXPECT_EQ(cell_text(a[Column::size]), "1000");
  for (std::size_t i = static_cast<std::size_t>(Column::size); i < kColumnCount - 1; ++i) {
    EXPECT_FALSE(empty(a.cells[i])) << row_column_name(i);
  }
  EXPECT_TRUE(empty(a[Column::error]));

  // A sample size for ROR^tb = 1 has no answer: the conversion ran and is
  // reported, the results are empty and the error says why.
  Scenario size = example(Mode::size);
  size.design.ror = 1.0;
  const Outcome unanswered = run(size);
  ASSERT_FALSE(unanswered.ok());
  const Row u = make_row(size, unanswered);
  EXPECT_TRUE(empty(u[Column::cases]));
  EXPECT_EQ(cell_text(u[Column::power]), "0.8");
  EXPECT_TRUE(empty(u[Column::size]));
  EXPECT_TRUE(empty(u[Column::power_min]));
  EXPECT_TRUE(empty(u[Column::flat]));
  EXPECT_EQ(cell_text(u[Column::solver_info]), "1");
  EXPECT_FALSE(empty(u[Column::or_e_low]));  // the conversion's point
  EXPECT_EQ(cell_text(u[Column::error]), unanswered.error->message());

  // Refused inputs: nothing ran, so only the inputs and the ranges given.
  Scenario refused = example(Mode::power);
  refused.design.quantiles = 0;
  refused.design.exposure_prevalences = {0.25, 0.5, 0.5};
  const Outcome invalid = run(refused);
  ASSERT_FALSE(invalid.ok());
  const Row r = make_row(refused, invalid);
  EXPECT_TRUE(empty(r[Column::quantiles]));
  EXPECT_EQ(cell_text(r[Column::exposure_prevalences]), "0.25;0.5;0.5");
  EXPECT_TRUE(empty(r[Column::solver_info]));
  EXPECT_TRUE(empty(r[Column::or_e_low]));
  EXPECT_EQ(cell_text(r[Column::or_g_high]), "2");
}

// Which simulated powers are unreliable and which disagree with the formula,
// and the flags the rows carry for the first.
TEST(Simulation, TooManyFailedFitsMakeItUnreliableNotADisagreement) {
  struct Case {
    double formula;
    SimulatedPoint simulated;  // of 2000 studies
    bool unreliable;
    bool disagrees;
  } const cases[] = {
      {0.0305, {0.0, 0.0, 2000, 0.05}, true, false},   // every fit failed: no judgement
      {0.5, {0.3, 0.0102, 201, 0.5}, true, false},     // just over 10 %
      {0.5, {0.3, 0.0102, 200, 0.5}, false, true},     // 10 % exactly: still judged
      {0.5, {0.51, 0.0112, 0, 0.5}, false, false},     // within three standard errors
      {0.999, {1.0, 0.0, 0, 0.999}, false, false},     // se 0: the formula's se counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.simulated.failed);
    EXPECT_EQ(unreliable(c.simulated, 2000), c.unreliable);
    EXPECT_EQ(disagrees(c.formula, c.simulated, 2000), c.disagrees);
    const Simulation sim{2000, c.simulated, SimulatedPoint{0.5, 0.0112, 0, 0.5}};
    const auto cells = simulation_cells(&sim);
    const auto at = [&](Column col) {
      return cells[static_cast<std::size_t>(col) - static_cast<std::size_t>(Column::sim_replicates)];
    };
    EXPECT_EQ(at(Column::sim_unreliable_min), Cell(c.unreliable)) << "sim_unreliable_min";
    EXPECT_EQ(at(Column::sim_unreliable_max), Cell(false)) << "sim_unreliable_max";
  }
  for (const Cell& cell : simulation_cells(nullptr)) EXPECT_TRUE(empty(cell));
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"power", "power"},
      {"", ""},
      {"a, b", "\"a, b\""},
      {"say \"x\"", "\"say \"\"x\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {"0.25;0.5", "0.25;0.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(csv_field(c.text), c.field) << c.text;
}

TEST(CellText, EachKindOfCell) {
  EXPECT_EQ(cell_text(Cell{}), "");
  EXPECT_EQ(cell_text(Cell{true}), "true");
  EXPECT_EQ(cell_text(Cell{false}), "false");
  EXPECT_EQ(cell_text(Cell{0.1 + 0.2}), "0.30000000000000004");
  EXPECT_EQ(cell_text(Cell{std::string("global")}), "global");
  EXPECT_EQ(cell_text(Cell{std::vector<double>{0.2, 0.8}}), "0.2;0.8");
}

}  // namespace
}  // namespace gxe::plan
