// The value-with-gradient type: values as the double operations give them,
// gradients by the rule of each operation, and the conventions at the points
// where a derivative does not exist.

#include "derivatives/dual.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace gxe::derivatives {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// u = 1.7 with gradient (0.3, -1.1), w = -0.45 with gradient (2.0, 0.25).
const Dual kU(1.7, {0.3, -1.1});
const Dual kW(-0.45, {2.0, 0.25});

struct Row {
  std::string name;
  std::function<Dual()> dual;
  double value;       // the double operation
  Gradient gradient;  // chain rule, written out
};

TEST(DualTest, ValuesAreTheDoubleOperationsAndGradientsFollowTheChainRule) {
  const double u = kU.v;
  const double w = kW.v;
  const Gradient du = kU.d;
  const Gradient dw = kW.d;
  const double c = 2.5;
  const auto lin = [](double a, const Gradient& x, double b, const Gradient& y) {
    return Gradient{a * x[0] + b * y[0], a * x[1] + b * y[1]};
  };
  const std::vector<Row> rows = {
      {"u + w", [] { return kU + kW; }, u + w, lin(1, du, 1, dw)},
      {"u - w", [] { return kU - kW; }, u - w, lin(1, du, -1, dw)},
      {"u * w", [] { return kU * kW; }, u * w, lin(w, du, u, dw)},
      {"u * u", [] { return kU * kU; }, u * u, lin(2 * u, du, 0, dw)},
      {"u / w", [] { return kU / kW; }, u / w, lin(1 / w, du, -u / (w * w), dw)},
      {"c * u", [&] { return c * kU; }, c * u, lin(c, du, 0, dw)},
      {"u * c", [&] { return kU * c; }, u * c, lin(c, du, 0, dw)},
      {"u / c", [&] { return kU / c; }, u / c, lin(1 / c, du, 0, dw)},
      {"u + c", [&] { return kU + c; }, u + c, du},
      {"c + u", [&] { return c + kU; }, c + u, du},
      {"u - c", [&] { return kU - c; }, u - c, du},
      {"c - u", [&] { return c - kU; }, c - u, lin(-1, du, 0, dw)},
      {"c / w", [&] { return c / kW; }, c / w, lin(0, du, -c / (w * w), dw)},
      {"-u", [] { return -kU; }, -u, lin(-1, du, 0, dw)},
      {"exp(u)", [] { return exp(kU); }, std::exp(u), lin(std::exp(u), du, 0, dw)},
      {"log(u)", [] { return log(kU); }, std::log(u), lin(1 / u, du, 0, dw)},
      {"sqrt(u)", [] { return sqrt(kU); }, std::sqrt(u), lin(0.5 / std::sqrt(u), du, 0, dw)},
      {"abs(u), u > 0", [] { return abs(kU); }, u, du},
      {"abs(w), w < 0", [] { return abs(kW); }, -w, lin(-1, dw, 0, du)},
  };
  for (const Row& r : rows) {
    const Dual x = r.dual();
    EXPECT_EQ(x.v, r.value) << r.name;
    EXPECT_CLOSE(x.d[0], r.gradient[0], 1e-15) << r.name;
    EXPECT_CLOSE(x.d[1], r.gradient[1], 1e-15) << r.name;
  }
}

// Where the slope is infinite or undefined the gradient is the zero vector,
// while the value is whatever the double function gives.
TEST(DualTest, NonDifferentiablePointsGiveZeroGradient) {
  const Gradient g{1.0, -2.0};
  struct Point {
    std::string name;
    Dual result;
    double value;
  };
  const std::vector<Point> points = {
      {"sqrt(0)", sqrt(Dual(0.0, g)), 0.0},    {"sqrt(-0)", sqrt(Dual(-0.0, g)), -0.0},
      {"sqrt(-4)", sqrt(Dual(-4.0, g)), kNaN}, {"sqrt(nan)", sqrt(Dual(kNaN, g)), kNaN},
      {"abs(0)", abs(Dual(0.0, g)), 0.0},      {"abs(-0)", abs(Dual(-0.0, g)), 0.0},
      {"abs(nan)", abs(Dual(kNaN, g)), kNaN},
  };
  for (const Point& p : points) {
    if (std::isnan(p.value)) {
      EXPECT_TRUE(std::isnan(p.result.v)) << p.name;
    } else {
      EXPECT_EQ(p.result.v, p.value) << p.name;
    }
    EXPECT_EQ(p.result.d[0], 0.0) << p.name;
    EXPECT_EQ(p.result.d[1], 0.0) << p.name;
  }
}

// A composite against central differences of the same expression in double.
TEST(DualTest, CompositeAgreesWithCentralDifferences) {
  const auto f = [](const auto& x) {
    using std::exp;
    using std::log;
    using std::sqrt;
    return sqrt(exp(x * 0.5) + 1.0) / (log(x + 2.0) * x) - 3.0 / (x + 1.0);
  };
  for (const double x : {0.3, 1.0, 4.5}) {
    const double h = 1e-4;
    const double fd =
        (f(x - 2 * h) - 8 * f(x - h) + 8 * f(x + h) - f(x + 2 * h)) / (12 * h);  // O(h^4)
    const Dual y = f(Dual(x, {1.0, 0.0}));
    EXPECT_EQ(y.v, f(x));
    EXPECT_CLOSE(y.d[0], fd, 1e-9) << x;
    EXPECT_EQ(y.d[1], 0.0);
  }
}

}  // namespace
}  // namespace gxe::derivatives
