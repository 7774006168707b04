// Step assessment: the verdicts for failed, poor, good and very good trial
// steps, the radius factors that go with them, the best-trial bookkeeping
// and the convergence tests; and the two measures drldst and dv2nrm.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "minimizer/assess.h"
#include "minimizer/params.h"
#include "tests/support/test_util.h"

namespace gxe::minimizer {
namespace {

// Arrays with the default settings and the state at the first trial step of
// an iteration: f(x0) = 10, a trial with predicted decrease 1 and slope
// g's = -1, neither a Newton step (STPPAR 1.5) nor long.
struct State {
  std::array<int, 100> ivs{};
  std::array<double, 100> vs{};
  IvView iv{std::span<int>(ivs)};
  VView v{std::span<double>(vs)};

  State() {
    divset(2, iv, 100, 100, v);
    iv(STEP_VERDICT) = 4;  // start of an iteration
    iv(STAGE_LIMIT) = 1;
    iv(MODEL_KIND) = 1;
    iv(FEVAL_COUNT) = 7;
    iv(GRAD_AT_FEVAL) = 3;
    v(F_START) = 10.0;
    v(F) = 9.5;
    v(PRED_DECREASE) = 1.0;
    v(GRAD_DOT_STEP) = -1.0;
    v(STPPAR) = 1.5;
    v(STEP_NORM) = 0.5;
    v(NEWTON_NORM) = 0.8;
    v(NEWTON_DECREASE) = 1.2;
    v(RELDX) = 0.1;
  }
  State(const State&) = delete;
  void assess() { da7sst(iv, 100, 100, v); }
};

// Entry verdicts outside 1..12 are rejected with 13; apart from the two
// flags cleared on every entry nothing changes.
TEST(StepAssessment, BadEntryVerdict) {
  for (int verdict : {0, 13, 14, -2}) {
    State s;
    s.iv(STEP_VERDICT) = verdict;
    s.iv(SWITCH_FLAG) = 5;
    s.iv(RESTORE_MODE) = 2;
    const auto ivs0 = s.ivs;
    const auto vs0 = s.vs;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), 13);
    EXPECT_EQ(s.iv(SWITCH_FLAG), 0);
    EXPECT_EQ(s.iv(RESTORE_MODE), 0);
    for (int k = 1; k <= 100; ++k) {
      if (k == STEP_VERDICT || k == SWITCH_FLAG || k == RESTORE_MODE) continue;
      EXPECT_EQ(s.iv.at(k), ivs0[static_cast<std::size_t>(k) - 1]) << "IV(" << k << ")";
    }
    EXPECT_EQ(s.vs, vs0);
  }
}

// f could not be computed at the first trial: shrink by DECFAC and return
// to x0 with f(x0).
TEST(StepAssessment, FailedFirstEvaluation) {
  State s;
  s.iv(EVAL_FAILED) = 1;
  s.v(F) = std::numeric_limits<double>::quiet_NaN();
  s.assess();
  EXPECT_EQ(s.iv(STEP_VERDICT), 5);
  EXPECT_EQ(s.v(RADIUS_FACTOR), s.v(DECFAC));
  EXPECT_EQ(s.v(RADIUS_FACTOR), 0.5);
  EXPECT_EQ(s.iv(RESTORE_MODE), 1);
  EXPECT_EQ(s.v(F), 10.0);
  EXPECT_EQ(s.iv(EVAL_FAILED), 0);
  EXPECT_EQ(s.iv(RADIUS_INCREASES), -1);
  EXPECT_EQ(s.iv(STEP_STAGE), -1);
  EXPECT_EQ(s.iv(SAVED_VERDICT), 4);
}

// A trial that does not decrease f enough: retry from x0 (verdict 5 with
// one stage) with the step shrunk to the minimiser of the quadratic through
// f(x0), the slope g's = -1 and f(x0 + s): t = 0.5 / (1 - fdiff) for
// fdiff = f(x0) - f(x0 + s) < 0, but at least RDFCMN = 0.1; without an
// increase of f, half the step.
TEST(StepAssessment, PoorStepShrinksRadius) {
  struct Case {
    double f;
    double factor;
  };
  const Case cases[] = {
      {11.0, 0.25},   // 0.5 / (1 + 1)
      {13.0, 0.125},  // 0.5 / (1 + 3)
      {100.0, 0.1},   // 0.5 / 91 is below RDFCMN
      {10.0, 0.5},    // f unchanged
  };
  for (const Case& c : cases) {
    State s;
    s.v(F) = c.f;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), 5) << c.f;
    EXPECT_CLOSE(s.v(RADIUS_FACTOR), c.factor, 1e-15);
    EXPECT_EQ(s.iv(RESTORE_MODE), 1);  // back to x0
    EXPECT_EQ(s.v(F), 10.0);
    EXPECT_EQ(s.v(F_BEST_TRIAL), c.f);
    EXPECT_EQ(s.iv(RADIUS_INCREASES), -1);
  }
}

// With a second stage allowed the poor step asks for a smaller radius with
// the old model (verdict 1) instead.
TEST(StepAssessment, PoorStepWithStagesLeft) {
  State s;
  s.iv(STAGE_LIMIT) = 2;
  s.v(F) = 11.0;
  s.assess();
  EXPECT_EQ(s.iv(STEP_VERDICT), 1);
  EXPECT_EQ(s.iv(RADIUS_INCREASES), 0);
}

// Accepted steps. Decrease 0.05 (<= TUNER1 * pred): modest, radius halved.
// Decrease 0.5 (between): good, factor 1, verdict 3. Decrease >= 0.75
// (-TUNER3 g's): very good, radius factor RDFCMX = 4, or the quadratic
// minimiser 0.5 / (1 - fdiff) when that is smaller, but at least INCFAC.
TEST(StepAssessment, AcceptedSteps) {
  struct Case {
    double f;
    int verdict;
    double factor;
    int restore;  // 2: keep x as the best trial (modest step), 0: x stays
  };
  const Case cases[] = {
      {9.95, 4, 0.5, 2},        {9.5, 3, 1.0, 0},
      {9.0, 4, 4.0, 0},  // fdiff 1 >= 0.875: full growth
      {9.2, 4, 2.5, 0},  // fdiff 0.8: 0.5 / 0.2
      {9.24, 4, 0.5 / 0.24, 0},
  };
  for (const Case& c : cases) {
    State s;
    s.v(F) = c.f;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), c.verdict) << c.f;
    EXPECT_CLOSE(s.v(RADIUS_FACTOR), c.factor, 1e-12);
    EXPECT_EQ(s.iv(GRAD_AT_FEVAL), 7) << "the gradient will be taken at this trial";
    EXPECT_EQ(s.iv(RESTORE_MODE), c.restore) << c.f;
  }
}

// A very good step that is not the Newton step is retried with the larger
// radius when the Newton step is at least twice as long and promises at
// least 1.2 times the decrease obtained (here fdiff = 1, step length 0.5).
TEST(StepAssessment, RetryWhenNewtonStepTwiceAsLong) {
  struct Case {
    const char* what;
    double newton_norm, newton_decrease, stppar;
    int verdict;
  };
  const Case cases[] = {
      {"retry", 1.0, 1.2, 1.5, 5},
      {"Newton step shorter than twice", 0.99, 1.2, 1.5, 4},
      {"Newton decrease too small", 1.0, 1.19, 1.5, 4},
      {"the step was the Newton step", 1.0, 1.2, 0.0, 4},
  };
  for (const Case& c : cases) {
    State s;
    s.v(F) = 9.0;
    s.v(NEWTON_NORM) = c.newton_norm;
    s.v(NEWTON_DECREASE) = c.newton_decrease;
    s.v(STPPAR) = c.stppar;
    s.v(RELDX) = 0.5;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), c.verdict) << c.what;
    EXPECT_EQ(s.iv(RADIUS_INCREASES), c.verdict == 5 ? 1 : 0) << c.what;
    EXPECT_EQ(s.v(RADIUS_FACTOR), 4.0) << c.what;
    if (c.verdict != 5) continue;
    // Before the retry the trial is kept as the best one.
    EXPECT_EQ(s.v(F_BEST_TRIAL), 9.0);
    EXPECT_EQ(s.v(SAVED_STEP_NORM), 0.5);
    EXPECT_EQ(s.v(PRED_BEST), 1.0);
    EXPECT_EQ(s.v(GTS_BEST), -1.0);
    EXPECT_EQ(s.iv(GRAD_AT_FEVAL), 7);
    EXPECT_EQ(s.iv(RESTORE_MODE), 2);
  }
}

// The retry with the larger radius fails to improve: fall back to the
// saved best trial with its step length, prediction and slope, and accept it
// as a good step (no further growth after a fall-back).
TEST(StepAssessment, FailedLongerRetryFallsBackToBestTrial) {
  State s;
  s.v(F) = 9.0;
  s.v(NEWTON_NORM) = 1.0;
  s.assess();
  ASSERT_EQ(s.iv(STEP_VERDICT), 5);
  // The driver computes the longer step and evaluates it.
  s.v(STEP_NORM) = 1.0;
  s.v(PRED_DECREASE) = 1.5;
  s.v(GRAD_DOT_STEP) = -2.0;
  s.v(F) = 9.6;
  s.iv(FEVAL_COUNT) = 8;
  s.assess();
  EXPECT_EQ(s.iv(RESTORE_MODE), 3) << "restore the best trial, not x0";
  EXPECT_EQ(s.v(F), 9.0);
  EXPECT_EQ(s.v(STEP_NORM), 0.5);
  EXPECT_EQ(s.v(PRED_DECREASE), 1.0);
  EXPECT_EQ(s.v(GRAD_DOT_STEP), -1.0);
  EXPECT_EQ(s.iv(STEP_VERDICT), 3);
  EXPECT_EQ(s.v(RADIUS_FACTOR), 1.0);
  EXPECT_EQ(s.iv(GRAD_AT_FEVAL), 7) << "the gradient belongs to the restored trial";
}

TEST(StepAssessment, ConvergenceTests) {
  struct Case {
    const char* what;
    double f_start, f, pred, gts, newton_decrease, stppar, reldx, newton_norm;
    int verdict;
  };
  const double small = 1.0 - 1e-12;
  const Case cases[] = {
      {"absolute function convergence", 1.0, 1e-21, 1.0, -1.0, 1.2, 1.5, 0.1, 0.8, 10},
      {"absolute, although f rose", 0.5e-21, 1e-21, 1.0, -1.0, 1.2, 1.5, 0.1, 0.8, 10},
      {"false convergence", 10.0, 11.0, 1.0, -1.0, 1.2, 1.5, 1e-15, 0.8, 12},
      {"failed step, x still moving", 10.0, 11.0, 1.0, -1.0, 1.2, 1.5, 1e-13, 0.8, 5},
      {"relative function convergence", 1.0, small, 1e-12, -2e-12, 1e-12, 0.0, 0.1, 0.8, 8},
      {"x-convergence", 10.0, 9.0, 1.0, -1.0, 1.2, 0.0, 1e-9, 0.8, 7},
      {"x- and relative function", 1.0, small, 1e-12, -2e-12, 1e-12, 0.0, 1e-9, 0.8, 9},
      {"x small but not a Newton step", 10.0, 9.0, 1.0, -1.0, 1.2, 1.5, 1e-9, 0.8, 4},
      {"decrease above twice the prediction", 10.0, 7.0, 1.0, -1.0, 1.2, 0.0, 1e-9, 0.8, 4},
      {"singular: tiny prediction, Newton", 1.0, small, 1e-12, -2e-12, 1.2, 0.0, 0.1, -1.0, 11},
  };
  for (const Case& c : cases) {
    State s;
    s.v(F_START) = c.f_start;
    s.v(F) = c.f;
    s.v(PRED_DECREASE) = c.pred;
    s.v(GRAD_DOT_STEP) = c.gts;
    s.v(NEWTON_DECREASE) = c.newton_decrease;
    s.v(STPPAR) = c.stppar;
    s.v(RELDX) = c.reldx;
    s.v(NEWTON_NORM) = c.newton_norm;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), c.verdict) << c.what;
  }
}

// A tiny predicted decrease for a step that is not the Newton step asks for
// a test step of length LMAXS (verdict 6); once the driver has computed it,
// its predicted decrease decides between singular convergence and the
// verdict saved before.
TEST(StepAssessment, SingularConvergenceTestStep) {
  for (const double test_pred : {1e-11, 1.0}) {
    State s;
    s.v(F_START) = 1.0;
    s.v(F) = 1.0 - 5e-14;
    s.v(PRED_DECREASE) = 1e-12;
    s.v(GRAD_DOT_STEP) = -2e-12;
    s.v(NEWTON_NORM) = 10.0;
    s.assess();
    ASSERT_EQ(s.iv(STEP_VERDICT), 6);
    EXPECT_EQ(s.iv(RESTORE_MODE), 2);
    EXPECT_EQ(s.v(SAVED_STEP_NORM), 0.5);
    EXPECT_EQ(s.v(PRED_BEST), 1e-12);
    EXPECT_EQ(s.v(GTS_BEST), -2e-12);

    s.v(PRED_DECREASE) = test_pred;
    s.v(GRAD_DOT_STEP) = -7.0;
    s.v(STEP_NORM) = 1.0;
    s.assess();
    EXPECT_EQ(s.iv(STEP_VERDICT), test_pred <= 1e-10 ? 11 : 4) << test_pred;
    EXPECT_EQ(s.v(NEWTON_DECREASE), -test_pred);
    EXPECT_EQ(s.v(PRED_DECREASE), 1e-12);
    EXPECT_EQ(s.v(GRAD_DOT_STEP), -2e-12);
    EXPECT_EQ(s.v(STEP_NORM), 0.5);
    EXPECT_EQ(s.iv(RESTORE_MODE), 3);
  }
}

TEST(RelativeStep, Values) {
  const std::array<double, 2> zero{0.0, 0.0};
  const std::array<double, 2> d{1.0, 2.0};
  EXPECT_EQ(drldst(2, d, zero, zero), 0.0);
  // max |D (x - x0)| = max(1, 2) over max D (|x| + |x0|) = max(1, 6).
  const std::array<double, 2> x{1.0, 1.0};
  const std::array<double, 2> x0{0.0, 2.0};
  EXPECT_CLOSE(drldst(2, d, x, x0), 1.0 / 3.0, 1e-15);
  EXPECT_EQ(drldst(0, d, x, x0), 0.0);
}

TEST(SafeNorm, ValuesWithoutOverflowOrUnderflow) {
  struct Case {
    std::array<double, 4> x;
    int p;
    double norm;
  };
  const Case cases[] = {
      {{0.0, 0.0, 3.0, 4.0}, 4, 5.0},
      {{4.0, 0.0, 0.0, -3.0}, 4, 5.0},
      {{0.0, 0.0, 0.0, 0.0}, 4, 0.0},
      {{-7.0, 1.0, 1.0, 1.0}, 1, 7.0},
      {{3.0, 4.0, 0.0, 0.0}, 0, 0.0},
      {{3e200, 4e200, 0.0, 0.0}, 2, 5e200},     // squares would overflow
      {{3e-200, 0.0, 4e-200, 0.0}, 4, 5e-200},  // squares would underflow
      {{1e-300, 1e300, 0.0, 0.0}, 4, 1e300},    // ratio below dr7mdc(2): dropped
      {{1e300, 1e-300, 0.0, 0.0}, 4, 1e300},
  };
  for (const Case& c : cases)
    EXPECT_CLOSE(dv2nrm(c.p, c.x), c.norm, 1e-15) << c.x[0] << " " << c.x[1];
}

}  // namespace
}  // namespace gxe::minimizer
