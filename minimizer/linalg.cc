// Vector and triangular kernels of the minimizer.
//
// The Hessian approximation is kept as H = L L' with L lower triangular and
// packed by rows (Packed<T> in linalg.h). Every routine here works on the
// leading n entries of its spans, and every routine allows its output to be
// the same storage as its input: the loops are ordered so that an input entry
// is read before the output entry in the same place is written.

#include "minimizer/linalg.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "minimizer/machine.h"

namespace gxe::minimizer {

namespace {

// sqrt(tiny * 256) / 16: below this size a product cannot matter next to the
// terms of a dot product that are still representable. Fetched once.
double sqteta() {
  static const double value = dr7mdc(kSqrtTiny);
  return value;
}

}  // namespace

// Forward substitution for L x = y. While the leading entries of y are zero,
// so are those of x, and no division by L(j,j) is made for them: this keeps
// a singular trailing block from poisoning the leading components.
void dl7ivm(int n, Vec x, CVec l, CVec y) {
  const Packed<const double> lp(l);
  int k = 1;
  for (; k <= n; ++k) {
    if (y[at0(k)] != 0.0) break;
    x[at0(k)] = 0.0;
  }
  // x(1..j-1) are final when row j is used, so the dot product may read the
  // output span even when it aliases y.
  for (int j = k; j <= n; ++j) {
    const double t = dd7tpr(j - 1, lp.row(j), x);
    x[at0(j)] = (y[at0(j)] - t) / lp(j, j);
  }
}

// Back substitution for L' x = y, from x(n) up to x(1). Column i of L' is
// row i of L, so once x(i) is known its row is subtracted from the entries
// above; a zero x(i) has nothing to subtract.
void dl7itv(int n, Vec x, CVec l, CVec y) {
  const Packed<const double> lp(l);
  for (int i = 1; i <= n; ++i) x[at0(i)] = y[at0(i)];
  for (int i = n; i >= 1; --i) {
    const double xi = x[at0(i)] / lp(i, i);
    x[at0(i)] = xi;
    if (xi == 0.0) continue;
    for (int j = 1; j < i; ++j) x[at0(j)] -= xi * lp(i, j);
  }
}

// x = L' y, accumulated row by row of L: row i of L contributes y(i) L(i,j)
// to x(j) for j <= i. y(i) is read before x(i) is first written.
void dl7tvm(int n, Vec x, CVec l, CVec y) {
  const Packed<const double> lp(l);
  for (int i = 1; i <= n; ++i) {
    const double yi = y[at0(i)];
    x[at0(i)] = 0.0;
    for (int j = 1; j <= i; ++j) x[at0(j)] += yi * lp(i, j);
  }
}

// x = L y, rows from the last to the first: row i needs y(1..i), which are
// not yet overwritten when the rows below are done first.
void dl7vml(int n, Vec x, CVec l, CVec y) {
  const Packed<const double> lp(l);
  for (int i = n; i >= 1; --i) {
    double t = 0.0;
    for (int j = 1; j <= i; ++j) t += lp(i, j) * y[at0(j)];
    x[at0(i)] = t;
  }
}

void dv7vmp(int n, Vec x, CVec y, CVec z, int k) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) {
    x[i] = k >= 0 ? y[i] * z[i] : y[i] / z[i];
  }
}

// In-place permutation x := x(ip) by following the cycles of ip. Every
// position moved while following a cycle, except the cycle's first, gets a
// negative mark in ip; the outer loop removes the marks when it reaches them,
// so ip is unchanged on return. A walk that meets an index outside 1..n or a
// marked entry (ip not a permutation) ends its cycle there instead of running
// off the array or forever.
void dv7ipr(int n, std::span<int> ip, Vec x) {
  for (int i = 1; i <= n; ++i) {
    int j = ip[at0(i)];
    if (j < 0) {
      ip[at0(i)] = -j;  // moved with an earlier cycle; remove the mark
      continue;
    }
    if (j == i) continue;
    const double t = x[at0(i)];
    int k = i;
    while (j != i && j >= 1 && j <= n) {
      x[at0(k)] = x[at0(j)];
      if (k != i) ip[at0(k)] = -ip[at0(k)];
      k = j;
      j = ip[at0(k)];
    }
    x[at0(k)] = t;
    if (k != i && ip[at0(k)] > 0) ip[at0(k)] = -ip[at0(k)];
  }
}

// x(k) goes to position n; x(k+1..n) move one place forward.
void dv7shf(int n, int k, Vec x) {
  if (k >= n || k < 1) return;
  const double t = x[at0(k)];
  for (int i = k; i < n; ++i) x[at0(i)] = x[at0(i + 1)];
  x[at0(n)] = t;
}

void i7shft(int n, int k, std::span<int> x) {
  if (k >= n || k < 1) return;
  const int t = x[at0(k)];
  for (int i = k; i < n; ++i) x[at0(i)] = x[at0(i + 1)];
  x[at0(n)] = t;
}

void dv7cpy(int n, Vec y, CVec x) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) y[i] = x[i];
}

void dv7scp(int n, Vec y, double s) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) y[i] = s;
}

void dv2axy(int n, Vec w, double a, CVec x, CVec y) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) w[i] = a * x[i] + y[i];
}

// Dot product that leaves out terms too small to matter: a term is skipped
// when both factors are at most 1 in size and either both are below sqteta or
// their product is (tested as (x/sqteta)*y, which cannot underflow when it
// matters). Skipping them avoids denormal arithmetic. A NaN factor is never
// "too small" and propagates.
double dd7tpr(int n, CVec x, CVec y) {
  const double eps = sqteta();
  double sum = 0.0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) {
    const double ax = std::fabs(x[i]);
    const double ay = std::fabs(y[i]);
    if (ax <= 1.0 && ay <= 1.0) {
      if (ax < eps && ay < eps) continue;
      if (std::fabs((x[i] / eps) * y[i]) < eps) continue;
    }
    sum += x[i] * y[i];
  }
  return sum;
}

}  // namespace gxe::minimizer
