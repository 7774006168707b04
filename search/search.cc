#include "search/search.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

#include "derivatives/derivatives.h"
#include "search/bounded.h"
#include "minimizer/minimizer.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"

namespace gxe::search {
namespace {

namespace mn = gxe::minimizer;

constexpr int kN = 2;  // two search variables
constexpr int kLiv = 100;
constexpr int kLv = 100;
constexpr double kPowerRfctol = 1e-6;  // relative function convergence, centre power searches


// Grid of the global method: kGridSide points along each direction that the
// box does not fix, and up to kGlobalStarts local searches from the best
// grid points that are extremes among their neighbours. The alternative's
// variance is smooth in the log odds ratios, and over a box it has its
// extremes on the boundary, mostly at corners, or in at most a few interior
// basins that a 5 x 5 grid separates; the local searches then converge to
// the extreme itself. (A dense scan of random designs and the answers of a
// 9 x 9 grid of the power on 240 recorded designs hold it to that.)
constexpr int kGridSide = 5;
constexpr int kGlobalStarts = 3;

// ---------------------------------------------------------------------------
// Objectives handed to the minimizer: power, the number of cases needed or
// the alternative's variance varh1, with a sign (the minimizer minimises, so
// a maximum is sought on the negated objective), value and exact gradient
// from one object. The dialogue's objectives never report a failed
// evaluation; those of the global method report a value that is not finite
// as one, so that the minimizer shortens the step instead of moving there.
// With the reach check every value is checked; the gradient is always asked
// for at a point whose value was computed (and checked) just before, with the
// same arithmetic.

using UserRoutine = void();

// The power (null-variance formula), the need, the alternative's variance
// varh1, or the likelihood-ratio noncentrality per case.
enum class Quantity { power, cases, variance, noncentrality };

std::optional<OutOfReach> first_out_of_reach(mn::CVec x, const model::FitChecks& checks) {
  if (!checks.null.within_reach()) {
    return OutOfReach{OutOfReach::Fit::null, {x[0], x[1]}, checks.null};
  }
  if (!checks.alt.within_reach()) {
    return OutOfReach{OutOfReach::Fit::alternative, {x[0], x[1]}, checks.alt};
  }
  return std::nullopt;
}

// The quantity at x; with `check`, OutOfReach is thrown when a fit is out of
// reach there.
double value_at(Records& rec, Quantity q, mn::CVec x, bool check) {
  double f = 0.0;
  model::FitChecks checks;
  if (q == Quantity::variance || q == Quantity::noncentrality) {
    // The alternative's fit alone; the null's does not depend on x and is
    // checked once, before the search. The likelihood-ratio noncentrality
    // is trusted where the alternative's information is.
    rec.model.alt.bg = x[0];
    rec.model.alt.be = x[1];
    model::fs_a(rec.model, checks.alt);
    f = checks.alt.variance;
    if (check && !checks.alt.within_reach()) {
      throw OutOfReach{OutOfReach::Fit::alternative, {x[0], x[1]}, checks.alt};
    }
    return q == Quantity::variance ? f : model::lr_noncentrality(rec.model, x);
  }
  if (q == Quantity::power) {
    model::power3(rec.model, kN, x, f, checks);
  } else {
    model::sample(rec.model, kN, x, f, checks);
  }
  if (check) {
    if (auto failure = first_out_of_reach(x, checks)) throw *failure;
  }
  return f;
}

struct Objective {
  Quantity quantity;
  double sign;
  bool report_failures;
  bool check_reach = false;
  Records* rec = nullptr;  // the calculation's records, set by `checked`

  void operator()(int /*n*/, mn::CVec x, int& nf, double& f, int& /*ui*/, double& /*ur*/,
                  UserRoutine& /*uf*/) const {
    f = sign * value_at(*rec, quantity, x, check_reach);
    if (report_failures && !std::isfinite(f)) nf = 0;
  }

  void operator()(int n, mn::CVec x, int& nf, mn::Vec g, int& /*ui*/, double& /*ur*/,
                  UserRoutine& /*uf*/) const {
    if (quantity == Quantity::power) {
      derivatives::dpower3(rec->model, rec->gradients, n, x, g);
    } else if (quantity == Quantity::variance) {
      derivatives::dvarh1(rec->model, rec->gradients, n, x, g);
    } else if (quantity == Quantity::noncentrality) {
      derivatives::dlr(rec->model, n, x, g);
    } else {
      derivatives::dsample(rec->model, rec->gradients, n, x, g);
    }
    for (double& gi : g) gi = sign * gi;
    if (report_failures && !(std::isfinite(g[0]) && std::isfinite(g[1]))) nf = 0;
  }
};

// The objectives of the dialogue's searches, by their names there; `checked`
// puts an objective on the records of a calculation, with the reach check
// the options ask for.
constexpr Objective calcfmn{Quantity::power, 1.0, false};  // power (and its gradient)
constexpr Objective calcfmx{Quantity::power, -1.0, false};  // -power
constexpr Objective csamp{Quantity::cases, -1.0, false};    // -cases needed

Objective checked(Objective objective, Records& rec, const Options& options) {
  objective.check_reach = options.check_reach;
  objective.rec = &rec;
  return objective;
}

using Bounds = std::array<double, 2 * kN>;

// Minimises the objective over the box from x (search/bounded.h).
SearchCounts minimise(const Objective& objective, const Bounds& bounds, Box& x, double rfctol) {
  return detail::minimise_bounded<kN, kLiv, kLv>(objective, bounds, x, rfctol);
}

// Bounds pair by pair: (lower(1), upper(1), lower(2), upper(2)).
Bounds bounds_of(const Box& lower, const Box& upper) {
  return {lower[0], upper[0], lower[1], upper[1]};
}

double power_at(Records& rec, const Box& x, const Options& options) {
  return value_at(rec, Quantity::power, x, options.check_reach);
}

// Puts the alternative at x and checks the expected case counts there.
int cell_check_at(Records& rec, const Box& x, int k) {
  rec.model.alt.bg = x[0];
  rec.model.alt.be = x[1];
  int ok = 1;
  model::cell_cnt(rec.model, k, ok);
  return ok;
}

// ---------------------------------------------------------------------------
// The global method.

// The objective's values on the grid of the box; a fixed direction has one
// grid line.
struct Grid {
  int side[kN] = {1, 1};
  std::array<Box, kGridSide * kGridSide> x{};
  std::array<double, kGridSide * kGridSide> f{};

  int at(int i, int j) const { return i + side[0] * j; }
  int count() const { return side[0] * side[1]; }
};

Grid grid_of(Records& rec, Quantity quantity, const Box& lower, const Box& upper,
             const Options& options) {
  Grid grid;
  for (int d = 0; d < kN; ++d) grid.side[d] = lower[d] < upper[d] ? kGridSide : 1;
  const auto coordinate = [&](int d, int i) {
    if (grid.side[d] == 1) return lower[d];
    if (i == grid.side[d] - 1) return upper[d];  // the far edge exactly, not by rounding
    return lower[d] + (upper[d] - lower[d]) * i / (grid.side[d] - 1);
  };
  for (int j = 0; j < grid.side[1]; ++j) {
    for (int i = 0; i < grid.side[0]; ++i) {
      const int p = grid.at(i, j);
      grid.x[p] = {coordinate(0, i), coordinate(1, j)};
      grid.f[p] = value_at(rec, quantity, grid.x[p], options.check_reach);
    }
  }
  return grid;
}

// Grid points whose signed value is no larger than that of any neighbour
// (the eight around it, fewer at the edges), best first, at most
// kGlobalStarts; a value that is not a number is never a start.
int best_starts(const Grid& grid, double sign, std::array<int, kGlobalStarts>& starts) {
  std::array<int, kGridSide * kGridSide> candidates{};
  int found = 0;
  for (int j = 0; j < grid.side[1]; ++j) {
    for (int i = 0; i < grid.side[0]; ++i) {
      const double f = sign * grid.f[grid.at(i, j)];
      if (std::isnan(f)) continue;
      bool lowest = true;
      for (int dj = -1; dj <= 1 && lowest; ++dj) {
        for (int di = -1; di <= 1 && lowest; ++di) {
          const int ni = i + di;
          const int nj = j + dj;
          if (ni < 0 || nj < 0 || ni >= grid.side[0] || nj >= grid.side[1]) continue;
          if (sign * grid.f[grid.at(ni, nj)] < f) lowest = false;
        }
      }
      if (lowest) candidates[found++] = grid.at(i, j);
    }
  }
  const auto by_value = [&](int a, int b) { return sign * grid.f[a] < sign * grid.f[b]; };
  const int kept = std::min(found, kGlobalStarts);
  std::partial_sort(candidates.begin(), candidates.begin() + kept, candidates.begin() + found,
                    by_value);
  std::copy_n(candidates.begin(), kept, starts.begin());
  return kept;
}

// Minimises the objective (on its records) from each start; returns the best
// end point (the centre when the grid has no start at all).
Box best_of_searches(const Objective& objective, const Grid& grid, const Box& lower,
                     const Box& upper, std::vector<SearchCounts>& searches) {
  std::array<int, kGlobalStarts> starts{};
  const int count = best_starts(grid, objective.sign, starts);
  const Bounds bounds = bounds_of(lower, upper);
  const auto signed_value = [&objective](const Box& x) {
    return objective.sign * value_at(*objective.rec, objective.quantity, x, objective.check_reach);
  };
  Box best = count > 0 ? grid.x[starts[0]] : centre_of(lower, upper);
  double best_f = signed_value(best);
  for (int s = 0; s < count; ++s) {
    Box x = grid.x[starts[s]];
    searches.push_back(minimise(objective, bounds, x, 0.0));
    const double f = signed_value(x);
    if (f < best_f || std::isnan(best_f)) {
      best = x;
      best_f = f;
    }
  }
  return best;
}

// ---------------------------------------------------------------------------
// The searches of a calculation, by method.

bool single_point(const Box& lower, const Box& upper) {
  return lower[0] == upper[0] && lower[1] == upper[1];
}

// The point of smallest (sign = 1) or largest (sign = -1) power, by one
// local search from the centre of the box.
Box centre_power_extreme(Records& rec, double sign, const Box& lower, const Box& upper,
                         const Options& options, std::vector<SearchCounts>& searches) {
  Box x = centre_of(lower, upper);
  searches.push_back(minimise(checked(sign > 0 ? calcfmn : calcfmx, rec, options),
                              bounds_of(lower, upper), x, kPowerRfctol));
  return x;
}

// Largest power over the box at the current study size, by a search from the
// centre.
void maximum_power_search(Records& rec, Extremes& r, const Box& lower, const Box& upper,
                          const Options& options) {
  const Box x = centre_power_extreme(rec, -1.0, lower, upper, options, r.searches);
  r.pmax = power_at(rec, x, options);
  r.xmax = x;
  r.okmax = cell_check_at(rec, x, r.k);
}

}  // namespace

Box centre_of(const Box& lower, const Box& upper) {
  return {(upper[0] + lower[0]) / 2, (upper[1] + lower[1]) / 2};
}

std::optional<OutOfReach> reach_at(Records& rec, const Box& x) {
  double cases = 0.0;
  model::FitChecks checks;
  model::sample(rec.model, kN, x, cases, checks);
  return first_out_of_reach(x, checks);
}

double study_size(double cases, double ccr) {
  // The whole part of (1 + c) n, plus one. Kept in double: a need too large
  // for any integer type still gives a well-defined (printed as asterisks) size.
  const double subjects = (1.0 + ccr) * cases;
  return std::trunc(subjects) + 1.0;
}

Extremes power_search(Records& rec, const Box& lower, const Box& upper, const Options& options) {
  rec.model.z[0] = options.critical_value;
  if (options.method == Method::global || options.test != model::Test::null_variance) {
    return powers_from(rec, variance_extremes(rec, lower, upper, options), options);
  }
  Extremes r;
  r.k = rec.model.cells.ncat;
  r.size = rec.model.size;
  const Box x = centre_power_extreme(rec, 1.0, lower, upper, options, r.searches);
  r.pmin = power_at(rec, x, options);
  r.xmin = x;
  r.okmin = cell_check_at(rec, x, r.k);
  maximum_power_search(rec, r, lower, upper, options);
  return r;
}

VarianceExtremes variance_extremes(Records& rec, const Box& lower, const Box& upper,
                                   const Options& options) {
  VarianceExtremes r;
  r.test = options.test;
  const Quantity quantity =
      options.test == model::Test::lr ? Quantity::noncentrality : Quantity::variance;
  model::FitCheck null;
  model::fs_0(rec.model, null);
  if (options.check_reach && !null.within_reach()) {
    throw OutOfReach{OutOfReach::Fit::null, centre_of(lower, upper), null};
  }
  r.varh0 = null.variance;
  r.smallest_at = lower;
  r.largest_at = lower;
  if (!single_point(lower, upper) && options.method == Method::centre) {
    for (const double sign : {1.0, -1.0}) {
      Box& x = sign > 0 ? r.smallest_at : r.largest_at;
      x = centre_of(lower, upper);
      r.searches.push_back(minimise(checked(Objective{quantity, sign, true}, rec, options),
                                    bounds_of(lower, upper), x, 0.0));
    }
  } else if (!single_point(lower, upper)) {
    const Grid grid = grid_of(rec, quantity, lower, upper, options);
    r.smallest_at = best_of_searches(checked(Objective{quantity, 1.0, true}, rec, options), grid,
                                     lower, upper, r.searches);
    r.largest_at = best_of_searches(checked(Objective{quantity, -1.0, true}, rec, options), grid,
                                    lower, upper, r.searches);
  }
  r.smallest = value_at(rec, quantity, r.smallest_at, options.check_reach);
  model::cell_odds(rec.model, rec.model.cells.ncat, r.cells_at_smallest);
  r.largest = value_at(rec, quantity, r.largest_at, options.check_reach);
  model::cell_odds(rec.model, rec.model.cells.ncat, r.cells_at_largest);
  return r;
}

Extremes powers_from(Records& rec, const VarianceExtremes& v, const Options& options) {
  Extremes r;
  r.k = rec.model.cells.ncat;
  r.size = rec.model.size;
  r.searches = v.searches;
  rec.model.z[0] = options.critical_value;
  const double ncase = model::study_cases(rec.model);
  model::require_positive_cases(ncase);
  const auto power = [&](double q) {
    return model::impl::power_for(v.test, ncase, v.varh0, q, rec.model.alt.beg, rec.model.z[0]);
  };
  const double at_largest = power(v.largest);
  const double at_smallest = power(v.smallest);
  // Above 1/2 the classical formula's power falls as varh1 grows, below 1/2
  // it rises; at 1/2 it is the same everywhere, and the largest variance is
  // named least favourable. The Wald test's power always falls with varh1,
  // the likelihood-ratio test's always rises with d.
  const bool largest_least = !(at_smallest < at_largest);
  r.xmin = largest_least ? v.largest_at : v.smallest_at;
  r.pmin = largest_least ? at_largest : at_smallest;
  r.xmax = largest_least ? v.smallest_at : v.largest_at;
  r.pmax = largest_least ? at_smallest : at_largest;
  const model::CellOdds& largest_cells = v.cells_at_largest;
  const model::CellOdds& smallest_cells = v.cells_at_smallest;
  r.okmin = model::cells_reach_minimum(rec.model, r.k,
                                       largest_least ? largest_cells : smallest_cells);
  r.okmax = model::cells_reach_minimum(rec.model, r.k,
                                       largest_least ? smallest_cells : largest_cells);
  return r;
}

Need need_from(Records& rec, const VarianceExtremes& v) {
  const auto cases = [&](double q) {
    return model::impl::need_for(v.test, v.varh0, q, rec.model.alt.beg, rec.model.z[0],
                                 rec.model.z[1]);
  };
  const double at_largest = cases(v.largest);
  const double at_smallest = cases(v.smallest);
  // The need ((z1 sqrt(varh0) - z2 sqrt(varh1)) / beg)^2 is convex in
  // sqrt(varh1), so its largest value over the box is at one of the two
  // extremes of varh1: the largest for a target power above 1/2 (z2 < 0).
  // The Wald and likelihood-ratio tests' needs are monotone in varh1 and d.
  Need need;
  need.searches = v.searches;
  need.variance = v;
  const bool smallest_needs_more = at_smallest > at_largest;
  need.x = smallest_needs_more ? v.smallest_at : v.largest_at;
  need.cases = std::isnan(at_smallest) ? at_smallest : std::max(at_largest, at_smallest);
  return need;
}

Need largest_need(Records& rec, const Box& lower, const Box& upper, const Options& options) {
  Need need;
  need.x = centre_of(lower, upper);
  if (!single_point(lower, upper) || options.test != model::Test::null_variance) {
    if (options.method == Method::centre && options.test == model::Test::null_variance) {
      // A box collapsed in one direction only is searched like a full one:
      // the minimizer holds the collapsed variable at its only value.
      need.searches.push_back(
          minimise(checked(csamp, rec, options), bounds_of(lower, upper), need.x, 0.0));
    } else {
      return need_from(rec, variance_extremes(rec, lower, upper, options));
    }
  }
  need.cases = value_at(rec, Quantity::cases, need.x, options.check_reach);
  return need;
}

Extremes powers_at_need(Records& rec, const Need& need, const Box& lower, const Box& upper,
                        const Options& options) {
  Extremes r;
  r.k = rec.model.cells.ncat;
  r.searches = need.searches;
  rec.model.size = study_size(need.cases, rec.model.null.ccr);
  r.size = rec.model.size;

  r.pmin = power_at(rec, need.x, options);
  r.xmin = need.x;
  r.okmin = cell_check_at(rec, need.x, r.k);

  if (single_point(lower, upper)) {
    r.pmax = r.pmin;
    r.xmax = need.x;
    r.okmax = r.okmin;
    return r;
  }
  if (need.variance) {  // the global method: the largest power at one of the two points
    const Extremes at_size = powers_from(rec, *need.variance, options);
    r.pmax = at_size.pmax;
    r.xmax = at_size.xmax;
    r.okmax = at_size.okmax;
    return r;
  }
  maximum_power_search(rec, r, lower, upper, options);
  return r;
}

Extremes ssize_search(Records& rec, double& power, const Box& lower, const Box& upper,
                      const Options& options) {
  rec.model.z[0] = options.critical_value;
  power = 1.0 - power;
  rec.model.z[1] = model::mynormi(power);
  return powers_at_need(rec, largest_need(rec, lower, upper, options), lower, upper, options);
}

}  // namespace gxe::search
