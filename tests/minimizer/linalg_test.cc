// Vector and triangular kernels: the triangular solves and products against
// dense products, in-place use, the permutation and shift routines, the
// dot product that drops negligible terms, and the re-triangularisation of
// the Cholesky factor when a variable is moved to the end.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <ostream>
#include <random>
#include <vector>

#include "minimizer/dogleg.h"
#include "minimizer/linalg.h"
#include "tests/support/test_util.h"

namespace gxe::minimizer {
namespace {

constexpr int kMaxN = 6;
constexpr double kTol = 1e-12;  // a handful of roundings on O(1) entries

// A lower-triangular factor packed by rows plus its dense copy.
struct Factor {
  int n = 0;
  std::array<double, kMaxN*(kMaxN + 1) / 2> packed{};
  double dense(int i, int j) const {  // 1-based, zero above the diagonal
    return j > i ? 0.0 : packed[Packed<const double>::pos(i, j)];
  }
};

// Random factor with well-conditioned diagonal entries of either sign (the
// secant update may flip their signs).
Factor random_factor(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> off(-1.0, 1.0);
  std::uniform_real_distribution<double> diag(0.5, 2.0);
  Factor f;
  f.n = n;
  const Packed<double> l(f.packed);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j < i; ++j) l(i, j) = off(rng);
    l(i, i) = diag(rng) * (off(rng) < 0 ? -1.0 : 1.0);
  }
  return f;
}

std::vector<double> random_vector(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  std::vector<double> x(static_cast<std::size_t>(n));
  for (double& xi : x) xi = u(rng);
  return x;
}

// Dense L y (transpose = false) or L' y (transpose = true).
std::vector<double> multiply(const Factor& f, const std::vector<double>& y, bool transpose) {
  std::vector<double> r(static_cast<std::size_t>(f.n), 0.0);
  for (int i = 1; i <= f.n; ++i)
    for (int j = 1; j <= f.n; ++j)
      r[static_cast<std::size_t>(i - 1)] +=
          (transpose ? f.dense(j, i) : f.dense(i, j)) * y[static_cast<std::size_t>(j - 1)];
  return r;
}

void expect_vectors_close(const std::vector<double>& a, const std::vector<double>& b, double tol) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_NEAR(a[i], b[i], tol * (1.0 + std::fabs(b[i]))) << "entry " << i;
}

enum class Kernel { kSolveL, kSolveLt, kTimesLt, kTimesL };

struct KernelCase {
  Kernel kernel;
  const char* name;
};

void PrintTo(const KernelCase& c, std::ostream* os) { *os << c.name; }

class TriangularTest : public ::testing::TestWithParam<KernelCase> {};

// Each kernel, in a separate output and in place, agrees with the dense
// product: a solve x of L x = y satisfies L x = y, a product equals it.
TEST_P(TriangularTest, MatchesDenseProductsSeparateAndInPlace) {
  std::mt19937 rng(20240501);
  for (int n = 1; n <= kMaxN; ++n) {
    for (int rep = 0; rep < 5; ++rep) {
      const Factor f = random_factor(n, rng);
      const std::vector<double> y = random_vector(n, rng);
      std::vector<double> x(y.size(), -99.0);
      std::vector<double> inplace = y;
      auto run = [&](Vec out, CVec in) {
        switch (GetParam().kernel) {
          case Kernel::kSolveL:
            dl7ivm(n, out, f.packed, in);
            break;
          case Kernel::kSolveLt:
            dl7itv(n, out, f.packed, in);
            break;
          case Kernel::kTimesLt:
            dl7tvm(n, out, f.packed, in);
            break;
          case Kernel::kTimesL:
            dl7vml(n, out, f.packed, in);
            break;
        }
      };
      run(x, y);
      run(inplace, inplace);
      for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i], inplace[i]) << "n " << n;
      switch (GetParam().kernel) {
        case Kernel::kSolveL:
          expect_vectors_close(multiply(f, x, false), y, kTol);
          break;
        case Kernel::kSolveLt:
          expect_vectors_close(multiply(f, x, true), y, kTol);
          break;
        case Kernel::kTimesLt:
          expect_vectors_close(x, multiply(f, y, true), kTol);
          break;
        case Kernel::kTimesL:
          expect_vectors_close(x, multiply(f, y, false), kTol);
          break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, TriangularTest,
                         ::testing::Values(KernelCase{Kernel::kSolveL, "SolveL"},
                                           KernelCase{Kernel::kSolveLt, "SolveLt"},
                                           KernelCase{Kernel::kTimesLt, "TimesLt"},
                                           KernelCase{Kernel::kTimesL, "TimesL"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Leading zeros of y give zeros of x without dividing by L(j,j): a zero
// leading diagonal entry must not turn them into 0/0.
TEST(ForwardSolve, LeadingZerosNeedNoDivision) {
  // L = [0; 1 2; 3 4 5]
  std::array<double, 6> l{0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
  std::array<double, 3> y{0.0, 2.0, 13.0};
  std::array<double, 3> x{};
  dl7ivm(3, x, l, y);
  EXPECT_EQ(x[0], 0.0);
  EXPECT_DOUBLE_EQ(x[1], 1.0);  // 2 / 2
  EXPECT_DOUBLE_EQ(x[2], (13.0 - 4.0) / 5.0);
}

TEST(Permute, MatchesDirectPermutationAndRestoresIndex) {
  std::mt19937 rng(7);
  for (int n = 1; n <= 7; ++n) {
    for (int rep = 0; rep < 20; ++rep) {
      std::vector<int> ip(static_cast<std::size_t>(n));
      std::iota(ip.begin(), ip.end(), 1);
      std::shuffle(ip.begin(), ip.end(), rng);
      const std::vector<int> ip0 = ip;
      std::vector<double> x(ip.size());
      for (std::size_t i = 0; i < x.size(); ++i) x[i] = 10.0 * static_cast<double>(i + 1);
      const std::vector<double> old = x;
      dv7ipr(n, ip, x);
      EXPECT_EQ(ip, ip0);
      for (std::size_t i = 0; i < x.size(); ++i)
        EXPECT_EQ(x[i], old[static_cast<std::size_t>(ip0[i] - 1)]);
    }
  }
  // An index that is not a permutation must neither hang nor leave the array.
  std::array<int, 3> bad{2, 2, 7};
  std::array<double, 3> x{1.0, 2.0, 3.0};
  dv7ipr(3, bad, x);
  EXPECT_EQ(bad, (std::array<int, 3>{2, 2, 7}));
}

struct ShiftCase {
  int n, k;
  std::array<int, 5> expected;
};

TEST(Shift, MovesEntryKToPositionN) {
  const ShiftCase cases[] = {
      {5, 1, {2, 3, 4, 5, 1}}, {5, 3, {1, 2, 4, 5, 3}},
      {5, 4, {1, 2, 3, 5, 4}}, {5, 5, {1, 2, 3, 4, 5}},  // k = n: nothing
      {3, 1, {2, 3, 1, 4, 5}},                           // only the first n entries take part
      {5, 7, {1, 2, 3, 4, 5}},
  };
  for (const ShiftCase& c : cases) {
    std::array<int, 5> xi{1, 2, 3, 4, 5};
    std::array<double, 5> xd{1, 2, 3, 4, 5};
    i7shft(c.n, c.k, xi);
    dv7shf(c.n, c.k, xd);
    EXPECT_EQ(xi, c.expected) << "n " << c.n << " k " << c.k;
    for (std::size_t i = 0; i < 5; ++i)
      EXPECT_EQ(xd[i], c.expected[i]) << "n " << c.n << " k " << c.k;
  }
}

struct DotCase {
  double x, y, expected;
  const char* why;
};

// Threshold: sqteta = sqrt(tiny); a term is dropped when both factors are
// at most 1 and the product is below tiny (or both are below sqteta).
TEST(DotProduct, SkipsOnlyNegligibleTerms) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const DotCase cases[] = {
      {1e-160, 1e-150, 0.0, "denormal product of two small factors"},
      {1e-160, 1e-160, 0.0, "both factors below sqteta"},
      {0.5, 4e-308, 0.0, "product 2e-308 below tiny"},
      {2.0, 1e-300, 2e-300, "a factor above 1 always counts"},
      {1e-100, 1e-100, 1e-200, "small but normal product"},
      {0.5, 1e-307, 0.5e-307, "product above tiny"},
      {3.0, 4.0, 12.0, "ordinary"},
  };
  for (const DotCase& c : cases) {
    const std::array<double, 1> x{c.x};
    const std::array<double, 1> y{c.y};
    EXPECT_EQ(dd7tpr(1, x, y), c.expected) << c.why;
  }
  const std::array<double, 3> a{1.0, 1e-160, nan};
  const std::array<double, 3> b{2.0, 1e-150, 0.5};
  EXPECT_EQ(dd7tpr(2, a, b), 2.0);
  EXPECT_TRUE(std::isnan(dd7tpr(3, a, b))) << "NaN must not be dropped as negligible";
  EXPECT_EQ(dd7tpr(0, a, b), 0.0);
  EXPECT_EQ(dd7tpr(-1, a, b), 0.0);
}

// The reflection maps (a, b) to (r, 0) with |r| = hypot(a, b), also where
// a^2 + b^2 would overflow or underflow.
TEST(Reflection, AnnihilatesSecondComponent) {
  const std::array<std::array<double, 2>, 6> pairs{
      {{3.0, 4.0}, {-3.0, 4.0}, {1e300, 1e300}, {1e-300, -2e-300}, {0.0, 5.0}, {7.0, 0.0}}};
  for (const auto& pr : pairs) {
    double x = 0, y = 0, z = 0;
    const double r = dh2rfg(pr[0], pr[1], x, y, z);
    EXPECT_CLOSE(std::fabs(r), std::hypot(pr[0], pr[1]), 1e-15);
    std::array<double, 1> a{pr[0]};
    std::array<double, 1> b{pr[1]};
    dh2rfa(1, a, b, x, y, z);
    EXPECT_CLOSE(a[0], r, 1e-15);
    EXPECT_NEAR(b[0], 0.0, 1e-15 * std::fabs(r));
  }
}

// Moving variable k to the end: the new factor R+ satisfies
// R+ R+' = P (R R') P' for the permutation P that moves k behind the rest,
// and the reflections applied to a vector q keep R+ q+ = P (R q). For k = p
// nothing changes at all.
TEST(MoveToEnd, KeepsPermutedProductOfRandomFactors) {
  std::mt19937 rng(99);
  for (int p = 2; p <= kMaxN; ++p) {
    for (int k = 1; k <= p; ++k) {
      Factor f = random_factor(p, rng);
      if (k == 1) f.packed[Packed<const double>::pos(k + 1, k + 1)] = 0.0;  // also a zero pair
      const Factor before = f;
      std::vector<double> q = random_vector(p, rng);
      const std::vector<double> rq = multiply(before, q, false);
      std::vector<double> w(static_cast<std::size_t>(p));
      const std::vector<double> q0 = q;
      dq7rsh(k, p, true, q, f.packed, w);
      if (k == p) {
        EXPECT_EQ(f.packed, before.packed);
        EXPECT_EQ(q, q0);
        continue;
      }

      std::vector<int> perm;  // new position -> old variable
      for (int i = 1; i <= p; ++i)
        if (i != k) perm.push_back(i);
      perm.push_back(k);
      for (int a = 1; a <= p; ++a) {
        for (int b = 1; b <= a; ++b) {
          double h_new = 0.0;
          double h_old = 0.0;
          for (int c = 1; c <= p; ++c) {
            h_new += f.dense(a, c) * f.dense(b, c);
            h_old += before.dense(perm[a - 1], c) * before.dense(perm[b - 1], c);
          }
          EXPECT_NEAR(h_new, h_old, kTol * 10)
              << "p " << p << " k " << k << " (" << a << "," << b << ")";
        }
      }
      const std::vector<double> rq_new = multiply(f, q, false);
      for (int a = 1; a <= p; ++a)
        EXPECT_NEAR(rq_new[static_cast<std::size_t>(a - 1)],
                    rq[static_cast<std::size_t>(perm[a - 1] - 1)], kTol * 10);
    }
  }
}

}  // namespace
}  // namespace gxe::minimizer
