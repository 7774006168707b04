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

// Runs `count` dialogues on `input`, on the records as they stand.
std::vector<DialogueResult> run_dialogues(const std::string& input, int count) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  console::bind(in, out, err);
  std::vector<DialogueResult> results(static_cast<std::size_t>(count));
  for (DialogueResult& r : results) {
    out.str("");
    init(r.lower, r.upper, r.study_type);
    r.out = out.str();
  }
  console::bind_standard();
  EXPECT_EQ(err.str(), "");
  return results;
}

class DialogueTest : public ::testing::Test {
 protected:
  DialogueTest() { model::reset_records(); }
  ~DialogueTest() override { model::reset_records(); }
};

// Power, 4 quantiles, gene prevalence 0.3, 2 controls per case, 150 cases,
// OR^tb(E|G=0) = 2 and OR(G|E=0) = 1.5 under the null, ROR^tb = 3, ranges
// [1.5, 2.5] for OR^tb(E|G=0) and [1, 2] for OR(G|E=0).
TEST_F(DialogueTest, PowerWithQuantilesFillsTheRecords) {
  model::alt.be = 9.0;       // search variables: not the dialogue's
  model::alt.bg = 8.0;
  model::null.pexp[4] = 7.0;  // beyond k: stale, kept
  model::pow0 = 0.25;
  const auto r = run_dialogues("p\ny\n4\n0.3\n2\n150\n2\n1.5\n3\n1.5 2.5\n1 2\n", 1)[0];

  EXPECT_EQ(r.study_type, kPowerStudy);
  EXPECT_EQ(model::cells.ncat, 4);
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(model::null.pexp[e], 0.25);
    EXPECT_EQ(model::alt.pexp[e], 0.25);
  }
  EXPECT_EQ(model::null.pexp[4], 7.0);
  EXPECT_EQ(model::null.pgen[0], 0.7);
  EXPECT_EQ(model::null.pgen[1], 0.3);
  EXPECT_EQ(model::alt.pgen, model::null.pgen);
  EXPECT_EQ(model::null.ccr, 2.0);
  EXPECT_EQ(model::alt.ccr, 2.0);
  EXPECT_EQ(model::size, 450.0);  // 150 cases and 300 controls
  EXPECT_EQ(model::pow0, 0.25);   // power calculation: untouched
  EXPECT_CLOSE(model::null.be, std::log(2.0) / 3.0, kRel);
  EXPECT_CLOSE(model::null.bg, std::log(1.5), kRel);
  EXPECT_EQ(model::null.beg, 0.0);
  EXPECT_CLOSE(model::alt.beg, std::log(3.0) / 3.0, kRel);
  EXPECT_EQ(model::alt.be, 9.0);
  EXPECT_EQ(model::alt.bg, 8.0);
  EXPECT_EQ(r.lower[0], 0.0);
  EXPECT_CLOSE(r.upper[0], std::log(2.0), kRel);
  EXPECT_CLOSE(r.lower[1], std::log(1.5) / 3.0, kRel);
  EXPECT_CLOSE(r.upper[1], std::log(2.5) / 3.0, kRel);
}

// Sample size with two categories: the entered prevalences are stored as they
// are (single values are not checked), k - 1 = 1 divides nothing.
TEST_F(DialogueTest, SampleSizeWithCategoriesFillsTheRecords) {
  model::size = 123.0;
  const auto r = run_dialogues("s\n0.9\nn\n2\n1.5\n-0.5\n0.5\n1\n2\n1\n0.5\n1.5 1.5\n0.5 4\n", 1)[0];

  EXPECT_EQ(r.study_type, kSampleSizeStudy);
  EXPECT_EQ(model::pow0, 0.9);
  EXPECT_EQ(model::size, 123.0);  // sample size: untouched
  EXPECT_EQ(model::cells.ncat, 2);
  EXPECT_EQ(model::null.pexp[0], 1.5);
  EXPECT_EQ(model::null.pexp[1], -0.5);
  EXPECT_EQ(model::alt.pexp[1], -0.5);
  EXPECT_EQ(model::null.pgen[1], 0.5);
  EXPECT_CLOSE(model::null.be, std::log(2.0), kRel);
  EXPECT_EQ(model::null.bg, 0.0);
  EXPECT_CLOSE(model::alt.beg, std::log(0.5), kRel);
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
  const auto r = run_dialogues(first + second, 2);
  EXPECT_EQ(model::null.ccr, 3.0);
  EXPECT_EQ(model::size, 160.0);  // 40 * (1 + 3)
  EXPECT_CLOSE(model::null.bg, std::log(4.0), kRel);
  EXPECT_NE(r[1].out.find("This is not a valid entry (or(g) > 0.0)!"), std::string::npos);
}

// The whole program on string streams: records start as zeros, the status
// comes back, and the console is bound to the standard streams afterwards.
TEST_F(DialogueTest, RunProgramOnStreams) {
  model::null.ccr = 5.0;
  std::istringstream in("p\ny\n2\n0.5\n,\n1\n2\n2\n2\n2\n1 2\n1 2\nn\n");
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_program(in, out, err), 0);
  EXPECT_EQ(err.str(), "");
  // A comma for ccr found the zero of a fresh run, so it was refused once.
  EXPECT_NE(out.str().find("This is not a valid entry (ccr > 0.0)!"), std::string::npos);
  EXPECT_EQ(model::null.ccr, 1.0);
  EXPECT_EQ(&console::out(), &std::cout);

  std::istringstream cut("p\n");
  EXPECT_EQ(run_program(cut, out, err), console::kFatalInputStatus);
  EXPECT_EQ(err.str().substr(0, 21), "list in: end of file\n");
}

}  // namespace
}  // namespace gxe::dialogue
