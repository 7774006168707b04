#include "plan/curve.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "values/number.h"

namespace gxe::plan {
namespace {

Error invalid_curve(const char* field, std::string value, const char* rule) {
  return Error{Error::Kind::invalid_input, field, std::move(value), rule};
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

double base_series(const CurveQuery& query) {
  if (query.over == Axis::cases) return query.base.design.ror;
  return query.base.mode == Mode::power ? query.base.cases : query.base.target_power;
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

std::optional<Error> check(const CurveQuery& query) {
  const char* axis = query.over == Axis::cases ? "cases" : "ror";
  for (const auto& [field, value] : {std::pair{"from", query.from}, std::pair{"to", query.to}}) {
    if (!std::isfinite(value) || !(value > 0.0)) {
      return invalid_curve(field, values::format_number(value), "must be a finite number greater than 0");
    }
  }
  if (!(query.from < query.to)) {
    return invalid_curve("from", values::format_number(query.from), "must be less than to");
  }
  if (query.points < kMinCurvePoints || query.points > kMaxCurvePoints) {
    return invalid_curve("points", std::to_string(query.points), "must be from 2 to 1000");
  }
  if (query.base.mode == Mode::size && query.over == Axis::cases) {
    return invalid_curve("over", axis,
                         "a curve of the size needed runs over ror; over cases it is of power");
  }
  for (const CurvePoint& p : curve_points(query)) {
    if (auto e = check(p.scenario)) return e;
  }
  return std::nullopt;
}

std::vector<CurvePoint> curve_points(const CurveQuery& query) {
  std::vector<CurvePoint> points;
  const std::vector<double> xs = axis_values(query.over, query.from, query.to, query.points);
  const std::vector<double> series =
      query.series.empty() ? std::vector<double>{base_series(query)} : query.series;
  for (double value : series) {
    for (double x : xs) {
      CurvePoint p;
      p.x = x;
      p.series = value;
      p.scenario = query.base;
      set_value(p.scenario, query.over, false, value);
      set_value(p.scenario, query.over, true, x);
      points.push_back(std::move(p));
    }
  }
  return points;
}

std::vector<CurvePoint> curve(const CurveQuery& query) {
  std::vector<CurvePoint> points = curve_points(query);
  for (CurvePoint& p : points) p.outcome = run(p.scenario);
  return points;
}

}  // namespace gxe::plan
