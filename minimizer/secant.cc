// Damped BFGS update of the Cholesky factor of the Hessian approximation.
//
// The Hessian approximation is kept as H = L L' with L lower triangular and
// packed by rows. After an accepted step s with gradient change y the BFGS
// formula
//
//   H+ = H - (H s)(H s)' / s'Hs + y y' / y's
//
// is applied to L directly: with w = L's and a suitable z,
//
//   H+ = L (I + z w') (I + w z') L',
//
// so L+ = L (I + z w') factored back into triangular form. dw7zbf picks w and
// z, dl7upd does the refactoring in O(n^2) by Goldfarb's recurrence.
//
// When y's is too small compared with s'Hs (little or negative curvature
// along s), the plain update would lose positive definiteness or come close
// to it. Powell's damping then replaces y by  theta y + (1 - theta) H s  with
// theta chosen so that the curvature along s becomes exactly 0.1 s'Hs.

#include "minimizer/secant.h"

#include <cmath>

#include "minimizer/linalg.h"

namespace gxe::minimizer {

namespace {

// Curvature ratio below which the update is damped, and its square root.
constexpr double kDampRatio = 0.1;
constexpr double kSqrtDampRatio = 0.31622776601683794;  // sqrt(0.1)
// With damping, theta y + (1 - theta) H s has curvature
//   theta y's + (1 - theta) s'Hs = 0.1 s'Hs  <=>  theta = 0.9 s'Hs / (s'Hs - y's).
constexpr double kDampNumerator = 1.0 - kDampRatio;

}  // namespace

// Update vectors of the BFGS step for H = L L'.
//
// With w = L's, s'Hs = w'w. The undamped update needs
//   z = L^-1 y / sqrt(y's s'Hs) - w / s'Hs,
// for which (I + z w')(I + w z') turns w w' into the rank-two BFGS change.
// The damped form substitutes y_d = theta y + (1 - theta) L w, whose
// curvature y_d's = 0.1 s'Hs; written with L^-1 y_d = theta L^-1 y +
// (1 - theta) w the two coefficients become
//   cy = theta / (s'Hs sqrt(0.1)),   cs = (1 + (theta - 1) / sqrt(0.1)) / s'Hs.
void dw7zbf(CVec l, int n, CVec s, Vec w, CVec y, Vec z) {
  dl7tvm(n, w, l, s);
  const double shs = dd7tpr(n, w, w);
  const double ys = dd7tpr(n, y, s);

  double cy = 0.0;
  double cs = 0.0;
  if (shs <= 0.0) {
    // s'Hs = 0: the step is so short that its products vanish (the dot
    // product drops negligible terms). The formulas below would divide by
    // zero; z = 0 leaves H unchanged (only column signs of L flip).
  } else if (ys < kDampRatio * shs) {
    const double theta = kDampNumerator * shs / (shs - ys);
    cy = theta / (shs * kSqrtDampRatio);
    cs = (1.0 + (theta - 1.0) / kSqrtDampRatio) / shs;
  } else {
    cy = 1.0 / (std::sqrt(ys) * std::sqrt(shs));
    cs = 1.0 / shs;
  }

  dl7ivm(n, z, l, y);
  for (int i = 0; i < n; ++i) z[i] = cy * z[i] - cs * w[i];
}

// L+ with L+ L+' = L (I + z w')(I + w z') L', by Goldfarb's recurrence.
//
// First pass (j = 1 .. n-1): the product (I + z w') is reduced column by
// column to lower-triangular form. lambda(j) starts as the tail sum
// sum_{i>j} w(i)^2; the recurrence in nu and eta carries the effect of the
// columns already reduced, and each column yields a diagonal multiplier
// lambda(j) and two coefficients beta(j), gamma(j) for the off-diagonal
// entries. The sign of lambda(j) is chosen opposite to theta so that
// theta - lambda(j) never cancels.
//
// Second pass (j = n .. 1): L+(j,j) = lambda(j) L(j,j) and, below the
// diagonal, L+(i,j) = lambda(j) L(i,j) + beta(j) (Lw)(i) + gamma(j) (Lz)(i),
// where the partial products L w and L z over columns > j are accumulated in
// w and z as the sweep moves left. Each L(i,j) is read before L+(i,j) is
// written, so l and lplus may be the same storage.
void dl7upd(Vec beta, Vec gamma, CVec l, Vec lambda, Vec lplus, int n, Vec w, Vec z) {
  if (n < 1) return;
  const Packed<const double> lf(l);
  const Packed<double> lp(lplus);
  // 1-based accessors for the work vectors.
  auto at = [](Vec a, int i) -> double& { return a[at0(i)]; };

  double nu = 1.0;
  double eta = 0.0;
  if (n > 1) {
    double s = 0.0;
    for (int j = n - 1; j >= 1; --j) {
      s += at(w, j + 1) * at(w, j + 1);
      at(lambda, j) = s;
    }
    for (int j = 1; j <= n - 1; ++j) {
      const double wj = at(w, j);
      const double a = nu * at(z, j) - eta * wj;
      const double theta = 1.0 + a * wj;
      const double sa = a * at(lambda, j);
      double lj = std::sqrt(theta * theta + a * sa);
      if (theta > 0.0) lj = -lj;
      at(lambda, j) = lj;
      const double b = theta * wj + sa;
      at(gamma, j) = b * nu / lj;
      at(beta, j) = (a - b * eta) / lj;
      nu = -nu / lj;
      eta = -(eta + (a * a) / (theta - lj)) / lj;
    }
  }
  at(lambda, n) = 1.0 + (nu * at(z, n) - eta * at(w, n)) * at(w, n);

  for (int j = n; j >= 1; --j) {
    const double lj = at(lambda, j);
    const double ljj = lf(j, j);
    lp(j, j) = lj * ljj;
    const double wj = at(w, j);
    at(w, j) = ljj * wj;
    const double zj = at(z, j);
    at(z, j) = ljj * zj;
    for (int i = j + 1; i <= n; ++i) {
      const double lij = lf(i, j);
      lp(i, j) = lj * lij + at(beta, j) * at(w, i) + at(gamma, j) * at(z, i);
      at(w, i) += lij * wj;
      at(z, i) += lij * zj;
    }
  }
}

}  // namespace gxe::minimizer
