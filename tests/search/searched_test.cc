// The global search of boxes of three and four dimensions (the carrier
// prevalence or the association among controls searched besides the two odds
// ratios) against a dense scan: no scanned point is more extreme than what it
// reports, for each test's power.

#include "search/searched.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::search {
namespace {

double logit(double p) { return std::log(p) - std::log1p(-p); }

// Every point of a grid of `side` points along each free direction.
template <class Visit>
void scan(const Box4& lower, const Box4& upper, int side, Visit visit) {
  int steps[kSearchedDimensions];
  for (int i = 0; i < kSearchedDimensions; ++i) steps[i] = lower[i] < upper[i] ? side : 1;
  for (int a = 0; a < steps[0]; ++a) {
    for (int b = 0; b < steps[1]; ++b) {
      for (int c = 0; c < steps[2]; ++c) {
        for (int d = 0; d < steps[3]; ++d) {
          const int at[] = {a, b, c, d};
          Box4 x = lower;
          for (int i = 0; i < kSearchedDimensions; ++i) {
            if (steps[i] > 1) x[i] += (upper[i] - lower[i]) * at[i] / (steps[i] - 1);
          }
          visit(x);
        }
      }
    }
  }
}

TEST(SearchedBox, NoScannedPointIsMoreExtreme) {
  std::mt19937_64 draw(20261207);
  const auto log_uniform = [&](double lo, double hi) {
    return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(draw));
  };
  const int ks[] = {2, 3, 4, 6, 10};
  constexpr int kScanSide = 9;
  for (int trial = 0; trial < 10; ++trial) {
    gxe::testing::Design d;
    d.k = ks[trial % 5];
    d.ccr = log_uniform(0.5, 3.0);
    d.ror_tb = trial % 3 == 0 ? log_uniform(0.3, 0.8) : log_uniform(1.3, 4.0);
    d.cases = trial % 2 == 0 ? 300.0 : 3000.0;
    model::Records rec;
    gxe::testing::store_design(rec, d);
    const double steps = d.k - 1;
    const double p_lo = log_uniform(0.03, 0.5);
    const double g_lo = log_uniform(0.4, 2.0);
    const double e_lo = log_uniform(0.4, 3.0);
    const double a_lo = log_uniform(0.3, 2.0);
    Box4 lower{std::log(g_lo), std::log(e_lo) / steps, logit(p_lo), std::log(a_lo) / steps};
    Box4 upper{std::log(g_lo * log_uniform(1.0, 4.0)),
               std::log(e_lo * log_uniform(1.0, 5.0)) / steps,
               logit(std::min(0.9, p_lo * log_uniform(1.0, 4.0))),
               std::log(a_lo * log_uniform(1.0, 4.0)) / steps};
    if (trial % 4 == 3) upper[3] = lower[3];  // the association fixed: three dimensions
    if (trial % 4 == 2) upper[2] = lower[2];  // the prevalence fixed
    const model::Test test = static_cast<model::Test>(trial % 3);
    SCOPED_TRACE(::testing::Message() << "trial " << trial << ", k " << d.k << ", test "
                                      << static_cast<int>(test));

    const SearchedExtremes r = searched_power_extremes(rec, test, lower, upper);
    const SearchedExtremes checked = searched_power_extremes(rec, test, lower, upper, true);
    EXPECT_EQ(checked.pmin, r.pmin) << "the reach check changed the search";
    EXPECT_EQ(checked.pmax, r.pmax);
    double scan_min = INFINITY;
    double scan_max = -INFINITY;
    scan(lower, upper, kScanSide, [&](const Box4& x) {
      const double p = searched_power(rec, test, x);
      scan_min = std::min(scan_min, p);
      scan_max = std::max(scan_max, p);
    });
    EXPECT_LE(r.pmin, scan_min + 1e-9);
    EXPECT_GE(r.pmax, scan_max - 1e-9);
    for (int i = 0; i < kSearchedDimensions; ++i) {
      EXPECT_GE(r.xmin[i], lower[i]);
      EXPECT_LE(r.xmax[i], upper[i]);
    }

    rec.z[1] = model::mynormi(0.2);  // target power 0.8
    const SearchedNeed need = searched_largest_need(rec, test, lower, upper);
    double scan_need = 0.0;
    scan(lower, upper, kScanSide,
         [&](const Box4& x) { scan_need = std::max(scan_need, searched_need(rec, test, x)); });
    EXPECT_GE(need.cases, scan_need * (1 - 1e-12));
  }
}

// With the reach check the searches stop at a point whose fit is really out
// of reach. (In the designs tried the association alone does not take the
// fits out of reach: as OR^tb(G,E) grows the variances settle at finite
// limits, the middle categories still carrying the trend.)
TEST(SearchedBox, TheReachCheckStopsAtAPointOutOfReach) {
  struct Case {
    const char* what;
    Box4 lower;
    Box4 upper;
    OutOfReach::Fit fit;
  } const cases[] = {
      {"OR(G|E=0) out to 1e7", {0.0, 0.1, logit(0.2), 0.0}, {std::log(1e7), 0.3, logit(0.4), 0.2},
       OutOfReach::Fit::alternative},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gxe::testing::Design d;  // 4 quantiles, ROR^tb 2, 500 cases
    model::Records rec;
    gxe::testing::store_design(rec, d);
    try {
      searched_power_extremes(rec, model::Test::null_variance, c.lower, c.upper, true);
      ADD_FAILURE() << "no point out of reach";
    } catch (const SearchedOutOfReach& failure) {
      EXPECT_EQ(failure.fit, c.fit);
      EXPECT_FALSE(failure.check.within_reach());
      for (int i = 0; i < kSearchedDimensions; ++i) {
        EXPECT_GE(failure.x[i], c.lower[i]);
        EXPECT_LE(failure.x[i], c.upper[i]);
      }
    }
  }
}

}  // namespace
}  // namespace gxe::search
