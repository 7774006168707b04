// The control distribution with a gene-exposure association: its margins and
// its odds ratio, independence exactly as the product, and the exact
// gradients in the carrier prevalence and the association against central
// differences.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "derivatives/dual.h"
#include "model/association_impl.h"
#include "model/fits_impl.h"
#include "model/model.h"
#include "tests/support/test_util.h"

namespace gxe::derivatives {
namespace {

using model::kMaxCategories;
using model::impl::control_distribution;
using model::impl::ControlTable;

struct Design {
  int k;
  double p;      // carrier prevalence among controls
  double or_ge;  // OR^tb(G,E) among controls
  bool unequal;  // exposure prevalences unequal, else quantiles
};

std::vector<double> prevalences(const Design& d) {
  std::vector<double> q(d.k, 1.0 / d.k);
  if (!d.unequal) return q;
  double sum = 0.0;
  for (int s = 0; s < d.k; ++s) sum += q[s] = 1.0 + (s * 7 % 5);
  for (double& x : q) x /= sum;
  return q;
}

double gamma_of(const Design& d) { return std::log(d.or_ge) / (d.k - 1); }

const Design kDesigns[] = {
    {2, 0.3, 2.0, false},  {4, 0.01, 0.2, false}, {4, 0.9, 1.5, true},  {10, 0.3, 0.7, true},
    {10, 0.5, 10.0, false}, {100, 0.05, 3.0, true}, {100, 0.6, 0.05, false}, {4, 0.3, 1.0, true},
};

TEST(ControlDistribution, MarginsAndOddsRatioHold) {
  for (const Design& d : kDesigns) {
    SCOPED_TRACE(::testing::Message() << "k " << d.k << ", p " << d.p << ", OR " << d.or_ge);
    const std::vector<double> q = prevalences(d);
    ControlTable<double> pi{};
    control_distribution(d.p, gamma_of(d), q, d.k, pi);
    double carriers = 0.0;
    for (int s = 0; s < d.k; ++s) {
      carriers += pi[kMaxCategories + s];
      EXPECT_CLOSE(pi[s] + pi[kMaxCategories + s], q[s], 1e-12) << "category " << s;
    }
    EXPECT_CLOSE(carriers, d.p, 1e-12);
    const int top = d.k - 1;
    const double odds_ratio = (pi[kMaxCategories + top] * pi[0]) / (pi[top] * pi[kMaxCategories]);
    EXPECT_CLOSE(odds_ratio, d.or_ge, 1e-12);
  }
}

TEST(ControlDistribution, IndependenceIsTheProductToTheLastBit) {
  for (const Design& d : kDesigns) {
    const std::vector<double> q = prevalences(d);
    ControlTable<double> pi{};
    control_distribution(d.p, 0.0, q, d.k, pi);
    const double non_carriers = 1.0 - d.p;
    for (int s = 0; s < d.k; ++s) {
      EXPECT_EQ(pi[s], non_carriers * q[s]);
      EXPECT_EQ(pi[kMaxCategories + s], d.p * q[s]);
    }
  }
}

// Gradients in (p, gamma) against central differences, and values equal to
// the double instantiation's, bit for bit; at gamma = 0 too, where the values
// are the product's and the gradient in gamma is the association's first
// order effect.
TEST(ControlDistribution, GradientsMatchCentralDifferences) {
  constexpr double kStep = 1e-6;
  for (Design d : kDesigns) {
    for (const bool independent : {false, true}) {
      if (independent) d.or_ge = 1.0;
      SCOPED_TRACE(::testing::Message() << "k " << d.k << ", p " << d.p << ", OR " << d.or_ge);
      const std::vector<double> q = prevalences(d);
      const double gamma = gamma_of(d);
      ControlTable<Dual> pi{};
      control_distribution(Dual(d.p, {1.0, 0.0}), Dual(gamma, {0.0, 1.0}), q, d.k, pi);
      ControlTable<double> at{}, up{}, down{}, left{}, right{};
      control_distribution(d.p, gamma, q, d.k, at);
      control_distribution(d.p + kStep, gamma, q, d.k, up);
      control_distribution(d.p - kStep, gamma, q, d.k, down);
      control_distribution(d.p, gamma + kStep, q, d.k, right);
      control_distribution(d.p, gamma - kStep, q, d.k, left);
      for (int g = 0; g < 2; ++g) {
        for (int s = 0; s < d.k; ++s) {
          const int i = g * kMaxCategories + s;
          EXPECT_EQ(pi[i].v, at[i]) << "cell " << g << ", " << s;
          const double scale = q[s];  // the cell's size bounds its slopes
          EXPECT_NEAR(pi[i].d[0], (up[i] - down[i]) / (2 * kStep), 1e-6 * scale) << g << s;
          EXPECT_NEAR(pi[i].d[1], (right[i] - left[i]) / (2 * kStep), 1e-6 * scale * d.k)
              << g << s;
        }
      }
    }
  }
}

// The fits over a control distribution whose carrier prevalence and
// association carry gradients: varh of both hypotheses against central
// differences of the double fits with the association stored in the
// records.
TEST(ControlDistribution, FitsFollowThePrevalenceAndTheAssociation) {
  constexpr double kStep = 1e-6;
  for (const Design& d : kDesigns) {
    SCOPED_TRACE(::testing::Message() << "k " << d.k << ", p " << d.p << ", OR " << d.or_ge);
    const std::vector<double> q = prevalences(d);
    model::Hypothesis h;
    std::copy(q.begin(), q.end(), h.pexp.begin());
    h.ccr = 1.5;
    h.bg = std::log(1.3);
    h.be = std::log(2.0) / (d.k - 1);
    for (const double beg : {0.0, std::log(1.8) / (d.k - 1)}) {
      h.beg = beg;
      const auto double_fit = [&](double p, double gamma) {
        model::Hypothesis at = h;
        at.pgen = {1.0 - p, p};
        model::set_association(at, std::exp(gamma * (d.k - 1)), d.k);
        model::impl::CellArray<double> cell{};
        double b0 = 0.0;
        return model::impl::fit(at, at.bg, at.be, d.k, cell, b0);
      };
      const double gamma = gamma_of(d);
      const Dual p(d.p, {1.0, 0.0});
      ControlTable<Dual> pi{};
      control_distribution(p, Dual(gamma, {0.0, 1.0}), q, d.k, pi);
      model::impl::CellArray<Dual> cell{};
      Dual b0;
      const Dual v = model::impl::fit(h, model::impl::TableControls<Dual>{h, pi, p}, Dual(h.bg),
                                      Dual(h.be), d.k, cell, b0);
      EXPECT_CLOSE(v.v, double_fit(d.p, gamma), 1e-12);
      const double dp =
          (double_fit(d.p + kStep, gamma) - double_fit(d.p - kStep, gamma)) / (2 * kStep);
      const double dg =
          (double_fit(d.p, gamma + kStep) - double_fit(d.p, gamma - kStep)) / (2 * kStep);
      EXPECT_NEAR(v.d[0], dp, 1e-5 * (std::fabs(dp) + v.v)) << beg;
      EXPECT_NEAR(v.d[1], dg, 1e-5 * (std::fabs(dg) + v.v)) << beg;
    }
  }
}

}  // namespace
}  // namespace gxe::derivatives
