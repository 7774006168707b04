#include "plan/curve.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace gxe::plan {
namespace {

Error invalid_curve(const char* field, std::string value, const char* rule) {
  return Error{Error::Kind::invalid_input, field, std::move(value), rule};
}

// Shortest form that reads back to the same double.
std::string shortest(double x) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x);
  return std::string(buffer.data(), result.ptr);
}

// Sets the axis value or the series value of a scenario.
void set_value(Scenario& s, Axis over, bool axis, double value) {
  const bool ror = (over == Axis::ror) == axis;
  if (ror) {
    s.design.ror = value;
  } else if (s.mode == Mode::power) {
    s.cases = value;
  } else {
    s.target_power = value;
  }
}

double base_series(const CurveSpec& spec) {
  if (spec.over == Axis::cases) return spec.base.design.ror;
  return spec.base.mode == Mode::power ? spec.base.cases : spec.base.target_power;
}

}  // namespace

std::vector<double> axis_values(Axis over, double from, double to, int points) {
  std::vector<double> xs;
  if (points < kMinCurvePoints) return xs;
  xs.reserve(static_cast<std::size_t>(points));
  const bool log_scale = over == Axis::ror;
  const double a = log_scale ? std::log(from) : from;
  const double b = log_scale ? std::log(to) : to;
  for (int i = 0; i < points; ++i) {
    if (i == 0) {
      xs.push_back(from);
    } else if (i == points - 1) {
      xs.push_back(to);
    } else {
      // exp(log) may round a hair past an end of a narrow range.
      const double t = a + (b - a) * i / (points - 1);
      xs.push_back(std::clamp(log_scale ? std::exp(t) : t, from, to));
    }
  }
  return xs;
}

std::optional<Error> check(const CurveSpec& spec) {
  const char* axis = spec.over == Axis::cases ? "cases" : "ror";
  for (const auto& [field, value] : {std::pair{"from", spec.from}, std::pair{"to", spec.to}}) {
    if (!std::isfinite(value) || !(value > 0.0)) {
      return invalid_curve(field, shortest(value), "must be a finite number greater than 0");
    }
  }
  if (!(spec.from < spec.to)) {
    return invalid_curve("from", shortest(spec.from), "must be less than to");
  }
  if (spec.points < kMinCurvePoints || spec.points > kMaxCurvePoints) {
    return invalid_curve("points", std::to_string(spec.points), "must be from 2 to 1000");
  }
  if (spec.base.mode == Mode::size && spec.over == Axis::cases) {
    return invalid_curve("over", axis,
                         "a curve of the size needed runs over ror; over cases it is of power");
  }
  for (const CurvePoint& p : curve_points(spec)) {
    if (auto e = check(p.scenario)) return e;
  }
  return std::nullopt;
}

std::vector<CurvePoint> curve_points(const CurveSpec& spec) {
  std::vector<CurvePoint> points;
  const std::vector<double> xs = axis_values(spec.over, spec.from, spec.to, spec.points);
  const std::vector<double> series =
      spec.series.empty() ? std::vector<double>{base_series(spec)} : spec.series;
  for (double value : series) {
    for (double x : xs) {
      CurvePoint p;
      p.x = x;
      p.series = value;
      p.scenario = spec.base;
      set_value(p.scenario, spec.over, false, value);
      set_value(p.scenario, spec.over, true, x);
      points.push_back(std::move(p));
    }
  }
  return points;
}

std::vector<CurvePoint> curve(const CurveSpec& spec) {
  std::vector<CurvePoint> points = curve_points(spec);
  for (CurvePoint& p : points) p.outcome = run(p.scenario);
  return points;
}

}  // namespace gxe::plan
