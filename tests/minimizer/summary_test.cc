// The minimizer's iteration summary: the exact text of a short run with an
// output unit set, the line forms and the print interval, and complete
// silence (no text, no slot changed) with OUTPUT_UNIT = 0.

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>

#include "console/console.h"
#include "minimizer/dmngb.h"
#include "minimizer/params.h"
#include "minimizer/summary.h"

namespace gxe::minimizer {
namespace {

constexpr int kLiv = 100;
constexpr int kLv = 100;

class SummaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    console::bind(in_, out_, err_);
    divset(2, iv(), kLiv, kLv, v());
  }
  void TearDown() override { console::bind_standard(); }

  IvView iv() { return IvView(iv_store_); }
  VView v() { return VView(v_store_); }
  std::string printed() const { return out_.str(); }

  void summary(int n = 2) { ditsum(d_, g_, iv(), kLiv, kLv, n, v(), x_); }

  std::array<int, kLiv> iv_store_{};
  std::array<double, kLv> v_store_{};
  std::array<double, 2> x_{0.25, -1.5};
  std::array<double, 2> d_{1.0, 2.0};
  std::array<double, 2> g_{1e-9, -3.0};
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

// f = 1 + (x1 - 0.5)^2 + 3 (x2 + 0.25)^2 + (x1 - 0.5)(x2 + 0.25) from (1.5, 1.5)
// in [-2, 2]^2, scales D = (1, 2): steps are measured as |(s1, 2 s2)| and the
// initial Hessian approximation is diag(1, 4).
void quadratic_f(int, CVec x, int&, double& f, int&, int&, int&) {
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  f = 1.0 + a * a + 3.0 * b * b + a * b;
}
void quadratic_g(int, CVec x, int&, Vec g, int&, int&, int&) {
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  g[0] = 2.0 * a + b;
  g[1] = 6.0 * b + a;
}

void run_quadratic(IvView iv, VView v) {
  std::array<double, 2> x{1.5, 1.5};
  std::array<double, 2> d{1.0, 2.0};
  const std::array<double, 4> b{-2, 2, -2, 2};
  int unused = 0;
  dmngb(2, d, x, b, quadratic_f, quadratic_g, iv, kLiv, kLv, v, unused, unused, unused);
}

// Generated from this run, then checked by hand against the layouts: initial
// rows 1X I5 D17.6 D14.3; iteration lines I6 I5 D11.3 D10.2 D10.2 D9.1 D9.1
// D9.1 D10.2 under the long heading; the message after an empty line;
// statistics D17.6 / D17.3, I8 9X I8, D16.3 6X D15.3; final rows 1X I5 D16.6
// D14.3 D14.3. f(1.5, 1.5) = 12.9375; the first trial, cut to the initial
// radius 1, does so well that a longer step (scaled length 3) is tried in
// the same iteration (NF goes from 1 to 3); then Newton steps (STPPAR 0)
// reach (0.5, -0.25), where both convergence tests hold.
constexpr const char* kGoldenRun =
    R"(     I     INITIAL X(I)        D(I)

     1     0.150000D+01     0.100D+01
     2     0.150000D+01     0.200D+01
    IT   NF       F        RELDF    PRELDF    RELDX   STPPAR   D*STEP   NPRELDF
     0    1  0.129D+02
     1    3  0.175D+01  0.86D+00  0.13D+01  0.8D+00  0.3D+01  0.3D+01  0.18D+01
     2    4  0.107D+01  0.39D+00  0.56D+00  0.1D+01  0.0D+00  0.1D+01  0.56D+00
     3    5  0.100D+01  0.66D-01  0.66D-01  0.2D+00  0.0D+00  0.3D+00  0.66D-01
     4    6  0.100D+01  0.00D+00  0.39D-32  0.6D-16  0.0D+00  0.8D-16  0.39D-32

 ***** X- AND RELATIVE FUNCTION CONVERGENCE *****
 FUNCTION     0.100000D+01   RELDX        0.555D-16
 FUNC. EVALS       6         GRAD. EVALS       4
 PRELDF       0.385D-32      NPRELDF      0.385D-32
     I      FINAL X(I)        D(I)          G(I)

     1    0.500000D+00     0.100D+01    -0.833D-16
     2   -0.250000D+00     0.200D+01     0.111D-15
)";

TEST_F(SummaryTest, GoldenTextOfAShortRun) {
  run_quadratic(iv(), v());
  ASSERT_GE(iv()(RETURN_CODE), kXConvergence);
  ASSERT_LE(iv()(RETURN_CODE), kAbsoluteFunctionConvergence);
  EXPECT_EQ(printed(), kGoldenRun);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(SummaryTest, SilentWithoutOutputUnit) {
  // A whole run, and a run that fails at once.
  iv()(OUTPUT_UNIT) = 0;
  run_quadratic(iv(), v());
  EXPECT_TRUE(iv()(RETURN_CODE) >= kXConvergence &&
              iv()(RETURN_CODE) <= kAbsoluteFunctionConvergence);
  divset(2, iv(), kLiv, kLv, v());
  iv()(OUTPUT_UNIT) = 0;
  iv()(PRINT_START) = 1;
  std::array<double, 2> x{0.0, 0.0};
  std::array<double, 2> d{1.0, 1.0};
  const std::array<double, 4> b{-2, 2, 1, -1};
  int unused = 0;
  dmngb(2, d, x, b, quadratic_f, quadratic_g, iv(), kLiv, kLv, v(), unused, unused, unused);
  EXPECT_EQ(iv()(RETURN_CODE), kBoundsCrossed);

  // Every code, called directly: nothing printed and no slot touched.
  for (const int code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 63, 64, 65, 66, 82}) {
    iv()(RETURN_CODE) = code;
    for (const int iter : {0, 4}) {
      iv()(ITER_COUNT) = iter;
      const auto iv_before = iv_store_;
      const auto v_before = v_store_;
      summary();
      EXPECT_EQ(iv_store_, iv_before) << "code " << code;
      EXPECT_EQ(v_store_, v_before) << "code " << code;
    }
  }
  EXPECT_EQ(printed(), "");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(SummaryTest, CodesWithoutACase) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {
      {kBoundsCrossed, " ***** IV(1) =   82 *****\n"},
      {1, " ***** IV(1) =    1 *****\n"},
      {16, " ***** IV(1) =   16 *****\n"},
      {64, " ***** BAD PARAMETERS TO ASSESS *****\n"},
      {66, " INCONSISTENT DIMENSIONS\n"},
  };
  for (const Case& c : cases) {
    out_.str("");
    iv()(RETURN_CODE) = c.code;
    summary();
    EXPECT_EQ(printed(), c.text) << "code " << c.code;
  }
}

// Values of one iteration used by the line tests.
void set_iteration(IvView iv, VView v, int iter) {
  iv(ITER_COUNT) = iter;
  iv(FEVAL_COUNT) = iter + 3;
  v(F) = -12.5;
  v(F_START) = -10.0;
  v(F_DIFF) = 2.5;
  v(PRED_DECREASE) = 3.75;
  v(NEWTON_DECREASE) = 0.0625;
  v(RELDX) = 0.031;
  v(STPPAR) = 1.5;
  v(STEP_NORM) = 0.45;
}

TEST_F(SummaryTest, LongAndShortIterationLines) {
  // |f| at most 12.5: RELDF = 0.2, PRELDF = 0.3, NPRELDF = 0.005.
  set_iteration(iv(), v(), 7);
  iv()(RETURN_CODE) = kNeedGradient;
  iv()(HEADER_DUE) = 1;
  iv()(PRINT_LEVEL) = 1;
  summary();
  EXPECT_EQ(printed(),
            "    IT   NF       F        RELDF    PRELDF    RELDX   STPPAR   D*STEP   NPRELDF\n"
            "     7   10 -0.125D+02  0.20D+00  0.30D+00  0.3D-01  0.2D+01  0.5D+00  0.50D-02\n");
  EXPECT_EQ(iv()(HEADER_DUE), 0);

  out_.str("");
  iv()(PRINT_LEVEL) = -1;
  iv()(HEADER_DUE) = 1;
  iv()(FEVAL_EXTRA) = -2;  // the line shows FEVAL_COUNT - |FEVAL_EXTRA|
  summary();
  EXPECT_EQ(printed(),
            "    IT   NF       F        RELDF    PRELDF    RELDX   STPPAR\n"
            "     7    8 -0.125D+02  0.20D+00  0.30D+00  0.3D-01  0.2D+01\n");
}

TEST_F(SummaryTest, PrintLevelThreeShowsEveryThirdIteration) {
  iv()(PRINT_LEVEL) = 3;
  iv()(HEADER_DUE) = 0;
  iv()(SUMMARY_SKIP) = 0;
  iv()(RETURN_CODE) = kNeedGradient;
  std::string lines;
  for (int it = 1; it <= 7; ++it) {
    set_iteration(iv(), v(), it);
    out_.str("");
    summary();
    if (!printed().empty()) lines += printed().substr(0, 6);
  }
  EXPECT_EQ(lines, "     3     6");
  EXPECT_EQ(iv()(SUMMARY_SKIP), 1);
}

// Before the message of an iteration limit the line is printed only when
// iterations were skipped since the last one; for convergence always.
TEST_F(SummaryTest, FinalLineBeforeLimitMessage) {
  iv()(PRINT_LEVEL) = -2;
  iv()(PRINT_STATISTICS) = 0;
  iv()(PRINT_SOLUTION) = 0;
  iv()(HEADER_DUE) = 0;
  set_iteration(iv(), v(), 4);
  struct Case {
    int code;
    int skipped;
    const char* text;
  };
  const Case cases[] = {
      {kIterLimitReached, 0, "\n ***** ITERATION LIMIT *****\n"},
      {kIterLimitReached, 1,
       "     4    7 -0.125D+02  0.20D+00  0.30D+00  0.3D-01  0.2D+01\n"
       "\n ***** ITERATION LIMIT *****\n"},
      {kXConvergence, 0,
       "     4    7 -0.125D+02  0.20D+00  0.30D+00  0.3D-01  0.2D+01\n"
       "\n ***** X-CONVERGENCE *****\n"},
      {kFalseConvergence, 0,
       "     4    7 -0.125D+02  0.20D+00  0.30D+00  0.3D-01  0.2D+01\n"
       "\n ***** FALSE CONVERGENCE *****\n"},
  };
  for (const Case& c : cases) {
    out_.str("");
    iv()(RETURN_CODE) = c.code;
    iv()(SUMMARY_SKIP) = c.skipped;
    iv()(HEADER_DUE) = 0;
    summary();
    EXPECT_EQ(printed(), c.text) << "code " << c.code << " skipped " << c.skipped;
    EXPECT_EQ(iv()(HEADER_DUE), 1);
  }
}

TEST_F(SummaryTest, FailureTextsAndPrintouts) {
  iv()(PRINT_LEVEL) = 1;
  v()(F) = 2.0;
  // Quantities of a step, cleared by the initial printout.
  constexpr VSlot kCleared[] = {STEP_NORM, F_DIFF, NEWTON_DECREASE, PRED_DECREASE, RELDX};
  for (const VSlot s : kCleared) v()(s) = 9.0;
  iv()(RETURN_CODE) = kInitialFFailed;
  summary();
  EXPECT_EQ(printed(),
            " ***** INITIAL F(X) CANNOT BE COMPUTED *****\n"
            "     I     INITIAL X(I)        D(I)\n"
            "\n"
            "     1     0.250000D+00     0.100D+01\n"
            "     2    -0.150000D+01     0.200D+01\n");
  for (const VSlot s : kCleared) EXPECT_EQ(v()(s), 0.0) << "V(" << s << ")";

  out_.str("");
  iv()(RETURN_CODE) = kGradientFailed;
  iv()(ITER_COUNT) = 3;
  summary();
  EXPECT_EQ(printed(),
            " ***** GRADIENT COULD NOT BE COMPUTED *****\n"
            "     I      FINAL X(I)        D(I)          G(I)\n"
            "\n"
            "     1    0.250000D+00     0.100D+01     0.100D-08\n"
            "     2   -0.150000D+01     0.200D+01    -0.300D+01\n");
}

}  // namespace
}  // namespace gxe::minimizer
