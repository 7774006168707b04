#include "plan/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/plan/example.h"

namespace gxe::plan {
namespace {

// A hand-made answer (no engine run): power 0.5 at both extremes of the box
// 1..2 x 1..2, or of the one point 1 x 1; the conversion converged.
Outcome answer(bool one_point) {
  Outcome o;
  Result& r = o.result;
  r.size = 1000;
  r.n_cases = r.n_controls = 500;
  r.least = {0.5, 1.0, 1.0, false};
  r.most = one_point ? r.least : Extreme{0.5, 2.0, 2.0, false};
  r.or_e_range = {1.0, one_point ? 1.0 : 2.0};
  r.or_g_range = r.or_e_range;
  r.or_e_conditional = r.or_g_conditional = 1.2;
  r.solver_info = 1;
  return o;
}

// Simulated points of 1000 studies beside a formula power of 0.5: agreeing,
// 13 standard errors off, with a few failed fits, and with a quarter failed
// (more than kMaxFailedShare: unreliable).
constexpr double kReplicates = 1000;
constexpr SimulatedPoint kAgrees{0.5, 0.0158, 0, 0.5};
constexpr SimulatedPoint kOff{0.7, 0.0145, 0, 0.5};
constexpr SimulatedPoint kSomeFailed{0.5, 0.0158, 5, 0.5};
constexpr SimulatedPoint kSparse{0.1, 0.0095, 250, 0.5};

using Found = std::vector<std::pair<NoteKind, Place>>;

TEST(TableReport, NotesSayWhereTheyHold) {
  enum Fault { none, no_answer, refused };
  struct Case {
    const char* what;
    bool one_point;
    bool small_least, small_most, flat;
    int solver_info;
    Fault error;
    bool simulated;
    SimulatedPoint least, most;
    Found expected;
  } const cases[] = {
      {"nothing to say", false, false, false, false, 1, none, true, kAgrees, kAgrees, {}},
      {"small cells at the least", false, true, false, false, 1, none, false, {}, {},
       {{NoteKind::small_cells, Place::least}}},
      {"small cells at the most", false, false, true, false, 1, none, false, {}, {},
       {{NoteKind::small_cells, Place::most}}},
      // The small-cell note names the two extremes even when they coincide.
      {"small cells in a box of one point", true, true, true, false, 1, none, false, {}, {},
       {{NoteKind::small_cells, Place::both}}},
      {"flat box", false, false, false, true, 1, none, false, {}, {},
       {{NoteKind::flat, Place::whole}}},
      {"a point is flat by itself", true, false, false, true, 1, none, false, {}, {}, {}},
      {"conversion not converged", false, false, false, false, 4, none, false, {}, {},
       {{NoteKind::not_converged, Place::whole}}},
      {"no answer keeps the conversion's note only", false, true, true, true, 4, no_answer,
       true, kOff, kOff, {{NoteKind::not_converged, Place::whole}}},
      {"refused inputs never ran the conversion", false, true, false, false, 4, refused, false,
       {}, {}, {}},
      {"off at the least", false, false, false, false, 1, none, true, kOff, kAgrees,
       {{NoteKind::disagrees, Place::least}}},
      {"off at both", false, false, false, false, 1, none, true, kOff, kOff,
       {{NoteKind::disagrees, Place::both}}},
      {"off at the one point", true, false, false, false, 1, none, true, kOff, kOff,
       {{NoteKind::disagrees, Place::one_point}}},
      {"sparse at the most, some failed at the least", false, false, false, false, 1, none,
       true, kSomeFailed, kSparse,
       {{NoteKind::unreliable, Place::most}, {NoteKind::failed_fits, Place::least}}},
      // Failed fits at an unreliable point are told by the unreliable note.
      {"sparse at both", false, false, false, false, 1, none, true, kSparse, kSparse,
       {{NoteKind::unreliable, Place::both}}},
      {"everything, in the table's order", false, false, true, true, 3, none, true, kOff,
       kSomeFailed,
       {{NoteKind::not_converged, Place::whole},
        {NoteKind::small_cells, Place::most},
        {NoteKind::flat, Place::whole},
        {NoteKind::disagrees, Place::least},
        {NoteKind::failed_fits, Place::most}}},
  };
  const Scenario scenario = testing::example_scenario(Mode::power);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = answer(c.one_point);
    o.result.least.small_cells = c.small_least;
    o.result.most.small_cells = c.small_most;
    o.result.flat = c.flat;
    o.result.solver_info = c.solver_info;
    if (c.error != none) {
      o.error = Error{c.error == refused ? Error::Kind::invalid_input : Error::Kind::no_answer,
                      "", "", "no answer"};
    }
    const Simulation sim{kReplicates, c.least, c.most};
    const Simulation* simulation = c.simulated ? &sim : nullptr;
    Found found;
    for (const Note& n : notes(scenario, o, simulation)) found.emplace_back(n.kind, n.place);
    EXPECT_EQ(found, c.expected);
    // At a point of a curve the same notes hold "there".
    const std::vector<Note> at_point = curve_point_notes(scenario, o, simulation);
    ASSERT_EQ(at_point.size(), c.expected.size());
    for (std::size_t i = 0; i < at_point.size(); ++i) {
      EXPECT_EQ(at_point[i].kind, c.expected[i].first);
      const bool placed = c.expected[i].second != Place::whole;
      EXPECT_EQ(at_point[i].place, placed ? Place::there : Place::whole);
      EXPECT_EQ(at_point[i].text.find("point"), std::string::npos) << at_point[i].text;
    }
  }
}

// The formula is compared with the simulated power of the test it computes
// (the likelihood-ratio test's for lr, the Wald test's otherwise), and a
// simulated size where too many fits failed is noted and shown.
TEST(TableReport, NotesOnTheSimulatedTestAndSize) {
  constexpr SimulatedPoint kLrOff{0.5, 0.0158, 0, 0.5, 0.7, 0.0145};
  constexpr SimulatedPoint kWaldOff{0.7, 0.0145, 0, 0.5, 0.5, 0.0158};
  const SimulatedSize sparse_size{1200, 1150, 1250, 0.81, 0.0124, 101, 12, false};
  struct Case {
    const char* what;
    plan::Test test;
    SimulatedPoint point;
    std::optional<SimulatedSize> size;
    Found expected;
  } const cases[] = {
      {"the classical formula against the Wald test", plan::Test::null_variance, kLrOff, {}, {}},
      {"the lr formula against the lr test", plan::Test::lr, kLrOff, {},
       {{NoteKind::disagrees, Place::both}}},
      {"the lr formula ignores the Wald test", plan::Test::lr, kWaldOff, {}, {}},
      {"too many failed fits at the simulated size", plan::Test::wald, kLrOff, sparse_size,
       {{NoteKind::sparse_size, Place::whole}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario s = testing::example_scenario(Mode::size);
    s.settings.test = c.test;
    const Outcome o = answer(false);
    const Simulation sim{kReplicates, c.point, c.point, c.size};
    Found found;
    for (const Note& n : notes(s, o, &sim)) found.emplace_back(n.kind, n.place);
    EXPECT_EQ(found, c.expected);
    const std::string text = report(s, o, &sim);
    EXPECT_EQ(text.find("Simulated size       1200 cases (95 % interval 1150 to 1250)") !=
                  std::string::npos,
              c.size.has_value())
        << text;
  }
}

TEST(TableReport, OneCalculationIsTheTableOfOne) {
  const Scenario s = testing::example_scenario(Mode::size);
  Outcome failed = answer(false);
  failed.error = Error{Error::Kind::no_answer, "", "", "no size reaches the target"};
  const Simulation sim{kReplicates, kOff, kAgrees};
  const Simulation* checked = &sim;
  const Simulation* unchecked = nullptr;
  for (const auto& [outcome, simulation] : {std::pair{answer(false), checked},
                                            std::pair{answer(true), unchecked},
                                            std::pair{failed, checked}}) {
    TableReport table(std::vector<Scenario>{s});
    const std::string text = report(s, outcome, simulation);
    EXPECT_EQ(text, table.head() + table.block(s, outcome, simulation));
    EXPECT_EQ(text.find("Scenario"), std::string::npos) << text;
    EXPECT_NE(text.find("Target power         0.8\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Box searched") == std::string::npos, !outcome.ok()) << text;
  }
}

TEST(TableReport, HangingLinesFitTheWidth) {
  const std::string sentence =
      "the simulated power differs from the formula's by more than three standard errors "
      "at the least favourable point: the large-sample formula is off for this design";
  const std::string long_word(90, 'x');
  struct Case {
    std::string lead;
    std::size_t indent;
    std::string text;
  } const cases[] = {
      {"Note", kTableLabelWidth, sentence},
      {"! ", 2, sentence},
      {"A label longer than its column", 10, sentence},  // the first line starts later
      {"Note", kTableLabelWidth, "a " + long_word + " b"},
      {"Note", kTableLabelWidth, "  blanks   between  words  "},
  };
  for (const Case& c : cases) {
    const std::string text = hanging(c.lead, c.indent, c.text);
    SCOPED_TRACE(text);
    ASSERT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    std::string line, words;
    for (int i = 0; std::getline(lines, line); ++i) {
      const std::string body = line.substr(i == 0 ? c.lead.size() : c.indent);
      if (i > 0) {
        EXPECT_EQ(line.find_first_not_of(' '), c.indent);
      }
      if (body.find(' ', 1) != std::string::npos) {  // more than one word
        EXPECT_LE(line.size(), kTableWidth);
      }
      words += body.substr(body.find_first_not_of(' ')) + ' ';
    }
    // Every word kept, in order, one blank apart.
    std::istringstream in(c.text);
    std::string word, expected;
    while (in >> word) expected += word + ' ';
    EXPECT_EQ(words, expected);
  }
}

TEST(TableReport, TrimmedRoundsThenDropsZeros) {
  const struct {
    double x;
    int decimals;
    const char* text;
  } cases[] = {
      {123.076, 2, "123.08"}, {1.5, 4, "1.5"}, {2.0, 2, "2"},        {0.125, 2, "0.12"},
      {999.999, 2, "1000"},   {1e20, 2, "1e+20"}, {INFINITY, 2, "inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(trimmed(c.x, c.decimals), c.text) << c.x;
}

}  // namespace
}  // namespace gxe::plan
