// Bounded double-dogleg step.
//
// The quadratic model of f about x0 is q(s) = g's + s'Hs/2 with H = L L'. In
// the scaled variables u = D s the trust region is |u| <= radius. The double-
// dogleg path runs from 0 to the Cauchy point (the minimiser of q along the
// scaled steepest-descent direction), then straight to RELAX times the Newton
// step -H^-1 g, RELAX <= 1 biasing the path toward the Newton direction, and
// on to the Newton step itself; the step is where the path leaves the region.
//
// Under simple bounds the step is cut where it first leaves the box, the
// variable that hit its bound is fixed there, the model is moved to the cut
// point and the Cholesky factor re-triangularised without that variable, and
// a new dogleg step with the radius that is left is taken on the rest.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "minimizer/minimizer.h"

namespace gxe::minimizer {

namespace {

std::size_t at0(int i) { return static_cast<std::size_t>(i) - 1; }  // 1-based -> 0-based

// Applies the 2x2 reflection of dh2rfg to the pair (a, b).
void reflect(double& a, double& b, double x, double y, double z) {
  const double t = a * x + b * y;
  a += t;
  b += t * z;
}

}  // namespace

void dd7dog(CVec dig, int /*lv*/, int n, CVec nwtstp, Vec step, VView v) {
  const auto count = static_cast<std::size_t>(std::max(n, 0));
  const double nwtnrm = v(NEWTON_NORM);
  const double gnorm = v(SCALED_GRAD_NORM);
  const double rad = v(RADIUS);
  const double gthg = v(CURVATURE_NORM);  // |L' D^-2 g|, so gthg^2 = g'D^-2 H D^-2 g

  // 1. Ratio of the radius to the Newton step's length.
  const double rlambd = nwtnrm > 0.0 ? rad / nwtnrm : 1.0;
  const double ghinvg = 2.0 * v(NEWTON_DECREASE);  // g'H^-1 g
  v(GRAD_COEF) = 0.0;
  v(NEWTON_COEF) = 0.0;

  // 2. The Newton step fits in the region.
  if (rlambd >= 1.0) {
    for (std::size_t i = 0; i < count; ++i) step[i] = -nwtstp[i];
    v(STPPAR) = 0.0;
    v(STEP_NORM) = nwtnrm;
    v(GRAD_DOT_STEP) = -ghinvg;
    v(PRED_DECREASE) = v(NEWTON_DECREASE);
    v(NEWTON_COEF) = -1.0;
    return;
  }

  // 3. The step will have the length of the radius. The Cauchy step is
  // cfact D^-2 g with cfact = |D^-1 g|^2 / gthg^2, of scaled length cnorm.
  v(STEP_NORM) = rad;
  const double cfact = (gnorm / gthg) * (gnorm / gthg);
  const double cnorm = gnorm * cfact;
  const double relax = 1.0 - v(BIAS) * (1.0 - gnorm * cnorm / ghinvg);

  // 4. A shortened Newton step, between RELAX times and the whole Newton
  // step, reaches the radius.
  if (rlambd >= relax) {
    v(STPPAR) = 1.0 - (rlambd - relax) / (1.0 - relax);
    const double t = -rlambd;
    v(GRAD_DOT_STEP) = t * ghinvg;
    v(PRED_DECREASE) = rlambd * (1.0 - 0.5 * rlambd) * ghinvg;
    v(NEWTON_COEF) = t;
    for (std::size_t i = 0; i < count; ++i) step[i] = t * nwtstp[i];
    return;
  }

  // 5. Even the Cauchy step is too long: a steepest-descent step to the radius.
  if (cnorm >= rad) {
    const double t = -rad / gnorm;
    v(GRAD_COEF) = t;
    v(STPPAR) = 1.0 + cnorm / rad;
    v(GRAD_DOT_STEP) = -rad * gnorm;
    const double ratio = gthg / gnorm;
    v(PRED_DECREASE) = rad * (gnorm - rad * (ratio * ratio) / 2.0);
    for (std::size_t i = 0; i < count; ++i) step[i] = t * dig[i];
    return;
  }

  // 6. The step lies on the segment from the Cauchy point C to the relaxed
  // Newton point N = RELAX (-H^-1 g): C + t (N - C) with |C + t (N - C)| =
  // radius, solved for t in (0, 1) in a form free of cancellation.
  const double ctrnwt = cfact * relax * ghinvg / gnorm;  // C'N / gnorm, scaled
  const double cfact2 = cfact * cfact;
  const double t1 = ctrnwt - gnorm * cfact2;
  const double t2 = rad * (rad / gnorm) - gnorm * cfact2;
  double t = relax * nwtnrm;
  const double t3 = t * (t / gnorm) - ctrnwt - t1;
  t = t2 / (t1 + std::sqrt(t1 * t1 + t3 * t2));
  const double gcoef = cfact * (t - 1.0);
  const double ncoef = -relax * t;
  v(GRAD_COEF) = gcoef;
  v(NEWTON_COEF) = ncoef;
  v(STPPAR) = 2.0 - t;
  v(GRAD_DOT_STEP) = gcoef * (gnorm * gnorm) + ncoef * ghinvg;
  v(PRED_DECREASE) = -gcoef * gnorm * ((ncoef + 1.0) * gnorm) -
                     ncoef * (1.0 + 0.5 * ncoef) * ghinvg - 0.5 * (gthg * gcoef) * (gthg * gcoef);
  for (std::size_t i = 0; i < count; ++i) step[i] = gcoef * dig[i] + ncoef * nwtstp[i];
}

void dd7dgb(CVec b, CVec d, Vec dig, Vec dst, CVec g, std::span<int> ipiv, int& ka, Vec l,
            int lv, int p, int pc, Vec nwtst, Vec step, Vec td, Vec tg, VView v, Vec w, CVec x0) {
  // The push past a cut bound, 2 machep relative, set once.
  static const double meps2 = 2.0 * dr7mdc(3);
  const auto lower = [&b](int j) { return b[2 * at0(j)]; };
  const auto upper = [&b](int j) { return b[2 * at0(j) + 1]; };

  // 1. Save what the passes overwrite; the first pass of an iteration
  // records the full Newton step's length and decrease.
  const double gnorm0 = v(SCALED_GRAD_NORM);
  v(STEP_NORM) = 0.0;
  double nwtnrm0 = 0.0;
  double nred0 = 0.0;
  if (ka >= 0) {
    nwtnrm0 = v(NEWTON_NORM);
    nred0 = v(NEWTON_DECREASE);
  }
  double pred = 0.0;
  v(STPPAR) = 0.0;
  const double rad = v(RADIUS);
  int p1 = pc;

  if (pc < 1) {
    // 2. No free variable: the step is zero.
    nwtnrm0 = 0.0;
    if (ka < 0) nred0 = 0.0;
    dv7scp(p, step, 0.0);
  } else {
    // 3. Scale, step and gradient in permuted order.
    for (int i = 1; i <= p; ++i) {
      const int j = std::abs(ipiv[at0(i)]);
      td[at0(i)] = d[at0(j)];
      tg[at0(i)] = g[at0(j)];
    }
    dv7scp(pc, dst, 0.0);

    // 4. Passes over the free variables not yet cut at a bound.
    while (p1 > 0) {
      // a. Newton direction of the reduced model: H^-1 tg = L'^-1 L^-1 tg,
      // and the decrease it predicts, tg'H^-1 tg / 2.
      dl7ivm(p1, nwtst, l, tg);
      const double ghinvg = dd7tpr(p1, nwtst, nwtst);
      v(NEWTON_DECREASE) = 0.5 * ghinvg;
      dl7itv(p1, nwtst, l, nwtst);

      // b. Its scaled length (positions p1+1..pc still hold the scaled
      // components of the previous pass's step).
      dv7vmp(p1, step, nwtst, td, 1);
      v(NEWTON_NORM) = dv2nrm(pc, step);

      // c.
      if (ka < 0) {
        ka = 0;
        nwtnrm0 = v(NEWTON_NORM);
        nred0 = v(NEWTON_DECREASE);
      }

      // d. The radius left after the pieces already taken.
      v(RADIUS) = rad - v(STEP_NORM);
      if (v(RADIUS) <= 0.0) break;

      // e. Scaled gradient D^-1 tg and the dogleg direction D^-2 tg, with
      // |L' D^-2 tg| for the curvature along it.
      dv7vmp(p1, dig, tg, td, -1);
      const double gnorm = dv2nrm(p1, dig);
      if (gnorm <= 0.0) break;
      v(SCALED_GRAD_NORM) = gnorm;
      dv7vmp(p1, dig, dig, td, -1);
      dl7tvm(p1, w, l, dig);
      v(CURVATURE_NORM) = dv2nrm(p1, w);
      ka += 1;

      // f. The double-dogleg step on the remaining variables.
      dd7dog(dig, lv, p1, nwtst, step, v);

      // g. Largest fraction t <= 1 of the step that stays in the box, and
      // the position (negative: lower bound) of the variable that limits
      // it. Only a strictly smaller fraction replaces the candidate, so
      // the lowest position wins a tie.
      double t = 1.0;
      int k = 0;
      for (int i = 1; i <= p1; ++i) {
        const int j = ipiv[at0(i)];
        const double x0i = x0[at0(j)] + dst[at0(i)] / td[at0(i)];
        const double xi = x0i + step[at0(i)];
        double ti = 0.0;
        int candidate = 0;
        if (xi < lower(j)) {
          ti = (lower(j) - x0i) / step[at0(i)];
          candidate = -i;
        } else if (xi > upper(j)) {
          ti = (upper(j) - x0i) / step[at0(i)];
          candidate = i;
        } else {
          continue;
        }
        if (t > ti) {
          t = ti;
          k = candidate;
        }
      }

      // h. Take that fraction of the step, in scaled coordinates.
      dv7vmp(p1, step, step, td, 1);
      dv2axy(p1, dst, t, step, dst);
      v(STEP_NORM) = dv2nrm(pc, dst);

      // i. Decrease the model predicts for the piece taken. The piece is
      // t1 D^-2 tg + t2 H^-1 tg (the dogleg coefficients scaled by t); with
      // tg'D^-2 tg = gnorm^2, tg'H^-1 tg = ghinvg, |L' D^-2 tg|^2 = gthg^2
      // the model change tg'piece + piece'H piece/2 is the negative of:
      const double t1 = t * v(GRAD_COEF);
      const double t2 = t * v(NEWTON_COEF);
      pred = pred - t1 * gnorm * ((t2 + 1.0) * gnorm) - t2 * (1.0 + 0.5 * t2) * ghinvg -
             0.5 * (v(CURVATURE_NORM) * t1) * (v(CURVATURE_NORM) * t1);

      // j. No bound crossed: this pass's step is the last.
      if (k == 0) break;

      // k. Gradient of the model at the cut point, tg + H piece =
      // (1 + t2) tg + t1 H D^-2 tg, with H D^-2 tg = L (L' D^-2 tg).
      dl7vml(p1, w, l, w);
      const double keep = 1.0 + t2;
      for (int i = 1; i <= p1; ++i) tg[at0(i)] = keep * tg[at0(i)] + t1 * w[at0(i)];

      // l. Fix the variable at position |k|: move it behind the free ones.
      const int kk = std::abs(k);
      if (kk != p1) {
        dq7rsh(kk, p1, false, tg, l, w);
        i7shft(p1, kk, ipiv);
        dv7shf(p1, kk, tg);
        dv7shf(p1, kk, td);
        dv7shf(p1, kk, dst);
      }
      if (k < 0) ipiv[at0(p1)] = -ipiv[at0(p1)];  // mark: cut at its lower bound
      p1 -= 1;
    }

    // 5. The step in the variables' own order and units.
    dv7scp(p, step, 0.0);
    for (int i = 1; i <= pc; ++i) {
      const int j = std::abs(ipiv[at0(i)]);
      step[at0(j)] = dst[at0(i)] / td[at0(i)];
    }
    // Push each variable cut at a bound a relative 2 machep past it, so
    // that the projection onto the box puts it exactly on the bound and
    // the next selection of free variables sees it there.
    if (p1 < pc) {
      dv2axy(p, td, 1.0, step, x0);
      for (int i = p1 + 1; i <= pc; ++i) {
        int j = ipiv[at0(i)];
        double t = meps2;
        if (j < 1) {
          t = -meps2;
          j = -j;
          ipiv[at0(i)] = j;
        }
        step[at0(j)] += t * std::max(std::fabs(td[at0(j)]), std::fabs(x0[at0(j)]));
      }
    }
  }

  // 6. Restore the saved values and report the step.
  v(SCALED_GRAD_NORM) = gnorm0;
  v(NEWTON_DECREASE) = nred0;
  v(PRED_DECREASE) = pred;
  v(RADIUS) = rad;
  v(NEWTON_NORM) = nwtnrm0;
  v(GRAD_DOT_STEP) = dd7tpr(p, step, g);
}

// Moves variable k of H = R R' to position p and restores R's triangular
// form. Moving row k of R to the bottom leaves rows k..p-1 with one entry
// right of the diagonal; a 2x2 reflection of columns j, j+1 (from the right,
// so R R' is unchanged) removes each in turn, and the moved row, kept in w,
// receives the same reflections.
void dq7rsh(int k, int p, bool havqtr, Vec qtr, Vec r, Vec w) {
  // 1.
  if (k >= p) return;
  const Packed<double> rp(r);

  // 2. The row that moves to the bottom.
  for (int j = 1; j <= k; ++j) w[at0(j)] = rp(k, j);
  double wj = w[at0(k)];

  // 3. Shift rows k+1..p up one place and reflect away the superdiagonal.
  for (int j = k; j <= p - 1; ++j) {
    for (int i = 1; i <= j - 1; ++i) rp(j, i) = rp(j + 1, i);
    const double a = rp(j + 1, j);
    const double bb = rp(j + 1, j + 1);
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    if (bb == 0.0) {
      rp(j, j) = a;  // nothing to eliminate: the reflection is the identity
    } else {
      rp(j, j) = dh2rfg(a, bb, x, y, z);
      for (int i = j + 2; i <= p; ++i) reflect(rp(i, j), rp(i, j + 1), x, y, z);
      if (havqtr) reflect(qtr[at0(j)], qtr[at0(j + 1)], x, y, z);
    }
    // The moved row has a zero in column j+1 before the reflection.
    const double t = x * wj;
    w[at0(j)] = wj + t;
    wj = t * z;
  }

  // 4.
  w[at0(p)] = wj;
  for (int j = 1; j <= p; ++j) rp(p, j) = w[at0(j)];
}

// 2x2 Householder reflection that maps (a, b) to (result, 0). It is applied
// to a pair (u, v) as t = u x + v y, u += t, v += t z (dh2rfa). Scaling by
// |a| + |b| keeps the squares from overflowing or underflowing.
double dh2rfg(double a, double b, double& x, double& y, double& z) {
  if (b == 0.0) {
    x = 0.0;
    y = 0.0;
    z = 0.0;
    return a;
  }
  const double t = std::fabs(a) + std::fabs(b);
  double a1 = a / t;
  const double b1 = b / t;
  double r = std::sqrt(a1 * a1 + b1 * b1);
  if (a1 > 0.0) r = -r;
  a1 -= r;
  z = b1 / a1;
  x = a1 / r;
  y = b1 / r;
  return t * r;
}

void dh2rfa(int n, Vec a, Vec b, double x, double y, double z) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) {
    reflect(a[i], b[i], x, y, z);
  }
}

}  // namespace gxe::minimizer
