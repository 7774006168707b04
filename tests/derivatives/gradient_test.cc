// Exact gradients of sample size and power: figures of the worked example,
// agreement with central differences, values identical to the double
// routines, side effects on the records, and the stops.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "derivatives/derivatives.h"
#include "derivatives/dual.h"
#include "derivatives/records.h"
#include "console/console.h"
#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"
#include "tests/support/test_util.h"

namespace gxe::derivatives {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;
using X = std::array<double, 2>;

const X kExamplePoint{std::log(1.5), std::log(2.0) / 3};

std::array<Dual, 2> seeded(const X& x) { return {Dual(x[0], {1.0, 0.0}), Dual(x[1], {0.0, 1.0})}; }

double sample_at(model::Records& rec, const X& x) {
  double ss = 0.0;
  model::sample(rec, 2, x, ss);
  return ss;
}

double power_at(model::Records& rec, const X& x) {
  double pw = 0.0;
  model::power3(rec, 2, x, pw);
  return pw;
}

// --- Figures of the worked example ---------------------------------------------

TEST(GradientTest, WorkedExample) {
  model::Records rec;
  Records grad;
  store_design(rec, gxe::testing::example_design());  // 500 cases: size 1000
  X g{};
  dsample(rec, grad, 2, kExamplePoint, g);
  // Figures to the digits quoted: within half a unit of the last one.
  EXPECT_NEAR(g[0], -7.092825, 5e-7);
  EXPECT_NEAR(g[1], 136.98457, 5e-6);
  dpower3(rec, grad, 2, kExamplePoint, g);
  EXPECT_NEAR(g[0], -0.00025422897, 5e-12);
  EXPECT_NEAR(g[1], 0.0049099540, 5e-11);
  Dual pw;
  p_power3(rec, grad, 2, 2, seeded(kExamplePoint), pw);
  EXPECT_NEAR(pw.v, 0.476120, 5e-7);
  Dual ss;
  g_sample(rec, grad, 2, 2, seeded(kExamplePoint), ss);
  EXPECT_NEAR(ss.v, 1097.01296, 5e-6);
}

// --- Central differences ----------------------------------------------------------

// Five-point central difference, error O(h^4): about 1e-10 relative here.
double derivative(const std::function<double(const X&)>& f, X x, int i, double h) {
  const double x0 = x[i];
  const auto at = [&](double t) {
    x[i] = x0 + t;
    return f(x);
  };
  return (at(-2 * h) - 8 * at(-h) + 8 * at(h) - at(2 * h)) / (12 * h);
}

// Designs for k = 2..20, interaction of either sign, points over the box
// log 0.3 .. log 4 (per step for x(2)).
struct GridPoint {
  Design design;
  X x;
};

std::vector<GridPoint> grid() {
  std::vector<GridPoint> points;
  const double probg[] = {0.1, 0.3, 0.5};
  const double ccr[] = {0.5, 1.0, 3.0};
  const double ors[] = {std::log(0.3), std::log(1.2), std::log(4.0)};
  for (int k = 2; k <= 20; ++k) {
    for (const double ror : {2.5, 0.4}) {
      Design d{.k = k,
               .probg = probg[k % 3],
               .ccr = ccr[(k / 3) % 3],
               .or_g = 1.3,
               .or_e_tb = 1.8,
               .ror_tb = ror,
               .cases = 400.0 + 50.0 * k};
      if (k % 4 == 1) {  // some designs with unequal categories
        d.pexp.assign(k, 0.0);
        double sum = 0.0;
        for (int e = 0; e < k; ++e) sum += d.pexp[e] = 1.0 + e % 3;
        for (double& p : d.pexp) p /= sum;
      }
      for (const double a : ors) {
        for (const double b : ors) points.push_back({d, {a, b / (k - 1)}});
      }
    }
  }
  return points;
}

// Where the gradient is tiny against the value (power near 0 or 1) only
// absolute agreement is asked for.
void expect_gradient(double exact, double fd, double f, const std::string& what) {
  const double scale = std::fabs(f) > 1.0 ? std::fabs(f) : 1.0;
  if (std::fabs(fd) > 1e-6 * scale) {
    EXPECT_CLOSE(exact, fd, 1e-7) << what;
  } else {
    EXPECT_NEAR(exact, fd, 1e-12 * scale) << what;
  }
}

TEST(GradientTest, SampleSizeAgreesWithCentralDifferences) {
  for (const GridPoint& p : grid()) {
    model::Records rec;
    Records grad;
    store_design(rec, p.design);
    X g{};
    dsample(rec, grad, 2, p.x, g);
    const auto sample = [&rec](const X& x) { return sample_at(rec, x); };
    const double f = sample(p.x);
    for (int i = 0; i < 2; ++i) {
      std::ostringstream what;
      what << "k = " << p.design.k << ", ROR " << p.design.ror_tb << ", x = (" << p.x[0] << ", "
           << p.x[1] << "), component " << i + 1;
      expect_gradient(g[i], derivative(sample, p.x, i, 1e-3), f, what.str());
    }
  }
}

TEST(GradientTest, PowerAgreesWithCentralDifferences) {
  int compared = 0;
  for (const GridPoint& p : grid()) {
    model::Records rec;
    Records grad;
    store_design(rec, p.design);
    X g{};
    dpower3(rec, grad, 2, p.x, g);
    const auto power = [&rec](const X& x) { return power_at(rec, x); };
    const double f = power(p.x);
    for (int i = 0; i < 2; ++i) {
      std::ostringstream what;
      what << "k = " << p.design.k << ", ROR " << p.design.ror_tb << ", x = (" << p.x[0] << ", "
           << p.x[1] << "), component " << i + 1;
      const double fd = derivative(power, p.x, i, 1e-3);
      compared += std::fabs(fd) > 1e-6;
      expect_gradient(g[i], fd, f, what.str());
    }
  }
  EXPECT_GT(compared, 500);  // the grid is not mostly saturated
}

// --- Values identical to the double routines, and the same records ----------------

struct Snapshot {
  double alt_bg, alt_be, alt_b0, null_b0;
  std::array<double, 400> cell;
};
Snapshot snapshot(const model::Records& rec) {
  return {rec.alt.bg, rec.alt.be, rec.alt.b0, rec.null.b0, rec.cells.cell};
}
void expect_same(const Snapshot& a, const Snapshot& b, const std::string& what) {
  EXPECT_EQ(a.alt_bg, b.alt_bg) << what;
  EXPECT_EQ(a.alt_be, b.alt_be) << what;
  EXPECT_EQ(a.alt_b0, b.alt_b0) << what;
  EXPECT_EQ(a.null_b0, b.null_b0) << what;
  EXPECT_EQ(a.cell, b.cell) << what;
}

TEST(GradientTest, ValuesAndRecordsAreThoseOfTheDoubleRoutines) {
  for (const GridPoint& p : grid()) {
    const std::string what = "k = " + std::to_string(p.design.k);
    model::Records rec;
    Records grad;
    store_design(rec, p.design);
    const double ss = sample_at(rec, p.x);
    const Snapshot after_sample = snapshot(rec);
    store_design(rec, p.design);
    Dual dss;
    g_sample(rec, grad, 2, 2, seeded(p.x), dss);
    EXPECT_EQ(dss.v, ss) << what;
    expect_same(snapshot(rec), after_sample, what);

    store_design(rec, p.design);
    const double pw = power_at(rec, p.x);
    const Snapshot after_power = snapshot(rec);
    store_design(rec, p.design);
    Dual dpw;
    p_power3(rec, grad, 2, 2, seeded(p.x), dpw);
    EXPECT_EQ(dpw.v, pw) << what;
    expect_same(snapshot(rec), after_power, what);
  }
}

// Companions after an evaluation: the seed in bg and be, the intercept's
// gradient -grad S / S, and the case cells cell (grad eta + grad b0) with
// grad eta = ((g-1), (e-1)); the control cells exactly zero.
TEST(GradientTest, CompanionsHoldTheGradientsOfTheAlternative) {
  struct Chain {
    const char* name;
    void (*evaluate)(model::Records&, Records&, int, std::span<const double>, std::span<double>);
    HypothesisGradient Records::*alt;
    CellTableGradient Records::*cells;
    HypothesisGradient Records::*other_alt;  // of the other chain
  };
  const Chain chains[] = {
      {"sample", dsample, &Records::g_alt, &Records::g_cells, &Records::p_alt},
      {"power", dpower3, &Records::p_alt, &Records::p_cells, &Records::g_alt},
  };
  const Design d{.k = 6, .probg = 0.2, .ccr = 2.0, .ror_tb = 3.0};
  const X x{0.4, -0.1};
  for (const Chain& chain : chains) {
    model::Records rec;
    Records grad;
    store_design(rec, d);
    X gradient{};
    chain.evaluate(rec, grad, 2, x, gradient);
    const HypothesisGradient& alt = grad.*chain.alt;
    const CellTableGradient& cells = grad.*chain.cells;
    EXPECT_EQ(alt.bg, (Gradient{1.0, 0.0})) << chain.name;
    EXPECT_EQ(alt.be, (Gradient{0.0, 1.0})) << chain.name;
    // grad S / S from the table itself: the case-weighted mean of grad eta.
    Gradient mean{};
    for (int g = 1; g <= 2; ++g) {
      for (int e = 1; e <= d.k; ++e) {
        mean[0] += rec.cells.at(2, g, e) * (g - 1);
        mean[1] += rec.cells.at(2, g, e) * (e - 1);
      }
    }
    EXPECT_CLOSE(alt.b0[0], -mean[0], 1e-13) << chain.name;
    EXPECT_CLOSE(alt.b0[1], -mean[1], 1e-13) << chain.name;
    for (int g = 1; g <= 2; ++g) {
      for (int e = 1; e <= d.k; ++e) {
        EXPECT_EQ(cells.at(1, g, e), (Gradient{0.0, 0.0})) << chain.name;
        const double cell = rec.cells.at(2, g, e);
        EXPECT_NEAR(cells.at(2, g, e)[0], cell * ((g - 1) - mean[0]), 1e-14) << chain.name;
        EXPECT_NEAR(cells.at(2, g, e)[1], cell * ((e - 1) - mean[1]), 1e-14) << chain.name;
      }
    }
    // Untouched by this chain: the other chain's companions.
    EXPECT_EQ((grad.*chain.other_alt).bg, (Gradient{0.0, 0.0})) << chain.name;
  }
}

TEST(GradientTest, NullFitHasZeroGradientAndAlternativeFitMatchesDifferences) {
  model::Records rec;
  Records grad;
  store_design(rec, Design{.k = 7, .ror_tb = 0.3});
  Dual varh0;
  g_fs_0(rec, grad, 2, varh0);
  EXPECT_EQ(varh0.d, (Gradient{0.0, 0.0}));
  double v0 = 0.0;
  model::fs_0(rec, v0);
  EXPECT_EQ(varh0.v, v0);

  const X x{0.2, 0.15};
  grad.g_alt.bg = {1.0, 0.0};
  grad.g_alt.be = {0.0, 1.0};
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  Dual varh1;
  g_fs_a(rec, grad, 2, varh1);
  const auto fs_a_at = [&rec](const X& y) {
    rec.alt.bg = y[0];
    rec.alt.be = y[1];
    double v = 0.0;
    model::fs_a(rec, v);
    return v;
  };
  for (int i = 0; i < 2; ++i) EXPECT_CLOSE(varh1.d[i], derivative(fs_a_at, x, i, 1e-3), 1e-8);
}

// --- p_normp ------------------------------------------------------------------------

TEST(PNormpTest, GradientsPerUnitGradientOfZ) {
  struct Row {
    double z;
    Gradient p, q, pdf;  // first components; z carries gradient (1, 2)
  };
  const double pdf13 = 0.17136859204780736;  // density at 1.3
  for (const Row& r :
       {Row{-1.3, {pdf13}, {-pdf13}, {1.3 * pdf13}}, Row{1.3, {pdf13}, {-pdf13}, {-1.3 * pdf13}},
        Row{0.0, {0.0}, {0.0}, {0.0}},   // |z| at 0: zero gradient
        Row{38.0, {0.0}, {0.0}, {0.0}},  // saturated: constants
        Row{-38.0, {0.0}, {0.0}, {0.0}}}) {
    Dual p;
    Dual q;
    Dual pdf;
    p_normp(2, Dual(r.z, {1.0, 2.0}), p, q, pdf);
    double vp = 0.0;
    double vq = 0.0;
    double vpdf = 0.0;
    model::normp(r.z, vp, vq, vpdf);
    EXPECT_EQ(p.v, vp) << r.z;
    EXPECT_EQ(q.v, vq) << r.z;
    EXPECT_EQ(pdf.v, vpdf) << r.z;
    EXPECT_NEAR(p.d[0], r.p[0], 1e-15) << r.z;
    EXPECT_NEAR(q.d[0], r.q[0], 1e-15) << r.z;
    EXPECT_NEAR(pdf.d[0], r.pdf[0], 1e-15) << r.z;
    EXPECT_NEAR(p.d[1], 2 * r.p[0], 2e-15) << r.z;
  }
  Dual p;
  Dual q;
  Dual pdf;
  p_normp(2, Dual(-1.3, {1.0, 0.0}), p, q, pdf);
  EXPECT_NEAR(p.d[0], 0.17136859, 5e-9);
  EXPECT_NEAR(q.d[0], -0.17136859, 5e-9);
  EXPECT_NEAR(pdf.d[0], 0.22277917, 5e-9);
}

// Both branches of the tail: the gradient of p is the density, within the
// accuracy of each branch.
TEST(PNormpTest, GradientOfTheLowerTailIsTheDensityInBothBranches) {
  for (const double z : {0.5, -3.0, std::nextafter(7.071, 0.0), 7.071, -9.0, 20.0, 37.0}) {
    Dual p;
    Dual q;
    Dual pdf;
    p_normp(2, Dual(z, {1.0, 0.0}), p, q, pdf);
    EXPECT_CLOSE(p.d[0], pdf.v, 1e-7) << z;
    EXPECT_EQ(q.d[0], -p.d[0]) << z;
  }
}

// --- Stops ------------------------------------------------------------------------------

class StopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    console::bind(in_, out_, err_);
    store_design(rec_, gxe::testing::example_design());
  }
  void TearDown() override { console::bind_standard(); }

  // Runs `call`, expects the program end with status 0 and `line` written.
  void expect_stop(const std::function<void()>& call, const std::string& line,
                   const std::string& what) {
    out_.str("");
    try {
      call();
      ADD_FAILURE() << what << " did not stop";
    } catch (const console::ProgramEnd& end) {
      EXPECT_EQ(end.status, 0) << what;
    }
    EXPECT_EQ(out_.str(), line + "\n") << what;
  }

  model::Records rec_;
  Records grad_;
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(StopTest, MoreThanTwoDirectionsStopsBeforeAnyRecordIsWritten) {
  const std::string g_line = " Parameter g_p_ is greater than g_pmax_";
  const std::string p_line = " Parameter p_p_ is greater than p_pmax_";
  const std::array<double, 3> x{0.1, 0.2, 0.3};
  std::array<double, 3> g{};
  const std::array<Dual, 3> xs{Dual(0.1), Dual(0.2), Dual(0.3)};
  Dual a;
  Dual b;
  Dual c;
  struct Row {
    const char* name;
    std::function<void()> call;
    const std::string& line;
  };
  const std::vector<Row> rows = {
      {"dsample", [&] { dsample(rec_, grad_, 3, x, g); }, g_line},
      {"g_sample", [&] { g_sample(rec_, grad_, 3, 3, xs, a); }, g_line},
      {"g_fs_a", [&] { g_fs_a(rec_, grad_, 3, a); }, g_line},
      {"g_fs_0", [&] { g_fs_0(rec_, grad_, 3, a); }, g_line},
      {"dpower3", [&] { dpower3(rec_, grad_, 3, x, g); }, p_line},
      {"p_power3", [&] { p_power3(rec_, grad_, 3, 3, xs, a); }, p_line},
      {"p_power", [&] { p_power(rec_, grad_, 3, 500.0, a); }, p_line},
      {"p_normp", [&] { p_normp(3, Dual(1.0), a, b, c); }, p_line},
      {"p_fs_a", [&] { p_fs_a(rec_, grad_, 3, a); }, p_line},
      {"p_fs_0", [&] { p_fs_0(rec_, grad_, 3, a); }, p_line},
  };
  for (const Row& r : rows) {
    const Snapshot before = snapshot(rec_);
    expect_stop(r.call, r.line, r.name);
    expect_same(snapshot(rec_), before, r.name);
    EXPECT_EQ(grad_.g_alt.bg, (Gradient{0.0, 0.0})) << r.name;
    EXPECT_EQ(grad_.p_alt.bg, (Gradient{0.0, 0.0})) << r.name;
    EXPECT_EQ(g, (std::array<double, 3>{})) << r.name;
  }
}

TEST_F(StopTest, PowerChainStopsOnANonPositiveNumberOfCasesAfterBothFits) {
  rec_.null.b0 = 99.0;
  rec_.alt.b0 = 99.0;
  rec_.size = 0.0;
  X g{};
  expect_stop([&] { dpower3(rec_, grad_, 2, kExamplePoint, g); }, " error in power : n <= 0   0.",
              "dpower3");
  EXPECT_NE(rec_.null.b0, 99.0);
  EXPECT_NE(rec_.alt.b0, 99.0);
  Dual pw;
  expect_stop([&] { p_power(rec_, grad_, 2, -2.0, pw); }, " error in power : n <= 0  -2.",
              "p_power");
}

}  // namespace
}  // namespace gxe::derivatives
