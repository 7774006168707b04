// Step assessment of the trust-region iteration and the two measures it and
// the step routine rely on: the relative step size and a safe 2-norm.
//
// da7sst compares the actual decrease f(x0) - f(x0 + s) with the decrease the
// quadratic model predicted for the step s. Their ratio decides whether the
// step is accepted, retried with a smaller radius, or - when the model is
// very good - retried with a larger one; the best trial of the iteration is
// remembered so that a failed retry can fall back to it. Afterwards come the
// convergence tests, which all compare model predictions with the size of f.

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "minimizer/minimizer.h"

namespace gxe::minimizer {

namespace {

// The stages of the assessment. Entry verdicts branch into them; each stage
// names the stage that follows.
enum class Stage {
  kEntryOne,        // previous verdict 1: a smaller radius was tried
  kEntryTwo,        // previous verdict 2: another model was tried
  kEntryFive,       // previous verdict 5: a changed radius was tried
  kEvalCheck,       // S1: did the evaluation of the trial fail?
  kCompareBest,     // S2: is the trial better than the best so far?
  kFallBack,        // S3: return to the best trial
  kOversize,        // X1: step too long or f not computable there
  kDecreaseTest,    // T1
  kRadiusFactor,    // T3
  kFalseConvCheck,  // T4
  kSaveBest,        // T6
  kKeepVerdict,     // T5
  kConvergence,     // C1..C4
  kSingularTest,    // C5
  kDone,
};

}  // namespace

void da7sst(IvView iv, int /*liv*/, int /*lv*/, VView v) {
  int nfc = iv(FEVAL_COUNT);  // evaluation the next gradient will belong to
  double rfac1 = 1.0;         // scale of the radius factor when falling back
  bool goodx = true;          // x is the trial point itself (not a restored one)

  iv(SWITCH_FLAG) = 0;
  iv(RESTORE_MODE) = 0;
  const int entry = iv(STEP_VERDICT);
  if (entry < 1 || entry > 12) {
    iv(STEP_VERDICT) = 13;
    return;
  }

  Stage stage = Stage::kDone;
  switch (entry) {
    case 1: stage = Stage::kEntryOne; break;
    case 2: stage = Stage::kEntryTwo; break;
    case 3:
    case 4:
      // A new iteration: the first trial step.
      iv(STEP_STAGE) = 1;
      iv(RADIUS_INCREASES) = 0;
      v(F_BEST_TRIAL) = v(F_START);
      if (iv(EVAL_FAILED) != 0) {
        iv(STEP_STAGE) = -1;
        iv(SAVED_VERDICT) = entry;
        stage = Stage::kOversize;
      } else {
        stage = Stage::kDecreaseTest;
      }
      break;
    case 5: stage = Stage::kEntryFive; break;
    case 6:
      // The singular-convergence test step of length LMAXS has been
      // computed; its predicted decrease goes to NEWTON_DECREASE and the
      // values of the real step are brought back.
      v(GRAD_DOT_STEP) = v(GTS_BEST);
      v(STEP_NORM) = std::fabs(v(SAVED_STEP_NORM));
      iv(STEP_VERDICT) = v(SAVED_STEP_NORM) <= 0.0 ? 12 : iv(SAVED_VERDICT);
      v(NEWTON_DECREASE) = -v(PRED_DECREASE);
      v(PRED_DECREASE) = v(PRED_BEST);
      iv(RESTORE_MODE) = 3;
      stage = Stage::kSingularTest;
      break;
    case 12: stage = Stage::kFalseConvCheck; break;
    default:
      // 7..11: continuing after a convergence return; test again.
      iv(STEP_VERDICT) = v(SAVED_STEP_NORM) < 0.0 ? 12 : iv(SAVED_VERDICT);
      stage = Stage::kConvergence;
      break;
  }

  double emaxs = 0.0;
  while (stage != Stage::kDone) {
    switch (stage) {
      case Stage::kEntryOne:
        if (iv(MODEL_KIND) == iv(BEST_MODEL_KIND)) {
          iv(STEP_STAGE) = iv(STAGE_LIMIT);
          iv(RADIUS_INCREASES) = -1;
          stage = Stage::kDecreaseTest;
        } else {
          stage = Stage::kEntryTwo;
        }
        break;

      case Stage::kEntryTwo:
        iv(STEP_STAGE) += 1;
        stage = Stage::kEntryFive;
        break;

      case Stage::kEntryFive:
        if (iv(STEP_STAGE) > 0) {
          stage = Stage::kEvalCheck;
        } else if (iv(EVAL_FAILED) != 0) {
          stage = Stage::kOversize;
        } else {
          // Retry after an oversize step: go on as the verdict before it.
          iv(STEP_STAGE) = -iv(STEP_STAGE);
          switch (iv(SAVED_VERDICT)) {
            case 1: stage = Stage::kEntryOne; break;
            case 2: stage = Stage::kEntryTwo; break;
            case 3:
            case 4: stage = Stage::kDecreaseTest; break;
            case 5: stage = Stage::kCompareBest; break;
            default: stage = Stage::kEvalCheck; break;
          }
        }
        break;

      case Stage::kEvalCheck:  // S1
        if (iv(EVAL_FAILED) == 0) {
          stage = Stage::kCompareBest;
        } else {
          iv(EVAL_FAILED) = 0;
          if (iv(RADIUS_INCREASES) <= 0) {
            iv(STEP_STAGE) = -iv(STEP_STAGE);
            iv(SAVED_VERDICT) = iv(STEP_VERDICT);
            stage = Stage::kOversize;
          } else {
            stage = Stage::kFallBack;  // the failure followed a radius increase
          }
        }
        break;

      case Stage::kCompareBest:  // S2
        if (v(F) < v(F_BEST_TRIAL)) {
          stage = Stage::kDecreaseTest;
        } else {
          if (iv(MODEL_KIND) != iv(BEST_MODEL_KIND)) {
            iv(MODEL_KIND) = iv(BEST_MODEL_KIND);
            iv(SWITCH_FLAG) = 1;
          }
          stage = Stage::kFallBack;
        }
        break;

      case Stage::kFallBack:  // S3
        if (v(F_BEST_TRIAL) < v(F_START)) {
          iv(RESTORE_MODE) = 1;
          v(F) = v(F_BEST_TRIAL);
          v(PRED_DECREASE) = v(PRED_BEST);
          v(GRAD_DOT_STEP) = v(GTS_BEST);
          if (iv(SWITCH_FLAG) == 0) rfac1 = v(STEP_NORM) / v(SAVED_STEP_NORM);
          v(STEP_NORM) = v(SAVED_STEP_NORM);
          nfc = iv(GRAD_AT_FEVAL);
          goodx = false;
        }
        stage = Stage::kDecreaseTest;
        break;

      case Stage::kOversize:  // X1: retry from the best point with a shorter step
        iv(EVAL_FAILED) = 0;
        v(RADIUS_FACTOR) = v(DECFAC);
        iv(RADIUS_INCREASES) -= 1;
        iv(STEP_VERDICT) = 5;
        iv(RESTORE_MODE) = 1;
        v(F) = v(F_BEST_TRIAL);
        stage = Stage::kDone;
        break;

      case Stage::kDecreaseTest: {  // T1
        v(F_DIFF) = v(F_START) - v(F);
        const double fdiff = v(F_DIFF);
        if (fdiff <= v(TUNER2) * v(PRED_DECREASE) && iv(RADIUS_INCREASES) <= 0) {
          // 1. Too little decrease: shrink the radius and retry.
          if (v(F) < v(F_START)) {
            iv(GRAD_AT_FEVAL) = nfc;
          } else {
            iv(BEST_MODEL_KIND) = iv(MODEL_KIND);
            v(F_BEST_TRIAL) = v(F);
            v(F) = v(F_START);
            iv(RESTORE_MODE) = 1;
          }
          iv(STEP_VERDICT) = 1;
          if (iv(STEP_STAGE) >= iv(STAGE_LIMIT)) {
            iv(STEP_VERDICT) = 5;
            iv(RADIUS_INCREASES) -= 1;
          }
          stage = Stage::kRadiusFactor;
          break;
        }
        // Enough decrease: the step is acceptable.
        iv(GRAD_AT_FEVAL) = nfc;
        rfac1 = 1.0;
        v(SAVED_STEP_NORM) = v(STEP_NORM);
        if (fdiff <= v(TUNER1) * v(PRED_DECREASE)) {
          // 2. Modest decrease: accept, with a smaller radius next time.
          iv(STEP_VERDICT) = iv(STEP_STAGE) < iv(STAGE_LIMIT) ? 2 : 4;
          stage = Stage::kRadiusFactor;
          break;
        }
        const double gts = v(GRAD_DOT_STEP);
        if (fdiff >= -v(TUNER3) * gts && iv(RADIUS_INCREASES) >= 0 && iv(RESTORE_MODE) != 1) {
          // 3. Very good step: the actual decrease is close to the linear
          // prediction -g's. The radius may grow by RDFCMX; when the
          // minimiser of the quadratic through f(x0), its slope g's and
          // f(x0 + s) lies closer than that, grow only to it, but at least
          // by INCFAC.
          v(RADIUS_FACTOR) = v(RDFCMX);
          if (fdiff < gts * (0.5 / v(RADIUS_FACTOR) - 1.0)) {
            v(RADIUS_FACTOR) = std::max(v(INCFAC), 0.5 * gts / (gts + fdiff));
          }
          iv(STEP_VERDICT) = 4;
          if (v(STPPAR) == 0.0) {
            stage = Stage::kKeepVerdict;  // the Newton step itself: nothing longer to try
            break;
          }
          if (v(NEWTON_NORM) >= 0.0 &&
              (v(NEWTON_NORM) < 2.0 * v(STEP_NORM) || v(NEWTON_DECREASE) < 1.2 * fdiff)) {
            stage = Stage::kKeepVerdict;
            break;
          }
          // The Newton step is at least twice as long and promises at least
          // 1.2 times the decrease obtained: keep this trial as the best and
          // retry with the larger radius.
          iv(STEP_VERDICT) = 5;
          iv(RADIUS_INCREASES) += 1;
          stage = Stage::kSaveBest;
          break;
        }
        // 4. Good step: accept; the gradient tests decide on growth.
        v(RADIUS_FACTOR) = 1.0;
        iv(STEP_VERDICT) = 3;
        stage = Stage::kKeepVerdict;
        break;
      }

      case Stage::kRadiusFactor: {  // T3
        iv(SAVED_VERDICT) = iv(STEP_VERDICT);
        v(RADIUS_FACTOR) = rfac1 / 2.0;
        const double gts = v(GRAD_DOT_STEP);
        const double fdiff = v(F_DIFF);
        if (gts + fdiff < gts) {
          // f increased: take the minimiser of the quadratic through f(x0),
          // its slope g's and f(x0 + s), at t = -g's / (2 (f(x0+s) - f(x0) - g's))
          // of the step, but no less than RDFCMN of it.
          v(RADIUS_FACTOR) = rfac1 * std::max(v(RDFCMN), 0.5 * gts / (gts + fdiff));
        }
        stage = Stage::kFalseConvCheck;
        break;
      }

      case Stage::kFalseConvCheck:  // T4: x hardly moves although f does not decrease enough
        if (v(RELDX) <= v(XFTOL)) {
          iv(STEP_VERDICT) = 12;
          stage = Stage::kConvergence;
        } else {
          iv(STEP_VERDICT) = iv(SAVED_VERDICT);
          stage = v(F) < v(F_START) ? Stage::kSaveBest : Stage::kKeepVerdict;
        }
        break;

      case Stage::kSaveBest:  // T6
        v(F_BEST_TRIAL) = v(F);
        iv(BEST_MODEL_KIND) = iv(MODEL_KIND);
        if (iv(RESTORE_MODE) != 1) iv(RESTORE_MODE) = 2;
        v(SAVED_STEP_NORM) = v(STEP_NORM);
        iv(GRAD_AT_FEVAL) = nfc;
        v(PRED_BEST) = v(PRED_DECREASE);
        v(GTS_BEST) = v(GRAD_DOT_STEP);
        stage = Stage::kKeepVerdict;
        break;

      case Stage::kKeepVerdict:  // T5
        iv(SAVED_VERDICT) = iv(STEP_VERDICT);
        stage = Stage::kConvergence;
        break;

      case Stage::kConvergence: {
        // C1. Restore the best trial rather than x0 when it is better.
        if (iv(RESTORE_MODE) == 1 && v(F_BEST_TRIAL) < v(F_START)) iv(RESTORE_MODE) = 3;
        // C2. Absolute function convergence: f is essentially zero.
        if (std::fabs(v(F)) < v(AFCTOL)) iv(STEP_VERDICT) = 10;
        // The remaining tests trust the quadratic model; they are skipped
        // when f fell by more than twice what the model predicted.
        if (!(0.5 * v(F_DIFF) <= v(PRED_DECREASE))) {
          stage = Stage::kDone;
          break;
        }
        // C3. Relative function, x and singular convergence.
        const double emax = v(RFCTOL) * std::fabs(v(F_START));
        emaxs = v(SCTOL) * std::fabs(v(F_START));
        const double pred = v(PRED_DECREASE);
        const double stppar = v(STPPAR);
        if (pred <= emaxs && (v(STEP_NORM) > v(LMAXS) || stppar == 0.0)) iv(STEP_VERDICT) = 11;
        if (v(NEWTON_NORM) >= 0.0) {
          int i = 0;
          const double nred = v(NEWTON_DECREASE);
          if ((nred > 0.0 && nred <= emax) || (nred == 0.0 && pred == 0.0)) i = 2;
          if (stppar == 0.0 && v(RELDX) <= v(XCTOL) && goodx) i += 1;
          if (i > 0) iv(STEP_VERDICT) = i + 6;
        }
        // C4. Is a test step of length LMAXS needed to tell whether the
        // function could still drop by a relative SCTOL within that length?
        const int verdict = iv(STEP_VERDICT);
        if (!((verdict < 6 || verdict == 12) && stppar != 0.0)) {
          stage = Stage::kDone;
          break;
        }
        const double step_norm = v(STEP_NORM);
        const double lmaxs = v(LMAXS);
        if (step_norm <= lmaxs) {
          if (emaxs <= pred || (v(NEWTON_NORM) > 0.0 && 0.5 * v(NEWTON_NORM) <= lmaxs)) {
            stage = Stage::kDone;
            break;
          }
        } else {
          if (0.5 * step_norm <= lmaxs) {
            stage = Stage::kDone;
            break;
          }
          const double t = lmaxs / step_norm;
          if (emaxs <= t * (2.0 - t) * pred) {
            stage = Stage::kDone;
            break;
          }
        }
        if (v(NEWTON_DECREASE) >= 0.0) {
          v(GTS_BEST) = v(GRAD_DOT_STEP);
          v(SAVED_STEP_NORM) = verdict == 12 ? -step_norm : step_norm;
          v(PRED_BEST) = pred;
          iv(RESTORE_MODE) = iv(RESTORE_MODE) == 3 ? 0 : 2;
          iv(STEP_VERDICT) = 6;
          stage = Stage::kDone;
          break;
        }
        stage = Stage::kSingularTest;
        break;
      }

      case Stage::kSingularTest:  // C5
        if (-v(NEWTON_DECREASE) <= v(SCTOL) * std::fabs(v(F_START))) iv(STEP_VERDICT) = 11;
        stage = Stage::kDone;
        break;

      case Stage::kDone:
        break;
    }
  }
}

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
// so far, so that no square overflows; ratios at or below sqrt(tiny)-ish
// (dr7mdc(2)) are dropped, as their squares would underflow anyway.
double dv2nrm(int p, CVec x) {
  static const double sqteta = dr7mdc(2);
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
