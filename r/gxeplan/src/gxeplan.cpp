// The bridge between R and the planning library: R hands over the rows it
// has laid out (one value per row for the inputs that make combinations, one
// value for the others) or a curve to draw, every calculation is checked
// before any is made, and the results come back as a list of columns named
// as the command line's csv columns.
//
// R's rules for compiled code hold here: nothing is written to the process's
// standard streams and the process is never ended. The engine's console is
// bound to string streams for the length of each call; the planning library
// does not print, so anything found in them afterwards, or an end of the
// program requested by the engine, is turned into an R error rather than
// lost.

#include <Rcpp.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/console.h"
#include "plan/curve.h"
#include "values/number.h"
#include "plan/plan.h"
#include "plan/row.h"
#include "plan/simulation.h"
#include "simulate/simulate.h"

namespace {

namespace plan = gxe::plan;
namespace console = gxe::console;
namespace simulate = gxe::simulate;

// ---------------------------------------------------------------------------
// The engine's console for the length of one call.

class ConsoleCapture {
 public:
  ConsoleCapture() { console::bind(in_, out_, err_); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  // Bound back to streams that live as long as the package, so the console
  // never points at a stream that has gone.
  ~ConsoleCapture() { console::bind(idle_in(), idle_out(), idle_out()); }

  // What the engine wrote, both streams, or "" when it wrote nothing.
  std::string written() const { return out_.str() + err_.str(); }

 private:
  static std::istream& idle_in() {
    static std::istringstream in;
    return in;
  }
  static std::ostream& idle_out() {
    static std::ostringstream out;
    out.str("");
    return out;
  }
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

// ---------------------------------------------------------------------------
// Inputs.

// A number as messages show it: shortest round-trip form, NA for R's NA.
std::string number_text(double x) { return std::isnan(x) ? "NA" : values::format_number(x); }

[[noreturn]] void refuse(const char* field, std::string value, const char* rule) {
  Rcpp::stop(plan::Error{plan::Error::Kind::invalid_input, field, std::move(value), rule}.message());
}

// A whole number that arrives as an R number: one within far more than the
// allowed range is passed on for the library's own check, anything else is
// refused here with the same rule, before a conversion to int could change it.
int whole_of(double x, const char* field, const char* rule) {
  constexpr double kLargest = 1e6;  // far above any allowed value, far below INT_MAX
  if (!(std::fabs(x) <= kLargest && x == std::trunc(x))) refuse(field, number_text(x), rule);
  return static_cast<int>(x);
}

std::optional<plan::Range> range_of(const Rcpp::NumericVector& r) {
  if (r.size() == 0) return std::nullopt;
  if (r.size() != 2) Rcpp::stop("a range is two numbers, low and high");
  return plan::Range{r[0], r[1]};
}

plan::SearchMethod search_of(const std::string& text) {
  if (auto method = plan::parse_search_method(text)) return *method;
  refuse("search", values::quoted(text), "must be \"global\" or \"centre\"");
}

plan::Mode mode_of(const std::string& text) {
  if (auto mode = plan::parse_mode(text)) return *mode;
  Rcpp::stop("unknown calculation \"" + text + "\"");
}

// The inputs every calculation of a call shares, from R's list `design`:
// quantiles, exposure_prevalences, or_e, or_g, or_e_range and or_g_range
// (each of length 0 when not given), search.
plan::Scenario base_scenario(const std::string& mode, const Rcpp::List& design) {
  plan::Scenario base;
  base.mode = mode_of(mode);
  const Rcpp::NumericVector quantiles = design["quantiles"];
  if (quantiles.size() != 0) {
    constexpr const char* kRule = "must be a whole number from 2 to 100";
    // The library reads 0 quantiles as "not given"; given, 0 is refused.
    if (quantiles[0] == 0.0) refuse("quantiles", "0", kRule);
    base.design.quantiles = whole_of(quantiles[0], "quantiles", kRule);
  }
  base.design.exposure_prevalences =
      Rcpp::as<std::vector<double>>(design["exposure_prevalences"]);
  base.design.or_e = Rcpp::as<double>(design["or_e"]);
  base.design.or_g = Rcpp::as<double>(design["or_g"]);
  base.ranges.or_e = range_of(design["or_e_range"]);
  base.ranges.or_g = range_of(design["or_g_range"]);
  base.settings.search = search_of(Rcpp::as<std::string>(design["search"]));
  return base;
}

// ---------------------------------------------------------------------------
// Rows. The columns and their values are the planning library's rows, the
// ones the command line writes; here each column becomes an R vector of one
// kind, an empty cell NA.

enum class Kind { number, flag, text };

using plan::Column;

// The kind of R vector of each column, in the order of plan::Column; the
// exposure prevalences are one text, joined by ';' as the csv writes them.
constexpr std::array<Kind, plan::kColumnCount> kKinds = {
    Kind::text,    // mode
    Kind::number,  // cases
    Kind::number,  // power
    Kind::number,  // quantiles
    Kind::text,    // exposure_prevalences
    Kind::number,  // gene_prevalence
    Kind::number,  // controls_per_case
    Kind::number,  // or_e
    Kind::number,  // or_g
    Kind::number,  // ror
    Kind::number,  // or_e_low
    Kind::number,  // or_e_high
    Kind::number,  // or_g_low
    Kind::number,  // or_g_high
    Kind::number,  // alpha
    Kind::text,    // search
    Kind::number,  // size
    Kind::number,  // n_cases
    Kind::number,  // n_controls
    Kind::number,  // power_min
    Kind::number,  // or_g_at_min
    Kind::number,  // or_e_at_min
    Kind::flag,    // small_cells_at_min
    Kind::number,  // power_max
    Kind::number,  // or_g_at_max
    Kind::number,  // or_e_at_max
    Kind::flag,    // small_cells_at_max
    Kind::flag,    // flat
    Kind::number,  // or_e_conditional
    Kind::number,  // or_g_conditional
    Kind::number,  // solver_info
    Kind::text,    // error
};
static_assert(kKinds.size() == plan::kColumnNames.size());

// A calculation's row: the planning library's cells, then, with a
// simulation check, the cells of its columns (plan::kSimulationColumnNames).
struct Row {
  plan::Row cells;
  std::array<plan::Cell, plan::kSimulationColumnCount> simulation;
};

// The kinds of the simulation check's columns (plan::kSimulationColumnNames):
// numbers, then the two flags of an unreliable simulated power.
constexpr std::array<Kind, plan::kSimulationColumnCount> kSimulationKinds = {
    Kind::number, Kind::number, Kind::number, Kind::number, Kind::number, Kind::number,
    Kind::number, Kind::number, Kind::number, Kind::flag,   Kind::flag,
};

[[noreturn]] void wrong_kind(std::string_view column) {
  Rcpp::stop("internal error: an unexpected value in column " + std::string(column));
}

// One column of R vectors of type V from the cells `cell_of(row)`, each
// holding a T or empty (NA).
template <class V, class T, class CellOf>
V values_of(const std::vector<Row>& rows, std::string_view name, CellOf cell_of) {
  V v(static_cast<R_xlen_t>(rows.size()), V::get_na());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const plan::Cell& cell = cell_of(rows[i]);
    if (auto x = std::get_if<T>(&cell)) {
      v[static_cast<R_xlen_t>(i)] = *x;
    } else if (!std::holds_alternative<std::monostate>(cell)) {
      wrong_kind(name);
    }
  }
  return v;
}

// One column of the kind `kind` from the cells `cell_of(row)`.
template <class CellOf>
SEXP column_of(const std::vector<Row>& rows, std::string_view name, Kind kind, CellOf cell_of) {
  switch (kind) {
    case Kind::number:
      return values_of<Rcpp::NumericVector, double>(rows, name, cell_of);
    case Kind::flag:
      return values_of<Rcpp::LogicalVector, bool>(rows, name, cell_of);
    case Kind::text:
      break;
  }
  Rcpp::CharacterVector v(static_cast<R_xlen_t>(rows.size()), NA_STRING);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const plan::Cell& cell = cell_of(rows[i]);
    if (std::holds_alternative<std::string>(cell) ||
        std::holds_alternative<std::vector<double>>(cell)) {
      v[static_cast<R_xlen_t>(i)] = plan::cell_text(cell);
    } else if (!std::holds_alternative<std::monostate>(cell)) {
      wrong_kind(name);
    }
  }
  return v;
}

// The rows as R columns, named as the command line names them.
Rcpp::List columns_of(const std::vector<Row>& rows, bool simulated) {
  const std::size_t count = plan::kColumnCount + (simulated ? plan::kSimulationColumnCount : 0);
  Rcpp::List columns(count);
  Rcpp::CharacterVector names(count);
  for (std::size_t c = 0; c < plan::kColumnCount; ++c) {
    const std::string_view name = plan::kColumnNames[c];
    names[c] = std::string(name);
    columns[c] = column_of(rows, name, kKinds[c],
                           [c](const Row& r) -> const plan::Cell& { return r.cells.cells[c]; });
  }
  for (std::size_t s = 0; simulated && s < plan::kSimulationColumnCount; ++s) {
    const std::string_view name = plan::kSimulationColumnNames[s];
    names[plan::kColumnCount + s] = std::string(name);
    columns[plan::kColumnCount + s] =
        column_of(rows, name, kSimulationKinds[s],
                  [s](const Row& r) -> const plan::Cell& { return r.simulation[s]; });
  }
  columns.attr("names") = names;
  return columns;
}

// ---------------------------------------------------------------------------
// The simulation check.

// How many studies to simulate at each extreme (0: no check) and from which
// seed, as R gives them.
struct Simulation {
  long replicates = 0;
  std::uint64_t seed = 0;
};

Simulation simulation_of(double replicates, double seed) {
  constexpr double kLargestSeed = 9007199254740992.0;  // 2^53: every whole number below is exact
  if (!(replicates >= 0 && replicates <= static_cast<double>(simulate::kMaxReplicates) &&
        replicates == std::trunc(replicates))) {
    refuse("simulate", number_text(replicates),
           "must be a whole number of simulated studies from 0 (no simulation) to 1e9");
  }
  if (!(seed >= 0 && seed <= kLargestSeed && seed == std::trunc(seed))) {
    refuse("seed", number_text(seed), "must be a whole number from 0 to 2^53");
  }
  return {static_cast<long>(replicates), static_cast<std::uint64_t>(seed)};
}

// The simulation check of an answered calculation at its two extremes, as
// the command line makes it: an answer whose check cannot be made becomes a
// calculation without an answer.
void check_by_simulation(const plan::Scenario& s, plan::Outcome& o, const Simulation& sim,
                         Row& row) {
  simulate::Options options;
  options.replicates = sim.replicates;
  options.seed = sim.seed;
  // Called on this thread while the workers run: an interrupt from R stops them.
  options.progress = [](long, long) { Rcpp::checkUserInterrupt(); };
  if (const std::optional<plan::Simulation> found = plan::check_by_simulation(s, o, options)) {
    row.simulation = plan::simulation_cells(&*found);
  }
}

}  // namespace

namespace {

// Runs the calculations with the console bound to strings; what the engine
// would have printed, or its request to end the program, becomes an R error.
template <class Calculate>
std::vector<Row> run_captured(std::size_t count, Calculate calculate) {
  std::vector<Row> rows;
  rows.reserve(count);
  const ConsoleCapture capture;
  for (std::size_t i = 0; i < count; ++i) {
    Rcpp::checkUserInterrupt();
    try {
      rows.push_back(calculate(i));
    } catch (const console::ProgramEnd& end) {
      Rcpp::stop("the engine stopped (status " + std::to_string(end.status) +
                 "): " + capture.written());
    }
    if (const std::string text = capture.written(); !text.empty()) {
      Rcpp::stop("the engine wrote to its console: " + text);
    }
  }
  return rows;
}

}  // namespace

// Power ("power") or sample-size ("size") calculations, one per row. `value`
// holds the cases or the target power of each row; `ror`, `gene_prevalence`,
// `controls_per_case` and `alpha` one value per row as well (R lays out the
// combinations); `design` the inputs shared by all rows (base_scenario);
// `simulate` studies are simulated at both extremes of each row from `seed`
// (none when 0).
// [[Rcpp::export]]
Rcpp::List calculate_rows(const std::string& mode, const Rcpp::NumericVector& value,
                          const Rcpp::NumericVector& ror,
                          const Rcpp::NumericVector& gene_prevalence,
                          const Rcpp::NumericVector& controls_per_case,
                          const Rcpp::NumericVector& alpha, const Rcpp::List& design,
                          double simulate, double seed) {
  const R_xlen_t n = value.size();
  for (const Rcpp::NumericVector* v : {&ror, &gene_prevalence, &controls_per_case, &alpha}) {
    if (v->size() != n) Rcpp::stop("the per-row inputs differ in length");
  }
  const plan::Scenario base = base_scenario(mode, design);
  const Simulation sim = simulation_of(simulate, seed);

  // Every row is checked before the first is calculated: a wrong input stops
  // the call before any time is spent.
  std::vector<plan::Scenario> scenarios(static_cast<std::size_t>(n), base);
  for (R_xlen_t i = 0; i < n; ++i) {
    plan::Scenario& s = scenarios[static_cast<std::size_t>(i)];
    (s.mode == plan::Mode::power ? s.cases : s.target_power) = value[i];
    s.design.ror = ror[i];
    s.design.gene_prevalence = gene_prevalence[i];
    s.design.controls_per_case = controls_per_case[i];
    s.settings.alpha = alpha[i];
    if (auto e = plan::check(s)) Rcpp::stop(e->message());
  }
  const std::vector<Row> rows = run_captured(scenarios.size(), [&](std::size_t i) {
    plan::Outcome outcome = plan::run(scenarios[i]);
    Row row;
    if (sim.replicates > 0) check_by_simulation(scenarios[i], outcome, sim, row);
    row.cells = plan::make_row(scenarios[i], outcome);
    return row;
  });
  return columns_of(rows, sim.replicates > 0);
}

// The points of curves over "cases" or "ror", curve by curve in axis order:
// one curve per value of `series` (ROR^tb values over cases; over ror, cases
// for power curves or target powers for size curves).
// [[Rcpp::export]]
Rcpp::List curve_rows(const std::string& mode, const std::string& over, double from, double to,
                      double points, const Rcpp::NumericVector& series, double gene_prevalence,
                      double controls_per_case, double alpha, const Rcpp::List& design) {
  plan::CurveQuery query;
  query.base = base_scenario(mode, design);
  query.base.design.gene_prevalence = gene_prevalence;
  query.base.design.controls_per_case = controls_per_case;
  query.base.settings.alpha = alpha;
  if (over != "cases" && over != "ror") {
    refuse("over", values::quoted(over), "must be \"cases\" or \"ror\"");
  }
  query.over = over == "cases" ? plan::Axis::cases : plan::Axis::ror;
  query.from = from;
  query.to = to;
  query.points = whole_of(points, "points", "must be from 2 to 1000");
  query.series.assign(series.begin(), series.end());
  if (auto e = plan::check(query)) Rcpp::stop(e->message());

  const std::vector<plan::CurvePoint> curve = plan::curve_points(query);
  return columns_of(run_captured(curve.size(), [&](std::size_t i) {
    return Row{plan::make_row(curve[i].scenario, plan::run(curve[i].scenario)), {}};
  }), false);
}

// The seed the simulation library (and the command line) start from when none
// is given.
// [[Rcpp::export]]
double default_seed() { return static_cast<double>(simulate::kDefaultSeed); }

// Carrier prevalence under Hardy-Weinberg equilibrium, element by element.
// [[Rcpp::export]]
Rcpp::NumericVector carrier_prevalence_of(const Rcpp::NumericVector& allele_frequency,
                                          const std::string& model) {
  const auto genetic_model = plan::parse_genetic_model(model);
  if (!genetic_model) {
    refuse("model", values::quoted(model), "must be \"dominant\" or \"recessive\"");
  }
  Rcpp::NumericVector prevalence(allele_frequency.size());
  for (R_xlen_t i = 0; i < allele_frequency.size(); ++i) {
    if (auto e = plan::check_allele_frequency(allele_frequency[i])) Rcpp::stop(e->message());
    prevalence[i] = plan::carrier_prevalence(allele_frequency[i], *genetic_model);
  }
  return prevalence;
}
