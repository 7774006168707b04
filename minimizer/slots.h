#ifndef GXE_MINIMIZER_SLOTS_H_
#define GXE_MINIMIZER_SLOTS_H_

// Layout of the two caller-owned arrays that hold every setting and all the
// state of a bound-constrained minimization: IV (integers, length LIV) and V
// (doubles, length LV). Slots are numbered from 1 and the numbers are fixed:
// messages print them and callers set slots by number. Beside the slots: the
// codes IV(1) carries, the table of the real settings, and the span types
// through which every routine of the minimizer sees its vectors.
//
// Conventions: vectors are 0-based spans of at least the stated length (the
// routine reads entry i of the algorithm at [i - 1]); IV and V are 1-based
// slot views. Nothing here allocates.

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace gxe::minimizer {

// A vector the routine may write, and one it only reads.
using Vec = std::span<double>;
using CVec = std::span<const double>;

// 0-based index of the 1-based position i: slots, and the positions in which
// the algorithms number vector entries and variables.
constexpr std::size_t at0(int i) { return static_cast<std::size_t>(i) - 1; }

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
  RESTORE_MODE = 9,       // what to do with x after an assessment (RestoreMode, assess.h)
  STEP_STAGE = 10,        // trial counter of the step assessment
  STAGE_LIMIT = 11,       // limit on STEP_STAGE
  SWITCH_FLAG = 12,       // model-switch flag of the step assessment
  SAVED_VERDICT = 13,     // verdict kept by the assessment for a later pass (Verdict)
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
  STEP_VERDICT = 29,      // verdict of the last step assessment (Verdict, assess.h)
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
  // Slots 19 to 43 are the real settings; meaning, default and range of
  // each are in kRealSettings below.
  EPSLON = 19,
  PHMNFC = 20,
  PHMXFC = 21,
  DECFAC = 22,
  INCFAC = 23,
  RDFCMN = 24,
  RDFCMX = 25,
  TUNER1 = 26,
  TUNER2 = 27,
  TUNER3 = 28,
  TUNER4 = 29,
  TUNER5 = 30,
  AFCTOL = 31,
  RFCTOL = 32,
  XCTOL = 33,
  XFTOL = 34,
  LMAX0 = 35,
  LMAXS = 36,
  SCTOL = 37,
  DINIT = 38,
  DTINIT = 39,
  D0INIT = 40,
  DFAC = 41,
  ETA0 = 42,
  BIAS = 43,
  CURVATURE_NORM = 44,   // ||L' D^-2 g|| over the free variables
  GRAD_COEF = 45,        // coefficient of the scaled gradient in the last dogleg step
  NEWTON_COEF = 46,      // coefficient of the Newton step in the last dogleg step
};

// Quantities of the floating-point format in which some defaults and limits
// are given, computed at run time from the machine constants: machep is the
// relative machine precision, tiny the smallest positive normalised and big
// the largest finite double.
enum class Quantity : unsigned char {
  kOne,         // 1: the factor is the number itself
  kMachep,      // machep
  kSqrtMachep,  // sqrt(machep)
  kCbrtMachep,  // machep^(1/3)
  kTiny,        // tiny
  kBig,         // big
  kSqrtBig,     // sqrt(big / 256) * 16: its square still does not overflow
  kAfctolRule,  // machep^2 when machep > 1e-10, else 1e-20
  kRfctolRule,  // max(1e-10, (machep^(1/3))^2); 1e-10 when the square is NaN
  kCosminRule,  // max(1e-6, 100 machep)
};

// A default or a limit: factor times a quantity.
struct Amount {
  double factor;
  Quantity of = Quantity::kOne;
};

// One real setting: where it lives, how messages name it (padded with dots
// to 8 characters when printed), its default, and the range that dparck
// enforces, both ends included (NaN is never in range).
struct RealSetting {
  int slot;
  std::string_view name;
  Amount default_value;
  Amount lower;
  Amount upper;
};

// The real settings of the solver in slot order. Those marked "not read"
// are checked and reported like the others but belong to other solvers of
// the family or to the scale update (DTYPE > 0), which this solver leaves off.
using Q = Quantity;  // short name for the table
inline constexpr std::array<RealSetting, 25> kRealSettings{{
    // slot   name      default                  lower                upper
    // Tolerance of an exact trust-region step's length against the radius; not read.
    {EPSLON,  "EPSLON", {0.1},                   {0.001},             {0.9}},
    // Band of relative error in an exact step's length (with PHMXFC); not read.
    {PHMNFC,  "PHMNFC", {-0.1},                  {-0.99},             {-0.001}},
    {PHMXFC,  "PHMXFC", {0.1},                   {0.001},             {10.0}},
    // Radius factor after f could not be computed at the trial point.
    {DECFAC,  "DECFAC", {0.5},                   {0.01},              {0.8}},
    // Radius factor when the gradient tests ask for growth; least growth of a very good step.
    {INCFAC,  "INCFAC", {2.0},                   {1.2},               {100.0}},
    // Smallest radius factor after an increase in f.
    {RDFCMN,  "RDFCMN", {0.1},                   {0.01},              {0.8}},
    // Largest radius factor after a very good step.
    {RDFCMX,  "RDFCMX", {4.0},                   {1.2},               {100.0}},
    // A decrease of at most TUNER1 times the predicted one is modest: accept, halve the radius.
    {TUNER1,  "TUNER1", {0.1},                   {0.0},               {0.5}},
    // A decrease of at most TUNER2 times the predicted one rejects the step.
    {TUNER2,  "TUNER2", {1e-4},                  {0.0},               {0.5}},
    // A decrease of at least TUNER3 times -g's, the linear prediction, is very good.
    {TUNER3,  "TUNER3", {0.75},                  {0.001},             {1.0}},
    // The radius grows when |(H s - y) / D| <= TUNER4 |g / D|: the model predicted g well.
    {TUNER4,  "TUNER4", {0.5},                   {-1.0},              {1.0}},
    // The radius grows when the new slope g+'s < TUNER5 g's: the step was too short.
    {TUNER5,  "TUNER5", {0.75},                  {1.0, Q::kMachep},   {1.0, Q::kBig}},
    // Absolute function convergence when |f| < AFCTOL.
    {AFCTOL,  "AFCTOL", {1.0, Q::kAfctolRule},   {0.0},               {1.0, Q::kBig}},
    // Relative function convergence when the Newton step promises at most RFCTOL |f|.
    {RFCTOL,  "RFCTOL", {1.0, Q::kRfctolRule},   {1.0, Q::kMachep},   {0.1}},
    // x-convergence when a Newton step changes x by a relative XCTOL or less; a
    // minimum is located to only about half the digits of f, hence sqrt(machep).
    {XCTOL,   "XCTOL",  {1.0, Q::kSqrtMachep},   {0.0},               {1.0}},
    // False convergence when x changes by a relative XFTOL or less without enough decrease.
    {XFTOL,   "XFTOL",  {100.0, Q::kMachep},     {0.0},               {1.0}},
    // Initial trust radius.
    {LMAX0,   "LMAX0",  {1.0},                   {1.0, Q::kTiny},     {1.0, Q::kBig}},
    // Length of the test step for singular convergence.
    {LMAXS,   "LMAXS",  {1.0},                   {1.0, Q::kTiny},     {1.0, Q::kBig}},
    // Singular convergence when no step of length LMAXS can reduce f by a relative SCTOL.
    {SCTOL,   "SCTOL",  {1.0, Q::kRfctolRule},   {0.0},               {1.0}},
    // >= 0: a fresh start sets every scale entry D(i) to DINIT; < 0: D is used as given.
    {DINIT,   "DINIT",  {-1.0},                  {-10.0},             {1.0, Q::kBig}},
    // Starting values of the scale update (with D0INIT); not read.
    {DTINIT,  "DTINIT", {1e-6},                  {0.0},               {1.0, Q::kBig}},
    {D0INIT,  "D0INIT", {1.0},                   {0.0},               {1.0, Q::kBig}},
    // Factor of the scale update; not read.
    {DFAC,    "DFAC",   {0.6},                   {0.0},               {1.0}},
    // A setting of other solvers of the family; not read.
    {ETA0,    "ETA0",   {1000.0, Q::kMachep},    {1.0, Q::kMachep},   {1.0}},
    // Bias of the double-dogleg path toward the Newton step (0: plain dogleg).
    {BIAS,    "BIAS",   {0.8},                   {0.0},               {1.0}},
}};

// Codes of IV(1): requests to the caller, inputs that start a run, and every
// code a run can end with. A real setting out of range ends the run with its
// own slot number (kSettingOutOfRange to BIAS).
enum ReturnCode : int {
  kDefaultsFirst = 0,                // input: fill in the defaults (divset), then start
  kNeedF = 1,                        // request: compute f at x (drmngb callers only)
  kNeedGradient = 2,                 // request: compute the gradient at x (drmngb callers only)
  kXConvergence = 3,                 // relative change in x below XCTOL
  kRelativeFunctionConvergence = 4,  // predicted relative decrease below RFCTOL
  kBothConvergence = 5,              // 3 and 4 together
  kAbsoluteFunctionConvergence = 6,  // |f| below AFCTOL
  kSingularConvergence = 7,          // no decrease possible within LMAXS: singular model
  kFalseConvergence = 8,             // steps collapse without convergence (noise, bad gradient)
  kEvalLimitReached = 9,             // EVAL_LIMIT function evaluations made
  kIterLimitReached = 10,            // ITER_LIMIT iterations made
  kInterrupted = 11,                 // stopx answered true (never here)
  kFreshStart = 12,                  // input: start with the settings in place
  kSizeOnly = 13,                    // input: size and allocate storage, then return 14
  kStorageReady = 14,                // output of 13, input to start after it
  kIvTooShort = 15,                  // settings: LIV below what the layout or the run needs
  kVTooShort = 16,                   // settings: LV below what the layout or the run needs
  kVariableCountChanged = 17,        // settings: n is not the n of the fresh start
  kBadScale = 18,                    // settings: a scale entry D(i) is not positive
  kSettingOutOfRange = EPSLON,       // settings: 19 to 43, the slot of the last bad setting
  kBadSettingCount = 51,             // settings: NVDFLT is not the family's count of settings
  kInitialFFailed = 63,              // f cannot be computed at the starting point
  kBadAssessInput = 64,              // the step assessment rejected its inputs
  kGradientFailed = 65,              // the gradient cannot be computed
  kInconsistentDimensions = 66,      // vectors shorter than n, or arrays not laid out for n
  kBadFamily = 67,                   // settings: ALG outside 1..4 or not the one divset was given
  kBadCode = 80,                     // settings: IV(1) outside 0..14 on entry
  kBadVariableCount = 81,            // settings: n below 1 on a fresh start
  kBoundsCrossed = 82,               // some lower bound exceeds its upper bound
};

// A 1-based view of one of the two arrays. operator() takes only its own
// enum, so iv(RADIUS) does not compile; at(k) serves computed slot numbers.
template <class Slot, class T>
class SlotView {
 public:
  SlotView() = default;
  // Views `a` as slots 1 .. a.size().
  explicit SlotView(std::span<T> a) : a_(a) {}

  // The named slot s.
  T& operator()(Slot s) const { return a_[at0(s)]; }
  // The slot numbered k, for numbers computed at run time.
  T& at(int k) const { return a_[at0(k)]; }
  // The n slots that start at 1-based slot k, as a 0-based span.
  std::span<T> area(int k, int n) const { return a_.subspan(at0(k), static_cast<std::size_t>(n)); }
  // Everything from 1-based slot k to the end of the array.
  std::span<T> from(int k) const { return a_.subspan(at0(k)); }
  // Number of slots, and the whole array as a 0-based span.
  int length() const { return static_cast<int>(a_.size()); }
  std::span<T> span() const { return a_; }

 private:
  std::span<T> a_;
};

// Views of the integer array IV and the real array V.
using IvView = SlotView<IvSlot, int>;
using VView = SlotView<VSlot, double>;

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_SLOTS_H_
