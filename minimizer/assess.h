#ifndef GXE_MINIMIZER_ASSESS_H_
#define GXE_MINIMIZER_ASSESS_H_

// Step assessment of the trust-region iteration and the two measures it and
// the step routine rely on: the relative step size and a safe 2-norm.

#include "minimizer/slots.h"

namespace gxe::minimizer {

// Verdicts of the step assessment, kept in STEP_VERDICT. On entry the slot
// holds the previous verdict, which tells what the trial being judged was.
// The convergence verdicts come in the order of their codes, kXConvergence to
// kFalseConvergence.
enum Verdict : int {
  kRetrySmallerRadius = 1,      // too little decrease, trial stages left: smaller radius
  kAcceptStagesLeft = 2,        // modest decrease, trial stages left: accept
  kAcceptTestGradient = 3,      // good step: accept; the gradient tests decide on growth
  kAccept = 4,                  // accept, RADIUS_FACTOR set; the driver's entry for a first trial
  kRetryChangedRadius = 5,      // retry with the radius changed by RADIUS_FACTOR
  kSingularTestStep = 6,        // measure a step of length LMAXS: is the model singular?
  kXConverged = 7,              // x-convergence
  kRelativeFConverged = 8,      // relative function convergence
  kXAndRelativeFConverged = 9,  // both
  kAbsoluteFConverged = 10,     // absolute function convergence
  kSingularConverged = 11,      // singular convergence
  kFalseConverged = 12,         // false convergence
  kBadEntryVerdict = 13,        // the entry verdict was outside 1..12
  kRetestingConvergence = 14,   // driver only, in SAVED_VERDICT: a convergence awaits its gradient
};

// What the driver does with x after an assessment, kept in RESTORE_MODE.
enum RestoreMode : int {
  kKeepX = 0,            // x stays
  kBackToX0 = 1,         // x returns to x0, the start of the iteration
  kSaveAsBest = 2,       // x is remembered as the best trial so far
  kRestoreBestTrial = 3, // x returns to the best trial
};

// Judges the trial step of the current iteration from the values in V (f at
// x0 and at the trial, the predicted decrease, g's, step and Newton-step
// lengths, RELDX) and the entry verdict in IV: sets the new verdict, the
// radius factor, RESTORE_MODE and the best-trial bookkeeping. liv and lv are
// not read (the slots used lie within the fixed layout).
void da7sst(IvView iv, int liv, int lv, VView v);

// Relative change in x over the first p variables with scale d:
// max_i |d(i)(x(i) - x0(i))| / max_i d(i)(|x(i)| + |x0(i)|), 0 when x and x0
// are both 0.
double drldst(int p, CVec d, CVec x, CVec x0);

// 2-norm of the first p entries of x, without overflow or harmful underflow.
double dv2nrm(int p, CVec x);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_ASSESS_H_
