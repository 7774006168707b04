// Expected cell table, information matrix, its (4, 4) inverse element and
// the two fits.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"
#include "tests/support/test_util.h"

namespace gxe::model {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;

using Matrix = std::array<double, 16>;  // column by column
double& at(Matrix& m, int i, int j) { return m[(i - 1) + 4 * (j - 1)]; }

// Element (4, 4) of the inverse by Gauss-Jordan elimination with partial
// pivoting: an independent route to the same number.
double inverse_44(Matrix a) {
  Matrix inv{};
  for (int i = 1; i <= 4; ++i) at(inv, i, i) = 1.0;
  for (int c = 1; c <= 4; ++c) {
    int piv = c;
    for (int r = c + 1; r <= 4; ++r) {
      if (std::fabs(at(a, r, c)) > std::fabs(at(a, piv, c))) piv = r;
    }
    for (int j = 1; j <= 4; ++j) {
      std::swap(at(a, c, j), at(a, piv, j));
      std::swap(at(inv, c, j), at(inv, piv, j));
    }
    const double d = at(a, c, c);
    for (int j = 1; j <= 4; ++j) {
      at(a, c, j) /= d;
      at(inv, c, j) /= d;
    }
    for (int r = 1; r <= 4; ++r) {
      if (r == c) continue;
      const double f = at(a, r, c);
      for (int j = 1; j <= 4; ++j) {
        at(a, r, j) -= f * at(a, c, j);
        at(inv, r, j) -= f * at(inv, c, j);
      }
    }
  }
  return at(inv, 4, 4);
}

// Designs spanning the inputs: k = 2 (per-step = top-versus-bottom), custom
// prevalences, rare and common carriers, few and many controls, protective
// and harmful odds ratios, interactions of both signs.
std::vector<Design> designs() {
  return {
      Design{},
      Design{.k = 2, .probg = 0.5, .ccr = 1.0, .or_g = 1.0, .or_e_tb = 1.0, .ror_tb = 3.0},
      Design{.k = 3, .probg = 0.05, .ccr = 4.0, .or_g = 0.5, .or_e_tb = 3.0, .ror_tb = 0.4},
      Design{.k = 5,
             .probg = 0.6,
             .ccr = 0.5,
             .or_g = 2.5,
             .or_e_tb = 0.3,
             .ror_tb = 1.7,
             .pexp = {0.1, 0.2, 0.4, 0.2, 0.1}},
      Design{.k = 12, .probg = 0.2, .ccr = 2.0, .or_g = 1.2, .or_e_tb = 4.0, .ror_tb = 0.5},
      Design{.k = 100, .probg = 0.3, .ccr = 1.0, .or_g = 1.5, .or_e_tb = 2.0, .ror_tb = 2.0},
  };
}

// --- Expected cell table ------------------------------------------------------

TEST(CellTableTest, CasesSumToOneControlsToCcrAndTheLogisticModelReproducesTheTable) {
  for (const Design& d : designs()) {
    SCOPED_TRACE(::testing::Message() << "k = " << d.k << ", probg = " << d.probg);
    Records rec;
    store_design(rec, d);
    for (const bool alternative : {false, true}) {
      double v = 0.0;
      alternative ? fs_a(rec, v) : fs_0(rec, v);
      const Hypothesis& r = alternative ? rec.alt : rec.null;
      double cases = 0.0;
      double controls = 0.0;
      for (int g = 1; g <= 2; ++g) {
        for (int e = 1; e <= d.k; ++e) {
          cases += rec.cells.at(2, g, e);
          controls += rec.cells.at(1, g, e);
          const double eta = r.b0 + (g - 1) * r.bg + (e - 1) * r.be + (g - 1) * (e - 1) * r.beg;
          EXPECT_CLOSE(rec.cells.at(2, g, e) / rec.cells.at(1, g, e), std::exp(eta), 1e-12);
        }
      }
      EXPECT_NEAR(cases, 1.0, 1e-13);
      EXPECT_CLOSE(controls, d.ccr, 1e-13);
    }
  }
}

TEST(CellTableTest, CategoriesBeyondKAreLeftAlone) {
  Records rec;
  store_design(rec, {.k = 3});
  rec.cells.cell.fill(-7.0);
  double v = 0.0;
  fs_a(rec, v);
  for (int i = 0; i < static_cast<int>(rec.cells.cell.size()); ++i) {
    if (i < 4 * 3) {
      EXPECT_GT(rec.cells.cell[i], 0.0) << i;
    } else {
      EXPECT_EQ(rec.cells.cell[i], -7.0) << i;
    }
  }
}

TEST(CellTableTest, MoreCategoriesThanTheCapacityStayInsideTheTables) {
  Records rec;
  store_design(rec, {.k = 100});
  rec.cells.ncat = 1000;  // never accepted by the dialogue; must not run past the arrays
  double v = 0.0;
  fs_a(rec, v);
  EXPECT_TRUE(std::isfinite(v));
}

// --- Information matrix -------------------------------------------------------

// h4 must equal sum over cells of N pi (1 - pi) x x', and at the fitted
// parameters pi is the table's own case fraction, so N pi (1 - pi) =
// cases * controls / (cases + controls).
TEST(Hess2Test, EqualsTheInformationComputedFromTheTableAndIsSymmetric) {
  for (const Design& d : designs()) {
    SCOPED_TRACE(::testing::Message() << "k = " << d.k);
    Records rec;
    store_design(rec, d);
    double v = 0.0;
    fs_a(rec, v);
    Matrix h4{};
    hess2(rec, 4, {rec.alt.b0, rec.alt.bg, rec.alt.be, rec.alt.beg}, h4);
    Matrix expected{};
    for (int g = 0; g <= 1; ++g) {
      for (int s = 0; s < d.k; ++s) {
        const double ctl = rec.cells.at(1, g + 1, s + 1);
        const double cas = rec.cells.at(2, g + 1, s + 1);
        const double nw = ctl * cas / (ctl + cas);
        const std::array<double, 4> x{1.0, double(g), double(s), double(g * s)};
        for (int i = 1; i <= 4; ++i) {
          for (int j = 1; j <= 4; ++j) at(expected, i, j) += nw * x[i - 1] * x[j - 1];
        }
      }
    }
    for (int i = 1; i <= 4; ++i) {
      for (int j = 1; j <= 4; ++j) {
        EXPECT_EQ(at(h4, i, j), at(h4, j, i));
        if (at(expected, i, j) == 0.0) {
          EXPECT_EQ(at(h4, i, j), 0.0);
        } else {
          EXPECT_CLOSE(at(h4, i, j), at(expected, i, j), 1e-12) << "(" << i << "," << j << ")";
        }
      }
    }
  }
}

TEST(Hess2Test, NullEffectsWithKTwoGiveTheWeightCcrOverOnePlusCcrSquared) {
  const double c = 3.0;
  Records rec;
  store_design(rec, {.k = 2, .probg = 0.4, .ccr = c, .or_g = 1.0, .or_e_tb = 1.0, .ror_tb = 1.0});
  double v = 0.0;
  fs_0(rec, v);
  Matrix h4{};
  hess2(rec, 4, {-std::log(c), 0.0, 0.0, 0.0}, h4);
  // N w summed over the cells: (1 + c) * c / (1 + c)^2.
  EXPECT_CLOSE(at(h4, 1, 1), c / (1.0 + c), 1e-15);
  // Only the carrier, top-exposure cell enters (4, 4): N = 0.4 * 0.5 * (1 + c).
  EXPECT_CLOSE(at(h4, 4, 4), 0.4 * 0.5 * (1.0 + c) * c / ((1.0 + c) * (1.0 + c)), 1e-15);
}

// --- Element (4, 4) of the inverse --------------------------------------------

TEST(MyinvTest, MatchesTheInverseComputedByElimination) {
  struct Case {
    const char* name;
    Matrix m;  // column by column
    double expected;
  };
  const std::vector<Case> cases = {
      {"identity", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, 1.0},
      {"diagonal", {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 5, 0, 0, 0, 0, 8}, 1.0 / 8.0},
      // Non-symmetric: the lower triangle differs from the upper one, so a
      // routine that read one triangle only would give another number.
      {"non-symmetric", {4, 1, 0, 2, -1, 5, 2, 0, 3, 0, 6, 1, 0.5, 2, -1, 7}, 0.0},
      {"non-symmetric, needs pivoting", {0, 2, 1, 3, 1, 0, 4, 1, 2, 1, 0, 5, 3, 4, 1, 0}, 0.0},
      {"lower triangular", {2, 1, 3, 4, 0, 5, 1, 2, 0, 0, 7, 1, 0, 0, 0, 0.25}, 4.0},
  };
  for (const Case& c : cases) {
    double v = 0.0;
    myinv(c.m, v);
    const double reference = inverse_44(c.m);
    EXPECT_CLOSE(v, reference, 1e-13) << c.name;
    if (c.expected != 0.0) {
      EXPECT_CLOSE(v, c.expected, 1e-15) << c.name;
    }
  }
}

TEST(MyinvTest, OnInformationMatricesOfTheDesigns) {
  for (const Design& d : designs()) {
    Records rec;
    store_design(rec, d);
    double v = 0.0;
    fs_a(rec, v);
    Matrix h4{};
    hess2(rec, 4, {rec.alt.b0, rec.alt.bg, rec.alt.be, rec.alt.beg}, h4);
    double inv = 0.0;
    myinv(h4, inv);
    EXPECT_EQ(inv, v) << "k = " << d.k;
    EXPECT_CLOSE(inv, inverse_44(h4), 1e-9) << "k = " << d.k;
  }
}

// --- Fits -----------------------------------------------------------------------

TEST(FitsTest, WorkedExample) {
  Records rec;
  store_design(rec, gxe::testing::example_design());
  double varh0 = 0.0;
  double varh1 = 0.0;
  fs_0(rec, varh0);
  fs_a(rec, varh1);
  EXPECT_NEAR(varh0, 7.3998, 5e-5);
  EXPECT_NEAR(varh1, 7.6055, 5e-5);
  EXPECT_NEAR(rec.null.b0, -0.5195, 5e-5);
  // Seven digits of both, as implied by the sample size of the example.
  EXPECT_CLOSE(varh0, 7.399758, 1e-7);
  EXPECT_CLOSE(varh1, 7.6054905, 1e-7);
}

TEST(FitsTest, AlternativeWithoutInteractionAtTheNullPointEqualsTheNull) {
  for (Design d : designs()) {
    d.ror_tb = 1.0;
    Records rec;
    store_design(rec, d);
    double varh0 = 0.0;
    double varh1 = 0.0;
    fs_0(rec, varh0);
    fs_a(rec, varh1);
    EXPECT_EQ(varh0, varh1) << "k = " << d.k;
    EXPECT_EQ(rec.null.b0, rec.alt.b0) << "k = " << d.k;
  }
}

TEST(FitsTest, EachFitLeavesItsOwnTableAndIntercept) {
  Records rec;
  store_design(rec, Design{.k = 5, .ror_tb = 3.0});
  double v = 0.0;
  fs_a(rec, v);
  const std::array<double, 400> alt_table = rec.cells.cell;
  const double alt_b0 = rec.alt.b0;
  fs_0(rec, v);
  EXPECT_NE(rec.cells.cell, alt_table);
  fs_a(rec, v);
  EXPECT_EQ(rec.cells.cell, alt_table);
  EXPECT_EQ(rec.alt.b0, alt_b0);
}

}  // namespace
}  // namespace gxe::model
