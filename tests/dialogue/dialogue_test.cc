// The study-design dialogue: what it stores in the model records and hands
// back, for scripted answers. The questions and messages themselves are
// checked by the transcripts of the real program.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "dialogue/dialogue.h"
#include "dialogue/program.h"
#include "model/records.h"
#include "tests/support/test_util.h"

namespace gxe::dialogue {
namespace {

constexpr double kRel = 1e-15;  // results are one log and one division away

struct DialogueResult {
  std::array<double, 2> lower{};
  std::array<double, 2> upper{};
  int study_type = -1;
  std::string out;
};

// Runs `count` dialogues on `input`, on the records `rec` as they stand.
std::vector<DialogueResult> run_dialogues(model::Records& rec, const std::string& input,
                                          int count) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  console::bind(in, out, err);
  std::vector<DialogueResult> results(static_cast<std::size_t>(count));
  for (DialogueResult& r : results) {
    out.str("");
    init(rec, r.lower, r.upper, r.study_type);
    r.out = out.str();
  }
  console::bind_standard();
  EXPECT_EQ(err.str(), "");
  return results;
}

class DialogueTest : public ::testing::Test {
 protected:
  model::Records rec_;  // zeros, as at the start of the program
};

// Power, 4 quantiles, gene prevalence 0.3, 2 controls per case, 150 cases,
// OR^tb(E|G=0) = 2 and OR(G|E=0) = 1.5 under the null, ROR^tb = 3, ranges
// [1.5, 2.5] for OR^tb(E|G=0) and [1, 2] for OR(G|E=0).
TEST_F(DialogueTest, PowerWithQuantilesFillsTheRecords) {
  rec_.alt.be = 9.0;       // search variables: not the dialogue's
  rec_.alt.bg = 8.0;
  rec_.null.pexp[4] = 7.0;  // beyond k: stale, kept
  rec_.pow0 = 0.25;
  const auto r = run_dialogues(rec_, "p\ny\n4\n0.3\n2\n150\n2\n1.5\n3\n1.5 2.5\n1 2\n", 1)[0];

  EXPECT_EQ(r.study_type, kPowerStudy);
  EXPECT_EQ(rec_.cells.ncat, 4);
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(rec_.null.pexp[e], 0.25);
    EXPECT_EQ(rec_.alt.pexp[e], 0.25);
  }
  EXPECT_EQ(rec_.null.pexp[4], 7.0);
  EXPECT_EQ(rec_.null.pgen[0], 0.7);
  EXPECT_EQ(rec_.null.pgen[1], 0.3);
  EXPECT_EQ(rec_.alt.pgen, rec_.null.pgen);
  EXPECT_EQ(rec_.null.ccr, 2.0);
  EXPECT_EQ(rec_.alt.ccr, 2.0);
  EXPECT_EQ(rec_.size, 450.0);  // 150 cases and 300 controls
  EXPECT_EQ(rec_.pow0, 0.25);   // power calculation: untouched
  EXPECT_CLOSE(rec_.null.be, std::log(2.0) / 3.0, kRel);
  EXPECT_CLOSE(rec_.null.bg, std::log(1.5), kRel);
  EXPECT_EQ(rec_.null.beg, 0.0);
  EXPECT_CLOSE(rec_.alt.beg, std::log(3.0) / 3.0, kRel);
  EXPECT_EQ(rec_.alt.be, 9.0);
  EXPECT_EQ(rec_.alt.bg, 8.0);
  EXPECT_EQ(r.lower[0], 0.0);
  EXPECT_CLOSE(r.upper[0], std::log(2.0), kRel);
  EXPECT_CLOSE(r.lower[1], std::log(1.5) / 3.0, kRel);
  EXPECT_CLOSE(r.upper[1], std::log(2.5) / 3.0, kRel);
}

// Sample size with two categories: the entered prevalences are stored as they
// are (single values are not checked), k - 1 = 1 divides nothing.
TEST_F(DialogueTest, SampleSizeWithCategoriesFillsTheRecords) {
  rec_.size = 123.0;
  const auto r =
      run_dialogues(rec_, "s\n0.9\nn\n2\n1.5\n-0.5\n0.5\n1\n2\n1\n0.5\n1.5 1.5\n0.5 4\n", 1)[0];

  EXPECT_EQ(r.study_type, kSampleSizeStudy);
  EXPECT_EQ(rec_.pow0, 0.9);
  EXPECT_EQ(rec_.size, 123.0);  // sample size: untouched
  EXPECT_EQ(rec_.cells.ncat, 2);
  EXPECT_EQ(rec_.null.pexp[0], 1.5);
  EXPECT_EQ(rec_.null.pexp[1], -0.5);
  EXPECT_EQ(rec_.alt.pexp[1], -0.5);
  EXPECT_EQ(rec_.null.pgen[1], 0.5);
  EXPECT_CLOSE(rec_.null.be, std::log(2.0), kRel);
  EXPECT_EQ(rec_.null.bg, 0.0);
  EXPECT_CLOSE(rec_.alt.beg, std::log(0.5), kRel);
  EXPECT_CLOSE(r.lower[0], std::log(0.5), kRel);
  EXPECT_CLOSE(r.upper[0], std::log(4.0), kRel);
  EXPECT_CLOSE(r.lower[1], std::log(1.5), kRel);
  EXPECT_EQ(r.lower[1], r.upper[1]);
}

// A comma keeps a record's earlier contents across dialogues, but the
// dialogue's own answers (here OR(G|E=0) under the null and the ranges) start
// at zero again, so a comma there is refused.
TEST_F(DialogueTest, CommaKeepsRecordsButNotLocalAnswers) {
  const std::string first = "p\ny\n2\n0.5\n3\n10\n2\n2\n2\n1 2\n1 2\n";
  // ccr and the number of cases by comma: the number of cases becomes the
  // earlier total, 40. OR(G|E=0) by comma is 0 and refused; then 4.
  const std::string second = "p\ny\n2\n0.5\n,\n,\n2\n,\n4\n2\n1 2\n1 2\n";
  const auto r = run_dialogues(rec_, first + second, 2);
  EXPECT_EQ(rec_.null.ccr, 3.0);
  EXPECT_EQ(rec_.size, 160.0);  // 40 * (1 + 3)
  EXPECT_CLOSE(rec_.null.bg, std::log(4.0), kRel);
  EXPECT_NE(r[1].out.find("This is not a valid entry (or(g) > 0.0)!"), std::string::npos);
}

// The whole program on string streams: each run's records start as zeros,
// whatever the run before left in them, the status comes back, and the
// console is bound to the standard streams afterwards.
TEST(RunProgram, OnStreamsFromZeros) {
  const std::string invalid_ccr = "This is not a valid entry (ccr > 0.0)!";
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream first("p\ny\n2\n0.5\n5\n2\n2\n2\n2\n1 2\n1 2\nn\n");
  EXPECT_EQ(run_program(first, out, err), 0);
  EXPECT_EQ(out.str().find(invalid_ccr), std::string::npos);
  // A comma for ccr finds the zero of a fresh run, not the first run's 5, so
  // it is refused once.
  out.str("");
  std::istringstream in("p\ny\n2\n0.5\n,\n1\n2\n2\n2\n2\n1 2\n1 2\nn\n");
  EXPECT_EQ(run_program(in, out, err), 0);
  EXPECT_EQ(err.str(), "");
  EXPECT_NE(out.str().find(invalid_ccr), std::string::npos);
  EXPECT_EQ(&console::out(), &std::cout);

  std::istringstream cut("p\n");
  EXPECT_EQ(run_program(cut, out, err), console::kFatalInputStatus);
  EXPECT_EQ(err.str().substr(0, 21), "list in: end of file\n");
}

}  // namespace
}  // namespace gxe::dialogue
