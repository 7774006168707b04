#ifndef GXE_SEARCH_SEARCHED_H_
#define GXE_SEARCH_SEARCHED_H_

// The global search of a box of up to four dimensions: the alternative's two
// log odds ratios (bg and the per-step be, as in search.h), the logit of the
// carrier prevalence and the association among controls per step of the
// exposure score (log OR^tb(G,E) / (k - 1)). A direction that is not searched
// has equal bounds, and the minimizer holds it at its value.
//
// When the prevalence or the association is searched, the null's variance
// varies over the box too, so the power's extremes depend on the number of
// cases and the level, and each calculation searches anew (the search over
// the two odds ratios alone needs one search per design: search.h).
//
// Start design: a full grid is out of reach in four dimensions (9^4 = 6561
// evaluations of both fits), so the objective is evaluated at every corner of
// the box, at the midpoints of its edges' directions through the centre, and
// at kSpreadPoints points of a Halton sequence (bases 2, 3, 5, 7), which
// spread evenly over the box; the best of them, each at least a quarter of
// the box away (in every free direction scaled to [0, 1]) from a better one,
// start local searches with the exact gradient, and the best end point wins.

#include <array>
#include <vector>

#include "search/search.h"

namespace gxe::search {

inline constexpr int kSearchedDimensions = 4;
using Box4 = std::array<double, kSearchedDimensions>;

inline constexpr int kSpreadPoints = 240;
inline constexpr int kSearchedStarts = 3;

// The first point of a search at which a fit is out of the model's
// numerical reach (model::FitCheck), with the whole point of the box.
struct SearchedOutOfReach {
  OutOfReach::Fit fit = OutOfReach::Fit::null;
  Box4 x{};
  model::FitCheck check;
};

struct SearchedExtremes {
  double pmin = 0.0;
  Box4 xmin{};
  double pmax = 0.0;
  Box4 xmax{};
  std::vector<SearchCounts> searches;
};

// The power of `test` at x for rec.model.size subjects, the design in rec.model (the
// null's odds ratios and exposure prevalences, the alternative's
// interaction, controls per case) and z(1) in rec.model.z.
double searched_power(const model::Records& rec, model::Test test, const Box4& x);

// The number of cases needed at x for the power whose quantile of 1 - power
// is rec.model.z(2).
double searched_need(const model::Records& rec, model::Test test, const Box4& x);

// The smallest and largest power over the box [lower, upper]. With
// check_reach, both fits are checked at every point the search evaluates and
// SearchedOutOfReach is thrown at the first one out of reach. With
// from_centre, one local search from the centre of the box for each, as the
// centre method searches two dimensions, instead of the start design.
SearchedExtremes searched_power_extremes(const model::Records& rec, model::Test test,
                                         const Box4& lower, const Box4& upper,
                                         bool check_reach = false, bool from_centre = false);

// The point of the box that needs the most cases, and that need.
struct SearchedNeed {
  Box4 x{};
  double cases = 0.0;
  std::vector<SearchCounts> searches;
};
SearchedNeed searched_largest_need(const model::Records& rec, model::Test test,
                                   const Box4& lower, const Box4& upper,
                                   bool check_reach = false, bool from_centre = false);

}  // namespace gxe::search

#endif  // GXE_SEARCH_SEARCHED_H_
