#ifndef GXE_SEARCH_BOUNDED_H_
#define GXE_SEARCH_BOUNDED_H_

// One run of the bound-constrained minimizer with the settings every range
// search uses: defaults of the bounded family, a fresh start, nothing
// printed, unit scales; `rfctol` > 0 replaces the default relative
// function-convergence tolerance. Liv and Lv are the lengths of its integer
// and real storage, enough for n variables (at least 59 + 3n and
// 71 + n (n + 19) / 2 + n). Leaves in x the point the minimizer ends at,
// whatever its verdict.

#include <array>
#include <span>

#include "minimizer/dmngb.h"
#include "minimizer/minimizer.h"
#include "search/search.h"

namespace gxe::search::detail {

inline void no_user_routine() {}

template <int N, int Liv, int Lv, class Objective>
SearchCounts minimise_bounded(const Objective& objective, const std::array<double, 2 * N>& bounds,
                              std::array<double, N>& x, double rfctol) {
  namespace mn = gxe::minimizer;
  std::array<int, Liv> iv{};
  std::array<double, Lv> v{};
  mn::IvView ivv{std::span<int>(iv)};
  mn::VView vv{std::span<double>(v)};
  mn::divset(mn::kBoundedFamily, ivv, Liv, Lv, vv);
  ivv(mn::RETURN_CODE) = mn::kFreshStart;
  ivv(mn::OUTPUT_UNIT) = 0;
  ivv(mn::PRINT_SOLUTION) = 0;
  ivv(mn::PRINT_STATISTICS) = 0;
  if (rfctol > 0.0) vv(mn::RFCTOL) = rfctol;
  int uiparm = 0;
  double urparm = 0.0;
  std::array<double, N> scale;
  scale.fill(1.0);
  mn::dmngb(N, mn::Vec(scale), mn::Vec(x), mn::CVec(bounds), objective, objective, ivv, Liv, Lv,
            vv, uiparm, urparm, no_user_routine);
  return SearchCounts{ivv(mn::FEVAL_COUNT), ivv(mn::GEVAL_COUNT), ivv(mn::RETURN_CODE)};
}

}  // namespace gxe::search::detail

#endif  // GXE_SEARCH_BOUNDED_H_
