#include "plan/curve.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "values/number.h"

namespace gxe::plan {
namespace {

constexpr const char* kPointsRule = "must be a whole number from 2 to 1000";
constexpr const char* kDetectOverCases =
    "is not the axis of a curve of the detectable ROR^tb: it runs over cases, one curve per "
    "target power";

Error invalid_curve(std::string_view field, std::string value, const char* rule) {
  return Error{Error::Kind::invalid_input, std::string(field), std::move(value), rule};
}

// Sets the axis value or the series value of a scenario.
void set_value(Scenario& s, Axis over, bool axis, double value) {
  if (s.mode == Mode::detect) {  // over cases, one curve per target power
    (axis ? s.cases : s.target_power) = value;
    return;
  }
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
  if (query.base.mode == Mode::detect) return query.base.target_power;
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
  const std::string axis(column(Column::over).choices[query.over == Axis::cases ? 0 : 1]);
  for (const auto& [field, value] : {std::pair{"from", query.from}, std::pair{"to", query.to}}) {
    if (!std::isfinite(value) || !(value > 0.0)) {
      return invalid_curve(field, values::format_number(value), "must be a finite number greater than 0");
    }
  }
  if (!(query.from < query.to)) {
    return invalid_curve("from", values::format_number(query.from), "must be less than {to}");
  }
  if (query.points < kMinCurvePoints || query.points > kMaxCurvePoints) {
    return invalid_curve("points", std::to_string(query.points), kPointsRule);
  }
  if (query.base.mode == Mode::size && query.over == Axis::cases) {
    return invalid_curve(column_name(Column::over), axis,
                         "a curve of the size needed runs over ror; over cases it is of power");
  }
  if (query.base.mode == Mode::detect && query.over == Axis::ror) {
    return invalid_curve(column_name(Column::over), axis, kDetectOverCases);
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

namespace {

RequestError curve_error(Column c, std::string value, std::string rule) {
  return {Error(Error::Kind::invalid_input, std::string(column_name(c)), std::move(value),
                std::move(rule)),
          std::nullopt};
}

std::string joined(const std::vector<double>& list) {
  std::string text;
  for (const double x : list) text += (text.empty() ? "" : ",") + values::format_number(x);
  return text;
}

// A curve of the detectable ROR^tb: over cases, one curve per target power,
// and no ROR^tb, which it finds.
std::optional<RequestError> check_detect_inputs(const Request& r, Axis over) {
  if (over == Axis::ror) {
    return RequestError{Error(Error::Kind::invalid_input, std::string(column_name(Column::over)),
                              std::string(column(Column::over).choices[1]), kDetectOverCases),
                        std::nullopt};
  }
  if (!r.cases.empty()) {
    return curve_error(Column::cases, "", "is the axis of a curve over cases, set by {from} and {to}");
  }
  if (!r.ror.empty()) {
    return curve_error(Column::ror, "", "is what a curve of the detectable ROR^tb finds: leave it out");
  }
  if (r.power.empty()) {
    return curve_error(Column::power, "",
                       "is required for a curve of the detectable ROR^tb: one curve per target "
                       "power");
  }
  return std::nullopt;
}

// A quantity asked for by name must be the one the lists give.
std::optional<RequestError> check_quantity(Mode quantity, Mode inferred) {
  if (quantity == inferred) return std::nullopt;
  return RequestError{
      Error(Error::Kind::invalid_input, "quantity", std::string(name(quantity)),
            quantity == Mode::size
                ? "needs {power}, the target powers of its curves, and runs over ror"
                : "is given, but {power} asks for curves of the study size needed: give "
                  "{cases} or {ror} for curves of power"),
      std::nullopt};
}

// Which inputs name the curves and which is the axis.
std::optional<RequestError> check_curve_inputs(const Request& r, Axis over) {
  if (r.mode == Mode::detect) return check_detect_inputs(r, over);
  const bool cases = !r.cases.empty();
  const bool power = !r.power.empty();
  if (cases && power) {
    return curve_error(Column::cases, "",
                       "and {power} are both given: {cases} for curves of power, {power} for "
                       "curves of the study size needed");
  }
  if (over == Axis::cases) {
    if (power) {
      return curve_error(Column::power, "",
                         "is a curve of the study size needed, drawn against ROR^tb ({over} "
                         "ror); against the number of cases the curves are of power");
    }
    if (cases) {
      return curve_error(Column::cases, "",
                         "is the axis of a curve over cases, set by {from} and {to}");
    }
    if (r.ror.empty()) {
      return curve_error(Column::ror, "", "is required with {over} cases: one curve per value");
    }
  } else {
    if (!r.ror.empty()) {
      return curve_error(Column::ror, "", "is the axis of a curve over ror, set by {from} and {to}");
    }
    if (!cases && !power) {
      return curve_error(Column::cases, "",
                         "or {power} is required with {over} ror: {cases} for curves of power, "
                         "{power} for curves of the study size needed");
    }
  }
  const std::pair<Column, const std::vector<double>*> singles[] = {
      {Column::gene_prevalence, &r.gene_prevalence},
      {Column::allele_frequency, &r.allele_frequency},
      {Column::controls_per_case, &r.controls_per_case},
      {Column::alpha, &r.alpha},
  };
  for (const auto& [c, list] : singles) {
    if (list->size() > 1) {
      return curve_error(c, joined(*list),
                         "is a list, but a curve takes one value here; lists go in {ror}, "
                         "{cases} or {power}, one curve each");
    }
  }
  return std::nullopt;
}

}  // namespace

CurveExpansion expand_curve(Request request, Axis over, double from, double to, double points,
                            std::optional<Mode> quantity) {
  CurveExpansion out;
  request.mode = quantity == Mode::detect ? Mode::detect : Mode::power;
  if ((out.error = check_curve_inputs(request, over))) return out;
  if (request.mode != Mode::detect) {
    request.mode = request.power.empty() ? Mode::power : Mode::size;
    if (quantity && (out.error = check_quantity(*quantity, request.mode))) return out;
  }
  CurveQuery& query = out.query;
  query.over = over;
  query.from = from;
  query.to = to;
  if (!(points >= kMinCurvePoints && points <= kMaxCurvePoints && points == std::trunc(points))) {
    out.error = RequestError{Error(Error::Kind::invalid_input, "points", values::format_number(points),
                                   kPointsRule),
                             std::nullopt};
    return out;
  }
  query.points = static_cast<int>(points);
  std::vector<double>& series = request.mode == Mode::detect ? request.power
                                : over == Axis::cases         ? request.ror
                                : request.mode == Mode::power ? request.cases
                                                              : request.power;
  query.series = series;
  // The axis's first value stands in for the axis, so that the design is
  // checked as a single calculation checks it, with the same messages.
  (over == Axis::cases ? request.cases : request.ror) = {from};
  if (std::isfinite(from) && from > 0.0) {
    Expansion rows = expand(request);
    if (!rows.ok()) {
      out.error = std::move(rows.error);
      return out;
    }
    query.base = rows.scenarios.front();
  }
  if (std::optional<Error> e = check(query)) {
    out.error = RequestError{std::move(*e), std::nullopt};
    return out;
  }
  const std::size_t total = query.series.size() * static_cast<std::size_t>(query.points);
  if (total > kMaxRows) {
    out.error = RequestError{
        Error(Error::Kind::invalid_input, "", "",
              "the curves have " + std::to_string(total) + " points in all (" +
                  std::to_string(query.series.size()) + " curves of " +
                  std::to_string(query.points) + "), more than " + std::to_string(kMaxRows) +
                  "; use fewer {points} or split the calculation"),
        std::nullopt};
  }
  return out;
}

std::vector<std::string> curve_leading_names() {
  std::vector<std::string> names;
  for (const Column c : {Column::over, Column::x, Column::curve}) {
    names.emplace_back(column_name(c));
  }
  return names;
}

std::array<Cell, 3> curve_leading_cells(Axis over, const CurvePoint& point) {
  const std::string_view axis = column(Column::over).choices[over == Axis::cases ? 0 : 1];
  return {std::string(axis), point.x, point.series};
}

}  // namespace gxe::plan
