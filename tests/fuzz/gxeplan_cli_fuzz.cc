// libFuzzer target: the command-line reader on arbitrary arguments, in
// process. The bytes are split at NUL bytes into arguments. Reading never
// computes a calculation; each accepted calculation is then written in the
// requested format with a made-up outcome (no search), so the writers see
// every kind of valid input.
//
// Besides the sanitizers, the target checks the reader's promises: wrong use
// is one line on the error stream, starting "gxeplan: ", with every byte of
// the input escaped; accepted calculations number from 1 to kMaxRows and
// each passes the planning library's own check. A curve's points are also
// written by the curve writers and laid out as a figure (not drawn), with
// ticks on both axes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <variant>
#include <vector>

#include "cli/calculation_command.h"
#include "cli/command_line.h"
#include "cli/curve.h"
#include "cli/curve_command.h"
#include "cli/figure.h"
#include "cli/output.h"
#include "plan/curve.h"
#include "plan/plan.h"

namespace {

class DiscardBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

void require(bool holds) {
  if (!holds) std::abort();
}

// An outcome of the right shape, from the inputs alone: the box as given (or
// a point), powers of alpha, and an error on every other row.
gxe::plan::Outcome made_up(const gxe::plan::Scenario& s, std::size_t index) {
  gxe::plan::Outcome o;
  gxe::plan::Result& r = o.result;
  r.or_e_range = s.ranges.or_e.value_or(gxe::plan::Range{s.design.or_e, s.design.or_e});
  r.or_g_range = s.ranges.or_g.value_or(gxe::plan::Range{s.design.or_g, s.design.or_g});
  r.or_e_conditional = s.design.or_e;
  r.or_g_conditional = s.design.or_g;
  r.solver_info = static_cast<int>(index % 5);
  r.n_cases = s.cases;
  r.n_controls = s.cases * s.design.controls_per_case;
  r.size = r.n_cases + r.n_controls;
  r.least = {s.settings.alpha, r.or_g_range.low, r.or_e_range.low, index % 2 == 0};
  r.most = {s.settings.alpha, r.or_g_range.high, r.or_e_range.high, index % 3 == 0};
  r.flat = index % 2 == 1;
  if (index % 2 == 1) {
    o.error = gxe::plan::Error{gxe::plan::Error::Kind::no_answer, "", "", "no answer, \"quoted\"\n"};
  }
  return o;
}

// A message of wrong use: "gxeplan: ", one line of printable text, a line end.
bool one_printable_line(const std::string& text) {
  if (text.rfind("gxeplan: ", 0) != 0 || text.empty() || text.back() != '\n') return false;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7f) return false;
  }
  return true;
}

// The first rows of the calculations, written with made-up answers.
void write_rows(const gxe::cli::Calculations& c) {
  const std::vector<gxe::plan::Scenario>& scenarios = c.scenarios;
  require(!scenarios.empty() && scenarios.size() <= gxe::plan::kMaxRows);
  for (const gxe::plan::Scenario& s : scenarios) require(!gxe::plan::check(s).has_value());
  DiscardBuffer discard;
  std::ostream out(&discard);
  const auto writer = gxe::cli::make_writer(c.format, out, scenarios);
  writer->begin();
  constexpr std::size_t kRowsWritten = 4;
  for (std::size_t i = 0; i < scenarios.size() && i < kRowsWritten; ++i) {
    writer->write(scenarios[i], made_up(scenarios[i], i));
  }
  writer->end();
}

// The first points of the curves, written with made-up answers, and their figure.
void write_curve(const gxe::cli::CurveCalculations& c) {
  const gxe::cli::CurveRequest& curve = c.curve;
  require(!gxe::plan::check(curve.query).has_value());
  std::vector<gxe::plan::CurvePoint> points = gxe::plan::curve_points(curve.query);
  require(!points.empty() && points.size() <= gxe::plan::kMaxRows);
  for (std::size_t i = 0; i < points.size(); ++i) points[i].outcome = made_up(points[i].scenario, i);
  DiscardBuffer discard;
  std::ostream out(&discard);
  const auto curve_writer = gxe::cli::make_curve_writer(
      c.format, out, curve.query, static_cast<long>(c.simulation.replicates));
  curve_writer->begin();
  std::vector<std::optional<gxe::plan::Simulation>> simulations(points.size());
  constexpr std::size_t kRowsWritten = 4;
  for (std::size_t i = 0; i < points.size() && i < kRowsWritten; ++i) {
    if (c.simulation.replicates > 0 && points[i].outcome.ok()) {
      simulations[i] = gxe::plan::Simulation{100.0, {0.5, 0.05, 0.0, 0.5}, {0.6, 0.05, 11.0, 0.6}};
    }
    curve_writer->write(points[i], simulations[i] ? &*simulations[i] : nullptr);
  }
  curve_writer->end();
  const gxe::cli::Figure figure = gxe::cli::curve_figure(curve, points, simulations);
  require(figure.x_min < figure.x_max && figure.y_min < figure.y_max);
  require(!gxe::cli::axis_ticks(figure.x_min, figure.x_max, figure.log_x).empty());
  require(!gxe::cli::axis_ticks(figure.y_min, figure.y_max, figure.log_y).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  gxe::cli::CommandLine line;
  std::ostringstream shown;
  std::ostringstream message;
  int status = 0;
  gxe::cli::Command* command = line.parse(args, shown, message, status);
  if (command == nullptr) {
    require(status == 0 ? !shown.str().empty() : one_printable_line(message.str()));
    return 0;
  }
  if (auto* calculation = dynamic_cast<gxe::cli::CalculationCommand*>(command)) {
    auto prepared = calculation->prepare();
    if (auto* c = std::get_if<gxe::cli::Calculations>(&prepared)) {
      write_rows(*c);
    } else {
      require(one_printable_line("gxeplan: " + std::get<std::string>(prepared) + "\n"));
    }
  } else if (auto* curve = dynamic_cast<gxe::cli::CurveCommand*>(command)) {
    auto prepared = curve->prepare();
    if (auto* c = std::get_if<gxe::cli::CurveCalculations>(&prepared)) {
      write_curve(*c);
    } else {
      require(one_printable_line("gxeplan: " + std::get<std::string>(prepared) + "\n"));
    }
  }
  return 0;
}
