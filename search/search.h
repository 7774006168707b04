#ifndef GXE_SEARCH_SEARCH_H_
#define GXE_SEARCH_SEARCH_H_

// Range searches over the alternative. The user knows the two nuisance odds
// ratios of the alternative, OR(G|E=0) and OR^tb(E|G=0), only as ranges; the
// drivers search that box, in the search variables
//   x(1) = ln OR(G|E=0),  x(2) = ln OR^tb(E|G=0) / (k - 1),
// with the bound-constrained minimizer and the exact gradients, for
//   * a power calculation: the smallest and the largest power;
//   * a sample-size calculation: the point that needs the most subjects, whose
//     need (rounded up) fixes the study size, then the largest power at it.
//
// Each driver is a search part that returns its results and a report part
// that writes them, so tests and other front ends can use the results alone.
// Every driver works on the records of its calculation, passed first: the
// searches keep no state of their own, so calculations on different records
// may run at the same time.

#include <array>
#include <optional>
#include <vector>

#include "derivatives/records.h"
#include "model/model.h"
#include "model/records.h"
#include "model/tests.h"

namespace gxe::search {

using Box = std::array<double, 2>;

// The records of one calculation: the model's, which hold the design and
// every evaluation's intermediate results, and the gradient companions of the
// derivative chains.
struct Records {
  gxe::model::Records model;  // qualified: the member takes the namespace's name
  derivatives::Records gradients;
};

// Work done by one minimizer search, as the minimizer counted it.
struct SearchCounts {
  int objective_calls = 0;  // function evaluations, the first included
  int gradient_calls = 0;
  int return_code = 0;      // the minimizer's verdict (not used by the drivers)
};

// How the box is searched.
enum class Method {
  // One local search from the centre of the box, as the dialogue does it:
  // relative function tolerance 1e-6 for the power searches, the minimizer's
  // default for the size search. Fast, but it may stop at a local extreme,
  // and on a flat box far from where the extreme really is.
  centre,
  // The true extremes of the box, found through the alternative's per-case
  // variance of the interaction estimate, varh1: the objective on a grid of
  // the box first, local searches with the minimizer's default tolerances
  // from the best grid points that are extremes among their neighbours, the
  // best end point wins. For a given design the power
  //   Phi((sqrt(n) |beg| - z sqrt(varh0)) / sqrt(varh1))
  // depends on the point of the box only through varh1 (varh0 is the null's,
  // the same over the box), and falls as varh1 grows when it is above 1/2,
  // rises when it is below; the number of cases needed is convex in
  // sqrt(varh1). So the two extremes of varh1 hold the extremes of the power
  // and of the need for every number of cases, level and target power.
  global,
};

struct Options {
  double critical_value = model::kCriticalValue;  // z(1 - alpha/2), stored in z(1)
  Method method = Method::centre;
  // Check both fits at every point the search evaluates (grid points, every
  // minimizer evaluation, the reported points) and stop at the first one out
  // of the model's numerical reach (model::FitCheck) by throwing OutOfReach.
  // Off for the dialogue, which reports whatever the arithmetic gives.
  bool check_reach = false;
  // The test whose power is computed. The Wald and likelihood-ratio tests'
  // powers are searched through what they depend on, as the global method
  // does (VarianceExtremes), with either method: for the centre method one
  // local search from the centre for each extreme.
  model::Test test = model::Test::null_variance;
};

// The first point of a search at which a fit is out of reach.
struct OutOfReach {
  enum class Fit { null, alternative };
  Fit fit = Fit::null;  // the null's fit fails at every point when it fails at one
  Box x{};              // the point of the alternative being evaluated
  model::FitCheck check;
};

// Centre of the box; in odds ratios, the geometric mean of each range.
Box centre_of(const Box& lower, const Box& upper);

// The checks of both fits at x (stored into alt.bg and alt.be): the first one
// that fails, the null's first, or nothing when both are within reach.
std::optional<OutOfReach> reach_at(Records& rec, const Box& x);

// Results of one calculation, as the report shows them.
struct Extremes {
  double size = 0.0;  // total number of subjects, cases plus controls
  double pmin = 0.0;  // smallest power over the box, at xmin
  Box xmin{};
  double pmax = 0.0;  // largest power over the box, at xmax
  Box xmax{};
  int okmin = 1;      // 1 when no expected case count at xmin is below 5
  int okmax = 1;      // the same at xmax
  int k = 0;          // number of exposure categories
  // The minimizer runs made, in the order they ran (none for a single-point
  // box).
  std::vector<SearchCounts> searches;
};

// The two extremes of varh1 over the box, and the null's variance: what the
// global method finds once for a design and box, and every number of cases,
// level and target power of that design is answered from. For the
// likelihood-ratio test the searched quantity is its noncentrality per case
// d (model::lr_noncentrality) in place of varh1: its power rises with d, so
// the two extremes of d hold those of the power and of the need too. The
// Wald test's power falls as varh1 grows.
struct VarianceExtremes {
  model::Test test = model::Test::null_variance;  // what `smallest` and `largest` are of
  double varh0 = 0.0;  // the null's per-case variance
  Box smallest_at{};   // where varh1 is smallest
  double smallest = 0.0;
  Box largest_at{};    // where it is largest
  double largest = 0.0;
  // What the expected-count check needs at the two points, whatever the size.
  model::CellOdds cells_at_smallest;
  model::CellOdds cells_at_largest;
  std::vector<SearchCounts> searches;
};

// The global method's search of varh1 (of d for the likelihood-ratio test)
// over the box [lower, upper]; with the centre method, one local search for
// each extreme from the centre instead of the grid. With
// options.check_reach, OutOfReach is thrown at the first point out of reach
// (the null's fit is checked first, once).
VarianceExtremes variance_extremes(Records& rec, const Box& lower, const Box& upper,
                                   const Options& options);

// The least and the most favourable power at the study size held in
// rec.model.size, from the extremes of varh1 (the two points, no search).
Extremes powers_from(Records& rec, const VarianceExtremes& v, const Options& options);

// Power calculation over the box [lower, upper] (search variables), at the
// study size held in rec.model.size. With options.check_reach, this and the
// sample-size searches below throw OutOfReach at the first point out of reach.
Extremes power_search(Records& rec, const Box& lower, const Box& upper,
                      const Options& options = {});

// The two halves of a sample-size calculation. The first finds the point of
// the box that needs the most cases for the power whose quantile of
// 1 - power is in rec.model.z(2); the second fixes the study size from that need
// and finds the powers it gives. A caller that must not meet the engine's
// stop on a need that is not a number looks at `cases` in between.
struct Need {
  Box x{};             // the least favourable point
  double cases = 0.0;  // cases needed there, unrounded
  std::vector<SearchCounts> searches;
  std::optional<VarianceExtremes> variance;  // what the global method found
};

// The largest need over the box for the power whose quantile of 1 - power
// is in rec.model.z(2), from the extremes of varh1 (or d), for their test.
Need need_from(Records& rec, const VarianceExtremes& v);
Need largest_need(Records& rec, const Box& lower, const Box& upper,
                  const Options& options = {});
Extremes powers_at_need(Records& rec, const Need& need, const Box& lower, const Box& upper,
                        const Options& options = {});

// Sample-size calculation: `power` (the caller's copy of the target power) is
// overwritten with 1 - power. Sets z and size of rec.model. The alternative
// must have an interaction (rec.model.alt.beg != 0).
Extremes ssize_search(Records& rec, double& power, const Box& lower, const Box& upper,
                      const Options& options = {});

// Rounding of a number of cases n to the study size: the whole part of
// (1 + c) n, plus one (a whole value also gets one added).
double study_size(double cases, double ccr);

// Report pieces.
void write_header();
void write_row(const Extremes& r);
void write_power_explanation();
void write_size_explanation();
void write_power_warning();
void write_size_warning();

// The drivers: search and report, as the calculation loop runs them.
void power_calc(Records& rec, const Box& lower, const Box& upper);
void ssize_calc(Records& rec, double& power, const Box& lower, const Box& upper);

}  // namespace gxe::search

#endif  // GXE_SEARCH_SEARCH_H_
