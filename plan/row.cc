#include "plan/row.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "values/number.h"

namespace gxe::plan {
namespace {

// The box of one odds ratio: the range searched when there is a result;
// without one, the range given, or else the conversion's point when the
// conversion gave one.
std::optional<Range> box_side(const std::optional<Range>& given, const Range& searched,
                              double conditional, bool has_result, bool converted) {
  if (has_result) return searched;
  if (given) return given;
  if (converted) return Range{conditional, conditional};
  return std::nullopt;
}

void put_range(Row& row, Column low, Column high, const std::optional<Range>& range) {
  if (!range) return;
  row[low] = range->low;
  row[high] = range->high;
}

void put_extreme(Row& row, Column power, Column or_g, Column or_e, Column small, Column or_ge,
                 Column gene_prevalence, const Extreme& x) {
  row[power] = x.power;
  row[or_g] = x.or_g;
  row[or_e] = x.or_e;
  row[small] = x.small_cells;
  row[or_ge] = x.or_ge;
  row[gene_prevalence] = x.gene_prevalence;
}

}  // namespace

Row make_row(const Scenario& s, const Outcome& outcome) {
  Row row;
  const Design& d = s.design;
  row[Column::mode] = std::string(name(s.mode));
  if (s.mode != Mode::size) row[Column::cases] = s.cases;
  if (s.mode != Mode::power) row[Column::power] = s.target_power;
  if (d.quantiles != 0) row[Column::quantiles] = static_cast<double>(d.quantiles);
  if (!d.exposure_prevalences.empty()) row[Column::exposure_prevalences] = d.exposure_prevalences;
  row[Column::gene_prevalence] = d.gene_prevalence;
  row[Column::controls_per_case] = d.controls_per_case;
  row[Column::or_e] = d.or_e;
  row[Column::or_g] = d.or_g;
  // A detect calculation finds ROR^tb: its own is ror_detectable.
  if (s.mode == Mode::detect) {
    row[Column::direction] = std::string(name(s.direction));
  } else {
    row[Column::ror] = d.ror;
  }
  row[Column::or_ge] = d.or_ge;
  row[Column::alpha] = s.settings.alpha;
  row[Column::search] = std::string(name(s.settings.search));
  row[Column::test] = std::string(name(s.settings.test));

  const Result& r = outcome.result;
  const bool has_result = outcome.ok();
  // A calculation without an answer still reports its conversion; one whose
  // inputs were refused never ran it. A detect calculation converts at each
  // trial ROR^tb, so without an answer no conversion is its own.
  const bool conversion_ran =
      has_result || (outcome.error->kind == Error::Kind::no_answer && s.mode != Mode::detect);
  const bool converted = conversion_ran && r.converted();
  // A detect calculation without a range searched the conversion's point at
  // every ROR^tb it tried: that point is no range of the input, and written
  // as one it would be read back as a fixed box (the conversion columns
  // hold it at the ROR^tb found).
  const auto side = [&](const std::optional<Range>& given, const Range& searched,
                        double conditional) {
    if (s.mode == Mode::detect) return given;
    return box_side(given, searched, conditional, has_result, converted);
  };
  put_range(row, Column::or_e_low, Column::or_e_high,
            side(s.ranges.or_e, r.or_e_range, r.or_e_conditional));
  put_range(row, Column::or_g_low, Column::or_g_high,
            side(s.ranges.or_g, r.or_g_range, r.or_g_conditional));
  put_range(row, Column::or_ge_low, Column::or_ge_high, s.ranges.or_ge);
  put_range(row, Column::gene_prevalence_low, Column::gene_prevalence_high,
            s.ranges.gene_prevalence);

  if (has_result) {
    row[Column::size] = r.size;
    row[Column::n_cases] = r.n_cases;
    row[Column::n_controls] = r.n_controls;
    put_extreme(row, Column::power_min, Column::or_g_at_min, Column::or_e_at_min,
                Column::small_cells_at_min, Column::or_ge_at_min, Column::gene_prevalence_at_min,
                r.least);
    put_extreme(row, Column::power_max, Column::or_g_at_max, Column::or_e_at_max,
                Column::small_cells_at_max, Column::or_ge_at_max, Column::gene_prevalence_at_max,
                r.most);
    row[Column::flat] = r.flat;
    if (s.mode == Mode::detect) row[Column::ror_detectable] = r.ror_detectable;
  }
  if (conversion_ran) {
    row[Column::or_e_conditional] = r.or_e_conditional;
    row[Column::or_g_conditional] = r.or_g_conditional;
    row[Column::solver_info] = static_cast<double>(r.solver_info);
  }
  if (!has_result) row[Column::error] = outcome.error->message();
  return row;
}

std::array<Cell, kSimulationColumnCount> simulation_cells(const Simulation* simulation) {
  std::array<Cell, kSimulationColumnCount> cells;
  if (simulation == nullptr) return cells;
  const Simulation& s = *simulation;
  cells = {s.replicates,
           s.least.power, s.least.se, s.least.failed, s.least.wald_power,
           s.most.power,  s.most.se,  s.most.failed,  s.most.wald_power,
           unreliable(s.least, s.replicates), unreliable(s.most, s.replicates),
           s.least.lr_power, s.most.lr_power};
  if (s.size) {
    const auto at = [](Column c) {
      return static_cast<std::size_t>(c) - static_cast<std::size_t>(Column::sim_replicates);
    };
    cells[at(Column::sim_cases)] = s.size->cases;
    cells[at(Column::sim_cases_low)] = s.size->low;
    cells[at(Column::sim_cases_high)] = s.size->high;
  }
  return cells;
}

bool unreliable(const SimulatedPoint& simulated, double replicates) {
  return simulated.failed > kMaxFailedShare * replicates;
}

bool disagrees(double asymptotic_power, const SimulatedPoint& simulated, double replicates) {
  if (unreliable(simulated, replicates)) return false;
  const double p = asymptotic_power;
  const double se = std::max(simulated.se, std::sqrt(p * (1.0 - p) / replicates));
  return std::fabs(simulated.power - p) > kSimulationDisagreement * se;
}

SimulatedPoint as_tested(const SimulatedPoint& simulated, Test test) {
  SimulatedPoint p = simulated;
  if (test == Test::lr) {
    p.power = simulated.lr_power;
    p.se = simulated.lr_se;
  }
  return p;
}

std::string cell_text(const Cell& cell) {
  struct Text {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(double x) const { return values::format_number(x); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const std::vector<double>& v) const {
      std::string text;
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i > 0) text += ';';
        text += values::format_number(v[i]);
      }
      return text;
    }
  };
  return std::visit(Text{}, cell);
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::vector<std::string> row_names(bool simulated, std::span<const std::string> leading,
                                   std::span<const std::string> carried) {
  std::vector<std::string> names(leading.begin(), leading.end());
  for (std::size_t i = 0; i < kColumnCount; ++i) names.emplace_back(row_column_name(i));
  if (simulated) {
    for (std::size_t i = 0; i < kSimulationColumnCount; ++i) {
      names.emplace_back(simulation_column_name(i));
    }
  }
  for (std::size_t i = 0; i < kAssociationColumnCount; ++i) {
    names.emplace_back(association_column_name(i));
  }
  names.insert(names.end(), carried.begin(), carried.end());
  return names;
}

std::vector<std::string> row_texts(const Row& row, const Simulation* simulation, bool simulated,
                                   std::span<const Cell> leading,
                                   std::span<const std::string_view> carried) {
  std::vector<std::string> texts;
  for (const Cell& cell : leading) texts.push_back(cell_text(cell));
  for (const Cell& cell : row.cells) texts.push_back(cell_text(cell));
  if (simulated) {
    for (const Cell& cell : simulation_cells(simulation)) texts.push_back(cell_text(cell));
  }
  for (const Cell& cell : row.association) texts.push_back(cell_text(cell));
  texts.insert(texts.end(), carried.begin(), carried.end());
  return texts;
}

std::string csv_record(std::span<const std::string> fields) {
  std::string record;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) record += ',';
    record += csv_field(fields[i]);
  }
  return record + "\r\n";
}

}  // namespace gxe::plan
