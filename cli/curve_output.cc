// The rows of `gxeplan curve`: csv and json with the columns over, x and
// curve before those of a single calculation, and a table for reading.

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/curve.h"
#include "cli/output.h"
#include "plan/report.h"
#include "plan/row.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

using values::format_number;

// --- csv and json -------------------------------------------------------------------

// The rows of a single calculation, with the axis value and the curve's
// value in front.
class CurveStreamWriter : public CurveWriter {
 public:
  CurveStreamWriter(RowFormat format, std::ostream& out, plan::Axis over, bool simulated)
      : stream_(format, out, simulated, {}, plan::curve_leading_names()), over_(over) {}

  void begin() override { stream_.begin(); }

  void write(const plan::CurvePoint& p, const plan::Simulation* simulation) override {
    stream_.write(plan::make_row(p.scenario, p.outcome), simulation, {},
                  plan::curve_leading_cells(over_, p));
  }

  void end() override { stream_.end(); }

 private:
  RowStream stream_;
  plan::Axis over_;
};

// --- table ------------------------------------------------------------------------------

using plan::labelled;
using plan::trimmed;

std::string box_side_text(const std::optional<plan::Range>& r) {
  return r ? plan::range_text(*r) : "conditional at each point";
}

// The notes a curve's table marks at its points, and their marks; each is
// written once below the table, when it held at some point.
struct Footnote {
  plan::NoteKind kind;
  std::string_view mark;
};
constexpr std::array<Footnote, 3> kFootnotes = {{
    {plan::NoteKind::unreliable, "? "},
    {plan::NoteKind::disagrees, "! "},
    {plan::NoteKind::small_cells, "* "},
}};

class CurveTableWriter : public CurveWriter {
 public:
  CurveTableWriter(std::ostream& out, const plan::CurveQuery& query, long replicates)
      : out_(out), query_(query), replicates_(replicates), simulated_(replicates > 0) {}

  void begin() override {
    const plan::Scenario& s = query_.base;
    const plan::Design& d = s.design;
    out_ << (size()     ? "Study size for the target power at the least favourable point of the box, "
                          "against ROR^tb\n\n"
             : detect() ? "Detectable ROR^tb for the target power at the least favourable point of "
                          "the box, against the number of cases\n\n"
             : query_.over == plan::Axis::cases
                 ? "Least and most favourable power over the box, against the number of cases\n\n"
                 : "Least and most favourable power over the box, against ROR^tb\n\n");
    out_ << labelled("Exposure", plan::exposure_text(d))
         << labelled("Gene prevalence",
                     values::format_number(d.gene_prevalence) + " (carriers among controls)")
         << labelled("Controls per case", values::format_number(d.controls_per_case))
         << labelled("Null OR^tb(E|G=0)", values::format_number(d.or_e))
         << labelled("Null OR(G|E=0)", values::format_number(d.or_g))
         << labelled("Box OR^tb(E|G=0)", box_side_text(s.ranges.or_e))
         << labelled("Box OR(G|E=0)", box_side_text(s.ranges.or_g))
         << (detect() ? labelled("Direction", plan::name(s.direction)) : std::string())
         << labelled("Level alpha", values::format_number(s.settings.alpha) + " (two-sided)")
         << labelled("Search", plan::name(s.settings.search));
    if (simulated_) {
      out_ << labelled("Simulation",
                       std::to_string(replicates_) + " studies at both extremes of each point");
    }
  }

  void write(const plan::CurvePoint& p, const plan::Simulation* simulation) override {
    if (count_ % static_cast<std::size_t>(query_.points) == 0) heading(p.series);
    ++count_;
    const std::string x = query_.over == plan::Axis::cases ? trimmed(p.x, 2) : trimmed(p.x, 4);
    if (!p.outcome.ok()) {
      out_ << fmt::format("{:>9}  no answer: {}\n", x, p.outcome.error->message());
      return;
    }
    for (const plan::Note& note : plan::curve_point_notes(p.scenario, p.outcome, simulation)) {
      for (std::size_t i = 0; i < kFootnotes.size(); ++i) {
        if (note.kind == kFootnotes[i].kind) footnotes_[i] = note.text;
      }
    }
    const plan::Result& r = p.outcome.result;
    const auto power = [&](const plan::Extreme& e) {
      return fmt::format("{:.4f}", e.power) + (e.small_cells ? "*" : " ");
    };
    if (simulated_) {
      // The simulated power of the test and its standard error beside each
      // extreme's, or that it is unreliable there.
      const auto simulated = [&](const plan::Extreme& e, const plan::SimulatedPoint& point) {
        const plan::SimulatedPoint s = plan::as_tested(point, p.scenario.settings.test);
        if (plan::unreliable(s, simulation->replicates)) {
          return fmt::format("{:>15}?", "unreliable");
        }
        const bool off = plan::disagrees(e.power, s, simulation->replicates);
        return fmt::format("{:.4f} ({:.4f}){}", s.power, s.se, off ? "!" : " ");
      };
      out_ << fmt::format("{:>8}", x);
      if (size()) out_ << fmt::format("{:>10}", trimmed(r.size, 2));
      if (detect()) out_ << fmt::format("{:>10.4f}", r.ror_detectable);
      out_ << fmt::format("{:>11}{:>18}{:>11}{:>18}\n", power(r.least),
                          simulation ? simulated(r.least, simulation->least) : "",
                          power(r.most), simulation ? simulated(r.most, simulation->most) : "");
    } else if (size()) {
      out_ << fmt::format("{:>9}{:>10}{:>10}{:>10}{:>11}{:>10}\n", x, trimmed(r.size, 2),
                          trimmed(r.n_cases, 2), trimmed(r.n_controls, 2), power(r.least),
                          power(r.most));
    } else if (detect()) {
      out_ << fmt::format("{:>8}{:>10.4f}{:>11}{:>11.4f}{:>13.4f}{:>11}\n", x,
                          r.ror_detectable, power(r.least), r.least.or_g,
                          r.least.or_e, power(r.most));
    } else {
      out_ << fmt::format("{:>8}{:>11}{:>11.4f}{:>13.4f}{:>11}{:>11.4f}{:>13.4f}\n", x,
                          power(r.least), r.least.or_g, r.least.or_e, power(r.most), r.most.or_g,
                          r.most.or_e);
    }
  }

  void end() override {
    for (std::size_t i = 0; i < kFootnotes.size(); ++i) {
      const std::string_view mark = kFootnotes[i].mark;
      if (!footnotes_[i].empty()) out_ << '\n' << plan::hanging(mark, mark.size(), footnotes_[i]);
    }
  }

 private:
  bool size() const { return query_.base.mode == plan::Mode::size; }
  bool detect() const { return query_.base.mode == plan::Mode::detect; }

  // The power columns end in a blank or the small-cell mark, so their
  // headers do too.
  static std::string power_header(std::string_view x) {
    return fmt::format("{:>8}{:>11}{:>11}{:>13}{:>11}{:>11}{:>13}\n", x, "Min power ", "OR(G|E=0)",
                       "OR^tb(E|G=0)", "Max power ", "OR(G|E=0)", "OR^tb(E|G=0)");
  }

  void heading(double series) {
    out_ << '\n';
    if (simulated_) {
      out_ << (size() || detect()                   ? "Target power = "
               : query_.over == plan::Axis::cases ? "ROR^tb = "
                                                  : "Cases = ")
           << values::format_number(series) << '\n';
      out_ << fmt::format("{:>8}", query_.over == plan::Axis::cases ? "Cases" : "ROR^tb");
      if (size()) out_ << fmt::format("{:>10}", "Size");
      if (detect()) out_ << fmt::format("{:>10}", "ROR^tb");
      out_ << fmt::format("{:>11}{:>18}{:>11}{:>18}\n", "Min power ", "simulated (se) ",
                          "Max power ", "simulated (se) ");
      return;
    }
    if (detect()) {
      out_ << "Target power = " << values::format_number(series) << '\n';
      out_ << fmt::format("{:>8}{:>10}{:>11}{:>11}{:>13}{:>11}\n", "Cases", "ROR^tb", "Min power ",
                          "OR(G|E=0)", "OR^tb(E|G=0)", "Max power ");
    } else if (query_.over == plan::Axis::cases) {
      out_ << "ROR^tb = " << values::format_number(series) << '\n';
      out_ << power_header("Cases");
    } else if (!size()) {
      out_ << "Cases = " << values::format_number(series) << '\n';
      out_ << power_header("ROR^tb");
    } else {
      out_ << "Target power = " << values::format_number(series) << '\n';
      out_ << fmt::format("{:>9}{:>10}{:>10}{:>10}{:>11}{:>10}\n", "ROR^tb", "Size", "Cases",
                          "Controls", "Min power ", "Max power ");
    }
  }

  std::ostream& out_;
  const plan::CurveQuery& query_;
  long replicates_;
  bool simulated_;
  std::size_t count_ = 0;
  std::array<std::string, kFootnotes.size()> footnotes_;  // each sentence, once it held
};

}  // namespace

std::unique_ptr<CurveWriter> make_curve_writer(Format format, std::ostream& out,
                                               const plan::CurveQuery& query, long replicates) {
  const bool simulated = replicates > 0;
  switch (format) {
    case Format::csv:
      return std::make_unique<CurveStreamWriter>(RowFormat::csv, out, query.over, simulated);
    case Format::json:
      return std::make_unique<CurveStreamWriter>(RowFormat::json, out, query.over, simulated);
    case Format::table:
      break;
  }
  return std::make_unique<CurveTableWriter>(out, query, replicates);
}

}  // namespace gxe::cli
