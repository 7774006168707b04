// Damped BFGS update of a packed Cholesky factor: the factored update must
// agree with the dense BFGS formula, satisfy the secant condition when the
// curvature y's is large enough, and give exactly 0.1 s'Hs of curvature when
// it is damped.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "minimizer/linalg.h"
#include "minimizer/secant.h"
#include "tests/support/test_util.h"

namespace gxe::minimizer {
namespace {

constexpr int kMaxN = 4;
using Dense = std::array<std::array<double, kMaxN>, kMaxN>;
using Vector = std::array<double, kMaxN>;
using PackedStore = std::array<double, kMaxN*(kMaxN + 1) / 2>;

// Relative tolerance for identities that hold up to rounding in O(n^2)
// operations on well-conditioned data.
constexpr double kTol = 1e-12;

Dense product_llt(const PackedStore& l, int n) {
  Dense h{};
  const Packed<const double> lf(l);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (int k = 1; k <= std::min(i, j); ++k) s += lf(i, k) * lf(j, k);
      h[i - 1][j - 1] = s;
    }
  }
  return h;
}

Vector times(const Dense& h, const Vector& s, int n) {
  Vector r{};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) r[i] += h[i][j] * s[j];
  }
  return r;
}

double dot(const Vector& a, const Vector& b, int n) {
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

// Dense BFGS: H+ = H - (Hs)(Hs)'/s'Hs + yy'/y's.
Dense bfgs(const Dense& h, const Vector& s, const Vector& y, int n) {
  const Vector hs = times(h, s, n);
  const double shs = dot(s, hs, n);
  const double ys = dot(y, s, n);
  Dense r{};
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) r[i][j] = h[i][j] - hs[i] * hs[j] / shs + y[i] * y[j] / ys;
  }
  return r;
}

// Runs dw7zbf and dl7upd; lplus receives the new factor (in place when
// `in_place`).
PackedStore update(const PackedStore& l, int n, const Vector& s, const Vector& y, bool in_place) {
  Vector w{}, z{}, beta{}, gamma{}, lambda{};
  PackedStore out = l;
  PackedStore separate{};
  dw7zbf(l, n, s, w, y, z);
  if (in_place) {
    dl7upd(beta, gamma, out, lambda, out, n, w, z);
    return out;
  }
  dl7upd(beta, gamma, l, lambda, separate, n, w, z);
  return separate;
}

void expect_matrix_close(const Dense& a, const Dense& b, int n, double tol) {
  double scale = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) scale = std::max(scale, std::fabs(b[i][j]));
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      EXPECT_NEAR(a[i][j], b[i][j], tol * scale) << "entry (" << i + 1 << "," << j + 1 << ")";
    }
  }
}

struct SecantCase {
  const char* name;
  int n;
  PackedStore l;  // packed by rows
  Vector s;
  Vector y;
};

// Factors with mixed signs on the diagonal (the update may flip them), steps
// and gradient changes chosen by hand; y's / s'Hs is noted for each.
const SecantCase kUndampedCases[] = {
    // s'Hs = 4, y's = 3
    {"one variable", 1, {2.0}, {1.0}, {3.0}},
    // s'Hs = 0.390625, y's = 1.5
    {"two variables", 2, {1.0, 0.5, 2.0}, {0.5, -0.25}, {2.0, -2.0}},
    // negative diagonal entry in L; s'Hs = 5.325, y's = 5.7
    {"three variables", 3, {1.5, 0.3, -1.2, -0.4, 0.7, 2.0}, {1.0, 0.5, -0.5}, {4.0, 1.0, -2.4}},
    // y's exactly 0.1 s'Hs: still the undamped branch (s'Hs = 1, y's = 0.1)
    {"boundary ratio", 2, {1.0, 0.0, 1.0}, {1.0, 0.0}, {0.1, 0.7}},
    // s'Hs = 0.7134, y's = 1.07
    {"four variables",
     4,
     {2.0, 0.1, 1.0, -0.3, 0.2, 1.5, 0.4, 0.0, -0.6, 0.8},
     {0.3, -0.2, 0.5, 0.1},
     {1.1, -0.1, 1.4, 0.2}},
};

TEST(SecantUpdate, UndampedUpdateIsBfgsAndSatisfiesSecantCondition) {
  for (const SecantCase& c : kUndampedCases) {
    SCOPED_TRACE(c.name);
    const Dense h = product_llt(c.l, c.n);
    ASSERT_GE(dot(c.y, c.s, c.n), 0.1 * dot(c.s, times(h, c.s, c.n), c.n) * (1 - 1e-15));
    for (const bool in_place : {false, true}) {
      const Dense hplus = product_llt(update(c.l, c.n, c.s, c.y, in_place), c.n);
      const Vector hs = times(hplus, c.s, c.n);
      for (int i = 0; i < c.n; ++i)
        EXPECT_NEAR(hs[i], c.y[i], kTol * 10) << "H+ s = y, row " << i + 1;
      expect_matrix_close(hplus, bfgs(h, c.s, c.y, c.n), c.n, kTol * 10);
    }
  }
}

const SecantCase kDampedCases[] = {
    // y's < 0: negative curvature along s
    {"negative curvature", 2, {1.0, 0.5, 2.0}, {0.5, -0.25}, {-1.0, 0.3}},
    // y's = 0
    {"zero curvature", 3, {1.5, 0.3, -1.2, -0.4, 0.7, 2.0}, {1.0, 0.0, 0.0}, {0.0, 5.0, -1.0}},
    // 0 < y's < 0.1 s'Hs (s'Hs = 4, y's = 0.2)
    {"small curvature", 1, {2.0}, {1.0}, {0.2}},
    // y's = -0.14
    {"four variables",
     4,
     {2.0, 0.1, 1.0, -0.3, 0.2, 1.5, 0.4, 0.0, -0.6, 0.8},
     {0.3, -0.2, 0.5, 0.1},
     {-0.5, 0.2, 0.1, 0.0}},
};

TEST(SecantUpdate, DampedUpdateKeepsTenthOfCurvature) {
  for (const SecantCase& c : kDampedCases) {
    SCOPED_TRACE(c.name);
    const Dense h = product_llt(c.l, c.n);
    const Vector hs = times(h, c.s, c.n);
    const double shs = dot(c.s, hs, c.n);
    const double ys = dot(c.y, c.s, c.n);
    ASSERT_LT(ys, 0.1 * shs);
    // Damped gradient change: theta y + (1 - theta) H s, curvature 0.1 s'Hs.
    const double theta = 0.9 * shs / (shs - ys);
    Vector yd{};
    for (int i = 0; i < c.n; ++i) yd[i] = theta * c.y[i] + (1.0 - theta) * hs[i];

    const Dense hplus = product_llt(update(c.l, c.n, c.s, c.y, true), c.n);
    const Vector hplus_s = times(hplus, c.s, c.n);
    EXPECT_CLOSE(dot(c.s, hplus_s, c.n), 0.1 * shs, kTol * 10);
    for (int i = 0; i < c.n; ++i) EXPECT_NEAR(hplus_s[i], yd[i], kTol * 10 * shs);
    expect_matrix_close(hplus, bfgs(h, c.s, yd, c.n), c.n, kTol * 10);
  }
}

// A step so short that s'Hs vanishes carries no curvature information; the
// factor must stay finite and represent the same H.
TEST(SecantUpdate, VanishingStepLeavesHessianUnchanged) {
  const PackedStore l = {1.0, 0.5, 2.0};
  const Vector s = {0.0, 0.0};
  const Vector y = {1.0, -1.0};
  const PackedStore lplus = update(l, 2, s, y, true);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(lplus[k]));
  expect_matrix_close(product_llt(lplus, 2), product_llt(l, 2), 2, kTol);
}

// One variable, worked by hand: L = 2, s = 1, y = 3: s'Hs = 4, y's = 3,
// w = 2, z = (3/2)/sqrt(12) - 2/4; lambda = 1 + z w = sqrt(3)/2 and
// L+ = 2 lambda = sqrt(3), so H+ = 3 = y/s.
TEST(SecantUpdate, OneVariableByHand) {
  const PackedStore lplus = update({2.0}, 1, {1.0}, {3.0}, false);
  EXPECT_CLOSE(lplus[0], std::sqrt(3.0), 4e-16);
}

}  // namespace
}  // namespace gxe::minimizer
