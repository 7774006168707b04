#include "cli/curve.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

#include "cli/output.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

// Half-width of a 95 % interval in standard errors: z(0.975).
constexpr double kInterval95 = 1.959963984540054;

// Shift of the simulated marks off their point, as a share of the axis.
constexpr double kMarkShift = 0.005;

// Sizes spanning more than this factor get a log-scaled axis.
constexpr double kLogSizeSpan = 10.0;
// The least room a log-scaled y axis leaves beyond the values, as a factor
// (a curve of one value still gets an axis of some height).
constexpr double kLeastLogPad = 1.05;

std::string figure_number(double x) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.6g", x);
  return text.data();
}

bool is_size(const plan::CurveQuery& query) { return query.base.mode == plan::Mode::size; }

// Curves of one value per point, drawn as lines: the study size needed or
// the detectable ROR^tb; curves of power are bands.
bool is_line(const plan::CurveQuery& query) { return query.base.mode != plan::Mode::power; }

// A line's value at a point with an answer.
double line_value(const plan::CurveQuery& query, const plan::Result& r) {
  return is_size(query) ? r.size : r.ror_detectable;
}

// --- Figure text ------------------------------------------------------------------

std::string design_note(const plan::Scenario& s) {
  const plan::Design& d = s.design;
  std::string text = "k = " + std::to_string(d.categories()) +
                     (d.quantiles != 0 ? " quantiles" : " categories");
  text += ", carriers " + figure_number(d.gene_prevalence);
  text += ", " + figure_number(d.controls_per_case) + " control" +
          (d.controls_per_case == 1.0 ? "" : "s") + " per case";
  text += ", #ga = " + figure_number(s.settings.alpha);
  return text;
}

std::string figure_range_text(const plan::Range& r) {
  if (r.low == r.high) return figure_number(r.low);
  return figure_number(r.low) + "\u2013" + figure_number(r.high);  // en dash
}

std::string box_note(const plan::CurveQuery& query) {
  // A range not given is the conditional point that keeps the null's odds
  // ratios as the marginal ones; that point moves with ROR^tb.
  const plan::Ranges& r = query.base.ranges;
  if (!r.or_g && !r.or_e) return "at the conditional OR(G|E=0) and OR#utb#d(E|G=0)";
  const std::string box =
      "OR(G|E=0) " + (r.or_g ? figure_range_text(*r.or_g) : std::string("conditional")) +
      ", OR#utb#d(E|G=0) " + (r.or_e ? figure_range_text(*r.or_e) : std::string("conditional"));
  return (is_line(query) ? "least favourable over " : "band: power over ") + box;
}

std::string curve_label(const plan::CurveQuery& query, double series) {
  if (is_line(query)) return "power " + figure_number(series);
  if (query.over == plan::Axis::cases) return "ROR#utb#d = " + figure_number(series);
  return figure_number(series) + (series == 1.0 ? " case" : " cases");
}

}  // namespace

Figure curve_figure(const CurveRequest& request, const std::vector<plan::CurvePoint>& points,
                    const std::vector<std::optional<plan::Simulation>>& simulations) {
  const plan::CurveQuery& query = request.query;
  const bool lines = is_line(query);  // one line per curve, of its own scale
  const bool detect = query.base.mode == plan::Mode::detect;
  const bool over_cases = query.over == plan::Axis::cases;
  Figure f;
  f.title = detect       ? "Detectable ROR#utb#d against the number of cases"
            : lines      ? "Study size needed against ROR#utb#d"
            : over_cases ? "Power against the number of cases"
                         : "Power against ROR#utb#d";
  f.notes = {design_note(query.base), box_note(query)};
  f.x_label = over_cases ? "number of cases" : "ROR#utb#d (log scale)";
  f.y_label = detect  ? "detectable ROR#utb#d (log scale)"
              : lines ? "study size (cases + controls)"
                      : "power";
  f.log_x = !over_cases;
  f.x_min = query.from;
  f.x_max = query.to;
  f.bands = !lines;

  const double nan = std::numeric_limits<double>::quiet_NaN();
  double smallest = std::numeric_limits<double>::infinity();
  double largest = 0.0;
  // The points come curve by curve, each curve in axis order.
  const auto per_curve = static_cast<std::size_t>(query.points);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const plan::CurvePoint& p = points[i];
    if (i % per_curve == 0) f.curves.push_back({curve_label(query, p.series), {}, {}, {}, {}});
    FigureCurve& curve = f.curves.back();
    const plan::Result& r = p.outcome.result;
    const bool ok = p.outcome.ok();
    curve.x.push_back(p.x);
    const double line = ok && lines ? line_value(query, r) : nan;
    curve.low.push_back(!ok ? nan : lines ? line : r.least.power);
    curve.high.push_back(!ok ? nan : lines ? line : r.most.power);
    if (ok && lines && std::isfinite(line) && line > 0.0) {
      smallest = std::min(smallest, line);
      largest = std::max(largest, line);
    }
    // The simulated powers with their 95 % intervals; a size or detect
    // curve's axis is the size or ROR^tb, where they have no place.
    // The least favourable point's mark a little to the left, the most
    // favourable one's to the right, so that their intervals stay apart. A
    // simulated power where too many fits failed measures the separation of
    // the tables, not the power: it gets no mark.
    if (ok && !lines && i < simulations.size() && simulations[i]) {
      const double shift = kMarkShift * (over_cases ? query.to - query.from : std::log(query.to / query.from));
      const double xs[] = {over_cases ? p.x - shift : p.x * std::exp(-shift),
                           over_cases ? p.x + shift : p.x * std::exp(shift)};
      const plan::Test test = p.scenario.settings.test;
      const plan::SimulatedPoint sims[] = {plan::as_tested(simulations[i]->least, test),
                                           plan::as_tested(simulations[i]->most, test)};
      for (const auto& [x, sim] : {std::pair{xs[0], sims[0]}, std::pair{xs[1], sims[1]}}) {
        if (plan::unreliable(sim, simulations[i]->replicates)) continue;
        const double half = kInterval95 * sim.se;
        curve.marks.push_back({x, sim.power, sim.power - half, sim.power + half});
        f.marks_label = "simulated, 95% CI";
      }
    }
  }

  if (!lines) {
    f.y_min = 0.0;
    f.y_max = 1.0;
  } else if (!(largest > 0.0)) {
    // No point has a value: empty axes.
    f.y_min = 0.0;
    f.y_max = 1.0;
  } else if (detect || largest / smallest > kLogSizeSpan) {
    // A detectable ROR^tb is a ratio: on a log scale, as ROR^tb on the x axis.
    f.log_y = true;
    const double pad = std::max(std::pow(largest / smallest, 0.04), kLeastLogPad);
    f.y_min = smallest / pad;
    f.y_max = largest * pad;
  } else {
    f.y_min = 0.0;
    f.y_max = largest * 1.08;
  }
  if (request.target) {
    f.target = request.target;
    f.target_label = "target power " + figure_number(*request.target);
  }
  return f;
}

}  // namespace gxe::cli
