#ifndef GXE_SIMULATE_SIMULATE_H_
#define GXE_SIMULATE_SIMULATE_H_

// The power of the Wald and the likelihood-ratio tests of the trend
// interaction by simulation, for checking the asymptotic power at one point
// of the alternative.
//
// The asymptotic power takes the critical value from the interaction
// estimate's variance under the null and the power from its variance under
// the alternative, and counts only the tail on the side of the effect. The
// test that will be run on the data is the two-sided Wald test, whose
// statistic uses the variance estimated from the data. The two agree when the
// two variances are close and every cell is well filled; this library
// measures the difference by drawing many studies from the alternative at one
// point and running the real test on each.
//
// One simulated study:
//   1. n_cases = round(cases) and n_controls = round(c cases) subjects;
//   2. the case counts of the 2 x k cells drawn multinomially from the case
//      distribution of the alternative at the point (carrier OR(G|E=0) = or_g,
//      OR^tb(E|G=0) = or_e, ROR^tb = ror, controls' prevalences as given);
//   3. the control counts drawn multinomially from the controls' distribution,
//      carrier prevalence times exposure prevalence (G and E independent);
//   4. the logistic model with intercept, genotype, exposure score 0..k-1 and
//      their product fitted to the table by Newton's method (simulate/fit.h);
//   5. the Wald test rejects when |estimate| / se > z(1 - alpha/2); the
//      likelihood-ratio test, when twice the log-likelihood the interaction
//      gains over the model without it exceeds z(1 - alpha/2)^2 (simulate/
//      fit.h). A fit without a finite maximum (a separated table) or that
//      does not converge rejects for neither test and is counted in `failed`.
//
// Each block of replicates draws from its own random stream, derived from the
// seed and the block's index, so the result depends on the seed alone, not on
// the number of threads. Nothing is printed, the process is never ended, and
// no process-wide state is read or written: calls may run at the same time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulate/fit.h"
#include "values/fault.h"

namespace gxe::simulate {

// --- Inputs -----------------------------------------------------------------

// The study and the point of the alternative it is drawn from.
struct Study {
  // Exposure prevalences among controls in the k ordered categories, lowest
  // first: 2 <= k <= 100, each from 0 to 1, summing to 1 within 1e-6.
  std::vector<double> exposure_prevalences;
  double carrier_prevalence = 0.0;  // among controls, in (0, 1)
  double controls_per_case = 1.0;   // c > 0
  double or_g = 1.0;                // OR(G|E=0) at the point, > 0
  double or_e = 1.0;                // OR^tb(E|G=0) at the point, top vs bottom, > 0
  double ror = 1.0;                 // ROR^tb, > 0
  // The number of cases as reported by the calculation, possibly fractional.
  // The simulated studies have round(cases) cases and round(c cases)
  // controls, each from 1 to kMaxSubjects.
  double cases = 0.0;
  double alpha = 0.05;  // two-sided level, in (0, 1); down to about 1e-298
  // OR^tb(G,E) among controls, > 0: the controls (and through them the
  // cases) are drawn with gene and exposure so associated (1: independent).
  double or_ge = 1.0;
};

inline constexpr double kMaxSubjects = 1e9;  // cases, and controls, per study
inline constexpr long kMaxReplicates = 1000000000;
inline constexpr int kMaxThreads = 1024;
inline constexpr std::uint64_t kDefaultSeed = 1;
// The largest seed a front end takes: every seed from 0 to it can be written
// as a whole number by each of them (R's integers, a 32-bit int).
inline constexpr std::uint64_t kMaxSeed = 2147483647;

struct Options {
  long replicates = 10000;  // simulated studies, 1 to kMaxReplicates
  std::uint64_t seed = kDefaultSeed;
  // Worker threads, 0 to kMaxThreads; 0 takes one per hardware thread. The
  // result does not depend on it.
  int threads = 0;
  // Called from the calling thread only, every progress_interval while the
  // studies run and once at the end with done == total, so that a front end
  // can draw a progress line. May be empty. An exception it throws stops the
  // workers and is passed on to the caller.
  std::function<void(long done, long total)> progress;
  std::chrono::milliseconds progress_interval{250};  // 1 ms to 60 s
};

// --- Result -----------------------------------------------------------------

struct Check {
  long replicates = 0;
  long rejections = 0;  // studies whose Wald test rejected
  double power = 0.0;   // rejections / replicates
  double se = 0.0;      // Monte-Carlo standard error, sqrt(power (1 - power) / replicates)
  long failed = 0;      // separated tables and fits that did not converge (never rejections)
  // The same for the likelihood-ratio test. Its failures are `failed` and
  // the studies whose fit without the interaction failed after the full fit
  // converged, which should not happen.
  long lr_rejections = 0;
  double lr_power = 0.0;
  double lr_se = 0.0;
  long lr_failed = 0;
  // The Wald approximation with the alternative's variance on both sides,
  //   Phi(d - z) + Phi(-d - z),  d = sqrt(n) |beg| / sqrt(varh1),
  // beg the per-step log interaction, varh1 the per-case variance of its
  // estimate under the alternative at the point, n = cases as given (not
  // rounded), z = z(1 - alpha/2).
  double wald_power = 0.0;
  double critical_value = 0.0;  // z(1 - alpha/2)
  long n_cases = 0;
  long n_controls = 0;
};

// Why there is no result: an input out of its range (`input` names the
// member of Study or Options; empty when no single input is at fault).
using Error = values::Fault;

struct Outcome {
  Check check;
  std::optional<Error> error;
  bool ok() const { return !error.has_value(); }
};

// --- Simulation ---------------------------------------------------------------

// Simulated power of the two-sided Wald test of the interaction at the point,
// or the first input that is out of its range. Also an error: odds ratios so
// extreme that the expected cell table or the alternative's variance is not
// finite in double precision.
Outcome simulate_power(const Study& study, const Options& options);

// The check of a calculation at its two extremes: the studies at the least
// and at the most favourable points, which differ only in or_g and or_e. A
// box of one point has one extreme, simulated once and reported twice.
struct ExtremesOutcome {
  Outcome least;
  Outcome most;
  bool ok() const { return least.ok() && most.ok(); }
  // The first error of the two, if any.
  const Error* error() const;
};
ExtremesOutcome simulate_extremes(const Study& least, const Study& most, const Options& options);

}  // namespace gxe::simulate

#endif  // GXE_SIMULATE_SIMULATE_H_
