#ifndef GXE_MINIMIZER_DMNGB_H_
#define GXE_MINIMIZER_DMNGB_H_

// Entry routine of the bounded minimizer: minimises a smooth f of n variables
// under simple bounds lower(i) <= x(i) <= upper(i), calling back for f and its
// gradient. The work is done by the reverse-communication driver drmngb; this
// routine only sizes the storage and runs the evaluation loop.
//
// Callbacks (any callable types; the three user arguments are passed through
// untouched and may be of any type):
//
//   calcf(int n, CVec x, int& nf, double& f, UI&, UR&, UF&)
//       store f(x) in f. nf is the evaluation number; set nf <= 0 when f
//       cannot be computed at x (the step is then shortened, or, at the
//       starting point, the run ends with kInitialFFailed).
//   calcg(int n, CVec x, int& nf, Vec g, UI&, UR&, UF&)
//       store the gradient at x in g (n values kept inside V). nf is the
//       number of the f evaluation made at this same x, so a callback may
//       reuse work done there; set nf <= 0 when it cannot be computed
//       (the run ends with kGradientFailed).
//
// The result code is left in IV(1) (ReturnCode, slots.h); x holds the best
// point found. Nothing is allocated.

#include <algorithm>
#include <climits>

#include "minimizer/minimizer.h"

namespace gxe::minimizer {

namespace detail {

// Adds `amount` to an integer slot that counts storage, saturating far from
// the int limits so that later sums of slot values cannot overflow; a
// saturated request is simply larger than any real array.
inline void add_storage(int& slot, long long amount) {
  constexpr long long kLimit = INT_MAX / 4;
  slot = static_cast<int>(std::clamp(static_cast<long long>(slot) + amount, -kLimit, kLimit));
}

}  // namespace detail

// Minimises f over the box b (pairs lower(i), upper(i)) in n variables from
// x, with scale vector d, callbacks calcf and calcg (above) and all settings
// and state in iv and v (liv, lv: the lengths claimed for them). The three
// user arguments are handed to both callbacks.
template <class Calcf, class Calcg, class UI, class UR, class UF>
void dmngb(int n, Vec d, Vec x, CVec b, Calcf&& calcf, Calcg&& calcg, IvView iv, int liv, int lv,
           VView v, UI& uiparm, UR& urparm, UF& ufparm) {
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv < 1) return;  // not even a slot for the result
  double fx = 0.0;

  // 1. Default settings when asked for.
  if (iv(RETURN_CODE) == kDefaultsFirst) divset(kBoundedFamily, iv, liv, lv, v);

  // 2. Size and allocate storage on a fresh start; the gradient is kept in V
  //    behind the driver's own areas, so n more slots are asked for.
  const int iv1 = iv(RETURN_CODE);
  const bool continuing = iv1 == kStorageReady || (iv1 >= kXConvergence && iv1 <= kInterrupted);
  if (!continuing) {
    if (iv1 == kFreshStart) iv(RETURN_CODE) = kSizeOnly;
    if (iv(RETURN_CODE) == kSizeOnly && liv >= EXTRA_V) detail::add_storage(iv(EXTRA_V), n);
    drmngb(b, d, fx, Vec{}, iv, liv, lv, n, v, x);
    if (iv(RETURN_CODE) != kStorageReady) return;
    iv(GRAD_AT) = iv(NEXT_V);
    detail::add_storage(iv(NEXT_V), n);
    if (iv1 == kSizeOnly) return;
  }

  // 3. Evaluation loop: answer the driver's requests until it returns a code.
  for (;;) {
    Vec g;
    if (liv >= GRAD_AT && n >= 1) {
      const long long at = iv(GRAD_AT);
      if (at >= 1 && at + n - 1 <= lv) g = v.area(static_cast<int>(at), n);
    }
    drmngb(b, d, fx, g, iv, liv, lv, n, v, x);
    const int code = iv(RETURN_CODE);
    if (code == kNeedF) {
      int nf = iv(FEVAL_COUNT);
      calcf(n, CVec(x.first(static_cast<std::size_t>(n))), nf, fx, uiparm, urparm, ufparm);
      if (nf <= 0) iv(EVAL_FAILED) = 1;
    } else if (code == kNeedGradient) {
      int nf = iv(GRAD_AT_FEVAL);
      calcg(n, CVec(x.first(static_cast<std::size_t>(n))), nf, g, uiparm, urparm, ufparm);
      if (nf <= 0) iv(EVAL_FAILED) = 1;
    } else {
      return;
    }
  }
}

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_DMNGB_H_
