#include "cli/curve.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>
#include <tuple>
#include <utility>

#include "cli/output.h"
#include "cli/progress.h"
#include "cli/simulation.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

constexpr const char* kCurveFooter =
    "Each point is an ordinary calculation, the same as gxeplan power or gxeplan\n"
    "size at that number of cases or ROR^tb: the least and the most favourable\n"
    "power over the box of OR(G|E=0) and OR^tb(E|G=0) (--or-g-range, --or-e-range),\n"
    "or the study size that reaches the target power at the least favourable point.\n"
    "\n"
    "Curves: --over cases draws one curve per --ror value; --over ror one per\n"
    "--cases value (power) or per --power value (size needed). The other list\n"
    "options (--gene-prevalence, --allele-frequency, --controls-per-case, --alpha)\n"
    "take one value in a curve.\n"
    "\n"
    "Output: --format csv and json have the columns over (cases or ror), x (the\n"
    "axis value), curve (the --ror, --cases or --power value of the curve), then\n"
    "the columns of gxeplan power and size; a point without an answer keeps its\n"
    "row, with the error column filled. --plot draws the curves: for power, a band\n"
    "from the least to the most favourable power with both edges drawn; for size,\n"
    "one line per target power on a log scale when the sizes span more than a\n"
    "factor of 10. With --simulate, every point is checked by simulation as in\n"
    "gxeplan power, and a figure of power marks the simulated powers at both\n"
    "extremes with their 95 % intervals.\n"
    "\n"
    "Exit status: 0 every point answered; 1 some points without an answer (their\n"
    "error column says why); 2 wrong use, nothing calculated; 4 output or figure\n"
    "not written.";

// Half-width of a 95 % interval in standard errors: z(0.975).
constexpr double kInterval95 = 1.959963984540054;

// Shift of the simulated marks off their point, as a share of the axis.
constexpr double kMarkShift = 0.005;

// The narrowest axis a figure draws, relative to its end.
constexpr double kNarrowestAxis = 1e-6;

// Sizes spanning more than this factor get a log-scaled axis.
constexpr double kLogSizeSpan = 10.0;

std::string figure_number(double x) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.6g", x);
  return text.data();
}

bool is_size(const plan::CurveQuery& query) { return query.base.mode == plan::Mode::size; }

// The value a point is labelled with in messages: "cases 250" or "ROR^tb 1.5".
std::string point_name(const plan::CurveQuery& query, double x) {
  return (query.over == plan::Axis::cases ? "cases " : "ROR^tb ") + values::format_number(x);
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
  return (is_size(query) ? "least favourable over " : "band: power over ") + box;
}

std::string curve_label(const plan::CurveQuery& query, double series) {
  if (query.over == plan::Axis::cases) return "ROR#utb#d = " + figure_number(series);
  if (is_size(query)) return "power " + figure_number(series);
  return figure_number(series) + (series == 1.0 ? " case" : " cases");
}

}  // namespace

// --- The command -------------------------------------------------------------------

CLI::App* add_curve_command(CLI::App& top, Typed& t, CurveTyped& c) {
  CLI::App* app =
      top.add_subcommand("curve", "Power or study size against cases or ROR^tb, as a figure");
  app->add_option("--over", c.over,
                  "The axis: cases, the power against the number\n"
                  "of cases (one curve per --ror value); ror, the\n"
                  "power against ROR^tb (one curve per --cases\n"
                  "value) or the study size needed (one curve per\n"
                  "--power value).")
      ->type_name("cases|ror")
      ->required()
      ->check(choice_check({"cases", "ror"}));
  app->add_option("--from", c.from, "Start of the axis, greater than 0.")
      ->type_name("A")
      ->required()
      ->check(number_check());
  app->add_option("--to", c.to, "End of the axis, greater than --from.")
      ->type_name("B")
      ->required()
      ->check(number_check());
  app->add_option("--points", c.points,
                  "Points on each curve, 2 to 1000: numbers of\n"
                  "cases evenly spaced, ROR^tb evenly on the log\n"
                  "scale; both ends included.")
      ->type_name("N")
      ->capture_default_str()
      ->check(whole_number_from(plan::kMinCurvePoints, plan::kMaxCurvePoints));
  app->add_option("--cases", t.cases,
                  "With --over ror: curves of power, one per\n"
                  "number of cases (each with C controls).")
      ->type_name("N[,...]")
      ->check(list_check());
  app->add_option("--power", t.power,
                  "With --over ror: curves of the study size that\n"
                  "reaches each target power, between 0 and 1.")
      ->type_name("P[,...]")
      ->check(list_check());
  app->add_option("--plot", c.plot,
                  "Draw the curves into FILE; its ending chooses\n"
                  "the kind: .svg, .png or .pdf. Written whole or\n"
                  "not at all.")
      ->type_name("FILE")
      ->check(check_with([](std::string_view path) -> std::string {
        if (figure_kind(path)) return {};
        return "must name a file ending in .svg, .png or .pdf (the ending chooses the kind of file)";
      }))
      ->check(file_name_check());
  app->add_option("--target", c.target,
                  "With --plot, on curves of power: draw this\n"
                  "target power as a dashed line. Default: none.")
      ->type_name("P")
      ->check(number_check());
  add_design_options(*app, t);
  // A list of ROR^tb values names the curves over cases; over ror, ROR^tb is
  // the axis and must not be given.
  app->get_option("--ror")
      ->required(false)
      ->description("With --over cases: ROR^tb under the alternative,\n"
                    "one curve per value (the ratio of the top-versus-\n"
                    "bottom exposure odds ratios of carriers and of\n"
                    "non-carriers).");
  // The other lists take one value in a curve.
  for (const char* single : {"--gene-prevalence", "--allele-frequency", "--controls-per-case",
                             "--alpha"}) {
    CLI::Option* option = app->get_option(single);
    const std::string name = option->get_type_name();
    option->type_name(name.substr(0, name.find('[')));
  }
  app->footer(kCurveFooter);
  return app;
}

Parsed build_curve(const CLI::App& command, const Typed& typed, const CurveTyped& c) {
  const auto given = [&](const char* option) { return command.count(option) > 0; };
  const bool over_cases = c.over == "cases";
  if (given("--cases") && given("--power")) {
    return wrong_use("--cases and --power: give one of the two, --cases for curves of power, "
                     "--power for curves of the study size needed");
  }
  if (over_cases) {
    if (given("--power")) {
      return wrong_use("--power: the study size needed is drawn against ROR^tb (--over ror); "
                       "against the number of cases the curves are of power");
    }
    if (given("--cases")) {
      return wrong_use("--cases: with --over cases the number of cases is the axis, from "
                       "--from to --to");
    }
    if (!given("--ror")) {
      return wrong_use("--ror is required with --over cases: one curve per value "
                       "(gxeplan curve --help)");
    }
  } else {
    if (given("--ror")) {
      return wrong_use("--ror: with --over ror, ROR^tb is the axis, from --from to --to");
    }
    if (!given("--cases") && !given("--power")) {
      return wrong_use("--over ror needs --cases (curves of power) or --power (curves of the "
                       "study size needed)");
    }
  }
  const plan::Mode mode = given("--power") ? plan::Mode::size : plan::Mode::power;

  // One value in the options that do not name curves.
  const std::pair<const char*, const std::string*> singles[] = {
      {"--gene-prevalence", &typed.gene_prevalence},
      {"--allele-frequency", &typed.allele_frequency},
      {"--controls-per-case", &typed.controls_per_case},
      {"--alpha", &typed.alpha},
  };
  for (const auto& [option, text] : singles) {
    if (values::read_number_list(*text).items.size() > 1) {
      return wrong_use(std::string(option) + ": " + values::quoted(*text) +
                       " is a list, but a curve takes one value here; lists go in --ror, "
                       "--cases or --power, one curve each (run one curve command per value)");
    }
  }

  const double from = values::read_number(c.from).value;
  const double to = values::read_number(c.to).value;
  for (const auto& [option, text, value] :
       {std::tuple{"--from", &c.from, from}, std::tuple{"--to", &c.to, to}}) {
    if (!(value > 0.0)) {
      return wrong_use(std::string(option) + ": " + values::quoted(*text) +
                       " must be greater than 0");
    }
  }
  if (!(from < to)) {
    return wrong_use("--from: " + values::quoted(c.from) + " must be less than --to (" +
                     values::quoted(c.to) + ")");
  }
  // Tick labels of six significant digits must tell the axis's ends apart.
  if (given("--plot") && !(to - from > kNarrowestAxis * to)) {
    return wrong_use("--plot: the axis from " + values::quoted(c.from) + " to " +
                     values::quoted(c.to) + " is too narrow to draw: --to must exceed --from by "
                     "a millionth of its value");
  }
  const double points = values::read_whole_number(c.points).value;
  std::optional<double> target;
  if (given("--target")) {
    if (mode == plan::Mode::size) {
      return wrong_use("--target: curves of the study size have the target powers of --power "
                       "as their curves; --target draws a line on curves of power");
    }
    if (!given("--plot")) return wrong_use("--target goes with --plot: it is drawn in the figure");
    target = values::read_number(c.target).value;
    if (!(*target > 0.0 && *target < 1.0)) {
      return wrong_use("--target: " + values::quoted(c.target) +
                       " must be greater than 0 and less than 1");
    }
  }

  // The axis's first value stands in for the axis, so that the design is
  // checked and the curves listed as `power` and `size` do it: one
  // calculation per curve, with the same messages.
  Typed t = typed;
  (over_cases ? t.cases : t.ror) = c.from;
  Parsed parsed = build(command, t, mode);
  if (parsed.action != Parsed::Action::calculate) return parsed;

  plan::CurveQuery query;
  query.base = parsed.request.scenarios.front();
  query.over = over_cases ? plan::Axis::cases : plan::Axis::ror;
  query.from = from;
  query.to = to;
  query.points = static_cast<int>(points);
  for (const plan::Scenario& s : parsed.request.scenarios) {
    query.series.push_back(over_cases                   ? s.design.ror
                          : mode == plan::Mode::power ? s.cases
                                                      : s.target_power);
  }
  if (given("--plot") && query.series.size() > kMaxFigureCurves) {
    return wrong_use("--plot: a figure tells at most " + std::to_string(kMaxFigureCurves) +
                     " curves apart, and the list gives " + std::to_string(query.series.size()) +
                     "; draw them in several figures");
  }
  const std::size_t total = query.series.size() * static_cast<std::size_t>(query.points);
  if (total > kMaxRows) {
    return wrong_use("the curves have " + std::to_string(total) + " points in all (" +
                     std::to_string(query.series.size()) + " curves of " +
                     std::to_string(query.points) + "), more than " + std::to_string(kMaxRows) +
                     "; use fewer --points or split the command");
  }
  if (const std::optional<plan::Error> error = plan::check(query)) {
    return wrong_use(error->message());
  }

  parsed.request.scenarios.clear();
  for (const plan::CurvePoint& p : plan::curve_points(query)) {
    parsed.request.scenarios.push_back(p.scenario);
  }
  parsed.request.curve = CurveRequest{std::move(query), given("--plot") ? c.plot : "", target};
  return parsed;
}

// --- Running -----------------------------------------------------------------------

int run_curve(const Request& request, std::ostream& out, std::ostream& err) {
  const CurveRequest& c = *request.curve;
  // A figure that cannot be written is found before the calculations.
  if (!c.plot.empty()) {
    if (const std::string problem = figure_path_problem(c.plot); !problem.empty()) {
      err << "gxeplan: --plot: " << problem << '\n';
      return kOutputFailure;
    }
  }
  std::vector<plan::CurvePoint> points = plan::curve_points(c.query);
  const SimulationSettings& simulation = request.simulation;
  std::vector<std::optional<plan::Simulation>> simulations(points.size());
  const auto writer = make_curve_writer(request.format, out, c.query, simulation.replicates);
  writer->begin();
  bool all_answered = true;
  ProgressLine progress(err, ProgressLine::error_stream_is_terminal());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::string row_name = "row " + std::to_string(i + 1);
    RowAnswer a = answer(points[i].scenario, simulation, progress,
                         row_name + " of " + std::to_string(points.size()));
    progress.clear();
    points[i].outcome = std::move(a.outcome);
    simulations[i] = std::move(a.simulation);
    const plan::Outcome& outcome = points[i].outcome;
    writer->write(points[i], simulations[i] ? &*simulations[i] : nullptr);
    if (!outcome.ok()) {
      all_answered = false;
      err << "gxeplan: " << row_name << " (" << point_name(c.query, points[i].x)
          << "): " << outcome.error->message() << '\n';
    }
    if (!flushed(out, err)) return kOutputFailure;
  }
  writer->end();
  if (!flushed(out, err)) return kOutputFailure;

  if (!c.plot.empty()) {
    if (const std::string problem = write_figure(curve_figure(c, points, simulations), c.plot);
        !problem.empty()) {
      err << "gxeplan: --plot: " << problem << '\n';
      return kOutputFailure;
    }
  }
  return all_answered ? kAllAnswered : kSomeUnanswered;
}

Figure curve_figure(const CurveRequest& request, const std::vector<plan::CurvePoint>& points,
                    const std::vector<std::optional<plan::Simulation>>& simulations) {
  const plan::CurveQuery& query = request.query;
  const bool size = is_size(query);
  const bool over_cases = query.over == plan::Axis::cases;
  Figure f;
  f.title = size         ? "Study size needed against ROR#utb#d"
            : over_cases ? "Power against the number of cases"
                         : "Power against ROR#utb#d";
  f.notes = {design_note(query.base), box_note(query)};
  f.x_label = over_cases ? "number of cases" : "ROR#utb#d (log scale)";
  f.y_label = size ? "study size (cases + controls)" : "power";
  f.log_x = !over_cases;
  f.x_min = query.from;
  f.x_max = query.to;
  f.bands = !size;

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
    curve.low.push_back(!ok ? nan : size ? r.size : r.least.power);
    curve.high.push_back(!ok ? nan : size ? r.size : r.most.power);
    if (ok && size && std::isfinite(r.size) && r.size > 0.0) {
      smallest = std::min(smallest, r.size);
      largest = std::max(largest, r.size);
    }
    // The simulated powers with their 95 % intervals; a size curve's axis is
    // the size, where they have no place.
    // The least favourable point's mark a little to the left, the most
    // favourable one's to the right, so that their intervals stay apart. A
    // simulated power where too many fits failed measures the separation of
    // the tables, not the power: it gets no mark.
    if (ok && !size && i < simulations.size() && simulations[i]) {
      const double shift = kMarkShift * (over_cases ? query.to - query.from : std::log(query.to / query.from));
      const double xs[] = {over_cases ? p.x - shift : p.x * std::exp(-shift),
                           over_cases ? p.x + shift : p.x * std::exp(shift)};
      const plan::SimulatedPoint* sims[] = {&simulations[i]->least, &simulations[i]->most};
      for (int k = 0; k < 2; ++k) {
        if (plan::unreliable(*sims[k], simulations[i]->replicates)) continue;
        const double half = kInterval95 * sims[k]->se;
        curve.marks.push_back({xs[k], sims[k]->power, sims[k]->power - half,
                               sims[k]->power + half});
        f.marks_label = "simulated, 95% CI";
      }
    }
  }

  if (!size) {
    f.y_min = 0.0;
    f.y_max = 1.0;
  } else if (!(largest > 0.0)) {
    // No point has a size: empty axes.
    f.y_min = 0.0;
    f.y_max = 1.0;
  } else if (largest / smallest > kLogSizeSpan) {
    f.log_y = true;
    const double pad = std::pow(largest / smallest, 0.04);
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
