// The model's templates over four search directions: the alternative's log
// odds ratios (bg, be) in directions 0 and 1, the logit of the carrier
// prevalence and the association per step in directions 2 and 3. Values are
// the double instantiation's bit for bit, every component agrees with central
// differences, and each is the two-direction dual's component bit for bit, so
// that no direction leaks into another.
//
// The fit from the records reads the control distribution as doubles, so its
// gradient in directions 2 and 3 is zero; the fits over a control
// distribution made at the point (model/searched_impl.h) carry all four.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "derivatives/dual.h"
#include "model/association_impl.h"
#include "model/fits_impl.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"
#include "model/searched_impl.h"
#include "tests/model/design.h"

namespace gxe::derivatives {
namespace {

namespace impl = model::impl;
using model::kMaxCategories;
using Dual4 = BasicDual<4>;

struct Case {
  gxe::testing::Design design;
  double or_ge;  // OR^tb(G,E) among controls
};

const Case kCases[] = {
    {{.k = 2, .probg = 0.3}, 2.0},
    {{.k = 4, .probg = 0.01, .ccr = 3.0, .or_g = 0.5, .ror_tb = 0.7}, 0.2},
    {{.k = 10, .probg = 0.6, .or_e_tb = 5.0}, 1.0},
    {{.k = 100, .probg = 0.05, .ccr = 0.5, .ror_tb = 3.0}, 3.0},
};

double logit(double p) { return std::log(p) - std::log1p(-p); }
double gamma_of(const Case& c) { return std::log(c.or_ge) / (c.design.k - 1); }

// Five-point central difference of f at x, error O(h^4).
double derivative(const std::function<double(double)>& f, double x, double h) {
  return (f(x - 2 * h) - 8 * f(x - h) + 8 * f(x + h) - f(x + 2 * h)) / (12 * h);
}

// A slope against its central difference: relative, with an absolute floor
// for slopes near zero.
void expect_slope(double exact, double difference, double scale) {
  EXPECT_NEAR(exact, difference, 1e-7 * (std::fabs(difference) + scale));
}

TEST(FourDirections, ControlDistribution) {
  for (const Case& c : kCases) {
    const int k = c.design.k;
    SCOPED_TRACE(::testing::Message() << "k " << k << ", p " << c.design.probg);
    const std::vector<double> q(k, 1.0 / k);
    const double lp = logit(c.design.probg);
    const double gamma = gamma_of(c);
    const auto table = [&](double lp_at, double gamma_at) {
      impl::ControlTable<double> pi{};
      impl::control_distribution(impl::logistic(lp_at), gamma_at, q, k, pi);
      return pi;
    };
    impl::ControlTable<Dual4> pi4{};
    impl::control_distribution(impl::logistic(variable<4>(lp, 2)), variable<4>(gamma, 3), q, k,
                               pi4);
    impl::ControlTable<Dual> pi2{};
    impl::control_distribution(impl::logistic(variable<2>(lp, 0)), variable<2>(gamma, 1), q, k,
                               pi2);
    const impl::ControlTable<double> at = table(lp, gamma);
    for (int i : {0, k - 1, kMaxCategories, kMaxCategories + k - 1}) {
      SCOPED_TRACE(::testing::Message() << "cell " << i);
      EXPECT_EQ(pi4[i].v, at[i]);
      EXPECT_EQ(pi4[i].d[0], 0.0);
      EXPECT_EQ(pi4[i].d[1], 0.0);
      EXPECT_EQ(pi4[i].d[2], pi2[i].d[0]);
      EXPECT_EQ(pi4[i].d[3], pi2[i].d[1]);
      const double h = 1e-3;
      expect_slope(pi4[i].d[2], derivative([&](double t) { return table(t, gamma)[i]; }, lp, h),
                   1.0 / k);
      expect_slope(pi4[i].d[3], derivative([&](double t) { return table(lp, t)[i]; }, gamma, h),
                   1.0);
    }
  }
}

// The alternative's fit and its power.
template <class T>
T power_chain(const model::Records& rec, double varh0, const T& bg, const T& be) {
  impl::CellArray<T> cell{};
  T b0;
  const T varh1 = impl::fit(rec.alt, bg, be, rec.cells.ncat, cell, b0);
  return impl::power_of(model::study_cases(rec), T(varh0), varh1, rec.alt.beg, rec.z[0]);
}

TEST(FourDirections, FitAndPower) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "k " << c.design.k << ", p " << c.design.probg);
    model::Records rec;
    gxe::testing::store_design(rec, c.design);
    impl::CellArray<double> null_cells{};
    double null_b0 = 0.0;
    const double varh0 =
        impl::fit(rec.null, rec.null.bg, rec.null.be, c.design.k, null_cells, null_b0);
    const double bg = rec.alt.bg;
    const double be = rec.alt.be;
    const auto power = [&](double bg_at, double be_at) {
      return power_chain(rec, varh0, bg_at, be_at);
    };
    const Dual4 power4 = power_chain(rec, varh0, variable<4>(bg, 0), variable<4>(be, 1));
    const Dual power2 = power_chain(rec, varh0, variable<2>(bg, 0), variable<2>(be, 1));
    EXPECT_EQ(power4.v, power(bg, be));
    EXPECT_EQ(power4.d[0], power2.d[0]);
    EXPECT_EQ(power4.d[1], power2.d[1]);
    EXPECT_EQ(power4.d[2], 0.0);
    EXPECT_EQ(power4.d[3], 0.0);
    const double h = 1e-4;
    expect_slope(power4.d[0], derivative([&](double t) { return power(t, be); }, bg, h), 1.0);
    expect_slope(power4.d[1], derivative([&](double t) { return power(bg, t); }, be, h), 1.0);
  }
}

// The power at a point of a four-dimensional box: both fits over the control
// distribution of the point's carrier prevalence (logit lp) and association.
template <class T>
T searched_power(const model::Records& rec, const T& bg, const T& be, const T& lp,
                 const T& gamma) {
  const impl::Variances<T> v =
      impl::variances_at(rec, rec.cells.ncat, bg, be, impl::logistic(lp), gamma);
  return impl::power_of(model::study_cases(rec), v.varh0, v.varh1, rec.alt.beg, rec.z[0]);
}

TEST(FourDirections, PowerOverTheSearchedPrevalenceAndAssociation) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "k " << c.design.k << ", p " << c.design.probg);
    model::Records rec;
    gxe::testing::store_design(rec, c.design);
    const std::array<double, 4> x = {rec.alt.bg, rec.alt.be, logit(c.design.probg), gamma_of(c)};
    const auto power = [&](std::array<double, 4> at) {
      return searched_power(rec, at[0], at[1], at[2], at[3]);
    };
    const Dual4 p4 = searched_power(rec, variable<4>(x[0], 0), variable<4>(x[1], 1),
                                    variable<4>(x[2], 2), variable<4>(x[3], 3));
    EXPECT_EQ(p4.v, power(x));
    for (int i = 0; i < 4; ++i) {
      const auto along = [&](double t) {
        std::array<double, 4> at = x;
        at[i] = t;
        return power(at);
      };
      expect_slope(p4.d[i], derivative(along, x[i], 1e-4), 1.0);
    }
    // The records' path with the association stored gives the same power
    // (the control factors are taken in another order: to rounding).
    model::set_association(rec.null, c.or_ge, c.design.k);
    rec.alt.dependence = rec.null.dependence;
    double records_power = 0.0;
    model::power3(rec, 2, std::array<double, 2>{x[0], x[1]}, records_power);
    EXPECT_NEAR(p4.v, records_power, 1e-12);
  }
}

}  // namespace
}  // namespace gxe::derivatives
