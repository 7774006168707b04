#ifndef GXE_PLAN_CURVE_H_
#define GXE_PLAN_CURVE_H_

// Curves: a calculation repeated along one axis, for figures in a protocol
// or a grant. Each point is an ordinary calculation of the planning library,
// so a point of a curve equals the single calculation at the same values.
//
//   over cases: the power against the number of cases, one curve per ROR^tb,
//               or (in detect mode) the detectable ROR^tb against the number
//               of cases, one curve per target power;
//   over ror:   the power against ROR^tb, one curve per number of cases, or
//               (in size mode) the size needed against ROR^tb, one curve per
//               target power.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "plan/request.h"
#include "plan/row.h"

namespace gxe::plan {

enum class Axis { cases, ror };

struct CurveQuery {
  // The design, ranges and settings of every point; its mode says whether
  // the curves are of power (power mode), of size (size mode, over ror only)
  // or of the detectable ROR^tb (detect mode, over cases only). The value
  // that the axis or the series sets is ignored.
  Scenario base;
  Axis over = Axis::cases;
  double from = 0.0;
  double to = 0.0;
  int points = 40;
  // One curve per value: ROR^tb values over cases (target powers in detect
  // mode); over ror, numbers of cases (power mode) or target powers (size
  // mode). Empty: one curve at the base scenario's own value.
  std::vector<double> series;
};

inline constexpr int kMinCurvePoints = 2;
inline constexpr int kMaxCurvePoints = 1000;

struct CurvePoint {
  double x = 0.0;       // the axis value: number of cases or ROR^tb
  double series = 0.0;  // the value of the curve it belongs to
  Scenario scenario;    // the calculation made at this point
  Outcome outcome;
};

// The axis values: `points` values from `from` to `to`, evenly spaced for
// cases and evenly on the log scale for ROR^tb; the ends exactly as given.
std::vector<double> axis_values(Axis over, double from, double to, int points);

// The first input of the curve that is out of its range: from and to
// positive and finite with from < to; 2 to 1000 points; size curves only
// over ror, detect curves only over cases; then every point's scenario as
// `check` sees it.
std::optional<Error> check(const CurveQuery& query);

// The curves a request asks for along an axis from `from` to `to` at
// `points` points: over cases, one curve per value of the request's ror;
// over ror, one per number of cases (curves of power) or per target power
// (curves of the size needed; the request's mode is taken from which of the
// two is given). With `quantity` detect, over cases, one curve per target
// power of the detectable ROR^tb; a quantity power or size must be the one
// the request's lists give. The other lists take one value; the axis's
// input is not given. The checks of `check(CurveQuery)` and of `expand` (for
// the axis's first value standing in for the axis) follow, and at most
// kMaxRows points in all.
struct CurveExpansion {
  CurveQuery query;
  std::optional<RequestError> error;
  bool ok() const { return !error.has_value(); }
};
CurveExpansion expand_curve(Request request, Axis over, double from, double to, double points,
                            std::optional<Mode> quantity = std::nullopt);

// Every point of every curve, curve by curve, in axis order. Points whose
// calculation has no answer keep their error in the outcome.
std::vector<CurvePoint> curve(const CurveQuery& query);

// The scenarios behind the points, without computing them.
std::vector<CurvePoint> curve_points(const CurveQuery& query);

// The columns a point's row has in front of its calculation's (over, x and
// curve), and their cells at a point: the axis's name ("cases" or "ror"),
// the axis value and the value that names the point's curve.
std::vector<std::string> curve_leading_names();
std::array<Cell, 3> curve_leading_cells(Axis over, const CurvePoint& point);

}  // namespace gxe::plan

#endif  // GXE_PLAN_CURVE_H_
