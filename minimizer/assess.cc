// Step assessment of the trust-region iteration and the two measures it and
// the step routine rely on: the relative step size and a safe 2-norm.
//
// da7sst compares the actual decrease f(x0) - f(x0 + s) with the decrease the
// quadratic model predicted for the step s. Their ratio decides whether the
// step is accepted, retried with a smaller radius, or - when the model is
// very good - retried with a larger one; the best trial of the iteration is
// remembered so that a failed retry can fall back to it. Afterwards come the
// convergence tests, which all compare model predictions with the size of f.
//
// The assessment is a chain of stages: the entry verdict (what was tried
// last) picks the first, and each stage makes one decision and names the
// stage that follows.

#include "minimizer/assess.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "minimizer/machine.h"

namespace gxe::minimizer {

namespace {

// A larger radius is worth a retry only when the Newton step is at least
// this many times longer than the step taken ...
constexpr double kNewtonLengthRatio = 2.0;
// ... and promises at least this multiple of the decrease obtained.
constexpr double kNewtonDecreaseRatio = 1.2;

enum class Stage {
  kAfterSmallerRadius,        // entry: a smaller radius was tried
  kAfterNextStage,            // entry: the next trial stage was tried
  kAfterRadiusChange,         // entry: a changed radius was tried
  kCheckEvaluation,           // could f be computed at the trial?
  kCompareWithBest,           // is the trial better than the best so far?
  kFallBackToBest,            // take the best trial instead of this one
  kShortenAfterFailure,       // f not computable at the trial: retry shorter
  kJudgeDecrease,             // accept or reject the step by its decrease
  kShrinkRadius,              // radius factor after a rejected or modest step
  kTestFalseConvergence,      // x hardly moves, yet f did not fall enough
  kSaveBestTrial,             // remember the trial as the best of the iteration
  kKeepVerdict,               // keep the verdict for a later pass
  kTestConvergence,           // the convergence tests that trust the model
  kTestSingularConvergence,   // judge the measured test step of length LMAXS
  kDone,
};

// One call of the assessment over the caller's arrays.
class Assessment {
 public:
  Assessment(IvView iv, VView v) : iv_(iv), v_(v), nfc_(iv(FEVAL_COUNT)) {}

  void run();

 private:
  Stage enter(int entry);
  Stage first_trial(int entry);
  Stage after_singular_test_step();
  Stage after_smaller_radius();
  Stage after_next_stage();
  Stage after_radius_change();
  Stage check_evaluation();
  Stage compare_with_best();
  Stage fall_back_to_best();
  Stage shorten_after_failure();
  Stage judge_decrease();
  Stage reject_step();
  Stage very_good_step();
  Stage shrink_radius();
  Stage test_false_convergence();
  Stage save_best_trial();
  Stage keep_verdict();
  Stage test_convergence();
  Stage consider_singular_test_step(double emaxs);
  Stage test_singular_convergence();

  IvView iv_;
  VView v_;
  int nfc_;             // evaluation whose point the next gradient will belong to
  double rfac1_ = 1.0;  // scale of the radius factor after a fall-back
  bool goodx_ = true;   // x is the trial point itself, not a restored one
};

void Assessment::run() {
  iv_(SWITCH_FLAG) = 0;
  iv_(RESTORE_MODE) = kKeepX;
  const int entry = iv_(STEP_VERDICT);
  if (entry < kRetrySmallerRadius || entry > kFalseConverged) {
    iv_(STEP_VERDICT) = kBadEntryVerdict;
    return;
  }
  Stage stage = enter(entry);
  while (stage != Stage::kDone) {
    switch (stage) {
      case Stage::kAfterSmallerRadius: stage = after_smaller_radius(); break;
      case Stage::kAfterNextStage: stage = after_next_stage(); break;
      case Stage::kAfterRadiusChange: stage = after_radius_change(); break;
      case Stage::kCheckEvaluation: stage = check_evaluation(); break;
      case Stage::kCompareWithBest: stage = compare_with_best(); break;
      case Stage::kFallBackToBest: stage = fall_back_to_best(); break;
      case Stage::kShortenAfterFailure: stage = shorten_after_failure(); break;
      case Stage::kJudgeDecrease: stage = judge_decrease(); break;
      case Stage::kShrinkRadius: stage = shrink_radius(); break;
      case Stage::kTestFalseConvergence: stage = test_false_convergence(); break;
      case Stage::kSaveBestTrial: stage = save_best_trial(); break;
      case Stage::kKeepVerdict: stage = keep_verdict(); break;
      case Stage::kTestConvergence: stage = test_convergence(); break;
      case Stage::kTestSingularConvergence: stage = test_singular_convergence(); break;
      case Stage::kDone: break;
    }
  }
}

// The first stage for each entry verdict.
Stage Assessment::enter(int entry) {
  switch (entry) {
    case kRetrySmallerRadius:
      return Stage::kAfterSmallerRadius;
    case kAcceptStagesLeft:
      return Stage::kAfterNextStage;
    case kAcceptTestGradient:
    case kAccept:
      return first_trial(entry);
    case kRetryChangedRadius:
      return Stage::kAfterRadiusChange;
    case kSingularTestStep:
      return after_singular_test_step();
    case kFalseConverged:
      return Stage::kTestFalseConvergence;
    default:
      // Continuing after a convergence return: test again.
      iv_(STEP_VERDICT) = v_(SAVED_STEP_NORM) < 0.0 ? kFalseConverged : iv_(SAVED_VERDICT);
      return Stage::kTestConvergence;
  }
}

// The first trial step of a new iteration.
Stage Assessment::first_trial(int entry) {
  iv_(STEP_STAGE) = 1;
  iv_(RADIUS_INCREASES) = 0;
  v_(F_BEST_TRIAL) = v_(F_START);
  if (iv_(EVAL_FAILED) == 0) return Stage::kJudgeDecrease;
  iv_(STEP_STAGE) = -1;
  iv_(SAVED_VERDICT) = entry;
  return Stage::kShortenAfterFailure;
}

// The test step of length LMAXS has been measured: its predicted decrease
// goes to NEWTON_DECREASE and the values of the real step are brought back.
Stage Assessment::after_singular_test_step() {
  v_(GRAD_DOT_STEP) = v_(GTS_BEST);
  v_(STEP_NORM) = std::fabs(v_(SAVED_STEP_NORM));
  iv_(STEP_VERDICT) = v_(SAVED_STEP_NORM) <= 0.0 ? kFalseConverged : iv_(SAVED_VERDICT);
  v_(NEWTON_DECREASE) = -v_(PRED_DECREASE);
  v_(PRED_DECREASE) = v_(PRED_BEST);
  iv_(RESTORE_MODE) = kRestoreBestTrial;
  return Stage::kTestSingularConvergence;
}

// With the model of the best trial, the smaller radius is the last stage.
Stage Assessment::after_smaller_radius() {
  if (iv_(MODEL_KIND) != iv_(BEST_MODEL_KIND)) return Stage::kAfterNextStage;
  iv_(STEP_STAGE) = iv_(STAGE_LIMIT);
  iv_(RADIUS_INCREASES) = -1;
  return Stage::kJudgeDecrease;
}

Stage Assessment::after_next_stage() {
  iv_(STEP_STAGE) += 1;
  return Stage::kAfterRadiusChange;
}

// A negative STEP_STAGE marks a retry after f could not be computed; once it
// has been evaluated the assessment goes on as the verdict before it.
Stage Assessment::after_radius_change() {
  if (iv_(STEP_STAGE) > 0) return Stage::kCheckEvaluation;
  if (iv_(EVAL_FAILED) != 0) return Stage::kShortenAfterFailure;
  iv_(STEP_STAGE) = -iv_(STEP_STAGE);
  switch (iv_(SAVED_VERDICT)) {
    case kRetrySmallerRadius: return Stage::kAfterSmallerRadius;
    case kAcceptStagesLeft: return Stage::kAfterNextStage;
    case kAcceptTestGradient:
    case kAccept: return Stage::kJudgeDecrease;
    case kRetryChangedRadius: return Stage::kCompareWithBest;
    default: return Stage::kCheckEvaluation;
  }
}

// A failure after a radius increase falls back to the best trial; any other
// failure retries with a shorter step.
Stage Assessment::check_evaluation() {
  if (iv_(EVAL_FAILED) == 0) return Stage::kCompareWithBest;
  iv_(EVAL_FAILED) = 0;
  if (iv_(RADIUS_INCREASES) > 0) return Stage::kFallBackToBest;
  iv_(STEP_STAGE) = -iv_(STEP_STAGE);
  iv_(SAVED_VERDICT) = iv_(STEP_VERDICT);
  return Stage::kShortenAfterFailure;
}

Stage Assessment::compare_with_best() {
  if (v_(F) < v_(F_BEST_TRIAL)) return Stage::kJudgeDecrease;
  if (iv_(MODEL_KIND) != iv_(BEST_MODEL_KIND)) {
    iv_(MODEL_KIND) = iv_(BEST_MODEL_KIND);
    iv_(SWITCH_FLAG) = 1;
  }
  return Stage::kFallBackToBest;
}

// When the best trial improved on x0, its values replace the trial's and the
// step is judged as that trial's. kBackToX0 here is provisional: the
// convergence tests turn it into kRestoreBestTrial.
Stage Assessment::fall_back_to_best() {
  if (v_(F_BEST_TRIAL) < v_(F_START)) {
    iv_(RESTORE_MODE) = kBackToX0;
    v_(F) = v_(F_BEST_TRIAL);
    v_(PRED_DECREASE) = v_(PRED_BEST);
    v_(GRAD_DOT_STEP) = v_(GTS_BEST);
    if (iv_(SWITCH_FLAG) == 0) rfac1_ = v_(STEP_NORM) / v_(SAVED_STEP_NORM);
    v_(STEP_NORM) = v_(SAVED_STEP_NORM);
    nfc_ = iv_(GRAD_AT_FEVAL);
    goodx_ = false;
  }
  return Stage::kJudgeDecrease;
}

// f could not be computed at the trial: back to x0 (with the best f of the
// iteration) and retry with the radius shrunk by DECFAC.
Stage Assessment::shorten_after_failure() {
  iv_(EVAL_FAILED) = 0;
  v_(RADIUS_FACTOR) = v_(DECFAC);
  iv_(RADIUS_INCREASES) -= 1;
  iv_(STEP_VERDICT) = kRetryChangedRadius;
  iv_(RESTORE_MODE) = kBackToX0;
  v_(F) = v_(F_BEST_TRIAL);
  return Stage::kDone;
}

// The actual decrease against the predicted one (TUNER2, TUNER1) and against
// the linear prediction -g's (TUNER3) sorts the step into rejected, modest,
// good and very good.
Stage Assessment::judge_decrease() {
  v_(F_DIFF) = v_(F_START) - v_(F);
  const double fdiff = v_(F_DIFF);
  if (fdiff <= v_(TUNER2) * v_(PRED_DECREASE) && iv_(RADIUS_INCREASES) <= 0) return reject_step();
  // Enough decrease: the step is acceptable.
  iv_(GRAD_AT_FEVAL) = nfc_;
  rfac1_ = 1.0;
  v_(SAVED_STEP_NORM) = v_(STEP_NORM);
  if (fdiff <= v_(TUNER1) * v_(PRED_DECREASE)) {
    // Modest decrease: accept, with a smaller radius next time.
    iv_(STEP_VERDICT) = iv_(STEP_STAGE) < iv_(STAGE_LIMIT) ? kAcceptStagesLeft : kAccept;
    return Stage::kShrinkRadius;
  }
  const double gts = v_(GRAD_DOT_STEP);
  if (fdiff >= -v_(TUNER3) * gts && iv_(RADIUS_INCREASES) >= 0 &&
      iv_(RESTORE_MODE) != kBackToX0) {
    return very_good_step();
  }
  // Good step: accept; the gradient tests decide on growth.
  v_(RADIUS_FACTOR) = 1.0;
  iv_(STEP_VERDICT) = kAcceptTestGradient;
  return Stage::kKeepVerdict;
}

// Too little decrease: retry with a smaller radius. A trial that lowered f
// will own the next gradient; one that did not sends x back to x0 and leaves
// its f as the value a later trial is compared with.
Stage Assessment::reject_step() {
  if (v_(F) < v_(F_START)) {
    iv_(GRAD_AT_FEVAL) = nfc_;
  } else {
    iv_(BEST_MODEL_KIND) = iv_(MODEL_KIND);
    v_(F_BEST_TRIAL) = v_(F);
    v_(F) = v_(F_START);
    iv_(RESTORE_MODE) = kBackToX0;
  }
  iv_(STEP_VERDICT) = kRetrySmallerRadius;
  if (iv_(STEP_STAGE) >= iv_(STAGE_LIMIT)) {
    iv_(STEP_VERDICT) = kRetryChangedRadius;
    iv_(RADIUS_INCREASES) -= 1;
  }
  return Stage::kShrinkRadius;
}

// Very good step: the actual decrease is close to the linear prediction
// -g's. The radius may grow by RDFCMX; when the minimiser of the quadratic
// through f(x0), its slope g's and f(x0 + s) lies closer than that, grow only
// to it, but at least by INCFAC. A longer Newton step that promises clearly
// more is tried at once with the larger radius.
Stage Assessment::very_good_step() {
  const double fdiff = v_(F_DIFF);
  const double gts = v_(GRAD_DOT_STEP);
  v_(RADIUS_FACTOR) = v_(RDFCMX);
  if (fdiff < gts * (0.5 / v_(RADIUS_FACTOR) - 1.0)) {
    v_(RADIUS_FACTOR) = std::max(v_(INCFAC), 0.5 * gts / (gts + fdiff));
  }
  iv_(STEP_VERDICT) = kAccept;
  if (v_(STPPAR) == 0.0) return Stage::kKeepVerdict;  // the Newton step itself: nothing longer
  if (v_(NEWTON_NORM) >= 0.0 && (v_(NEWTON_NORM) < kNewtonLengthRatio * v_(STEP_NORM) ||
                                 v_(NEWTON_DECREASE) < kNewtonDecreaseRatio * fdiff)) {
    return Stage::kKeepVerdict;
  }
  // Keep this trial as the best and retry with the larger radius.
  iv_(STEP_VERDICT) = kRetryChangedRadius;
  iv_(RADIUS_INCREASES) += 1;
  return Stage::kSaveBestTrial;
}

// Half the step, or, when f increased, the minimiser of the quadratic through
// f(x0), its slope g's and f(x0 + s), at t = -g's / (2 (f(x0+s) - f(x0) - g's))
// of the step, but no less than RDFCMN of it.
Stage Assessment::shrink_radius() {
  iv_(SAVED_VERDICT) = iv_(STEP_VERDICT);
  v_(RADIUS_FACTOR) = rfac1_ / 2.0;
  const double gts = v_(GRAD_DOT_STEP);
  const double fdiff = v_(F_DIFF);
  if (gts + fdiff < gts) {
    v_(RADIUS_FACTOR) = rfac1_ * std::max(v_(RDFCMN), 0.5 * gts / (gts + fdiff));
  }
  return Stage::kTestFalseConvergence;
}

Stage Assessment::test_false_convergence() {
  if (v_(RELDX) <= v_(XFTOL)) {
    iv_(STEP_VERDICT) = kFalseConverged;
    return Stage::kTestConvergence;
  }
  iv_(STEP_VERDICT) = iv_(SAVED_VERDICT);
  return v_(F) < v_(F_START) ? Stage::kSaveBestTrial : Stage::kKeepVerdict;
}

Stage Assessment::save_best_trial() {
  v_(F_BEST_TRIAL) = v_(F);
  iv_(BEST_MODEL_KIND) = iv_(MODEL_KIND);
  if (iv_(RESTORE_MODE) != kBackToX0) iv_(RESTORE_MODE) = kSaveAsBest;
  v_(SAVED_STEP_NORM) = v_(STEP_NORM);
  iv_(GRAD_AT_FEVAL) = nfc_;
  v_(PRED_BEST) = v_(PRED_DECREASE);
  v_(GTS_BEST) = v_(GRAD_DOT_STEP);
  return Stage::kKeepVerdict;
}

Stage Assessment::keep_verdict() {
  iv_(SAVED_VERDICT) = iv_(STEP_VERDICT);
  return Stage::kTestConvergence;
}

// Absolute function convergence first; the other tests trust the quadratic
// model and are skipped when f fell by more than twice what it predicted.
Stage Assessment::test_convergence() {
  // Restore the best trial rather than x0 when it is better.
  if (iv_(RESTORE_MODE) == kBackToX0 && v_(F_BEST_TRIAL) < v_(F_START)) {
    iv_(RESTORE_MODE) = kRestoreBestTrial;
  }
  if (std::fabs(v_(F)) < v_(AFCTOL)) iv_(STEP_VERDICT) = kAbsoluteFConverged;
  if (!(0.5 * v_(F_DIFF) <= v_(PRED_DECREASE))) return Stage::kDone;

  const double emax = v_(RFCTOL) * std::fabs(v_(F_START));
  const double emaxs = v_(SCTOL) * std::fabs(v_(F_START));
  const double pred = v_(PRED_DECREASE);
  const double stppar = v_(STPPAR);
  // Singular: hardly any decrease predicted for a long step or the Newton step.
  if (pred <= emaxs && (v_(STEP_NORM) > v_(LMAXS) || stppar == 0.0)) {
    iv_(STEP_VERDICT) = kSingularConverged;
  }
  if (v_(NEWTON_NORM) >= 0.0) {
    // Relative function: the Newton step promises at most RFCTOL |f|.
    const double nred = v_(NEWTON_DECREASE);
    const bool relative_f = (nred > 0.0 && nred <= emax) || (nred == 0.0 && pred == 0.0);
    // x: a Newton step from the trial point itself moved x by at most XCTOL.
    const bool x_moved_little = stppar == 0.0 && v_(RELDX) <= v_(XCTOL) && goodx_;
    if (relative_f && x_moved_little) {
      iv_(STEP_VERDICT) = kXAndRelativeFConverged;
    } else if (relative_f) {
      iv_(STEP_VERDICT) = kRelativeFConverged;
    } else if (x_moved_little) {
      iv_(STEP_VERDICT) = kXConverged;
    }
  }
  return consider_singular_test_step(emaxs);
}

// When no convergence was found for a step off the Newton point, a test step
// of length LMAXS may be needed to tell whether f could still drop by a
// relative SCTOL (emaxs in absolute terms) within that length. It is not
// when the prediction already exceeds emaxs, when the Newton step is short,
// or when scaling the step's prediction to that length exceeds it.
Stage Assessment::consider_singular_test_step(double emaxs) {
  const int verdict = iv_(STEP_VERDICT);
  if (!((verdict < kSingularTestStep || verdict == kFalseConverged) && v_(STPPAR) != 0.0)) {
    return Stage::kDone;
  }
  const double pred = v_(PRED_DECREASE);
  const double step_norm = v_(STEP_NORM);
  const double lmaxs = v_(LMAXS);
  if (step_norm <= lmaxs) {
    if (emaxs <= pred || (v_(NEWTON_NORM) > 0.0 && 0.5 * v_(NEWTON_NORM) <= lmaxs)) {
      return Stage::kDone;
    }
  } else {
    if (0.5 * step_norm <= lmaxs) return Stage::kDone;
    const double t = lmaxs / step_norm;
    if (emaxs <= t * (2.0 - t) * pred) return Stage::kDone;
  }
  if (!(v_(NEWTON_DECREASE) >= 0.0)) return Stage::kTestSingularConvergence;
  // Ask for the test step; the real step's values wait in the best-trial
  // slots (a negative length remembers a false-convergence verdict).
  v_(GTS_BEST) = v_(GRAD_DOT_STEP);
  v_(SAVED_STEP_NORM) = verdict == kFalseConverged ? -step_norm : step_norm;
  v_(PRED_BEST) = pred;
  iv_(RESTORE_MODE) = iv_(RESTORE_MODE) == kRestoreBestTrial ? kKeepX : kSaveAsBest;
  iv_(STEP_VERDICT) = kSingularTestStep;
  return Stage::kDone;
}

// NEWTON_DECREASE holds the negative of the test step's predicted decrease.
Stage Assessment::test_singular_convergence() {
  if (-v_(NEWTON_DECREASE) <= v_(SCTOL) * std::fabs(v_(F_START))) {
    iv_(STEP_VERDICT) = kSingularConverged;
  }
  return Stage::kDone;
}

}  // namespace

void da7sst(IvView iv, int /*liv*/, int /*lv*/, VView v) { Assessment(iv, v).run(); }

// Relative change in x: the largest scaled component of the step over the
// largest scaled size of x and x0. Zero when both points are zero.
double drldst(int p, CVec d, CVec x, CVec x0) {
  double emax = 0.0;
  double xmax = 0.0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(p, 0)); ++i) {
    const double t = std::fabs(d[i] * (x[i] - x0[i]));
    if (xmax < t) xmax = t;
    const double s = d[i] * (std::fabs(x[i]) + std::fabs(x0[i]));
    if (emax < s) emax = s;
  }
  return emax > 0.0 ? xmax / emax : 0.0;
}

// 2-norm as scale * sqrt(sum (x_i/scale)^2) with scale the largest |x_i| seen
// so far, so that no square overflows; ratios at or below dr7mdc(kSqrtTiny)
// are dropped, as their squares would underflow anyway.
double dv2nrm(int p, CVec x) {
  static const double sqteta = dr7mdc(kSqrtTiny);
  const auto n = static_cast<std::size_t>(std::max(p, 0));
  std::size_t first = 0;
  while (first < n && x[first] == 0.0) ++first;
  if (first == n) return 0.0;
  double scale = std::fabs(x[first]);
  if (first + 1 == n) return scale;
  double t = 1.0;
  for (std::size_t i = first + 1; i < n; ++i) {
    const double xi = std::fabs(x[i]);
    if (xi <= scale) {
      const double r = xi / scale;
      if (r > sqteta) t += r * r;
    } else {
      double r = scale / xi;
      if (r <= sqteta) r = 0.0;
      t = 1.0 + t * r * r;
      scale = xi;
    }
  }
  return scale * std::sqrt(t);
}

}  // namespace gxe::minimizer
