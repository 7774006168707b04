#include "cli/output.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "values/number.h"
#include "plan/row.h"

namespace gxe::cli {
namespace {

using plan::Column;
using values::format_number;

// --- table ---------------------------------------------------------------------------

constexpr std::size_t kWidth = 80;       // terminal columns
constexpr std::size_t kLabelWidth = kTableLabelWidth;

// "label  value", the value wrapped at blanks to the terminal width with
// its continuation lines under its start.
std::string labelled(std::string_view label, std::string_view value) {
  std::string text = fmt::format("{:<{}}", label, kLabelWidth);
  std::size_t column = kLabelWidth;
  bool line_start = true;
  std::size_t at = 0;
  while (at < value.size()) {
    const std::size_t blank = value.find(' ', at);
    const std::string_view word =
        value.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at);
    at = blank == std::string_view::npos ? value.size() : blank + 1;
    if (word.empty()) continue;
    if (!line_start && column + 1 + word.size() > kWidth) {
      text += '\n' + std::string(kLabelWidth, ' ');
      column = kLabelWidth;
      line_start = true;
    }
    if (!line_start) {
      text += ' ';
      ++column;
    }
    text += word;
    column += word.size();
    line_start = false;
  }
  return text + '\n';
}

// Numbers of subjects: those of a power calculation need not be whole (500.5
// cases, 1.5 controls per case: 750.75 controls).
std::string count_text(double x) { return trimmed(x, 2); }

// An odds ratio found by the engine, to 4 decimals.
std::string ratio_text(double x) { return trimmed(x, 4); }

// The box searched: the ranges as given; a range not given is the
// conversion's point, rounded.
std::string box_text(const plan::Scenario& s, const plan::Result& r) {
  const auto side = [](const std::optional<plan::Range>& given, const plan::Range& searched) {
    return given ? range_text(*given) : ratio_text(searched.low) + " (conditional)";
  };
  return "OR^tb(E|G=0) " + side(s.ranges.or_e, r.or_e_range) + ", OR(G|E=0) " +
         side(s.ranges.or_g, r.or_g_range);
}

// A box of more than one point: only there can the extremes lie apart.
bool has_extent(const plan::Result& r) {
  return r.or_e_range.low < r.or_e_range.high || r.or_g_range.low < r.or_g_range.high;
}

struct InputLine {
  const char* label;
  std::function<std::string(const plan::Scenario&)> text;
};

std::vector<InputLine> input_lines(plan::Mode mode) {
  std::vector<InputLine> lines;
  if (mode == plan::Mode::power) {
    lines.push_back({"Cases", [](const plan::Scenario& s) { return values::format_number(s.cases); }});
  } else {
    lines.push_back(
        {"Target power", [](const plan::Scenario& s) { return values::format_number(s.target_power); }});
  }
  lines.push_back({"Exposure", [](const plan::Scenario& s) { return exposure_text(s.design); }});
  lines.push_back({"Gene prevalence", [](const plan::Scenario& s) {
                     return values::format_number(s.design.gene_prevalence) + " (carriers among controls)";
                   }});
  lines.push_back({"Controls per case", [](const plan::Scenario& s) {
                     return values::format_number(s.design.controls_per_case);
                   }});
  lines.push_back({"Null OR^tb(E|G=0)",
                   [](const plan::Scenario& s) { return values::format_number(s.design.or_e); }});
  lines.push_back(
      {"Null OR(G|E=0)", [](const plan::Scenario& s) { return values::format_number(s.design.or_g); }});
  lines.push_back({"ROR^tb", [](const plan::Scenario& s) { return values::format_number(s.design.ror); }});
  lines.push_back({"Level alpha", [](const plan::Scenario& s) {
                     return values::format_number(s.settings.alpha) + " (two-sided)";
                   }});
  lines.push_back(
      {"Search", [](const plan::Scenario& s) { return std::string(plan::name(s.settings.search)); }});
  return lines;
}

class TableWriter : public RowWriter {
 public:
  // `scenarios` is not empty: the reader gives at least one calculation.
  TableWriter(std::ostream& out, const std::vector<plan::Scenario>& scenarios)
      : out_(out),
        lines_(input_lines(scenarios.front().mode)),
        mode_(scenarios.front().mode),
        first_(scenarios.front()),
        count_(scenarios.size()) {
    // An input is shown once at the top when every calculation has the same,
    // and in each calculation's block otherwise.
    for (const InputLine& line : lines_) {
      const std::string first = line.text(first_);
      bool same = true;
      for (const plan::Scenario& s : scenarios) same = same && line.text(s) == first;
      varies_.push_back(!same);
    }
  }

  void begin() override {
    out_ << (mode_ == plan::Mode::power
                 ? "Least and most favourable power over the box\n\n"
                 : "Study size for the target power at the least favourable point of the box\n\n");
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (!varies_[i]) out_ << labelled(lines_[i].label, lines_[i].text(first_));
    }
  }

  void write(const plan::Scenario& s, const plan::Outcome& outcome,
             const plan::Simulation* simulation) override {
    ++index_;
    out_ << '\n';
    if (count_ > 1) {
      out_ << fmt::format("Scenario {} of {}\n", index_, count_);
      for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (varies_[i]) out_ << labelled(lines_[i].label, lines_[i].text(s));
      }
    }
    const plan::Result& r = outcome.result;
    const plan::Row row = plan::make_row(s, outcome);
    if (!std::holds_alternative<std::monostate>(row[Column::or_e_conditional])) {
      out_ << labelled("Conditional ORs", "OR^tb(E|G=0) " + ratio_text(r.or_e_conditional) +
                                              ", OR(G|E=0) " + ratio_text(r.or_g_conditional));
      if (r.solver_info != 1) {
        out_ << labelled("Note", "the conversion to conditional odds ratios did not converge "
                                 "(solver info " + std::to_string(r.solver_info) + ")");
      }
    }
    if (!outcome.ok()) {
      out_ << labelled("No answer", outcome.error->message());
      return;
    }
    out_ << labelled("Box searched", box_text(s, r));
    out_ << labelled("Study size", count_text(r.size) + " subjects: " + count_text(r.n_cases) +
                                       " cases and " + count_text(r.n_controls) + " controls");
    out_ << '\n'
         << fmt::format("{:<{}}{:>8}{:>12}{:>15}\n", "", kLabelWidth, "Power", "OR(G|E=0)",
                        "OR^tb(E|G=0)");
    const auto extreme = [&](const char* label, const plan::Extreme& x) {
      out_ << fmt::format("{:<{}}{:>8.4f}{:>12.4f}{:>15.4f}\n", label, kLabelWidth, x.power,
                          x.or_g, x.or_e);
    };
    extreme("Least favourable", r.least);
    extreme("Most favourable", r.most);
    if (r.least.small_cells || r.most.small_cells) {
      const char* where = r.least.small_cells && r.most.small_cells ? "at both points"
                          : r.least.small_cells                     ? "at the least favourable point"
                                                                    : "at the most favourable point";
      out_ << labelled("Note", std::string("some expected case counts are below 5 ") + where +
                                   ", where the large-sample power is less reliable");
    }
    if (r.flat && has_extent(r)) {
      out_ << labelled("Note",
                       "the power varies by less than 0.0001 over the box, so where the "
                       "extremes lie means nothing");
    }
    if (simulation != nullptr) write_simulation(r, *simulation);
  }

  void end() override {}

 private:
  // The simulated power beside the asymptotic one at both points, and a
  // plain sentence where they disagree or where too many fits failed for
  // the simulated power to be a guide.
  void write_simulation(const plan::Result& r, const plan::Simulation& sim) {
    out_ << '\n'
         << labelled("Simulation", values::format_number(sim.replicates) +
                                       " studies of this size at each point, each analysed "
                                       "with the Wald test")
         << fmt::format("{:<{}}{:>10}{:>10}{:>8}{:>12}{:>8}\n", "", kLabelWidth, "Formula",
                        "Simulated", "+/-", "Wald(var1)", "Failed");
    const auto point = [&](const char* label, double asymptotic, const plan::SimulatedPoint& p) {
      const std::string simulated = plan::unreliable(p, sim.replicates)
                                        ? fmt::format(" {:<17}", "unreliable")
                                        : fmt::format("{:>10.4f}{:>8.4f}", p.power, p.se);
      out_ << fmt::format("{:<{}}{:>10.4f}{}{:>12.4f}{:>8}\n", label, kLabelWidth, asymptotic,
                          simulated, p.wald_power, values::format_number(p.failed));
    };
    point("Least favourable", r.least.power, sim.least);
    point("Most favourable", r.most.power, sim.most);
    // Where a judgement holds: at the one point of a box of one point, at
    // both points, or at the one named.
    const bool one_point = r.least.or_g == r.most.or_g && r.least.or_e == r.most.or_e;
    const auto where = [&](bool least, bool most) {
      return one_point        ? "at the one point of the box"
             : least && most ? "at both points"
             : least         ? "at the least favourable point"
                             : "at the most favourable point";
    };
    const bool least_sparse = plan::unreliable(sim.least, sim.replicates);
    const bool most_sparse = plan::unreliable(sim.most, sim.replicates);
    if (least_sparse || most_sparse) {
      out_ << labelled("Note", fmt::format("the fit fails (separated tables) in more than {} % of "
                                           "the simulated studies {}: the design is too sparse "
                                           "for the Wald test, and the simulated power there is "
                                           "unreliable",
                                           values::format_number(100 * plan::kMaxFailedShare),
                                           where(least_sparse, most_sparse)));
    }
    const bool least_off = plan::disagrees(r.least.power, sim.least, sim.replicates);
    const bool most_off = plan::disagrees(r.most.power, sim.most, sim.replicates);
    if (least_off || most_off) {
      out_ << labelled("Note", std::string("the simulated power differs from the formula's by "
                                           "more than three standard errors ") +
                                   where(least_off, most_off) +
                                   ": the large-sample formula is off for this design, and "
                                   "the simulated power is the better guide");
    }
    if ((!least_sparse && sim.least.failed > 0) || (!most_sparse && sim.most.failed > 0)) {
      out_ << labelled("Note", "some simulated studies could not be analysed (a separated "
                               "table or a fit that did not converge); they count as not "
                               "rejecting");
    }
  }

  std::ostream& out_;
  std::vector<InputLine> lines_;
  plan::Mode mode_;
  plan::Scenario first_;
  std::size_t count_;
  std::vector<bool> varies_;
  std::size_t index_ = 0;
};

// --- csv and json ------------------------------------------------------------------------

using Json = nlohmann::ordered_json;  // keys in column order

// Whole numbers as integers (1000, not 1000.0), within the doubles' exact range.
Json json_number(double x) {
  constexpr double kExactIntegers = 9007199254740992.0;  // 2^53
  if (std::isfinite(x) && x == std::trunc(x) && std::fabs(x) < kExactIntegers) {
    return static_cast<std::int64_t>(x);
  }
  return x;
}

// A cell as json: numbers as numbers (whole ones within 2^53 as integers),
// flags as booleans, lists as arrays, empty cells as null.
Json json_cell(const plan::Cell& cell) {
  struct ToJson {
    Json operator()(std::monostate) const { return nullptr; }
    Json operator()(double x) const { return json_number(x); }
    Json operator()(bool b) const { return b; }
    Json operator()(const std::string& s) const { return s; }
    Json operator()(const std::vector<double>& v) const {
      Json list = Json::array();
      for (double x : v) list.push_back(json_number(x));
      return list;
    }
  };
  return std::visit(ToJson{}, cell);
}

// The row writers of the command line: its csv and json, through RowStream.
class StreamWriter : public RowWriter {
 public:
  StreamWriter(RowFormat format, std::ostream& out, bool simulated)
      : stream_(format, out, simulated) {}
  void begin() override { stream_.begin(); }
  void write(const plan::Scenario& s, const plan::Outcome& outcome,
             const plan::Simulation* simulation) override {
    stream_.write(plan::make_row(s, outcome), simulation);
  }
  void end() override { stream_.end(); }

 private:
  RowStream stream_;
};

}  // namespace

std::unique_ptr<RowWriter> make_writer(Format format, std::ostream& out,
                                       const std::vector<plan::Scenario>& scenarios,
                                       bool simulated) {
  switch (format) {
    case Format::csv:
      return std::make_unique<StreamWriter>(RowFormat::csv, out, simulated);
    case Format::json:
      return std::make_unique<StreamWriter>(RowFormat::json, out, simulated);
    case Format::table:
      break;
  }
  return std::make_unique<TableWriter>(out, scenarios);
}

std::string exposure_text(const plan::Design& d) {
  if (d.quantiles != 0) return std::to_string(d.quantiles) + " quantiles";
  std::string text = "prevalences";
  for (std::size_t i = 0; i < d.exposure_prevalences.size(); ++i) {
    text += (i == 0 ? " " : ", ") + values::format_number(d.exposure_prevalences[i]);
  }
  return text;
}

std::string range_text(const plan::Range& r) {
  if (r.low == r.high) return values::format_number(r.low);
  return values::format_number(r.low) + " to " + values::format_number(r.high);
}

bool flushed(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return true;
  err << "gxeplan: write error on standard output\n";
  return false;
}

std::string trimmed(double x, int decimals) {
  constexpr double kFixedLimit = 1e15;  // beyond, fixed notation is all digits and no sense
  if (!std::isfinite(x) || std::fabs(x) >= kFixedLimit) return values::format_number(x);
  std::string text = fmt::format("{:.{}f}", x, decimals);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

RowStream::RowStream(RowFormat format, std::ostream& out, bool simulated,
                     std::vector<std::string> carried_names,
                     std::vector<std::string> leading_names)
    : format_(format),
      out_(out),
      simulated_(simulated),
      carried_names_(std::move(carried_names)),
      leading_names_(std::move(leading_names)) {}

void RowStream::begin() {
  switch (format_) {
    case RowFormat::csv:
      for (const std::string& name : leading_names_) out_ << plan::csv_field(name) << ',';
      for (std::size_t i = 0; i < plan::kColumnCount; ++i) {
        out_ << (i == 0 ? "" : ",") << plan::csv_field(plan::row_column_name(i));
      }
      if (simulated_) {
        for (std::size_t i = 0; i < plan::kSimulationColumnCount; ++i) {
          out_ << ',' << plan::simulation_column_name(i);
        }
      }
      for (const std::string& name : carried_names_) out_ << ',' << plan::csv_field(name);
      out_ << "\r\n";
      return;
    case RowFormat::json:
      out_ << '[';
      return;
    case RowFormat::jsonl:
      return;
  }
}

void RowStream::blank_rows(std::size_t count) {
  if (format_ != RowFormat::csv) return;
  for (std::size_t i = 0; i < count; ++i) out_ << "\r\n";
}

void RowStream::write(const plan::Row& row, const plan::Simulation* simulation,
                      std::span<const std::string_view> carried,
                      std::span<const plan::Cell> leading) {
  const auto carried_text = [&](std::size_t i) {
    return i < carried.size() ? carried[i] : std::string_view();
  };
  const auto leading_cell = [&](std::size_t i) {
    return i < leading.size() ? leading[i] : plan::Cell();
  };
  if (format_ == RowFormat::csv) {
    for (std::size_t i = 0; i < leading_names_.size(); ++i) {
      out_ << plan::csv_field(plan::cell_text(leading_cell(i))) << ',';
    }
    for (std::size_t i = 0; i < plan::kColumnCount; ++i) {
      out_ << (i == 0 ? "" : ",") << plan::csv_field(plan::cell_text(row.cells[i]));
    }
    if (simulated_) {
      for (const plan::Cell& cell : plan::simulation_cells(simulation)) {
        out_ << ',' << plan::csv_field(plan::cell_text(cell));
      }
    }
    for (std::size_t i = 0; i < carried_names_.size(); ++i) {
      out_ << ',' << plan::csv_field(carried_text(i));
    }
    out_ << "\r\n";
    return;
  }
  Json object = Json::object();
  for (std::size_t i = 0; i < leading_names_.size(); ++i) {
    object[leading_names_[i]] = json_cell(leading_cell(i));
  }
  for (std::size_t i = 0; i < plan::kColumnCount; ++i) {
    object[std::string(plan::row_column_name(i))] = json_cell(row.cells[i]);
  }
  if (simulated_) {
    const auto cells = plan::simulation_cells(simulation);
    for (std::size_t i = 0; i < plan::kSimulationColumnCount; ++i) {
      object[std::string(plan::simulation_column_name(i))] = json_cell(cells[i]);
    }
  }
  for (std::size_t i = 0; i < carried_names_.size(); ++i) {
    object[carried_names_[i]] = std::string(carried_text(i));
  }
  // Bytes that are not UTF-8 (a carried note in another encoding) become
  // U+FFFD: JSON text is UTF-8.
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (format_ == RowFormat::jsonl) {
    out_ << text << '\n';
  } else {
    out_ << (first_ ? "\n" : ",\n") << text;
  }
  first_ = false;
}

void RowStream::end() {
  if (format_ == RowFormat::json) out_ << "\n]\n";
}

}  // namespace gxe::cli
