// The single-table fit: closed forms of the saturated model, reference fits,
// tables without a finite maximum, and inputs that are not tables.

#include "simulate/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/support/test_util.h"

namespace gxe::simulate {
namespace {

struct Table {
  const char* name;
  std::vector<double> cases;  // non-carriers at scores 0..k-1, then carriers
  std::vector<double> controls;
};

// With k = 2 the four-parameter model is saturated: beg is the log ratio of
// the carriers' and the non-carriers' exposure odds ratios (cross-product
// ratios), and its standard error the square root of the sum of the
// reciprocals of the eight counts (Woolf).
TEST(FitInteractionTest, SaturatedTableHasTheClosedForm) {
  const std::vector<Table> tables = {
      {"balanced", {50, 60, 40, 70}, {55, 50, 45, 35}},
      {"one count of one", {1, 7, 3, 9}, {12, 5, 4, 2}},
      {"fractional weights", {2.5, 0.75, 10.25, 3.0}, {1.5, 4.0, 0.5, 8.0}},
      {"a million per cell", {1e6, 1.2e6, 0.9e6, 1.5e6}, {1.1e6, 1e6, 1e6, 0.8e6}},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.name);
    const auto& y = t.cases;
    const auto& c = t.controls;
    const double log_or0 = std::log(y[1] * c[0] / (y[0] * c[1]));
    const double log_or1 = std::log(y[3] * c[2] / (y[2] * c[3]));
    double reciprocal_sum = 0.0;
    for (int i = 0; i < 4; ++i) reciprocal_sum += 1.0 / y[i] + 1.0 / c[i];
    const InteractionFit fit = fit_interaction(y, c);
    ASSERT_EQ(fit.status, FitStatus::converged);
    EXPECT_NEAR(fit.estimate, log_or1 - log_or0, 1e-10);
    EXPECT_CLOSE(fit.se, std::sqrt(reciprocal_sum), 1e-9);
  }
}

// Reference fits of the four-parameter model by statsmodels 0.13.5,
// GLM(Binomial) on the grouped counts with tol=1e-14; the second table has
// empty cells that do not separate it. The likelihood-ratio statistic is the
// deviance difference of R 4.2's glm fits with and without the product term:
//   g <- rep(0:1, each = k); s <- rep(0:(k - 1), 2)
//   ctl <- glm.control(epsilon = 1e-13, maxit = 100)
//   deviance(glm(cbind(y, n) ~ g + s, binomial, control = ctl)) -
//     deviance(glm(cbind(y, n) ~ g * s, binomial, control = ctl))
// (y the cases, n the controls; 1e-12 and 1e-14 give the same to 13 digits).
TEST(FitInteractionTest, MatchesAReferenceFitOfTheFourParameterModel) {
  struct Row {
    Table table;
    double estimate;
    double se;
    double lr;
  };
  const std::vector<Row> rows = {
      {{"k = 4", {30, 41, 52, 60, 10, 18, 25, 40}, {80, 75, 70, 66, 22, 20, 21, 19}},
       0.18981565811957024,
       0.1686502924182427,
       1.2836004724650962},
      {{"k = 5 with zeros", {3, 0, 5, 1, 2, 1, 0, 2, 0, 4}, {10, 12, 9, 11, 10, 2, 1, 3, 2, 1}},
       0.5440839117951106,
       0.46273494692825595,
       1.4905085079509597},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.table.name);
    const InteractionFit fit = fit_interaction(r.table.cases, r.table.controls);
    ASSERT_EQ(fit.status, FitStatus::converged);
    EXPECT_CLOSE(fit.estimate, r.estimate, 1e-9);
    EXPECT_CLOSE(fit.se, r.se, 1e-9);
    const double lr = lr_statistic(fit, r.table.cases, r.table.controls);
    EXPECT_CLOSE(lr, r.lr, 1e-9);
    // Chi-square on one degree of freedom: the test rejects exactly when the
    // critical value's square is below the statistic.
    EXPECT_TRUE(lr_rejects(lr, std::sqrt(lr) * (1 - 1e-9)));
    EXPECT_FALSE(lr_rejects(lr, std::sqrt(lr) * (1 + 1e-9)));
  }
}

TEST(FitInteractionTest, StatusOfTablesWithoutAFiniteFitAndOfInputsThatAreNotTables) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    Table table;
    FitStatus status;
  };
  const std::vector<Row> rows = {
      {{"k = 2, one empty cell", {5, 6, 0, 4}, {7, 8, 3, 2}}, FitStatus::separated},
      {{"carriers: cases at scores 0-1, controls at 1-3",
        {5, 6, 7, 8, 4, 3, 0, 0},
        {9, 9, 9, 9, 0, 2, 5, 6}},
       FitStatus::separated},
      {{"non-carriers: controls below cases", {0, 0, 3, 4, 2, 2, 2, 2}, {5, 6, 0, 0, 3, 3, 3, 3}},
       FitStatus::separated},
      {{"no carrier cases", {5, 6, 7, 8, 0, 0, 0, 0}, {9, 9, 9, 9, 1, 2, 5, 6}},
       FitStatus::separated},
      {{"carriers at one score only", {5, 6, 7, 8, 0, 4, 0, 0}, {9, 9, 9, 9, 0, 3, 0, 0}},
       FitStatus::separated},
      {{"overlap by one score each way", {5, 6, 7, 8, 4, 3, 1, 0}, {9, 9, 9, 9, 0, 2, 5, 6}},
       FitStatus::converged},
      {{"odd length", {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, FitStatus::invalid_input},
      {{"k = 1", {1, 2}, {3, 4}}, FitStatus::invalid_input},
      {{"k = 101", std::vector<double>(202, 1.0), std::vector<double>(202, 1.0)},
       FitStatus::invalid_input},
      {{"lengths differ", {1, 2, 3, 4}, {1, 2, 3, 4, 5, 6}}, FitStatus::invalid_input},
      {{"negative count", {1, 2, -3, 4}, {1, 2, 3, 4}}, FitStatus::invalid_input},
      {{"NaN count", {1, 2, 3, 4}, {1, nan, 3, 4}}, FitStatus::invalid_input},
      {{"infinite count", {1, 2, 3, inf}, {1, 2, 3, 4}}, FitStatus::invalid_input},
      {{"total overflows", {1e308, 1e308, 1, 1}, {1, 1, 1, 1}}, FitStatus::invalid_input},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.table.name);
    const InteractionFit fit = fit_interaction(r.table.cases, r.table.controls);
    EXPECT_EQ(fit.status, r.status);
    if (r.status == FitStatus::converged) {
      EXPECT_TRUE(std::isfinite(fit.estimate) && fit.se > 0.0);
    } else {
      EXPECT_TRUE(std::isnan(fit.estimate) && std::isnan(fit.se));
      EXPECT_FALSE(wald_rejects(fit, 0.0));
      EXPECT_TRUE(std::isnan(lr_statistic(fit, r.table.cases, r.table.controls)));
    }
  }
}

}  // namespace
}  // namespace gxe::simulate
