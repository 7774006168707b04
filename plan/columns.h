#ifndef GXE_PLAN_COLUMNS_H_
#define GXE_PLAN_COLUMNS_H_

// Every column a front end reads or writes, listed once: its name (the csv
// header, the json key, the R column, the batch column; the command line's
// option is derived from it, gene_prevalence as --gene-prevalence), the kind
// of its values, its role, the values a text column allows, its default and
// the line of help that describes it. Writers, readers, help texts and the R
// glue all take their columns from this table.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace gxe::plan {

enum class Column : std::size_t {
  // The inputs of a calculation, first in every row.
  mode, cases, power, quantiles, exposure_prevalences, gene_prevalence, controls_per_case,
  or_e, or_g, ror,
  // The box searched: the ranges given, or the conversion's single point.
  or_e_low, or_e_high, or_g_low, or_g_high,
  alpha, search,
  // The results.
  size, n_cases, n_controls,
  power_min, or_g_at_min, or_e_at_min, small_cells_at_min,
  power_max, or_g_at_max, or_e_at_max, small_cells_at_max,
  flat, or_e_conditional, or_g_conditional, solver_info, error,
  // The simulation check, after the results. The two flags come last, so
  // that a reader of the earlier columns by place is not disturbed by them.
  sim_replicates, sim_power_min, sim_se_min, sim_failed_min, wald_power_min,
  sim_power_max, sim_se_max, sim_failed_max, wald_power_max,
  sim_unreliable_min, sim_unreliable_max,
  // The simulated likelihood-ratio test and the simulated sample size, after
  // the check's earlier columns.
  sim_lr_power_min, sim_lr_power_max, sim_cases, sim_cases_low, sim_cases_high,
  // The association of gene and exposure among controls and the searched
  // carrier prevalence, after everything that was there before them.
  or_ge, or_ge_low, or_ge_high, gene_prevalence_low, gene_prevalence_high,
  or_ge_at_min, gene_prevalence_at_min, or_ge_at_max, gene_prevalence_at_max,
  // The test whose power is computed, and the smallest detectable interaction.
  test, direction, ror_detectable,
  // Inputs that are read but not written: the gene by its risk allele.
  allele_frequency, genetic_model, allele_frequency_low, allele_frequency_high,
  // A point of a curve, in front of its calculation's columns.
  over, x, curve,
  // A batch row that could not be read into the header's columns, kept whole.
  unread_row,
};

enum class ColumnKind {
  number,        // any number, shortest round-trip text
  whole_number,  // a count, written without a point
  text,          // a word, one of `choices` when they are given, or free text
  flag,          // true or false
  numbers,       // a list of numbers, joined by ';' in csv
};

enum class ColumnRole {
  input,       // a value of the calculation, read and written
  alias,       // another form of an input, read only
  result,      // written by the calculation
  simulation,  // written by the simulation check
  curve,       // written before a curve point's columns
  kept,        // a row kept as it was written
};

struct ColumnInfo {
  std::string_view name;
  ColumnKind kind;
  ColumnRole role;
  // One sentence for a help list, without the default.
  std::string_view help;
  // A text column's allowed values, the first ones of the array; empty
  // strings after the last.
  std::array<std::string_view, 3> choices{};
  // The value an input takes when it is not given, as text; empty when it
  // must be given or has no single default.
  std::string_view default_text{};
};

inline constexpr std::size_t kColumnTotal = static_cast<std::size_t>(Column::unread_row) + 1;

// The columns of a calculation's row: inputs and results, mode to error.
inline constexpr std::size_t kColumnCount = static_cast<std::size_t>(Column::error) + 1;
// The inputs among them: mode to search.
inline constexpr std::size_t kInputColumns = static_cast<std::size_t>(Column::search) + 1;
// The columns written after the simulation check's (or after error without
// one): the association of gene and exposure among controls, the test and
// the detectable interaction, or_ge to ror_detectable.
inline constexpr std::size_t kAssociationColumnCount =
    static_cast<std::size_t>(Column::ror_detectable) -
    static_cast<std::size_t>(Column::or_ge) + 1;
// The simulation check's columns, sim_replicates to sim_cases_high.
inline constexpr std::size_t kSimulationColumnCount =
    static_cast<std::size_t>(Column::sim_cases_high) -
    static_cast<std::size_t>(Column::sim_replicates) + 1;

inline constexpr std::array<ColumnInfo, kColumnTotal> kColumns = {{
    {"mode", ColumnKind::text, ColumnRole::input,
     "power, size or detect (required)", {"power", "size", "detect"}},
    {"cases", ColumnKind::number, ColumnRole::input,
     "number of cases, each with C controls (power and detect rows)"},
    {"power", ColumnKind::number, ColumnRole::input,
     "target power, between 0 and 1 (size and detect rows)"},
    {"quantiles", ColumnKind::whole_number, ColumnRole::input,
     "K exposure categories of equal frequency among controls, K from 2 to 100, or:"},
    {"exposure_prevalences", ColumnKind::numbers, ColumnRole::input,
     "the K frequencies among controls, separated by ; (0.2;0.3;0.5), summing to 1"},
    {"gene_prevalence", ColumnKind::number, ColumnRole::input,
     "proportion of carriers among controls, or:"},
    {"controls_per_case", ColumnKind::number, ColumnRole::input, "C",
     {}, "1"},
    {"or_e", ColumnKind::number, ColumnRole::input, "OR^tb(E|G=0) under the null", {}, "1"},
    {"or_g", ColumnKind::number, ColumnRole::input, "OR(G|E=0) under the null", {}, "1"},
    {"ror", ColumnKind::number, ColumnRole::input,
     "ROR^tb under the alternative (power and size rows, required there)"},
    {"or_e_low", ColumnKind::number, ColumnRole::input,
     "range of OR^tb(E|G=0) to search; both or neither, default the one value that keeps "
     "or_e and or_g as the marginal odds ratios"},
    {"or_e_high", ColumnKind::number, ColumnRole::input, "upper end of the range of OR^tb(E|G=0)"},
    {"or_g_low", ColumnKind::number, ColumnRole::input,
     "range of OR(G|E=0) to search, likewise"},
    {"or_g_high", ColumnKind::number, ColumnRole::input, "upper end of the range of OR(G|E=0)"},
    {"alpha", ColumnKind::number, ColumnRole::input, "two-sided level", {}, "0.05"},
    {"search", ColumnKind::text, ColumnRole::input,
     "global or centre", {"global", "centre"}, "global"},

    {"size", ColumnKind::number, ColumnRole::result, "cases plus controls"},
    {"n_cases", ColumnKind::number, ColumnRole::result, "cases of the study"},
    {"n_controls", ColumnKind::number, ColumnRole::result, "controls of the study"},
    {"power_min", ColumnKind::number, ColumnRole::result,
     "power at the least favourable point of the box"},
    {"or_g_at_min", ColumnKind::number, ColumnRole::result,
     "OR(G|E=0) at the least favourable point"},
    {"or_e_at_min", ColumnKind::number, ColumnRole::result,
     "OR^tb(E|G=0) at the least favourable point"},
    {"small_cells_at_min", ColumnKind::flag, ColumnRole::result,
     "some expected case count is below 5 at the least favourable point"},
    {"power_max", ColumnKind::number, ColumnRole::result,
     "power at the most favourable point of the box"},
    {"or_g_at_max", ColumnKind::number, ColumnRole::result,
     "OR(G|E=0) at the most favourable point"},
    {"or_e_at_max", ColumnKind::number, ColumnRole::result,
     "OR^tb(E|G=0) at the most favourable point"},
    {"small_cells_at_max", ColumnKind::flag, ColumnRole::result,
     "some expected case count is below 5 at the most favourable point"},
    {"flat", ColumnKind::flag, ColumnRole::result,
     "the power varies by less than 0.0001 over the box"},
    {"or_e_conditional", ColumnKind::number, ColumnRole::result,
     "the conversion's conditional OR^tb(E|G=0)"},
    {"or_g_conditional", ColumnKind::number, ColumnRole::result,
     "the conversion's conditional OR(G|E=0)"},
    {"solver_info", ColumnKind::whole_number, ColumnRole::result,
     "the conversion's solver verdict (1: converged)"},
    {"error", ColumnKind::text, ColumnRole::result, "why the row has no answer"},

    {"sim_replicates", ColumnKind::whole_number, ColumnRole::simulation,
     "studies simulated at each extreme"},
    {"sim_power_min", ColumnKind::number, ColumnRole::simulation,
     "simulated power of the Wald test at the least favourable point"},
    {"sim_se_min", ColumnKind::number, ColumnRole::simulation,
     "its Monte-Carlo standard error"},
    {"sim_failed_min", ColumnKind::whole_number, ColumnRole::simulation,
     "simulated studies whose fit failed there"},
    {"wald_power_min", ColumnKind::number, ColumnRole::simulation,
     "the Wald approximation with the alternative's variance there"},
    {"sim_power_max", ColumnKind::number, ColumnRole::simulation,
     "simulated power of the Wald test at the most favourable point"},
    {"sim_se_max", ColumnKind::number, ColumnRole::simulation,
     "its Monte-Carlo standard error"},
    {"sim_failed_max", ColumnKind::whole_number, ColumnRole::simulation,
     "simulated studies whose fit failed there"},
    {"wald_power_max", ColumnKind::number, ColumnRole::simulation,
     "the Wald approximation with the alternative's variance there"},
    {"sim_unreliable_min", ColumnKind::flag, ColumnRole::simulation,
     "too many fits failed at the least favourable point for the simulated power to mean "
     "something"},
    {"sim_unreliable_max", ColumnKind::flag, ColumnRole::simulation,
     "the same at the most favourable point"},
    {"sim_lr_power_min", ColumnKind::number, ColumnRole::simulation,
     "simulated power of the likelihood-ratio test at the least favourable point"},
    {"sim_lr_power_max", ColumnKind::number, ColumnRole::simulation,
     "simulated power of the likelihood-ratio test at the most favourable point"},
    {"sim_cases", ColumnKind::whole_number, ColumnRole::simulation,
     "smallest number of cases whose simulated power reaches the target at the least "
     "favourable point (size by simulation)"},
    {"sim_cases_low", ColumnKind::number, ColumnRole::simulation,
     "lower end of its 95 % interval from the Monte-Carlo error"},
    {"sim_cases_high", ColumnKind::number, ColumnRole::simulation,
     "upper end of that interval"},

    {"or_ge", ColumnKind::number, ColumnRole::input,
     "OR^tb(G,E) among controls: the odds ratio of being a carrier in the top against the "
     "bottom exposure category",
     {}, "1"},
    {"or_ge_low", ColumnKind::number, ColumnRole::input,
     "range of OR^tb(G,E) to search (with both ranges of the odds ratios); default the one "
     "value or_ge"},
    {"or_ge_high", ColumnKind::number, ColumnRole::input, "upper end of the range of OR^tb(G,E)"},
    {"gene_prevalence_low", ColumnKind::number, ColumnRole::input,
     "range of the carrier prevalence among controls to search, likewise"},
    {"gene_prevalence_high", ColumnKind::number, ColumnRole::input,
     "upper end of the range of the carrier prevalence"},
    {"or_ge_at_min", ColumnKind::number, ColumnRole::result,
     "OR^tb(G,E) at the least favourable point"},
    {"gene_prevalence_at_min", ColumnKind::number, ColumnRole::result,
     "carrier prevalence at the least favourable point"},
    {"or_ge_at_max", ColumnKind::number, ColumnRole::result,
     "OR^tb(G,E) at the most favourable point"},
    {"gene_prevalence_at_max", ColumnKind::number, ColumnRole::result,
     "carrier prevalence at the most favourable point"},
    {"test", ColumnKind::text, ColumnRole::input,
     "the test whose power is computed: null-variance (critical value from the null's "
     "variance), wald (the Wald test with the fitted variance) or lr (likelihood ratio)",
     {"null-variance", "wald", "lr"}, "null-variance"},
    {"direction", ColumnKind::text, ColumnRole::input,
     "detect rows: the detectable ROR^tb above 1 (risk) or below 1 (protective)",
     {"risk", "protective"}, "risk"},
    {"ror_detectable", ColumnKind::number, ColumnRole::result,
     "the ROR^tb nearest 1 whose least favourable power reaches the target (detect rows)"},

    {"allele_frequency", ColumnKind::number, ColumnRole::alias,
     "frequency of the risk allele, with genetic_model"},
    {"genetic_model", ColumnKind::text, ColumnRole::alias,
     "dominant or recessive", {"dominant", "recessive"}},
    {"allele_frequency_low", ColumnKind::number, ColumnRole::alias,
     "range of the allele frequency to search instead, with genetic_model"},
    {"allele_frequency_high", ColumnKind::number, ColumnRole::alias,
     "upper end of the range of the allele frequency"},

    {"over", ColumnKind::text, ColumnRole::curve, "the axis of a curve", {"cases", "ror"}},
    {"x", ColumnKind::number, ColumnRole::curve, "the axis value of a curve's point"},
    {"curve", ColumnKind::number, ColumnRole::curve,
     "the value that names the point's curve (ROR^tb, cases or target power)"},

    {"unread_row", ColumnKind::text, ColumnRole::kept,
     "a row that could not be read into the header's columns, as it was written"},
}};

constexpr const ColumnInfo& column(Column c) { return kColumns[static_cast<std::size_t>(c)]; }
constexpr std::string_view column_name(Column c) { return column(c).name; }
// The i-th column of a row, or of the simulation check.
constexpr std::string_view row_column_name(std::size_t i) { return kColumns[i].name; }
constexpr std::string_view simulation_column_name(std::size_t i) {
  return kColumns[static_cast<std::size_t>(Column::sim_replicates) + i].name;
}
// The i-th of the columns after the simulation check's.
constexpr Column association_column(std::size_t i) {
  return static_cast<Column>(static_cast<std::size_t>(Column::or_ge) + i);
}
constexpr std::string_view association_column_name(std::size_t i) {
  return column_name(association_column(i));
}

// The column of a name, or nothing.
std::optional<Column> find_column(std::string_view name);

// The column's name on the command line: --gene-prevalence for
// gene_prevalence; both ends of a range are the one option --or-e-range.
std::string option_name(Column c);

// The rule a text column's choices make: "is not one of global, centre";
// the same for a list of choices of a front end's own.
std::string choice_rule(Column c);
std::string choice_rule(std::span<const std::string_view> choices);

// Whether `text` is one of a text column's choices.
bool is_choice(Column c, std::string_view text);

// The inputs a batch file may hold, one per line as `gxeplan batch --help`
// lists them: the name, then its help wrapped under a column of its own,
// with the default. The two ends of a range share a line, and the other
// forms of the gene follow gene_prevalence.
std::string input_column_help();

}  // namespace gxe::plan

#endif  // GXE_PLAN_COLUMNS_H_
