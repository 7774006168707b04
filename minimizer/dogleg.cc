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

#include "minimizer/dogleg.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "minimizer/assess.h"
#include "minimizer/linalg.h"
#include "minimizer/machine.h"

namespace gxe::minimizer {

namespace {

// Applies the 2x2 reflection of dh2rfg to the pair (a, b).
void reflect(double& a, double& b, double x, double y, double z) {
  const double t = a * x + b * y;
  a += t;
  b += t * z;
}

// The step on the segment from the Cauchy point C = cfact D^-2 g to the
// relaxed Newton point N = RELAX (-H^-1 g): C + t (N - C) with
// |C + t (N - C)| = radius, solved for t in (0, 1) in a form free of
// cancellation. The inputs are those of dd7dog.
void segment_step(CVec dig, std::size_t count, CVec nwtstp, Vec step, VView v, double cfact,
                  double relax) {
  const double gnorm = v(SCALED_GRAD_NORM);
  const double gthg = v(CURVATURE_NORM);
  const double ghinvg = 2.0 * v(NEWTON_DECREASE);
  const double rad = v(RADIUS);
  const double ctrnwt = cfact * relax * ghinvg / gnorm;  // C'N / gnorm, scaled
  const double cfact2 = cfact * cfact;
  const double t1 = ctrnwt - gnorm * cfact2;
  const double t2 = rad * (rad / gnorm) - gnorm * cfact2;
  double t = relax * v(NEWTON_NORM);
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

// Where a step first leaves the box: the largest fraction t <= 1 of it that
// stays inside, and the position of the variable that limits it (negative
// for a lower bound, 0 when the whole step fits).
struct Cut {
  double fraction = 1.0;
  int position = 0;
};

// One call of the bounded step over the caller's vectors (see dd7dgb). The
// first pass of an iteration works on all free variables; each bound hit
// fixes one more and leaves the rest for the next pass.
class BoundedDogleg {
 public:
  BoundedDogleg(CVec b, CVec d, Vec dig, Vec dst, CVec g, std::span<int> ipiv, Vec l, int lv,
                int p, int pc, Vec nwtst, Vec step, Vec td, Vec tg, VView v, Vec w, CVec x0)
      : b_(b), d_(d), dig_(dig), dst_(dst), g_(g), ipiv_(ipiv), l_(l), nwtst_(nwtst),
        step_(step), td_(td), tg_(tg), w_(w), x0_(x0), v_(v), lv_(lv), p_(p), pc_(pc) {}

  void run(int& ka);

 private:
  double lower(int j) const { return b_[2 * at0(j)]; }
  double upper(int j) const { return b_[2 * at0(j) + 1]; }

  void gather_free_variables();
  bool pass(int p1, int& ka);
  double reduced_newton_step(int p1);
  double dogleg_direction(int p1);
  Cut first_bound_hit(int p1) const;
  void move_model_to_cut(int p1, double t1, double t2);
  void fix_variable(int p1, int k);
  void scatter_step(int p1);

  CVec b_, d_;
  Vec dig_, dst_;
  CVec g_;
  std::span<int> ipiv_;
  Vec l_, nwtst_, step_, td_, tg_, w_;
  CVec x0_;
  VView v_;
  int lv_, p_, pc_;
  double radius_ = 0.0;          // the whole trust radius; passes use what is left
  double pred_ = 0.0;            // decrease predicted for the pieces taken so far
  double newton_norm_ = 0.0;     // the full Newton step's length and decrease,
  double newton_decrease_ = 0.0; // reported in place of the last pass's
};

void BoundedDogleg::run(int& ka) {
  const double gnorm0 = v_(SCALED_GRAD_NORM);
  v_(STEP_NORM) = 0.0;
  if (ka >= 0) {
    newton_norm_ = v_(NEWTON_NORM);
    newton_decrease_ = v_(NEWTON_DECREASE);
  }
  v_(STPPAR) = 0.0;
  radius_ = v_(RADIUS);

  if (pc_ < 1) {
    // No free variable: the step is zero.
    newton_norm_ = 0.0;
    if (ka < 0) newton_decrease_ = 0.0;
    dv7scp(p_, step_, 0.0);
  } else {
    gather_free_variables();
    int p1 = pc_;
    while (p1 > 0 && pass(p1, ka)) --p1;
    scatter_step(p1);
  }

  // Restore what the passes overwrote and report the step.
  v_(SCALED_GRAD_NORM) = gnorm0;
  v_(NEWTON_DECREASE) = newton_decrease_;
  v_(PRED_DECREASE) = pred_;
  v_(RADIUS) = radius_;
  v_(NEWTON_NORM) = newton_norm_;
  v_(GRAD_DOT_STEP) = dd7tpr(p_, step_, g_);
}

// Scale and gradient in permuted order; no step taken yet.
void BoundedDogleg::gather_free_variables() {
  for (int i = 1; i <= p_; ++i) {
    const int j = std::abs(ipiv_[at0(i)]);
    td_[at0(i)] = d_[at0(j)];
    tg_[at0(i)] = g_[at0(j)];
  }
  dv7scp(pc_, dst_, 0.0);
}

// One pass over the p1 variables still free: the double-dogleg step of the
// reduced model within the radius left, cut where it first leaves the box.
// True when that fixed a variable at its bound (another pass follows).
bool BoundedDogleg::pass(int p1, int& ka) {
  const double ghinvg = reduced_newton_step(p1);
  if (ka < 0) {
    ka = 0;
    newton_norm_ = v_(NEWTON_NORM);
    newton_decrease_ = v_(NEWTON_DECREASE);
  }
  v_(RADIUS) = radius_ - v_(STEP_NORM);
  if (v_(RADIUS) <= 0.0) return false;
  const double gnorm = dogleg_direction(p1);
  if (gnorm <= 0.0) return false;
  ka += 1;
  dd7dog(dig_, lv_, p1, nwtst_, step_, v_);

  // Take the fraction of the step that stays in the box, in scaled coordinates.
  const Cut cut = first_bound_hit(p1);
  dv7vmp(p1, step_, step_, td_, 1);
  dv2axy(p1, dst_, cut.fraction, step_, dst_);
  v_(STEP_NORM) = dv2nrm(pc_, dst_);

  // Decrease the model predicts for the piece taken. The piece is
  // t1 D^-2 tg + t2 H^-1 tg (the dogleg coefficients scaled by the fraction);
  // with tg'D^-2 tg = gnorm^2, tg'H^-1 tg = ghinvg, |L' D^-2 tg|^2 = gthg^2
  // the model change tg'piece + piece'H piece/2 is the negative of:
  const double t1 = cut.fraction * v_(GRAD_COEF);
  const double t2 = cut.fraction * v_(NEWTON_COEF);
  pred_ = pred_ - t1 * gnorm * ((t2 + 1.0) * gnorm) - t2 * (1.0 + 0.5 * t2) * ghinvg -
          0.5 * (v_(CURVATURE_NORM) * t1) * (v_(CURVATURE_NORM) * t1);

  if (cut.position == 0) return false;  // no bound crossed: this piece is the last
  move_model_to_cut(p1, t1, t2);
  fix_variable(p1, cut.position);
  return true;
}

// Newton direction of the reduced model, H^-1 tg = L'^-1 L^-1 tg, with its
// predicted decrease tg'H^-1 tg / 2 and its scaled length (positions p1+1..pc
// of step still hold the scaled components of the previous pass's step).
// Returns tg'H^-1 tg.
double BoundedDogleg::reduced_newton_step(int p1) {
  dl7ivm(p1, nwtst_, l_, tg_);
  const double ghinvg = dd7tpr(p1, nwtst_, nwtst_);
  v_(NEWTON_DECREASE) = 0.5 * ghinvg;
  dl7itv(p1, nwtst_, l_, nwtst_);
  dv7vmp(p1, step_, nwtst_, td_, 1);
  v_(NEWTON_NORM) = dv2nrm(pc_, step_);
  return ghinvg;
}

// Scaled gradient D^-1 tg, whose norm is returned, and (unless that is 0)
// the dogleg direction D^-2 tg with |L' D^-2 tg| for the curvature along it.
double BoundedDogleg::dogleg_direction(int p1) {
  dv7vmp(p1, dig_, tg_, td_, -1);
  const double gnorm = dv2nrm(p1, dig_);
  if (gnorm <= 0.0) return gnorm;
  v_(SCALED_GRAD_NORM) = gnorm;
  dv7vmp(p1, dig_, dig_, td_, -1);
  dl7tvm(p1, w_, l_, dig_);
  v_(CURVATURE_NORM) = dv2nrm(p1, w_);
  return gnorm;
}

// Only a strictly smaller fraction replaces the candidate, so the lowest
// position wins a tie.
Cut BoundedDogleg::first_bound_hit(int p1) const {
  Cut cut;
  for (int i = 1; i <= p1; ++i) {
    const int j = ipiv_[at0(i)];
    const double x0i = x0_[at0(j)] + dst_[at0(i)] / td_[at0(i)];
    const double xi = x0i + step_[at0(i)];
    double ti = 0.0;
    int candidate = 0;
    if (xi < lower(j)) {
      ti = (lower(j) - x0i) / step_[at0(i)];
      candidate = -i;
    } else if (xi > upper(j)) {
      ti = (upper(j) - x0i) / step_[at0(i)];
      candidate = i;
    } else {
      continue;
    }
    if (cut.fraction > ti) cut = {ti, candidate};
  }
  return cut;
}

// Gradient of the model at the cut point, tg + H piece =
// (1 + t2) tg + t1 H D^-2 tg, with H D^-2 tg = L (L' D^-2 tg).
void BoundedDogleg::move_model_to_cut(int p1, double t1, double t2) {
  dl7vml(p1, w_, l_, w_);
  const double keep = 1.0 + t2;
  for (int i = 1; i <= p1; ++i) tg_[at0(i)] = keep * tg_[at0(i)] + t1 * w_[at0(i)];
}

// Fixes the variable at position |k| by moving it behind the free ones, in
// the factor and in every permuted vector; a negative ipiv entry marks a cut
// at the lower bound.
void BoundedDogleg::fix_variable(int p1, int k) {
  const int kk = std::abs(k);
  if (kk != p1) {
    dq7rsh(kk, p1, false, tg_, l_, w_);
    i7shft(p1, kk, ipiv_);
    dv7shf(p1, kk, tg_);
    dv7shf(p1, kk, td_);
    dv7shf(p1, kk, dst_);
  }
  if (k < 0) ipiv_[at0(p1)] = -ipiv_[at0(p1)];
}

// The step in the variables' own order and units. Each variable cut at a
// bound (positions p1+1..pc) is pushed a relative 2 machep past it, so that
// the projection onto the box puts it exactly on the bound and the next
// selection of free variables sees it there; its mark is removed.
void BoundedDogleg::scatter_step(int p1) {
  static const double meps2 = 2.0 * dr7mdc(kMachep);
  dv7scp(p_, step_, 0.0);
  for (int i = 1; i <= pc_; ++i) {
    const int j = std::abs(ipiv_[at0(i)]);
    step_[at0(j)] = dst_[at0(i)] / td_[at0(i)];
  }
  if (p1 >= pc_) return;
  dv2axy(p_, td_, 1.0, step_, x0_);
  for (int i = p1 + 1; i <= pc_; ++i) {
    int j = ipiv_[at0(i)];
    double t = meps2;
    if (j < 1) {
      t = -meps2;
      j = -j;
      ipiv_[at0(i)] = j;
    }
    step_[at0(j)] += t * std::max(std::fabs(td_[at0(j)]), std::fabs(x0_[at0(j)]));
  }
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

  // 6. Between the Cauchy point and the relaxed Newton point.
  segment_step(dig, count, nwtstp, step, v, cfact, relax);
}

void dd7dgb(CVec b, CVec d, Vec dig, Vec dst, CVec g, std::span<int> ipiv, int& ka, Vec l,
            int lv, int p, int pc, Vec nwtst, Vec step, Vec td, Vec tg, VView v, Vec w, CVec x0) {
  BoundedDogleg(b, d, dig, dst, g, ipiv, l, lv, p, pc, nwtst, step, td, tg, v, w, x0).run(ka);
}

// Moves variable k of H = R R' to position p and restores R's triangular
// form. Moving row k of R to the bottom leaves rows k..p-1 with one entry
// right of the diagonal; a 2x2 reflection of columns j, j+1 (from the right,
// so R R' is unchanged) removes each in turn, and the moved row, kept in w,
// receives the same reflections.
void dq7rsh(int k, int p, bool havqtr, Vec qtr, Vec r, Vec w) {
  if (k >= p) return;  // already last
  const Packed<double> rp(r);

  // The row that moves to the bottom.
  for (int j = 1; j <= k; ++j) w[at0(j)] = rp(k, j);
  double wj = w[at0(k)];

  // Shift rows k+1..p up one place and reflect away the superdiagonal.
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

  // The moved row becomes row p.
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
