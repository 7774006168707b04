// Double-dogleg step: the four branches of the path against the geometry of
// a 2-D quadratic model (computed here with dense 2x2 algebra, not with the
// routines under test), and the bounded step: Newton step inside the box,
// cuts at a lower and an upper bound with the outward push, ties, no free
// variable, and on random problems a step never longer than the radius whose
// predicted decrease is the model's.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "minimizer/dogleg.h"
#include "minimizer/linalg.h"
#include "minimizer/params.h"
#include "tests/support/test_util.h"

namespace gxe::minimizer {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();  // 2^-52 = machep
constexpr int kMaxP = 4;
using Vector = std::array<double, kMaxP>;

// Dense symmetric 2x2 helpers.
struct Sym2 {
  double a, b, c;  // [[a, b], [b, c]]
  std::array<double, 2> times(std::array<double, 2> x) const {
    return {a * x[0] + b * x[1], b * x[0] + c * x[1]};
  }
  std::array<double, 2> solve(std::array<double, 2> y) const {
    const double det = a * c - b * b;
    return {(c * y[0] - b * y[1]) / det, (a * y[1] - b * y[0]) / det};
  }
};
double dot(std::array<double, 2> x, std::array<double, 2> y) { return x[0] * y[0] + x[1] * y[1]; }
double norm(std::array<double, 2> x) { return std::sqrt(dot(x, x)); }

// The single dogleg step on H = [[2, .5], [.5, 1]] = L L', g = (1, 1),
// D = I, BIAS = 0.8.
class DoglegPath : public ::testing::Test {
 protected:
  void SetUp() override {
    divset(2, IvView(ivs), 100, 100, v);
    const double l11 = std::sqrt(2.0);
    const double l21 = 0.5 / l11;
    l = {l11, l21, std::sqrt(1.0 - l21 * l21)};
    newton = h.solve(g);  // H^-1 g; the Newton step is its negative
    ghinvg = dot(g, newton);
    gthg2 = dot(g, h.times(g));
    cauchy_len = dot(g, g) / gthg2 * norm(g);
    relax = 1.0 - 0.8 * (1.0 - dot(g, g) * dot(g, g) / (gthg2 * ghinvg));
    ASSERT_LT(cauchy_len, relax * norm(newton));
    ASSERT_LT(relax, 1.0);
  }

  // Runs dd7dog with the quantities the bounded step routine supplies.
  std::array<double, 2> run(double radius) {
    v(NEWTON_NORM) = norm(newton);
    v(SCALED_GRAD_NORM) = norm(g);
    v(RADIUS) = radius;
    v(CURVATURE_NORM) = std::sqrt(gthg2);
    v(NEWTON_DECREASE) = 0.5 * ghinvg;
    std::array<double, 2> s{};
    dd7dog(std::array<double, 2>(g), 100, 2, std::array<double, 2>(newton), s, v);
    return s;
  }

  // Model decrease -(g's + s'Hs/2).
  double decrease(std::array<double, 2> s) const { return -(dot(g, s) + 0.5 * dot(s, h.times(s))); }

  void expect_consistent(std::array<double, 2> s) {
    EXPECT_CLOSE(v(STEP_NORM), norm(s), 1e-14);
    EXPECT_CLOSE(v(GRAD_DOT_STEP), dot(g, s), 1e-14);
    EXPECT_CLOSE(v(PRED_DECREASE), decrease(s), 1e-14);
    // The step is GRAD_COEF D^-2 g + NEWTON_COEF H^-1 g.
    for (int i = 0; i < 2; ++i)
      EXPECT_CLOSE(s[static_cast<std::size_t>(i)],
                   v(GRAD_COEF) * g[static_cast<std::size_t>(i)] +
                       v(NEWTON_COEF) * newton[static_cast<std::size_t>(i)],
                   1e-14);
  }

  std::array<int, 100> ivs{};
  std::array<double, 100> vs{};
  VView v{std::span<double>(vs)};
  Sym2 h{2.0, 0.5, 1.0};
  std::array<double, 2> g{1.0, 1.0};
  std::array<double, 3> l{};
  std::array<double, 2> newton{};
  double ghinvg = 0, gthg2 = 0, cauchy_len = 0, relax = 0;
};

TEST_F(DoglegPath, NewtonStepWhenItFits) {
  const auto s = run(2.0 * norm(newton));
  EXPECT_CLOSE(s[0], -newton[0], 1e-15);
  EXPECT_CLOSE(s[1], -newton[1], 1e-15);
  EXPECT_EQ(v(STPPAR), 0.0);
  EXPECT_EQ(v(NEWTON_COEF), -1.0);
  EXPECT_EQ(v(GRAD_COEF), 0.0);
  expect_consistent(s);
}

TEST_F(DoglegPath, ShortenedNewtonStep) {
  const double radius = 0.5 * (relax + 1.0) * norm(newton);
  const auto s = run(radius);
  const double f = radius / norm(newton);
  EXPECT_CLOSE(s[0], -f * newton[0], 1e-14);
  EXPECT_CLOSE(s[1], -f * newton[1], 1e-14);
  EXPECT_CLOSE(v(STPPAR), 0.5, 1e-12);  // halfway between RELAX and 1
  expect_consistent(s);
}

TEST_F(DoglegPath, SteepestDescentShorterThanCauchyStep) {
  const double radius = 0.5 * cauchy_len;
  const auto s = run(radius);
  EXPECT_CLOSE(s[0], -radius * g[0] / norm(g), 1e-14);
  EXPECT_CLOSE(s[1], -radius * g[1] / norm(g), 1e-14);
  EXPECT_CLOSE(v(STPPAR), 3.0, 1e-14);  // 1 + Cauchy length / radius
  expect_consistent(s);
}

TEST_F(DoglegPath, DoglegSegmentBetweenCauchyAndRelaxedNewton) {
  const double radius = 0.5 * (cauchy_len + relax * norm(newton));
  const auto s = run(radius);
  // Point C + t (N - C) of the segment with length `radius`, t in (0, 1).
  const double cf = dot(g, g) / gthg2;
  const std::array<double, 2> c{-cf * g[0], -cf * g[1]};
  const std::array<double, 2> n{-relax * newton[0], -relax * newton[1]};
  const std::array<double, 2> e{n[0] - c[0], n[1] - c[1]};
  const double qa = dot(e, e), qb = 2.0 * dot(c, e), qc = dot(c, c) - radius * radius;
  const double t = (-qb + std::sqrt(qb * qb - 4.0 * qa * qc)) / (2.0 * qa);
  ASSERT_GT(t, 0.0);
  ASSERT_LT(t, 1.0);
  EXPECT_CLOSE(s[0], c[0] + t * e[0], 1e-13);
  EXPECT_CLOSE(s[1], c[1] + t * e[1], 1e-13);
  EXPECT_CLOSE(v(STPPAR), 2.0 - t, 1e-13);
  EXPECT_CLOSE(norm(s), radius, 1e-14);
  expect_consistent(s);
}

// The two branches that stop short of the relaxed Newton point, against
// their formulas evaluated as written: a square before the product it
// stands in (g c^2 is g (c c), not (g c) c), otherwise left to right. Other
// groupings change the last bits in about a third of all cases, and with
// them the points a search ends at, so the grouping is part of the result.
// Inputs: random 2x2 models H = L L' with D = I.
struct DoglegFormulas {
  double gcoef = 0.0, ncoef = 0.0, stppar = 0.0, gts = 0.0, pred = 0.0;
};

DoglegFormulas dogleg_formulas(double gnorm, double gthg, double nwtnrm, double ghinvg,
                               double rad, double bias) {
  DoglegFormulas r;
  const double q = gnorm / gthg;
  const double cfact = q * q;
  const double cnorm = gnorm * cfact;
  const double relax = 1.0 - bias * (1.0 - gnorm * cnorm / ghinvg);
  if (cnorm >= rad) {  // steepest descent to the radius
    r.gcoef = -rad / gnorm;
    r.stppar = 1.0 + cnorm / rad;
    r.gts = -rad * gnorm;
    const double ratio = gthg / gnorm;
    r.pred = rad * (gnorm - rad * (ratio * ratio) / 2.0);
    return r;
  }
  const double ctrnwt = cfact * relax * ghinvg / gnorm;  // Cauchy point to relaxed Newton point
  const double t1 = ctrnwt - gnorm * (cfact * cfact);
  const double t2 = rad * (rad / gnorm) - gnorm * (cfact * cfact);
  double t = relax * nwtnrm;
  const double t3 = t * (t / gnorm) - ctrnwt - t1;
  t = t2 / (t1 + std::sqrt(t1 * t1 + t3 * t2));
  r.gcoef = cfact * (t - 1.0);
  r.ncoef = -relax * t;
  r.stppar = 2.0 - t;
  r.gts = r.gcoef * (gnorm * gnorm) + r.ncoef * ghinvg;
  const double a = gthg * r.gcoef;
  r.pred = -r.gcoef * gnorm * ((r.ncoef + 1.0) * gnorm) - r.ncoef * (1.0 + r.ncoef / 2.0) * ghinvg -
           (a * a) / 2.0;
  return r;
}

TEST(DoglegArithmetic, CutOffBranchesMatchTheirFormulasBitForBit) {
  std::mt19937 rng(2718);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_real_distribution<double> pos(0.2, 2.0);
  std::uniform_real_distribution<double> frac(0.05, 0.95);
  std::array<int, 100> ivs{};
  std::array<double, 100> vs{};
  VView v{std::span<double>(vs)};
  divset(2, IvView(ivs), 100, 100, v);
  int branch_count[2] = {0, 0};
  for (int trial = 0; trial < 400; ++trial) {
    const Sym2 h = [&] {
      const double l11 = pos(rng), l21 = u(rng), l22 = pos(rng);
      return Sym2{l11 * l11, l11 * l21, l21 * l21 + l22 * l22};
    }();
    const std::array<double, 2> g{u(rng), u(rng)};
    const std::array<double, 2> newton = h.solve(g);
    const double gnorm = norm(g);
    const double gthg = std::sqrt(dot(g, h.times(g)));
    const double nwtnrm = norm(newton);
    const double ghinvg = dot(g, newton);
    const double cnorm = gnorm * (gnorm / gthg) * (gnorm / gthg);
    const double relax = 1.0 - 0.8 * (1.0 - gnorm * cnorm / ghinvg);
    // Odd trials: inside the Cauchy step; even: between it and RELAX times
    // the Newton step.
    const bool steepest = trial % 2 == 1;
    const double rad = steepest ? frac(rng) * cnorm
                                : cnorm + frac(rng) * (relax * nwtnrm - cnorm);
    ASSERT_LT(rad, relax * nwtnrm);
    v(SCALED_GRAD_NORM) = gnorm;
    v(CURVATURE_NORM) = gthg;
    v(NEWTON_NORM) = nwtnrm;
    v(NEWTON_DECREASE) = ghinvg / 2.0;
    v(RADIUS) = rad;
    std::array<double, 2> s{};
    dd7dog(g, 100, 2, newton, s, v);
    const DoglegFormulas want = dogleg_formulas(gnorm, gthg, nwtnrm, ghinvg, rad, 0.8);
    ++branch_count[v(GRAD_COEF) == -rad / gnorm ? 0 : 1];
    EXPECT_EQ(v(GRAD_COEF), want.gcoef) << "trial " << trial;
    EXPECT_EQ(v(NEWTON_COEF), want.ncoef) << "trial " << trial;
    EXPECT_EQ(v(STPPAR), want.stppar) << "trial " << trial;
    EXPECT_EQ(v(GRAD_DOT_STEP), want.gts) << "trial " << trial;
    EXPECT_EQ(v(PRED_DECREASE), want.pred) << "trial " << trial;
    EXPECT_EQ(v(STEP_NORM), rad);
    for (std::size_t i = 0; i < 2; ++i)
      EXPECT_EQ(s[i], want.gcoef * g[i] + want.ncoef * newton[i]) << "trial " << trial;
  }
  EXPECT_EQ(branch_count[0], 200);
  EXPECT_EQ(branch_count[1], 200);
}

// ---------------------------------------------------------------------------
// The bounded step. Factor L = [[2, 0], [1, 1]], so H = [[4, 2], [2, 2]]
// and every solve below is exact in binary arithmetic.

struct Bounded {
  int p = 2;
  std::array<double, 2 * kMaxP> b{};
  Vector d{}, dig{}, dst{}, g{}, nwtst{}, step{}, td{}, tg{}, w{}, x0{};
  std::array<int, kMaxP> ipiv{1, 2, 3, 4};
  std::array<double, kMaxP*(kMaxP + 1) / 2> l{2.0, 1.0, 1.0};
  std::array<int, 100> ivs{};
  std::array<double, 100> vs{};
  VView v{std::span<double>(vs)};
  int ka = -1;

  Bounded() {
    divset(2, IvView(ivs), 100, 100, v);
    d = {1.0, 1.0, 1.0, 1.0};
    for (int i = 0; i < kMaxP; ++i) set_bounds(i + 1, -10.0, 10.0);
    v(RADIUS) = 10.0;
  }
  Bounded(const Bounded&) = delete;
  void set_bounds(int i, double lo, double hi) {
    b[2 * static_cast<std::size_t>(i - 1)] = lo;
    b[2 * static_cast<std::size_t>(i - 1) + 1] = hi;
  }
  void run(int pc) {
    double s = 0.0;
    for (int i = 0; i < pc; ++i) {
      const auto j = static_cast<std::size_t>(ipiv[static_cast<std::size_t>(i)] - 1);
      s += (g[j] / d[j]) * (g[j] / d[j]);
    }
    v(SCALED_GRAD_NORM) = std::sqrt(s);
    dd7dgb(b, d, dig, dst, g, std::span<int>(ipiv.data(), static_cast<std::size_t>(p)), ka, l, 100,
           p, pc, nwtst, step, td, tg, v, w, x0);
  }
};

// g = -(8, 4): Newton step (2, 0), inside a radius of 10 and the box.
TEST(BoundedStep, NewtonStepInsideBoxAndRadius) {
  Bounded t;
  t.g = {-8.0, -4.0};
  t.d = {2.0, 0.5};
  t.run(2);
  EXPECT_EQ(t.step[0], 2.0);
  EXPECT_EQ(t.step[1], 0.0);
  EXPECT_EQ(t.v(STPPAR), 0.0);
  EXPECT_EQ(t.v(NEWTON_COEF), -1.0);
  EXPECT_EQ(t.v(STEP_NORM), 4.0);        // |D s| = |(4, 0)|
  EXPECT_EQ(t.v(NEWTON_NORM), 4.0);      // recorded on the first pass
  EXPECT_EQ(t.v(NEWTON_DECREASE), 8.0);  // g'H^-1 g / 2
  EXPECT_EQ(t.v(PRED_DECREASE), 8.0);
  EXPECT_EQ(t.v(GRAD_DOT_STEP), -16.0);
  EXPECT_EQ(t.v(RADIUS), 10.0);
  EXPECT_EQ(t.ka, 1);
  EXPECT_EQ(t.ipiv[0], 1);
  EXPECT_EQ(t.ipiv[1], 2);
}

// The Newton step (2, 0) crosses the bound x1 = 1 halfway. Variable 1 is
// fixed there; the model's gradient at (1, 0) is g + H (1, 0) = (-4, -2),
// whose minimiser over x2 alone is x2 = 2/2 = 1. The cut variable is pushed
// 2 machep (relative) past its bound, outward.
TEST(BoundedStep, CutAtUpperBound) {
  Bounded t;
  t.g = {-8.0, -4.0};
  t.set_bounds(1, -10.0, 1.0);
  t.run(2);
  EXPECT_EQ(t.step[0], 1.0 + 2.0 * kEps);  // max(|x0 + s|, |x0|) = 1
  EXPECT_NEAR(t.step[1], 1.0, 4 * kEps);
  EXPECT_GT(t.x0[0] + t.step[0], 1.0);
  EXPECT_EQ(t.ipiv[0], 2);  // the cut variable moved behind the free one
  EXPECT_EQ(t.ipiv[1], 1);
  EXPECT_EQ(t.ka, 2);  // two dogleg passes
  // Model decrease for s = (1, 1): -(g's + s'Hs/2) = -(-12 + 5).
  EXPECT_CLOSE(t.v(PRED_DECREASE), 7.0, 1e-14);
  EXPECT_CLOSE(t.v(STEP_NORM), std::sqrt(2.0), 1e-15);
  EXPECT_CLOSE(t.v(GRAD_DOT_STEP), -8.0 * t.step[0] - 4.0 * t.step[1], 1e-15);
  // The first pass's Newton step is what is reported.
  EXPECT_EQ(t.v(NEWTON_NORM), 2.0);
  EXPECT_EQ(t.v(NEWTON_DECREASE), 8.0);
  EXPECT_EQ(t.v(RADIUS), 10.0);
}

// Mirror image at a lower bound, away from 0: x0 = (3, 0), bound x1 >= 2.
TEST(BoundedStep, CutAtLowerBound) {
  Bounded t;
  t.g = {8.0, 4.0};
  t.x0 = {3.0, 0.0};
  t.set_bounds(1, 2.0, 10.0);
  t.run(2);
  // x0 + s = 2 at the bound; push 2 machep max(|2|, |3|) = 6 machep down.
  EXPECT_NEAR(t.step[0], -1.0 - 6.0 * kEps, 0.5 * kEps);
  EXPECT_LT(t.x0[0] + t.step[0], 2.0);
  EXPECT_NEAR(t.step[1], -1.0, 4 * kEps);
  EXPECT_EQ(t.ipiv[0], 2);
  EXPECT_EQ(t.ipiv[1], 1) << "the lower-bound mark is removed";
}

// g = -(12, 8): Newton step (2, 2) crosses x1 = 1 and x2 = 1 at the same
// fraction 1/2. The lower position is cut first: variable 1 goes behind,
// then variable 2 (already at its bound) is cut where it stands.
TEST(BoundedStep, TieCutsLowestPositionFirst) {
  Bounded t;
  t.g = {-12.0, -8.0};
  t.set_bounds(1, -10.0, 1.0);
  t.set_bounds(2, -10.0, 1.0);
  t.run(2);
  EXPECT_EQ(t.ipiv[0], 2);
  EXPECT_EQ(t.ipiv[1], 1);
  EXPECT_EQ(t.step[0], 1.0 + 2.0 * kEps);
  EXPECT_EQ(t.step[1], 1.0 + 2.0 * kEps);
}

TEST(BoundedStep, NoFreeVariable) {
  for (const int ka : {-1, 0}) {
    Bounded t;
    t.g = {-8.0, -4.0};
    t.ka = ka;
    t.step = {5.0, 5.0, 5.0, 5.0};
    t.v(NEWTON_NORM) = 3.0;
    t.v(NEWTON_DECREASE) = 4.0;
    t.v(STPPAR) = 1.5;
    t.run(0);
    EXPECT_EQ(t.step[0], 0.0);
    EXPECT_EQ(t.step[1], 0.0);
    EXPECT_EQ(t.v(STEP_NORM), 0.0);
    EXPECT_EQ(t.v(GRAD_DOT_STEP), 0.0);
    EXPECT_EQ(t.v(STPPAR), 0.0);
    EXPECT_EQ(t.v(PRED_DECREASE), 0.0);
    EXPECT_EQ(t.v(NEWTON_NORM), 0.0);
    EXPECT_EQ(t.v(NEWTON_DECREASE), ka < 0 ? 0.0 : 4.0);
    EXPECT_EQ(t.v(RADIUS), 10.0);
  }
}

// Random problems in 1..4 variables, random boxes around x0 and random
// radii: the scaled step is never longer than the radius (up to 4 eps),
// x0 + step stays in the box up to the outward push, and the predicted
// decrease equals the model's -(g's + s'Hs/2) for the step taken (which
// holds only if the model is moved correctly to each cut point).
TEST(BoundedStep, RandomStepsRespectRadiusBoxAndModel) {
  std::mt19937 rng(314159);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_real_distribution<double> pos(0.3, 2.0);
  int cuts = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Bounded t;
    t.p = 1 + trial % kMaxP;
    const int p = t.p;
    const Packed<double> lp(t.l);
    for (int i = 1; i <= p; ++i) {
      for (int j = 1; j < i; ++j) lp(i, j) = u(rng);
      lp(i, i) = pos(rng);
    }
    for (int i = 0; i < p; ++i) {
      const auto k = static_cast<std::size_t>(i);
      t.g[k] = 3.0 * u(rng);
      t.d[k] = pos(rng);
      t.x0[k] = u(rng);
      t.set_bounds(i + 1, t.x0[k] - 2.0 * pos(rng) + 0.6, t.x0[k] + 2.0 * pos(rng) - 0.6);
    }
    const double radius = 3.0 * pos(rng);
    t.v(RADIUS) = radius;
    // The model H = L L' and g, before the routine re-triangularises L.
    std::array<std::array<double, kMaxP>, kMaxP> h{};
    for (int i = 1; i <= p; ++i)
      for (int j = 1; j <= p; ++j)
        for (int c = 1; c <= std::min(i, j); ++c)
          h[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)] +=
              lp(i, c) * lp(j, c);
    const Vector g = t.g;
    t.run(p);

    double len2 = 0.0, gs = 0.0, shs = 0.0;
    for (int i = 0; i < p; ++i) {
      const auto k = static_cast<std::size_t>(i);
      len2 += (t.d[k] * t.step[k]) * (t.d[k] * t.step[k]);
      gs += g[k] * t.step[k];
      for (int j = 0; j < p; ++j)
        shs += t.step[k] * h[k][static_cast<std::size_t>(j)] * t.step[static_cast<std::size_t>(j)];
      const double xi = t.x0[k] + t.step[k];
      const double slack = 4.0 * kEps * std::max(1.0, std::fabs(xi));
      EXPECT_GE(xi, t.b[2 * k] - slack) << "trial " << trial;
      EXPECT_LE(xi, t.b[2 * k + 1] + slack) << "trial " << trial;
    }
    EXPECT_LE(std::sqrt(len2), radius * (1.0 + 4.0 * kEps)) << "trial " << trial;
    EXPECT_NEAR(t.v(PRED_DECREASE), -(gs + 0.5 * shs), 1e-10 * (1.0 + std::fabs(gs)))
        << "trial " << trial;
    EXPECT_NEAR(t.v(GRAD_DOT_STEP), gs, 1e-12 * (1.0 + std::fabs(gs)));
    EXPECT_EQ(t.v(RADIUS), radius);
    if (t.ka > 1) ++cuts;
  }
  EXPECT_GT(cuts, 40) << "the random boxes should often cut the step";
}

}  // namespace
}  // namespace gxe::minimizer
