// Gene and exposure associated among controls: the expected table's control
// cells carry the association with the margins held, and the conversion
// keeps the marginal odds ratios the null has under it.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>

#include "model/fits_impl.h"
#include "model/model.h"
#include "model/oreg.h"
#include "model/records.h"
#include "tests/support/test_util.h"

namespace gxe::model {
namespace {

struct Case {
  int k;
  double p;      // carrier prevalence among controls
  double or_ge;  // OR^tb(G,E) among controls
};

const Case kCases[] = {{2, 0.3, 3.0}, {4, 0.05, 0.4}, {5, 0.6, 1.8}, {20, 0.3, 0.7}};

Hypothesis hypothesis(const Case& c) {
  Hypothesis h;
  for (int e = 0; e < c.k; ++e) h.pexp[e] = 1.0 / c.k;
  h.pgen = {1.0 - c.p, c.p};
  h.ccr = 2.0;
  h.bg = std::log(1.5);
  h.be = std::log(2.0) / (c.k - 1);
  h.beg = std::log(1.7) / (c.k - 1);
  set_association(h, c.or_ge, c.k);
  return h;
}

TEST(Dependence, ControlCellsCarryTheAssociationWithTheMarginsHeld) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "k " << c.k << ", p " << c.p << ", OR " << c.or_ge);
    const Hypothesis h = hypothesis(c);
    impl::CellArray<double> cell{};
    double b0 = 0.0;
    impl::fit(h, h.bg, h.be, c.k, cell, b0);
    double carriers = 0.0;
    for (int e = 1; e <= c.k; ++e) {
      const double both = cell[impl::cell_at(1, 1, e)] + cell[impl::cell_at(1, 2, e)];
      EXPECT_CLOSE(both, h.ccr * h.pexp[e - 1], 1e-12);
      carriers += cell[impl::cell_at(1, 2, e)];
    }
    EXPECT_CLOSE(carriers, h.ccr * c.p, 1e-12);
    const auto control = [&](int g, int e) { return cell[impl::cell_at(1, g, e)]; };
    EXPECT_CLOSE(control(2, c.k) * control(1, 1) / (control(1, c.k) * control(2, 1)), c.or_ge,
                 1e-12);
  }
}

// The entered odds ratios are the null's conditional ones. Without an
// interaction the alternative is the null, so the conversion gives them
// back; with one, the alternative's marginal odds ratios (both conditions
// met) are the null's, which the association moves away from the entered
// values.
TEST(Dependence, ConversionKeepsTheNullsMarginalOddsRatios) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "k " << c.k << ", p " << c.p << ", OR " << c.or_ge);
    const Hypothesis h = hypothesis(c);
    const std::span<const double> pexp(h.pexp.data(), c.k);
    for (const double ror : {1.0, 1.7}) {
      Records rec;
      double oretbc = 0.0;
      double orgc = 0.0;
      const int info =
          convert_odds_ratios(rec, 1.5, 2.0, ror, c.k, pexp, h.pgen, oretbc, orgc, h.dependence);
      ASSERT_EQ(info, 1) << ror;
      if (ror == 1.0) {
        EXPECT_CLOSE(oretbc, 2.0, 1e-8);
        EXPECT_CLOSE(orgc, 1.5, 1e-8);
        continue;
      }
      // The marginal targets the conversion solved for, at the null's point.
      Records null_rec = rec;
      null_rec.altodr.beg = 0.0;
      null_rec.altodr.ore = 0.0;
      null_rec.altodr.org = 0.0;
      const double null_point[2] = {std::log(2.0) / (c.k - 1), std::log(1.5)};
      double marginal[2] = {0.0, 0.0};
      func(&null_rec, 2, null_point, marginal, 1);
      EXPECT_GT(std::fabs(marginal[1] / 1.5 - 1.0), 1e-3) << "the association moves OR(G)";
      EXPECT_CLOSE(rec.altodr.org, marginal[1], 1e-15);
      const double at[2] = {std::log(oretbc) / (c.k - 1), std::log(orgc)};
      double residual[2] = {1.0, 1.0};
      func(&rec, 2, at, residual, 1);
      EXPECT_NEAR(residual[0], 0.0, 1e-8 * marginal[0]);
      EXPECT_NEAR(residual[1], 0.0, 1e-8 * marginal[1]);
    }
  }
}

}  // namespace
}  // namespace gxe::model
