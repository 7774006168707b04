#include "search/searched.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>

#include "derivatives/dual.h"
#include "search/bounded.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/searched_impl.h"

namespace gxe::search {
namespace {

namespace mn = gxe::minimizer;
namespace impl = model::impl;

constexpr int kN = kSearchedDimensions;
// Storage of the bounded minimizer for four variables (search/bounded.h).
constexpr int kLiv = 100;
constexpr int kLv = 200;
// Two starts closer than this in every free direction (the box scaled to
// [0, 1]) would most likely end in the same extreme.
constexpr double kStartSpacing = 0.25;

enum class Quantity { power, cases };

// The power or the need of the test from the null's variance and what the
// test's power depends on at the point, q: varh1, or the likelihood-ratio
// noncentrality per case (model::impl::power_for).
template <class T>
T quantity_of(const model::Records& rec, Quantity q, model::Test test, const T& varh0,
              const T& at_point) {
  if (q == Quantity::power) {
    return impl::power_for(test, model::study_cases(rec), varh0, at_point, rec.alt.beg, rec.z[0]);
  }
  return impl::need_for(test, varh0, at_point, rec.alt.beg, rec.z[0], rec.z[1]);
}

// The likelihood-ratio noncentrality at x when the test needs it, else varh1.
template <class T>
T test_quantity(const model::Records& rec, model::Test test, const std::array<T, kN>& x,
                const T& varh1) {
  if (test != model::Test::lr) return varh1;
  return impl::noncentrality_at(rec, rec.cells.ncat, x[0], x[1], impl::logistic(x[2]), x[3]);
}

// The quantity at x over the scalar type T: both fits over the control
// distribution of the point's carrier prevalence and association.
template <class T>
T quantity_at(const model::Records& rec, Quantity q, model::Test test,
              const std::array<T, kN>& x) {
  const impl::Variances<T> v =
      impl::variances_at(rec, rec.cells.ncat, x[0], x[1], impl::logistic(x[2]), x[3]);
  return quantity_of(rec, q, test, v.varh0, test_quantity(rec, test, x, v.varh1));
}

// The quantity at x in double; with `check`, both fits are checked first and
// SearchedOutOfReach thrown when one is out of reach (the variances are the
// same either way).
double value_at(const model::Records& rec, Quantity q, model::Test test, const Box4& x,
                bool check = false) {
  if (!check) return quantity_at<double>(rec, q, test, x);
  model::FitChecks checks;
  impl::checked_variances(rec, rec.cells.ncat, x[0], x[1], impl::logistic(x[2]), x[3], checks);
  if (!checks.null.within_reach()) {
    throw SearchedOutOfReach{OutOfReach::Fit::null, x, checks.null};
  }
  if (!checks.alt.within_reach()) {
    throw SearchedOutOfReach{OutOfReach::Fit::alternative, x, checks.alt};
  }
  return quantity_of(rec, q, test, checks.null.variance,
                     test_quantity(rec, test, x, checks.alt.variance));
}

using UserRoutine = void();

// The signed quantity (the minimizer minimises) and its exact gradient in
// the four directions; a value or gradient that is not finite is reported
// as a failed evaluation, so that the minimizer shortens its step.
struct Objective {
  const model::Records* rec;
  Quantity quantity;
  model::Test test;
  double sign;
  bool check;

  void operator()(int /*n*/, mn::CVec x, int& nf, double& f, int& /*ui*/, double& /*ur*/,
                  UserRoutine& /*uf*/) const {
    f = sign * value_at(*rec, quantity, test, {x[0], x[1], x[2], x[3]}, check);
    if (!std::isfinite(f)) nf = 0;
  }

  void operator()(int /*n*/, mn::CVec x, int& nf, mn::Vec g, int& /*ui*/, double& /*ur*/,
                  UserRoutine& /*uf*/) const {
    using Dual4 = derivatives::BasicDual<kN>;
    const std::array<Dual4, kN> seeded = {
        derivatives::variable<kN>(x[0], 0), derivatives::variable<kN>(x[1], 1),
        derivatives::variable<kN>(x[2], 2), derivatives::variable<kN>(x[3], 3)};
    const Dual4 f = quantity_at(*rec, quantity, test, seeded);
    for (int i = 0; i < kN; ++i) {
      g[i] = sign * f.d[i];
      if (!std::isfinite(g[i])) nf = 0;
    }
  }
};

SearchCounts minimise(const Objective& objective, const Box4& lower, const Box4& upper,
                      Box4& x) {
  std::array<double, 2 * kN> bounds{};
  for (int i = 0; i < kN; ++i) {
    bounds[2 * i] = lower[i];
    bounds[2 * i + 1] = upper[i];
  }
  return detail::minimise_bounded<kN, kLiv, kLv>(objective, bounds, x, 0.0);
}

// The j-th number of the van der Corput sequence in base b, in [0, 1).
double radical_inverse(int j, int base) {
  double result = 0.0;
  double digit_value = 1.0 / base;
  for (int i = j; i > 0; i /= base) {
    result += (i % base) * digit_value;
    digit_value /= base;
  }
  return result;
}

// The start design (searched.h): corners, face centres and the centre, then
// the Halton points; only the free directions vary.
std::vector<Box4> start_design(const Box4& lower, const Box4& upper, bool from_centre) {
  std::array<int, kN> free{};
  int count = 0;
  for (int i = 0; i < kN; ++i) {
    if (lower[i] < upper[i]) free[count++] = i;
  }
  const auto at = [&](const std::array<double, kN>& u) {
    Box4 x = lower;
    for (int i = 0; i < kN; ++i) {
      x[i] = u[i] >= 1.0 ? upper[i] : lower[i] + (upper[i] - lower[i]) * u[i];
    }
    return x;
  };
  std::vector<Box4> points;
  if (from_centre) return {at({0.5, 0.5, 0.5, 0.5})};
  for (int corner = 0; corner < (1 << count); ++corner) {
    std::array<double, kN> u{};
    for (int f = 0; f < count; ++f) u[free[f]] = (corner >> f) & 1;
    points.push_back(at(u));
  }
  std::array<double, kN> centre{0.5, 0.5, 0.5, 0.5};
  points.push_back(at(centre));
  for (int f = 0; f < count; ++f) {
    for (const double end : {0.0, 1.0}) {
      std::array<double, kN> u = centre;
      u[free[f]] = end;
      points.push_back(at(u));
    }
  }
  constexpr int kBases[kN] = {2, 3, 5, 7};
  for (int j = 1; count > 0 && j <= kSpreadPoints; ++j) {
    std::array<double, kN> u{};
    for (int f = 0; f < count; ++f) u[free[f]] = radical_inverse(j, kBases[f]);
    points.push_back(at(u));
  }
  return points;
}

// Up to kSearchedStarts points of the design, best signed value first, each
// at least kStartSpacing from every better start in some free direction.
std::vector<Box4> starts_of(const std::vector<Box4>& points, const std::vector<double>& values,
                            double sign, const Box4& lower, const Box4& upper) {
  std::vector<std::size_t> order(points.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return sign * values[a] < sign * values[b];
  });
  const auto apart = [&](const Box4& a, const Box4& b) {
    for (int i = 0; i < kN; ++i) {
      const double width = upper[i] - lower[i];
      if (width > 0.0 && std::fabs(a[i] - b[i]) >= kStartSpacing * width) return true;
    }
    return false;
  };
  std::vector<Box4> starts;
  for (const std::size_t i : order) {
    if (std::isnan(values[i])) continue;
    const auto far = [&](const Box4& s) { return apart(s, points[i]); };
    if (std::all_of(starts.begin(), starts.end(), far)) {
      starts.push_back(points[i]);
      if (starts.size() == static_cast<std::size_t>(kSearchedStarts)) break;
    }
  }
  return starts;
}

// The best end point of the local searches from the design's starts (the
// design's best point when no search improves on it).
Box4 best_point(const Objective& objective, const std::vector<Box4>& points,
                const std::vector<double>& values, const Box4& lower, const Box4& upper,
                std::vector<SearchCounts>& searches) {
  const auto& [rec, quantity, test, sign, check] = objective;
  Box4 best = lower;
  double best_f = NAN;
  for (Box4 x : starts_of(points, values, sign, lower, upper)) {
    searches.push_back(minimise(objective, lower, upper, x));
    const double f = sign * value_at(*rec, quantity, test, x, check);
    if (std::isnan(best_f) || f < best_f) {
      best = x;
      best_f = f;
    }
  }
  return best;
}

std::vector<double> values_at(const model::Records& rec, Quantity q, model::Test test,
                              const std::vector<Box4>& points, bool check) {
  std::vector<double> values;
  values.reserve(points.size());
  for (const Box4& x : points) values.push_back(value_at(rec, q, test, x, check));
  return values;
}

}  // namespace

double searched_power(const model::Records& rec, model::Test test, const Box4& x) {
  return value_at(rec, Quantity::power, test, x);
}

double searched_need(const model::Records& rec, model::Test test, const Box4& x) {
  return value_at(rec, Quantity::cases, test, x);
}

SearchedExtremes searched_power_extremes(const model::Records& rec, model::Test test,
                                         const Box4& lower, const Box4& upper, bool check_reach,
                                         bool from_centre) {
  SearchedExtremes r;
  const std::vector<Box4> points = start_design(lower, upper, from_centre);
  const std::vector<double> values = values_at(rec, Quantity::power, test, points, check_reach);
  r.xmin = best_point({&rec, Quantity::power, test, 1.0, check_reach}, points, values, lower,
                      upper, r.searches);
  r.xmax = best_point({&rec, Quantity::power, test, -1.0, check_reach}, points, values, lower,
                      upper, r.searches);
  r.pmin = searched_power(rec, test, r.xmin);
  r.pmax = searched_power(rec, test, r.xmax);
  return r;
}

SearchedNeed searched_largest_need(const model::Records& rec, model::Test test,
                                   const Box4& lower, const Box4& upper, bool check_reach,
                                   bool from_centre) {
  SearchedNeed need;
  const std::vector<Box4> points = start_design(lower, upper, from_centre);
  const std::vector<double> values = values_at(rec, Quantity::cases, test, points, check_reach);
  need.x = best_point({&rec, Quantity::cases, test, -1.0, check_reach}, points, values, lower,
                      upper, need.searches);
  need.cases = searched_need(rec, test, need.x);
  return need;
}

}  // namespace gxe::search
