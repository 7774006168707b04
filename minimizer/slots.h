#ifndef GXE_MINIMIZER_SLOTS_H_
#define GXE_MINIMIZER_SLOTS_H_

// Layout of the two caller-owned arrays that hold every setting and all the
// state of a bound-constrained minimization: IV (integers, length LIV) and V
// (doubles, length LV). Slots are numbered from 1 and the numbers are fixed:
// messages print them and callers set slots by number.

#include <cstddef>
#include <span>

namespace gxe::minimizer {

// Named slots of IV (layout of the general-optimisation family, ALG = 2).
enum IvSlot : int {
  RETURN_CODE = 1,        // IV(1): request to the caller or result code
  EVAL_FAILED = 2,        // set nonzero by the caller when f or g cannot be computed
  EXTRA_IV = 3,           // extra IV length requested beyond the minimum
  EXTRA_V = 4,            // extra V length requested beyond the minimum
  MODEL_KIND = 5,         // model number; always 1 here
  FEVAL_COUNT = 6,        // function evaluations so far
  GRAD_AT_FEVAL = 7,      // function evaluation whose point the next gradient belongs to
  RADIUS_INCREASES = 8,   // signed count of radius retries in this iteration
  RESTORE_MODE = 9,       // what to do with x after an assessment (0..3)
  STEP_STAGE = 10,        // trial counter of the step assessment
  STAGE_LIMIT = 11,       // limit on STEP_STAGE
  SWITCH_FLAG = 12,       // model-switch flag of the step assessment
  SAVED_VERDICT = 13,     // verdict kept by the assessment for a later pass
  DTYPE = 16,             // scale-update kind; 0: D never changes
  EVAL_LIMIT = 17,        // maximum number of function evaluations
  ITER_LIMIT = 18,        // maximum number of iterations
  PRINT_LEVEL = 19,       // iteration summary every this many iterations (0: none)
  PRINT_SETTINGS = 20,    // print settings that differ from the defaults
  OUTPUT_UNIT = 21,       // output unit of all messages; 0 = print nothing
  PRINT_SOLUTION = 22,    // print final x, D and g
  PRINT_STATISTICS = 23,  // print final statistics
  PRINT_START = 24,       // print initial x and D
  INITH = 25,             // 1: start the Hessian factor from D
  GRAD_AT = 28,           // first V slot of the gradient
  STEP_VERDICT = 29,      // verdict of the last step assessment (1..13)
  GEVAL_COUNT = 30,       // gradient evaluations so far
  ITER_COUNT = 31,        // iterations so far
  BEST_MODEL_KIND = 32,   // model of the best trial step
  DOGLEG_PASSES = 33,     // -1 at the start of an iteration, then dogleg pass count
  WORK_AT = 34,           // first V slot of a 2N work area
  START_PHASE = 35,       // -1 until the first gradient has been processed, then 0
  HEADER_DUE = 36,        // 1 when the summary's column heading is due
  SCALED_GRAD_AT = 37,    // first V slot of the 2N scaled-gradient area
  LAST_N = 38,            // number of variables at the last fresh start
  SUMMARY_SKIP = 39,      // iterations since the last printed summary line
  STEP_AT = 40,           // first V slot of the 2N step area
  BEST_STEP_AT = 41,      // first V slot of the N-vector kept between trial steps
  FACTOR_AT = 42,         // first V slot of the packed Cholesky factor L
  X0_AT = 43,             // first V slot of the 2N x0 area
  LAST_IV = 44,           // last IV slot needed
  LAST_V = 45,            // last V slot needed
  NEXT_IV = 46,           // first free IV slot
  NEXT_V = 47,            // first free V slot
  FREE_COUNT = 48,        // number of free variables (not held at a bound)
  SAVE_AT = 49,           // first V slot of the saved copy of the real settings
  NVDFLT = 50,            // number of real settings
  ALG = 51,               // the family given to divset
  FEVAL_EXTRA = 52,       // function evaluations not shown in the summary's count
  GEVAL_EXTRA = 53,       // gradient evaluations not shown
  DTYPE_SEEN = 54,        // DTYPE value last reported by the settings printout
  CONVERGENCE_CODE = 55,  // pending convergence code
  PERM_AT = 58,           // first IV slot of the permutation of the variables
};

// Named slots of V.
enum VSlot : int {
  SCALED_GRAD_NORM = 1,  // 2-norm of the scaled gradient over the free variables
  STEP_NORM = 2,         // scaled length of the current step
  NEWTON_NORM = 3,       // scaled length of the Newton step over the free variables
  GRAD_DOT_STEP = 4,     // g'step
  STPPAR = 5,            // position of the step on the double-dogleg path
  NEWTON_DECREASE = 6,   // decrease predicted by the model for the Newton step
  PRED_DECREASE = 7,     // decrease predicted for the current step
  RADIUS = 8,            // trust radius
  RESERVED_9 = 9,        // set to 0 at initialisation, never read
  F = 10,                // current function value
  F_DIFF = 11,           // F_START - F
  F_BEST_TRIAL = 12,     // f at the best trial step of the iteration
  F_START = 13,          // f at the start of the iteration
  GTS_BEST = 14,         // g'step of the best trial step
  PRED_BEST = 15,        // predicted decrease of the best trial step
  RADIUS_FACTOR = 16,    // factor applied to the step length to get the next radius
  RELDX = 17,            // relative change in x of the last step
  SAVED_STEP_NORM = 18,  // saved step length
  // Real settings (defaults from dv7dfl, limits checked by dparck).
  EPSLON = 19,
  PHMNFC = 20,
  PHMXFC = 21,
  DECFAC = 22,  // radius factor after a failed evaluation
  INCFAC = 23,  // radius factor when the gradient tests ask for growth
  RDFCMN = 24,  // smallest radius factor after an increase in f
  RDFCMX = 25,  // largest radius factor after a very good step
  TUNER1 = 26,
  TUNER2 = 27,
  TUNER3 = 28,
  TUNER4 = 29,
  TUNER5 = 30,
  AFCTOL = 31,  // absolute function-convergence tolerance
  RFCTOL = 32,  // relative function-convergence tolerance
  XCTOL = 33,   // x-convergence tolerance
  XFTOL = 34,   // false-convergence tolerance
  LMAX0 = 35,   // initial trust radius
  LMAXS = 36,   // length of the singular-convergence test step
  SCTOL = 37,   // singular-convergence tolerance
  DINIT = 38,   // initial scale value (< 0: keep D)
  DTINIT = 39,
  D0INIT = 40,
  DFAC = 41,
  ETA0 = 42,
  BIAS = 43,             // bias of the double-dogleg step toward the Newton step
  CURVATURE_NORM = 44,   // ||L' D^-2 g|| over the free variables
  GRAD_COEF = 45,        // coefficient of the scaled gradient in the last dogleg step
  NEWTON_COEF = 46,      // coefficient of the Newton step in the last dogleg step
};

// A 1-based view of one of the two arrays. operator() takes only its own
// enum, so iv(RADIUS) does not compile; at(k) serves computed slot numbers.
template <class Slot, class T>
class SlotView {
 public:
  SlotView() = default;
  explicit SlotView(std::span<T> a) : a_(a) {}

  T& operator()(Slot s) const { return a_[static_cast<std::size_t>(s) - 1]; }
  T& at(int k) const { return a_[static_cast<std::size_t>(k) - 1]; }
  // The n slots that start at 1-based slot k, as a 0-based span.
  std::span<T> area(int k, int n) const {
    return a_.subspan(static_cast<std::size_t>(k) - 1, static_cast<std::size_t>(n));
  }
  // Everything from 1-based slot k to the end of the array.
  std::span<T> from(int k) const { return a_.subspan(static_cast<std::size_t>(k) - 1); }
  int length() const { return static_cast<int>(a_.size()); }
  std::span<T> span() const { return a_; }

 private:
  std::span<T> a_;
};

using IvView = SlotView<IvSlot, int>;
using VView = SlotView<VSlot, double>;

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_SLOTS_H_
