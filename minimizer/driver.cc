// Reverse-communication driver of the bounded trust-region minimizer.
//
// Each call of drmngb advances the minimization until it needs f or the
// gradient at the current x (it returns with IV(1) = 1 or 2 and is called
// again with the answer) or until it ends with a result code. All state
// lives in the caller's IV and V arrays, so a run may be suspended after any
// return and resumed later.
//
// One iteration: select the free variables (those not held at a bound by a
// gradient pointing out of the box), take a bounded double-dogleg step inside
// the trust region, judge it (accept, retry with another radius, fall back to
// the best trial, or declare convergence), and after an accepted step update
// the Cholesky factor of the Hessian approximation by damped BFGS.
//
// Storage behind the fixed slots of V (n variables, each area follows the
// previous one):
//   L            n(n+1)/2  packed factor, permuted order
//   x0 area      2n        x0, then the step routine's scaled-D work vector
//   step area    2n        the step, then the step routine's scaled step
//   best area    n         best trial point; later H*step; later scratch
//   work area    2n        Newton step / update vector w, then the previous
//                          gradient g0 (y = g - g0 after the new gradient)
//   scaled grad  2n        g/D permuted, then the step routine's model gradient
// and, in IV, the permutation of the variables (free ones first).
//
// The cases of the protocol are numbered R1 to R15 below: R1 and R2 answer
// the two requests, R3 and R4 (re)start, R5 to R14 make up an iteration
// (summary, limits, new iteration, step, assessment, accept, secant update)
// and R15 is the projection onto the box.

#include "minimizer/minimizer.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <span>

#include "minimizer/assess.h"
#include "minimizer/dmngb.h"
#include "minimizer/dogleg.h"
#include "minimizer/linalg.h"
#include "minimizer/params.h"
#include "minimizer/secant.h"
#include "minimizer/summary.h"

namespace gxe::minimizer {

namespace {

// Fixed parts of the ALG = 2 layout: allocated storage must lie behind them.
constexpr int kFixedIv = 59;
constexpr int kFixedV = 71;

// A larger radius that promises no more than this multiple of the decrease
// already obtained is not worth an evaluation.
constexpr double kExpansionPayoff = 1.2;

// Bound on steps computed in one call without asking for an evaluation. The
// assessment always ends such a chain after a few passes (a zero step gives
// zero relative change and so a convergence verdict); the bound only keeps a
// state corrupted by non-finite values from cycling for ever.
constexpr int kMaxSilentSteps = 1000;

// Counter increment that stops at the largest int instead of overflowing
// (the counters are bounded by the limits in any run that was not tampered
// with).
void bump(int& counter) {
  if (counter < INT_MAX) ++counter;
}

bool area_fits(long long start, long long size, long long first, long long length) {
  return start >= first && start + size - 1 <= length;
}

// The allocated areas of a run of n variables lie inside the arrays and
// behind their fixed slots.
bool layout_fits(IvView iv, int liv, int lv, int n) {
  if (n < 1) return false;
  const long long nn = n;
  return area_fits(iv(PERM_AT), nn, kFixedIv + 1, liv) &&
         area_fits(iv(FACTOR_AT), nn * (nn + 1) / 2, kFixedV + 1, lv) &&
         area_fits(iv(X0_AT), 2 * nn, kFixedV + 1, lv) &&
         area_fits(iv(STEP_AT), 2 * nn, kFixedV + 1, lv) &&
         area_fits(iv(BEST_STEP_AT), nn, kFixedV + 1, lv) &&
         area_fits(iv(WORK_AT), 2 * nn, kFixedV + 1, lv) &&
         area_fits(iv(SCALED_GRAD_AT), 2 * nn, kFixedV + 1, lv);
}

// True when perm holds each of 1..n exactly once. Duplicates are found by
// marking: entry k-1 is negated when the value k is met; the signs are
// restored afterwards.
bool is_permutation(std::span<int> perm) {
  const auto n = static_cast<long long>(perm.size());
  for (const int k : perm) {
    if (k < 1 || k > n) return false;
  }
  bool ok = true;
  for (std::size_t i = 0; i < perm.size() && ok; ++i) {
    int& mark = perm[at0(std::abs(perm[i]))];
    if (mark < 0) {
      ok = false;
    } else {
      mark = -mark;
    }
  }
  for (int& k : perm) k = std::abs(k);
  return ok;
}

// Lays out the areas of a fresh start behind the factor (and the
// permutation in IV). False when they do not fit the arrays.
bool allocate(IvView iv, int liv, int lv, int n) {
  const long long nn = n;
  const long long factor = iv(FACTOR_AT);
  const long long x0 = factor + nn * (nn + 1) / 2;
  const long long step = x0 + 2 * nn;
  const long long best = step + 2 * nn;
  const long long work = best + nn;
  const long long scaled = work + 2 * nn;
  const long long next_v = scaled + 2 * nn;
  const long long perm = iv(PERM_AT);
  if (n < 1 || factor <= kFixedV || next_v - 1 > lv || perm <= kFixedIv || perm + nn - 1 > liv) {
    return false;
  }
  iv(X0_AT) = static_cast<int>(x0);
  iv(STEP_AT) = static_cast<int>(step);
  iv(BEST_STEP_AT) = static_cast<int>(best);
  iv(WORK_AT) = static_cast<int>(work);
  iv(SCALED_GRAD_AT) = static_cast<int>(scaled);
  iv(NEXT_V) = static_cast<int>(next_v);
  iv(NEXT_IV) = static_cast<int>(perm + nn);
  return true;
}

// Where the run goes next inside one call. Names follow the cases below.
enum class Next {
  kSummary,       // R5
  kIterLimit,     // R6
  kNewIteration,  // R7
  kInterrupt,     // R8
  kEvalLimit,     // R9
  kLimitExit,     // R10
  kStep,          // R11
  kAssess,        // R12
  kAccept,        // R13
  kSecantUpdate,  // R14
  kReturn,        // back to the caller with IV(1) set
};

// One call of the driver over the caller's arrays.
class Driver {
 public:
  Driver(CVec b, Vec d, Vec g, IvView iv, int liv, int lv, int n, VView v, Vec x)
      : b_(b), d_(d), g_(g), iv_(iv), v_(v), x_(x), liv_(liv), lv_(lv), n_(n) {}

  void run(double fx);

 private:
  // Views of the allocated areas; valid only after layout_fits.
  void bind_areas();
  // The permutation and the free-variable count of a run in progress can
  // serve as indices: a permutation of 1..n and a count in 0..n.
  bool run_state_consistent() {
    return is_permutation(perm_) && iv_(FREE_COUNT) >= 0 && iv_(FREE_COUNT) <= n_;
  }

  double lower(int j) const { return b_[2 * at0(j)]; }
  double upper(int j) const { return b_[2 * at0(j) + 1]; }

  bool dimensions_consistent(bool fresh);
  Next finish(int code);
  Next answer(int request, double fx);
  Next function_value(double fx);
  Next gradient_value();
  Next restart();
  Next initialise();
  Next iteration_limit();
  Next new_iteration();
  Next evaluation_limit();
  Next limit_exit();
  Next step();
  Next assess();
  void apply_restore_mode();
  Next accept();
  Next secant_update();
  void select_free_variables();
  void project();

  CVec b_;
  Vec d_;
  Vec g_;
  IvView iv_;
  VView v_;
  Vec x_;
  int liv_, lv_, n_;

  std::span<int> perm_;
  Vec l_, x0_, td_, step_, dst_, best_, newton_, g0_, scaled_, model_grad_;

  int restore_code_ = kRestoreBestTrial;  // RESTORE_MODE left after restoring the best trial
  int silent_steps_ = 0;  // steps computed in this call without an evaluation
};

void Driver::bind_areas() {
  const auto nn = static_cast<std::size_t>(n_);
  perm_ = iv_.area(iv_(PERM_AT), n_);
  l_ = v_.area(iv_(FACTOR_AT), static_cast<int>(nn * (nn + 1) / 2));
  x0_ = v_.area(iv_(X0_AT), n_);
  td_ = v_.area(iv_(X0_AT) + n_, n_);
  step_ = v_.area(iv_(STEP_AT), n_);
  dst_ = v_.area(iv_(STEP_AT) + n_, n_);
  best_ = v_.area(iv_(BEST_STEP_AT), n_);
  newton_ = v_.area(iv_(WORK_AT), n_);
  g0_ = v_.area(iv_(WORK_AT) + n_, n_);
  scaled_ = v_.area(iv_(SCALED_GRAD_AT), n_);
  model_grad_ = v_.area(iv_(SCALED_GRAD_AT) + n_, n_);
}

Next Driver::finish(int code) {
  iv_(RETURN_CODE) = code;
  ditsum(d_, g_, iv_, liv_, lv_, n_, v_, x_);
  return Next::kReturn;
}

// The vectors must hold n values (the bounds 2n), and a run in progress
// needs its fixed slots; anything else is a caller error reported as
// inconsistent dimensions rather than read out of range.
bool Driver::dimensions_consistent(bool fresh) {
  const auto nn = static_cast<std::size_t>(n_ > 0 ? n_ : 0);
  if (n_ >= 1 && (d_.size() < nn || x_.size() < nn || b_.size() < 2 * nn)) return false;
  return fresh || (liv_ >= kFixedIv && lv_ >= kFixedV);
}

void Driver::run(double fx) {
  const int code = iv_(RETURN_CODE);
  const bool fresh = code == kDefaultsFirst || code == kFreshStart || code == kSizeOnly;
  if (!dimensions_consistent(fresh)) {
    finish(kInconsistentDimensions);
    return;
  }

  Next next = code == kNeedF || code == kNeedGradient ? answer(code, fx) : restart();
  while (next != Next::kReturn) {
    switch (next) {
      case Next::kSummary:  // R5
        ditsum(d_, g_, iv_, liv_, lv_, n_, v_, x_);
        next = Next::kIterLimit;
        break;
      case Next::kIterLimit:
        next = iteration_limit();
        break;
      case Next::kNewIteration:
        next = new_iteration();
        break;
      case Next::kInterrupt:  // R8: an interrupt request ends the run like a limit
        if (stopx(0)) {
          iv_(RETURN_CODE) = kInterrupted;
          next = Next::kLimitExit;
        } else {
          next = Next::kEvalLimit;
        }
        break;
      case Next::kEvalLimit:
        next = evaluation_limit();
        break;
      case Next::kLimitExit:
        next = limit_exit();
        break;
      case Next::kStep:
        if (++silent_steps_ > kMaxSilentSteps) {
          next = finish(kFalseConvergence);
        } else {
          next = step();
        }
        break;
      case Next::kAssess:
        next = assess();
        break;
      case Next::kAccept:
        next = accept();
        break;
      case Next::kSecantUpdate:
        next = secant_update();
        break;
      case Next::kReturn:
        break;
    }
  }
}

// The caller answers a request (R1 or R2) of a run whose storage and state
// must still be intact.
Next Driver::answer(int request, double fx) {
  const auto nn = static_cast<std::size_t>(n_ > 0 ? n_ : 0);
  if (!layout_fits(iv_, liv_, lv_, n_) || g_.size() < nn) return finish(kInconsistentDimensions);
  bind_areas();
  if (!run_state_consistent()) return finish(kInconsistentDimensions);
  return request == kNeedF ? function_value(fx) : gradient_value();
}

// R1. f has been computed at x. The first value starts the run (the gradient
// is asked for next); later values are trial points to be judged.
Next Driver::function_value(double fx) {
  v_(F) = fx;
  if (iv_(START_PHASE) >= 0) {
    restore_code_ = kRestoreBestTrial;
    return Next::kAssess;
  }
  v_(F_START) = fx;
  if (iv_(EVAL_FAILED) != 0) return finish(kInitialFFailed);
  iv_(RETURN_CODE) = kNeedGradient;
  return Next::kReturn;
}

// R2. The gradient has been computed at x.
Next Driver::gradient_value() {
  if (iv_(EVAL_FAILED) != 0) return finish(kGradientFailed);
  select_free_variables();

  // A convergence or limit code held back until x and g were consistent.
  if (iv_(CONVERGENCE_CODE) != 0) {
    const int pending = iv_(CONVERGENCE_CODE);
    iv_(CONVERGENCE_CODE) = 0;
    return finish(pending);
  }
  if (iv_(START_PHASE) == 0) return Next::kSecantUpdate;
  // First gradient: the trust region starts at LMAX0.
  v_(RADIUS) = v_(LMAX0);
  iv_(START_PHASE) = 0;
  return Next::kSummary;
}

// R2, continued. A variable is held for this iteration when its bounds
// coincide, or when it sits on a bound and the gradient points out of the
// box there (-g would push it further out). Held variables are moved behind
// the free ones, in the permutation and in the factor (whose columns are
// re-triangularised by plane reflections). The scaled gradient g/D is then
// formed in permuted order and its norm over the free variables taken.
void Driver::select_free_variables() {
  const int previously_held = n_ - iv_(FREE_COUNT);
  int n1 = n_;
  for (int i = 1; i <= n_; ++i) {
    const int p = n_ + 1 - i;
    const int j = perm_[at0(p)];
    const double xj = x_[at0(j)];
    const double gj = g_[at0(j)];
    const bool held =
        lower(j) >= upper(j) || (xj <= lower(j) && gj > 0.0) || (xj >= upper(j) && gj < 0.0);
    if (held) {
      if (p < n1) {
        i7shft(n1, p, perm_);
        dq7rsh(p, n1, false, model_grad_, l_, scaled_);
      }
      --n1;
    } else if (i <= previously_held) {
      // A variable freed again: the point has moved off that bound's face,
      // so a convergence verdict reached with it held no longer applies.
      iv_(CONVERGENCE_CODE) = 0;
    }
  }
  iv_(FREE_COUNT) = n1;
  v_(SCALED_GRAD_NORM) = 0.0;
  if (n1 > 0) {
    dv7vmp(n_, scaled_, g_, d_, -1);
    dv7ipr(n_, perm_, scaled_);
    v_(SCALED_GRAD_NORM) = dv2nrm(n1, scaled_);
  }
}

// R3. Any code other than a request answered: defaults, storage, checks,
// then a fresh start or the continuation of a run that had returned.
Next Driver::restart() {
  if (iv_(RETURN_CODE) == kDefaultsFirst) divset(kBoundedFamily, iv_, liv_, lv_, v_);
  int code = iv_(RETURN_CODE);
  if ((code == kFreshStart || code == kSizeOnly) && liv_ >= EXTRA_V) {
    const long long nn = n_;
    detail::add_storage(iv_(EXTRA_V), nn * (nn + 19) / 2);
    detail::add_storage(iv_(EXTRA_IV), nn);
  }
  dparck(kBoundedFamily, d_, iv_, liv_, lv_, n_, v_);
  code = iv_(RETURN_CODE);
  // A settings failure returns without a summary.
  if (code > kStorageReady || code < kXConvergence) return Next::kReturn;

  const auto nn = static_cast<std::size_t>(n_);
  switch (code) {
    case kFreshStart:
    case kSizeOnly:
      if (!allocate(iv_, liv_, lv_, n_)) return finish(kInconsistentDimensions);
      if (code == kSizeOnly) {
        iv_(RETURN_CODE) = kStorageReady;
        return Next::kReturn;
      }
      return initialise();
    case kStorageReady:
      if (!layout_fits(iv_, liv_, lv_, n_)) return finish(kInconsistentDimensions);
      return initialise();
    default:
      break;
  }

  // Continuing a run that had returned a result.
  if (!layout_fits(iv_, liv_, lv_, n_) || g_.size() < nn) return finish(kInconsistentDimensions);
  bind_areas();
  if (!run_state_consistent()) return finish(kInconsistentDimensions);
  if (code <= kFalseConvergence) {  // a convergence code: test convergence again
    restore_code_ = kRestoreBestTrial;
    return Next::kAssess;
  }
  if (code == kIterLimitReached) return Next::kIterLimit;
  // The evaluation limit or an interrupt: go on from x0 if the last trial did
  // not improve on it, else start a new iteration from the improved x.
  if (v_(F_START) <= v_(F)) return Next::kEvalLimit;
  v_(RADIUS_FACTOR) = 1.0;
  return Next::kNewIteration;
}

// R4. Fresh start: counters, the identity permutation, the initial factor,
// and the first request for f at the starting point projected onto the box.
Next Driver::initialise() {
  bind_areas();
  iv_(ITER_COUNT) = 0;
  iv_(FEVAL_COUNT) = 1;
  iv_(GEVAL_COUNT) = 1;
  iv_(GRAD_AT_FEVAL) = 1;
  iv_(START_PHASE) = -1;
  iv_(MODEL_KIND) = 1;
  iv_(STAGE_LIMIT) = 1;
  iv_(EVAL_FAILED) = 0;
  iv_(CONVERGENCE_CODE) = 0;
  iv_(RADIUS_INCREASES) = 0;
  iv_(FREE_COUNT) = n_;
  v_(RESERVED_9) = 0.0;

  for (int i = 1; i <= n_; ++i) {
    perm_[at0(i)] = i;
    if (upper(i) < lower(i)) return finish(kBoundsCrossed);
  }

  // A nonnegative DINIT replaces every scale entry.
  if (v_(DINIT) >= 0.0) dv7scp(n_, d_, v_(DINIT));

  // Initial Hessian approximation diag(D)^2, i.e. L = diag(D).
  if (iv_(INITH) == 1) {
    dv7scp(static_cast<int>(l_.size()), l_, 0.0);
    const Packed<double> lf(l_);
    for (int i = 1; i <= n_; ++i) {
      const double di = d_[at0(i)];
      lf(i, i) = di > 0.0 ? di : 1.0;
    }
  }

  iv_(RETURN_CODE) = kNeedF;
  project();
  return Next::kReturn;
}

// R6. Iteration limit.
Next Driver::iteration_limit() {
  if (iv_(ITER_COUNT) >= iv_(ITER_LIMIT)) return finish(kIterLimitReached);
  return Next::kNewIteration;
}

// R7. New iteration from the current x. The radius follows the last step:
// it shrinks whenever the assessment asked for a factor below 1, and grows
// only when factor * step length exceeds the present radius.
Next Driver::new_iteration() {
  const int k = iv_(ITER_COUNT);
  bump(iv_(ITER_COUNT));
  if (k != 0) {
    const double t = v_(RADIUS_FACTOR) * v_(STEP_NORM);
    if (v_(RADIUS_FACTOR) < 1.0 || t > v_(RADIUS)) v_(RADIUS) = t;
  }
  v_(F_START) = v_(F);
  iv_(STEP_VERDICT) = kAccept;  // the last step was accepted: the next trial is a first one
  iv_(DOGLEG_PASSES) = -1;
  dv7cpy(n_, x0_, x_);
  return Next::kInterrupt;
}

// R9. Evaluation limit, checked before every trial step.
Next Driver::evaluation_limit() {
  if (iv_(FEVAL_COUNT) >= iv_(EVAL_LIMIT)) {
    iv_(RETURN_CODE) = kEvalLimitReached;
    return Next::kLimitExit;
  }
  return Next::kStep;
}

// R10. Limit exit. If the last trial improved on x0 it is kept, and its
// gradient is fetched first so that x and g agree on return; the code waits
// in CONVERGENCE_CODE meanwhile.
Next Driver::limit_exit() {
  if (v_(F_START) <= v_(F)) return finish(iv_(RETURN_CODE));
  iv_(CONVERGENCE_CODE) = iv_(RETURN_CODE);
  return Next::kAccept;
}

// R11. Trial step from x0: a double-dogleg step in the trust region, cut at
// the box. Steps that need no evaluation go straight to the assessment.
Next Driver::step() {
  dd7dgb(b_, d_, scaled_, dst_, g_, perm_, iv_(DOGLEG_PASSES), l_, lv_, n_, iv_(FREE_COUNT),
         newton_, step_, td_, model_grad_, v_, g0_, x0_);

  // The singular-convergence test step is only measured, never evaluated.
  if (iv_(STEP_VERDICT) == kSingularTestStep) {
    restore_code_ = iv_(RESTORE_MODE) == kSaveAsBest ? kSaveAsBest : kRestoreBestTrial;
    return Next::kAssess;
  }
  iv_(EVAL_FAILED) = 0;
  // A zero step (no free variable, or no room left): judge it as it is.
  if (v_(STEP_NORM) <= 0.0) {
    restore_code_ = kRestoreBestTrial;
    return Next::kAssess;
  }
  // A retry with a larger radius whose predicted decrease hardly exceeds the
  // decrease already obtained: keep what we have.
  if (iv_(STEP_VERDICT) == kRetryChangedRadius && v_(RADIUS_FACTOR) > 1.0 &&
      v_(PRED_DECREASE) <= kExpansionPayoff * v_(F_DIFF)) {
    restore_code_ = iv_(RESTORE_MODE) == kSaveAsBest ? kKeepX : kRestoreBestTrial;
    return Next::kAssess;
  }
  dv2axy(n_, x_, 1.0, step_, x0_);
  bump(iv_(FEVAL_COUNT));
  iv_(RETURN_CODE) = kNeedF;
  project();
  return Next::kReturn;
}

// R12. Judge the trial: the assessment sets the verdict and what to do with
// x (RESTORE_MODE), then the verdict decides how to go on.
Next Driver::assess() {
  v_(RELDX) = drldst(n_, d_, x_, x0_);
  da7sst(iv_, liv_, lv_, v_);
  apply_restore_mode();

  const int verdict = iv_(STEP_VERDICT);
  switch (verdict) {
    case kAcceptStagesLeft:
    case kAcceptTestGradient:
    case kAccept:
      return Next::kAccept;
    case kSingularTestStep:
      v_(RADIUS) = v_(LMAXS);
      return Next::kStep;
    case kXConverged:
    case kRelativeFConverged:
    case kXAndRelativeFConverged:
    case kAbsoluteFConverged:
    case kSingularConverged:
    case kFalseConverged: {  // the verdicts in order of the codes kXConvergence..kFalseConvergence
      iv_(CONVERGENCE_CODE) = kXConvergence + (verdict - kXConverged);
      if (v_(F_START) <= v_(F) || iv_(SAVED_VERDICT) == kRetestingConvergence) {
        const int result = iv_(CONVERGENCE_CODE);
        iv_(CONVERGENCE_CODE) = 0;
        return finish(result);
      }
      // x improved on x0: accept it and return the code once its gradient
      // is known (unless a variable gets freed there).
      iv_(SAVED_VERDICT) = kRetestingConvergence;
      return Next::kAccept;
    }
    case kBadEntryVerdict:
      return finish(kBadAssessInput);
    case kRetestingConvergence:
      return Next::kSecantUpdate;
    default:  // kRetrySmallerRadius, kRetryChangedRadius: retry with the new radius
      v_(RADIUS) = v_(RADIUS_FACTOR) * v_(STEP_NORM);
      return Next::kInterrupt;
  }
}

// What the assessment asked to be done with x.
void Driver::apply_restore_mode() {
  switch (iv_(RESTORE_MODE)) {
    case kKeepX:
      break;
    case kBackToX0:
      dv7cpy(n_, x_, x0_);
      break;
    case kSaveAsBest:
      dv7cpy(n_, best_, x_);
      break;
    case kRestoreBestTrial:  // and measure the step to it
      dv7cpy(n_, x_, best_);
      dv2axy(n_, step_, -1.0, x0_, x_);
      v_(RELDX) = drldst(n_, d_, x_, x0_);
      iv_(RESTORE_MODE) = restore_code_;
      break;
    default:
      dv7cpy(n_, x_, x0_);
      break;
  }
}

// R13. Accept x: the step actually taken (projection may have shortened it),
// H*step when the gradient tests will need it, the old gradient saved, and a
// request for the gradient at x.
Next Driver::accept() {
  dv2axy(n_, step_, -1.0, x0_, x_);
  if (iv_(STEP_VERDICT) == kAcceptTestGradient) {
    // H = L L' lives in permuted order: permute the step, multiply, and
    // scatter the product back to the variables' own positions.
    for (int i = 1; i <= n_; ++i) dst_[at0(i)] = step_[at0(perm_[at0(i)])];
    dl7tvm(n_, dst_, l_, dst_);
    dl7vml(n_, dst_, l_, dst_);
    for (int i = 1; i <= n_; ++i) best_[at0(perm_[at0(i)])] = dst_[at0(i)];
  }
  dv7cpy(n_, g0_, g_);
  bump(iv_(GEVAL_COUNT));
  iv_(EVAL_FAILED) = 0;
  iv_(RETURN_CODE) = kNeedGradient;
  return Next::kReturn;
}

// R14. Secant update after the new gradient. For a step judged "accept,
// gradient tests decide", the radius is enlarged when the quadratic model
// predicted the gradient change well (|(Hs - y)/D| small against |g/D|) or
// when the slope along the step is still strongly negative (the step was too
// short). Then L is updated by damped BFGS in permuted order.
Next Driver::secant_update() {
  dv2axy(n_, g0_, -1.0, g0_, g_);  // y = g - g0
  if (iv_(STEP_VERDICT) == kAcceptTestGradient) {
    dv2axy(n_, best_, -1.0, g0_, best_);  // H s - y
    dv7vmp(n_, best_, best_, d_, -1);     // ... / D
    if (dv2nrm(n_, best_) <= v_(SCALED_GRAD_NORM) * v_(TUNER4) ||
        dd7tpr(n_, g_, step_) < v_(GRAD_DOT_STEP) * v_(TUNER5)) {
      v_(RADIUS_FACTOR) = v_(INCFAC);
    }
  }
  dv7ipr(n_, perm_, step_);
  dv7ipr(n_, perm_, g0_);
  dw7zbf(l_, n_, step_, newton_, g0_, x0_);
  dl7upd(best_, step_, l_, g0_, l_, n_, newton_, x0_);
  iv_(RETURN_CODE) = kNeedGradient;
  return Next::kSummary;
}

// R15. Projection onto the box before every request for f: lower bounds
// first, then upper bounds.
void Driver::project() {
  for (int i = 1; i <= n_; ++i) {
    double& xi = x_[at0(i)];
    if (xi < lower(i)) xi = lower(i);
    if (xi > upper(i)) xi = upper(i);
  }
}

}  // namespace

void drmngb(CVec b, Vec d, double fx, Vec g, IvView iv, int liv, int lv, int n, VView v, Vec x) {
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv < 1) return;  // no slot for a result code
  Driver(b, d, g, iv, liv, lv, n, v, x).run(fx);
}

bool stopx(int /*dummy*/) { return false; }

}  // namespace gxe::minimizer
