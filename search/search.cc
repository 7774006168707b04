#include "search/search.h"

#include <cmath>
#include <span>

#include "derivatives/derivatives.h"
#include "minimizer/dmngb.h"
#include "minimizer/minimizer.h"
#include "model/model.h"
#include "model/records.h"

namespace gxe::search {
namespace {

namespace mn = gxe::minimizer;

constexpr int kN = 2;                                  // two search variables
constexpr int kLiv = 100;
constexpr int kLv = 100;
constexpr double kPowerRfctol = 1e-6;  // relative function convergence, power searches

// Scale of the search variables: both are log odds ratios, scaled alike.
// The minimizer may rewrite its scale vector, so each search gets a copy.
constexpr std::array<double, kN> kScale = {1.0, 1.0};

// ---------------------------------------------------------------------------
// Callbacks handed to the minimizer. None of them reads or changes the
// evaluation number or the three pass-through user arguments, so the minimizer
// never sees a failed evaluation.

void ufparm() {}

using UserRoutine = void();

void calcfmn(int n, mn::CVec x, int& /*nf*/, double& f, int& /*ui*/, double& /*ur*/,
             UserRoutine& /*uf*/) {
  model::power3(n, x, f);
}

void calcgmn(int n, mn::CVec x, int& /*nf*/, mn::Vec g, int& /*ui*/, double& /*ur*/,
             UserRoutine& /*uf*/) {
  derivatives::dpower3(n, x, g);
}

// The maximum searches minimise -power.
void calcfmx(int n, mn::CVec x, int& /*nf*/, double& f, int& /*ui*/, double& /*ur*/,
             UserRoutine& /*uf*/) {
  model::power3(n, x, f);
  f = -f;
}

void calcgmx(int n, mn::CVec x, int& /*nf*/, mn::Vec g, int& /*ui*/, double& /*ur*/,
             UserRoutine& /*uf*/) {
  derivatives::dpower3(n, x, g);
  g[0] = -g[0];
  g[1] = -g[1];
}

// The size search minimises -n, the negated number of cases needed.
void csamp(int n, mn::CVec x, int& /*nf*/, double& f, int& /*ui*/, double& /*ur*/,
           UserRoutine& /*uf*/) {
  model::sample(n, x, f);
  f = -f;
}

void csampg(int n, mn::CVec x, int& /*nf*/, mn::Vec g, int& /*ui*/, double& /*ur*/,
            UserRoutine& /*uf*/) {
  derivatives::dsample(n, x, g);
  g[0] = -g[0];
  g[1] = -g[1];
}

// Minimizer state of one search, set up afresh each time.
struct Search {
  std::array<int, kLiv> iv{};
  std::array<double, kLv> v{};
  mn::IvView ivv{std::span<int>(iv)};
  mn::VView vv{std::span<double>(v)};
};

// Minimises calcf over the box from the centre, with the settings every range
// search uses; `rfctol` > 0 replaces the default relative function-convergence
// tolerance. Returns the point the minimizer ends at, whatever its verdict.
template <class Calcf, class Calcg>
SearchCounts minimise(Calcf& calcf, Calcg& calcg, const std::array<double, 2 * kN>& bounds,
                      std::array<double, kN>& x, double rfctol) {
  Search s;
  mn::divset(2, s.ivv, kLiv, kLv, s.vv);
  s.ivv(mn::RETURN_CODE) = mn::kFreshStart;
  s.ivv(mn::OUTPUT_UNIT) = 0;
  s.ivv(mn::PRINT_SOLUTION) = 0;
  s.ivv(mn::PRINT_STATISTICS) = 0;
  if (rfctol > 0.0) s.vv(mn::RFCTOL) = rfctol;
  int uiparm = 0;
  double urparm = 0.0;
  std::array<double, kN> scale = kScale;
  mn::dmngb(kN, mn::Vec(scale), mn::Vec(x), mn::CVec(bounds), calcf, calcg, s.ivv, kLiv, kLv,
            s.vv, uiparm, urparm, ufparm);
  return SearchCounts{s.ivv(mn::FEVAL_COUNT), s.ivv(mn::GEVAL_COUNT), s.ivv(mn::RETURN_CODE)};
}

// Bounds pair by pair: (lower(1), upper(1), lower(2), upper(2)).
std::array<double, 2 * kN> bounds_of(const Box& lower, const Box& upper) {
  return {lower[0], upper[0], lower[1], upper[1]};
}

// Centre of the box; in odds ratios, the geometric mean of each range.
std::array<double, kN> centre_of(const Box& lower, const Box& upper) {
  return {(upper[0] + lower[0]) / 2, (upper[1] + lower[1]) / 2};
}

double power_at(const std::array<double, kN>& x) {
  double pw = 0.0;
  model::power3(kN, x, pw);
  return pw;
}

// Puts the alternative at x and checks the expected case counts there.
int cell_check_at(const std::array<double, kN>& x, int k) {
  model::alt.bg = x[0];
  model::alt.be = x[1];
  int ok = 1;
  model::cell_cnt(k, ok);
  return ok;
}

// Largest power over the box at the current study size, by minimising -power.
void maximum_power_search(Extremes& r, const Box& lower, const Box& upper) {
  const auto bounds = bounds_of(lower, upper);
  auto x = centre_of(lower, upper);
  r.searches[r.search_count++] = minimise(calcfmx, calcgmx, bounds, x, kPowerRfctol);
  r.pmax = power_at(x);
  r.xmax = x;
  r.okmax = cell_check_at(x, r.k);
}

}  // namespace

double study_size(double cases, double ccr) {
  // The whole part of (1 + c) n, plus one. Kept in double: a need too large
  // for any integer type still gives a well-defined (printed as asterisks) size.
  const double subjects = (1.0 + ccr) * cases;
  return std::trunc(subjects) + 1.0;
}

Extremes power_search(const Box& lower, const Box& upper) {
  Extremes r;
  r.k = model::cells.ncat;
  r.size = model::size;
  model::z[0] = model::kCriticalValue;  // two-sided 5 %, z(0.975)

  const auto bounds = bounds_of(lower, upper);
  auto x = centre_of(lower, upper);
  r.searches[r.search_count++] = minimise(calcfmn, calcgmn, bounds, x, kPowerRfctol);
  r.pmin = power_at(x);
  r.xmin = x;
  r.okmin = cell_check_at(x, r.k);

  maximum_power_search(r, lower, upper);
  return r;
}

Extremes ssize_search(double& power, const Box& lower, const Box& upper) {
  Extremes r;
  r.k = model::cells.ncat;
  const double c = model::null.ccr;
  model::z[0] = model::kCriticalValue;  // two-sided 5 %, z(0.975)
  power = 1.0 - power;
  model::z[1] = model::mynormi(power);

  auto x = centre_of(lower, upper);
  const bool single_point = lower[0] == upper[0] && lower[1] == upper[1];
  if (!single_point) {
    // A box collapsed in one direction only is searched like a full one: the
    // minimizer holds the collapsed variable at its only value.
    r.searches[r.search_count++] = minimise(csamp, csampg, bounds_of(lower, upper), x, 0.0);
  }
  double cases = 0.0;
  model::sample(kN, x, cases);
  model::size = study_size(cases, c);
  r.size = model::size;

  r.pmin = power_at(x);
  r.xmin = x;
  r.okmin = cell_check_at(x, r.k);

  if (single_point) {
    r.pmax = r.pmin;
    r.xmax = x;
    r.okmax = r.okmin;
    return r;
  }
  maximum_power_search(r, lower, upper);
  return r;
}

}  // namespace gxe::search
