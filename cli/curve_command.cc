#include "cli/curve_command.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "cli/option_checks.h"
#include "cli/rows.h"
#include "cli/status.h"
#include "cli/whole_file.h"
#include "plan/curve.h"
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
    "--cases value (power) or per --power value (size needed). --quantity detect\n"
    "--over cases draws the detectable ROR^tb against the number of cases, one\n"
    "curve per --power value, each point the same as gxeplan detect. The other\n"
    "list options (--gene-prevalence, --allele-frequency, --controls-per-case,\n"
    "--alpha) take one value in a curve.\n"
    "\n"
    "Output: --format csv and json have the columns over (cases or ror), x (the\n"
    "axis value), curve (the --ror, --cases or --power value of the curve), then\n"
    "the columns of gxeplan power and size; a point without an answer keeps its\n"
    "row, with the error column filled. --plot draws the curves: for power, a band\n"
    "from the least to the most favourable power with both edges drawn; for size\n"
    "and the detectable ROR^tb, one line per target power on a log scale when\n"
    "the values span more than a factor of 10. With --simulate, every point is\n"
    "checked by simulation as in gxeplan power, and a figure of power marks the\n"
    "simulated powers at both extremes with their 95 % intervals.\n"
    "\n"
    "Exit status: 0 every point answered; 1 some points without an answer (their\n"
    "error column says why); 2 wrong use, nothing calculated; 4 output or figure\n"
    "not written.";

// The narrowest axis a figure draws, relative to its end: tick labels of
// six significant digits must tell its ends apart.
constexpr double kNarrowestAxis = 1e-6;

// The value a point is labelled with in messages: "cases 250" or "ROR^tb 1.5".
std::string point_name(const plan::CurveQuery& query, double x) {
  return (query.over == plan::Axis::cases ? "cases " : "ROR^tb ") + values::format_number(x);
}

}  // namespace

CurveCommand::CurveCommand(CLI::App& top) {
  CLI::App* app =
      top.add_subcommand("curve", "Power or study size against cases or ROR^tb, as a figure");
  app_ = app;
  app->add_option("--over", over_,
                  "The axis: cases, the power against the number\n"
                  "of cases (one curve per --ror value); ror, the\n"
                  "power against ROR^tb (one curve per --cases\n"
                  "value) or the study size needed (one curve per\n"
                  "--power value).")
      ->type_name("cases|ror")
      ->required()
      ->check(choice_check(plan::Column::over));
  app->add_option("--from", from_, "Start of the axis, greater than 0.")
      ->type_name("A")
      ->required()
      ->check(number_check());
  app->add_option("--to", to_, "End of the axis, greater than --from.")
      ->type_name("B")
      ->required()
      ->check(number_check());
  app->add_option("--points", points_,
                  "Points on each curve, 2 to 1000: numbers of\n"
                  "cases evenly spaced, ROR^tb evenly on the log\n"
                  "scale; both ends included.")
      ->type_name("N")
      ->capture_default_str()
      ->check(whole_number_from(plan::kMinCurvePoints, plan::kMaxCurvePoints));
  options_.add_cases(*app,
                     "With --over ror: curves of power, one per\n"
                     "number of cases (each with C controls).",
                     false);
  options_.add_power(*app,
                     "With --over ror: curves of the study size that\n"
                     "reaches each target power, between 0 and 1;\n"
                     "with --quantity detect, of the detectable ROR^tb.",
                     false);
  app->add_option("--quantity", quantity_,
                  "What the curves show: power, size (with --power,\n"
                  "over ror) or detect (the detectable ROR^tb over\n"
                  "cases, with --power). Default: power, or size\n"
                  "when --power is given.")
      ->type_name("power|size|detect")
      ->check(choice_check(plan::Column::mode));
  app->add_option("--plot", plot_,
                  "Draw the curves into FILE; its ending chooses\n"
                  "the kind: .svg, .png or .pdf. Written whole or\n"
                  "not at all.")
      ->type_name("FILE")
      ->check(check_with([](std::string_view path) -> std::string {
        if (figure_kind(path)) return {};
        return "must name a file ending in .svg, .png or .pdf (the ending chooses the kind of "
               "file)";
      }))
      ->check(file_name_check());
  app->add_option("--target", target_,
                  "With --plot, on curves of power: draw this\n"
                  "target power as a dashed line. Default: none.")
      ->type_name("P")
      ->check(number_check());
  options_.add(*app, DesignOptions::For::curve);
  app->footer(kCurveFooter);
}

std::string CurveCommand::figure_problem(const plan::CurveQuery& query) const {
  const plan::Mode mode = query.base.mode;
  const bool plot = app_->count("--plot") > 0;
  if (plot && !(query.to - query.from > kNarrowestAxis * query.to)) {
    return "--plot: the axis from " + values::quoted(from_) + " to " + values::quoted(to_) +
           " is too narrow to draw: --to must exceed --from by a millionth of its value";
  }
  if (app_->count("--target") > 0) {
    if (mode != plan::Mode::power) {
      return std::string("--target: curves of the ") +
             (mode == plan::Mode::size ? "study size" : "detectable ROR^tb") +
             " have the target powers of --power as their curves; --target draws a line on "
             "curves of power";
    }
    if (!plot) return "--target goes with --plot: it is drawn in the figure";
    const double target = values::read_number(target_).value;
    if (!(target > 0.0 && target < 1.0)) {
      return "--target: " + values::quoted(target_) + " must be greater than 0 and less than 1";
    }
  }
  if (plot && query.series.size() > kMaxFigureCurves) {
    return "--plot: a figure tells at most " + std::to_string(kMaxFigureCurves) +
           " curves apart, and the list gives " + std::to_string(query.series.size()) +
           "; draw them in several figures";
  }
  return {};
}

std::variant<CurveCalculations, std::string> CurveCommand::prepare() const {
  const plan::Axis over =
      over_ == plan::column(plan::Column::over).choices[0] ? plan::Axis::cases : plan::Axis::ror;
  std::optional<plan::Mode> quantity;
  if (app_->count("--quantity") > 0) quantity = plan::parse_mode(quantity_);
  plan::CurveExpansion curves =
      plan::expand_curve(options_.request(plan::Mode::power), over,
                         values::read_number(from_).value, values::read_number(to_).value,
                         values::read_number(points_).value, quantity);
  if (!curves.ok()) {
    const std::pair<std::string_view, const std::string*> texts[] = {
        {"from", &from_}, {"to", &to_}, {"points", &points_}, {"over", &over_},
        {"quantity", &quantity_}};
    return options_.message(*curves.error, texts);
  }
  if (std::string problem = figure_problem(curves.query); !problem.empty()) return problem;
  if (std::string problem = options_.simulation_problem(curves.query.base.mode);
      !problem.empty()) {
    return problem;
  }
  std::optional<double> target;
  if (app_->count("--target") > 0) target = values::read_number(target_).value;
  return CurveCalculations{CurveRequest{std::move(curves.query), plot_, target},
                           options_.format(), options_.simulation()};
}

int CurveCommand::run(std::ostream& out, std::ostream& err) {
  std::variant<CurveCalculations, std::string> prepared = prepare();
  if (const std::string* message = std::get_if<std::string>(&prepared)) {
    return wrong_use(err, *message);
  }
  const CurveCalculations& c = std::get<CurveCalculations>(prepared);
  const CurveRequest& curve = c.curve;
  // A figure that cannot be written is found before the calculations.
  if (!curve.plot.empty()) {
    if (const std::string problem = figure_path_problem(curve.plot); !problem.empty()) {
      err << "gxeplan: --plot: " << problem << '\n';
      return kOutputFailure;
    }
  }
  stop_on_signal("gxeplan: interrupted\n");
  std::vector<plan::CurvePoint> points = plan::curve_points(curve.query);
  std::vector<plan::Scenario> scenarios;
  for (const plan::CurvePoint& p : points) scenarios.push_back(p.scenario);
  std::vector<std::optional<plan::Simulation>> simulations(points.size());
  const auto writer =
      make_curve_writer(c.format, out, curve.query, static_cast<long>(c.simulation.replicates));
  writer->begin();
  const int status = answer_rows(
      scenarios, c.simulation,
      [&](std::size_t i, const plan::Answer& a) {
        points[i].outcome = a.outcome;
        simulations[i] = a.simulation;
        writer->write(points[i], simulations[i] ? &*simulations[i] : nullptr);
      },
      [&](std::size_t i) { return " (" + point_name(curve.query, points[i].x) + ")"; }, out,
      err);
  if (status == kOutputFailure) return status;
  writer->end();
  if (!flushed(out, err)) return kOutputFailure;
  if (!curve.plot.empty()) {
    if (const std::string problem =
            write_figure(curve_figure(curve, points, simulations), curve.plot);
        !problem.empty()) {
      err << "gxeplan: --plot: " << problem << '\n';
      return kOutputFailure;
    }
  }
  return status;
}

}  // namespace gxe::cli
