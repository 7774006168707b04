// The bridge between R and the planning library. R hands over the arguments
// of a call as given (one named list, NULL for an argument not given), after
// its own checks of their types; here they become the library's request,
// whose expansion lays out the rows, applies every rule and default and
// refuses a wrong input before anything is calculated. The answers come back
// as a list of columns named and typed as the library's column table says,
// with the table and the notes the command line prints for each row.
//
// R's rules for compiled code hold here: nothing is written to the process's
// standard streams and the process is never ended. The engine's console is
// bound to string streams for the length of each call; the planning library
// does not print, so anything found in them afterwards, or an end of the
// program requested by the engine, is turned into an R error rather than
// lost.

#include <Rcpp.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/console.h"
#include "plan/columns.h"
#include "plan/curve.h"
#include "plan/ordered_work.h"
#include "plan/plan.h"
#include "plan/report.h"
#include "plan/request.h"
#include "plan/row.h"
#include "plan/simulation.h"
#include "values/fault.h"
#include "values/number.h"

namespace {

namespace plan = gxe::plan;
namespace console = gxe::console;
namespace values = gxe::values;
using plan::Column;

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
// Errors, as R shows them: "search = \"x\": is not one of global, centre",
// an item of a vector by its place, "cases[2] = -1: must be greater than 0",
// and the other inputs a rule names by their argument names, which are the
// column names.

std::string r_message(const plan::RequestError& e) {
  const plan::Error& error = e.error;
  if (!e.item || error.value.empty()) return error.message();
  return error.input + "[" + std::to_string(*e.item + 1) + "] = " + error.value + ": " +
         error.plain_rule();
}

[[noreturn]] void refuse(const plan::Error& error) { Rcpp::stop(error.message()); }

// ---------------------------------------------------------------------------
// The request, from R's arguments. R has checked their types: numeric
// vectors without NA, one number where the request holds one, a range of one
// or two numbers, one text.

// The arguments that are lists of the request, and those that are one number.
struct ListArgument {
  Column column;
  std::vector<double> plan::Request::*list;
};
struct NumberArgument {
  Column column;
  std::optional<double> plan::Request::*number;
};

constexpr ListArgument kListArguments[] = {
    {Column::cases, &plan::Request::cases},
    {Column::power, &plan::Request::power},
    {Column::ror, &plan::Request::ror},
    {Column::gene_prevalence, &plan::Request::gene_prevalence},
    {Column::allele_frequency, &plan::Request::allele_frequency},
    {Column::controls_per_case, &plan::Request::controls_per_case},
    {Column::alpha, &plan::Request::alpha},
    {Column::exposure_prevalences, &plan::Request::exposure_prevalences},
};
constexpr NumberArgument kNumberArguments[] = {
    {Column::quantiles, &plan::Request::quantiles},
    {Column::or_e, &plan::Request::or_e},
    {Column::or_g, &plan::Request::or_g},
    {Column::or_ge, &plan::Request::or_ge},
};

// A text argument that must be one of its column's choices.
template <class T, class Parse>
T choice_of(Column c, SEXP value, Parse parse) {
  const std::string text = Rcpp::as<std::string>(value);
  if (const std::optional<plan::Error> e = plan::choice_error(c, text)) refuse(*e);
  return *parse(text);
}

// One number, or two as low and high; a single value fixes the odds ratio.
plan::Range range_of(SEXP value) {
  const std::vector<double> r = Rcpp::as<std::vector<double>>(value);
  return {r.front(), r.back()};
}

// The request of `args` in `mode` and, when `settings` is given, the
// settings of the calculation among them (simulate, seed, threads, size_by).
plan::Request request_of(plan::Mode mode, const Rcpp::List& args,
                         plan::SimulationSettings* settings = nullptr) {
  plan::Request r;
  r.mode = mode;
  if (args.size() == 0) return r;
  const Rcpp::CharacterVector names = args.names();
  for (R_xlen_t i = 0; i < args.size(); ++i) {
    const std::string name = Rcpp::as<std::string>(names[i]);
    SEXP value = args[i];
    if (Rf_isNull(value)) continue;
    bool known = false;
    for (const ListArgument& a : kListArguments) {
      if (name != plan::column_name(a.column)) continue;
      r.*a.list = Rcpp::as<std::vector<double>>(value);
      known = true;
    }
    for (const NumberArgument& a : kNumberArguments) {
      if (name != plan::column_name(a.column)) continue;
      r.*a.number = Rcpp::as<double>(value);
      known = true;
    }
    if (known) continue;
    if (name == "or_e_range") {
      r.ranges.or_e = range_of(value);
    } else if (name == "or_g_range") {
      r.ranges.or_g = range_of(value);
    } else if (name == "or_ge_range") {
      r.ranges.or_ge = range_of(value);
    } else if (name == "gene_prevalence_range") {
      r.ranges.gene_prevalence = range_of(value);
    } else if (name == "allele_frequency_range") {
      r.allele_frequency_range = range_of(value);
    } else if (name == plan::column_name(Column::search)) {
      r.search = choice_of<plan::SearchMethod>(Column::search, value, plan::parse_search_method);
    } else if (name == plan::column_name(Column::test)) {
      r.test = choice_of<plan::Test>(Column::test, value, plan::parse_test);
    } else if (name == plan::column_name(Column::direction)) {
      r.direction = choice_of<plan::Direction>(Column::direction, value, plan::parse_direction);
    } else if (name == plan::column_name(Column::genetic_model)) {
      r.genetic_model =
          choice_of<plan::GeneticModel>(Column::genetic_model, value, plan::parse_genetic_model);
    } else if (settings != nullptr && name == "simulate") {
      settings->replicates = Rcpp::as<double>(value);
    } else if (settings != nullptr && name == "seed") {
      settings->seed = Rcpp::as<double>(value);
    } else if (settings != nullptr && name == "threads") {
      settings->threads = Rcpp::as<double>(value);
    } else if (settings != nullptr && name == "size_by") {
      const std::string text = Rcpp::as<std::string>(value);
      const std::optional<plan::SizeBy> size_by = plan::parse_size_by(text);
      if (!size_by) {
        refuse(plan::Error(plan::Error::Kind::invalid_input, name, values::quoted(text),
                           plan::choice_rule(plan::kSizeByNames)));
      }
      settings->size_by = *size_by;
    } else {
      Rcpp::stop("internal error: no design argument " + name);
    }
  }
  return r;
}

// ---------------------------------------------------------------------------
// Rows. The columns and their values are the planning library's rows, the
// ones the command line writes; each column becomes an R vector of its
// kind in the column table (numbers and counts as numbers, flags as
// logicals, texts and lists as texts), an empty cell NA.

// A calculation's row: the planning library's cells, then, with a
// simulation check, the cells of its columns, and the table the command
// line prints for it with its notes.
struct Row {
  plan::Row cells;
  std::array<plan::Cell, plan::kSimulationColumnCount> simulation;
  std::string report;
  std::vector<std::string> notes;
};

// The cell of a column: the row's own, or the simulation's.
const plan::Cell& cell_at(const Row& row, Column c) {
  const auto i = static_cast<std::size_t>(c);
  const auto first_simulated = static_cast<std::size_t>(Column::sim_replicates);
  if (i >= first_simulated && i < first_simulated + plan::kSimulationColumnCount) {
    return row.simulation[i - first_simulated];
  }
  return row.cells[c];
}

[[noreturn]] void wrong_kind(std::string_view column) {
  Rcpp::stop("internal error: an unexpected value in column " + std::string(column));
}

// One column of R vectors of type V from the i-th cells, each holding a T
// or empty (NA).
template <class V, class T>
V values_of(const std::vector<Row>& rows, Column c) {
  V v(static_cast<R_xlen_t>(rows.size()), V::get_na());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const plan::Cell& cell = cell_at(rows[r], c);
    if (auto x = std::get_if<T>(&cell)) {
      v[static_cast<R_xlen_t>(r)] = *x;
    } else if (!std::holds_alternative<std::monostate>(cell)) {
      wrong_kind(plan::column_name(c));
    }
  }
  return v;
}

SEXP column_of(const std::vector<Row>& rows, Column c) {
  switch (plan::column(c).kind) {
    case plan::ColumnKind::number:
    case plan::ColumnKind::whole_number:
      return values_of<Rcpp::NumericVector, double>(rows, c);
    case plan::ColumnKind::flag:
      return values_of<Rcpp::LogicalVector, bool>(rows, c);
    case plan::ColumnKind::text:
    case plan::ColumnKind::numbers:
      break;
  }
  Rcpp::CharacterVector v(static_cast<R_xlen_t>(rows.size()), NA_STRING);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const plan::Cell& cell = cell_at(rows[r], c);
    if (std::holds_alternative<std::string>(cell) ||
        std::holds_alternative<std::vector<double>>(cell)) {
      v[static_cast<R_xlen_t>(r)] = plan::cell_text(cell);
    } else if (!std::holds_alternative<std::monostate>(cell)) {
      wrong_kind(plan::column_name(c));
    }
  }
  return v;
}

// The rows as R columns, named and ordered as the command line writes them:
// the row's columns, the simulation's when there is one, then those after it.
Rcpp::List columns_of(const std::vector<Row>& rows, bool simulated) {
  std::vector<Column> order;
  for (std::size_t i = 0; i < plan::kColumnCount; ++i) order.push_back(static_cast<Column>(i));
  for (std::size_t i = 0; simulated && i < plan::kSimulationColumnCount; ++i) {
    order.push_back(static_cast<Column>(static_cast<std::size_t>(Column::sim_replicates) + i));
  }
  for (std::size_t i = 0; i < plan::kAssociationColumnCount; ++i) {
    order.push_back(plan::association_column(i));
  }
  Rcpp::List columns(order.size());
  Rcpp::CharacterVector names(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    names[i] = std::string(plan::column_name(order[i]));
    columns[i] = column_of(rows, order[i]);
  }
  columns.attr("names") = names;
  return columns;
}

// The row of an answer, with its table and notes.
Row row_of(const plan::Scenario& s, const plan::Answer& a) {
  const plan::Simulation* simulation = a.simulation ? &*a.simulation : nullptr;
  Row row{plan::make_row(s, a.outcome), plan::simulation_cells(simulation),
          plan::report(s, a.outcome, simulation), {}};
  for (const plan::Note& note : plan::notes(s, a.outcome, simulation)) {
    row.notes.push_back(note.text);
  }
  return row;
}

// Answers the scenarios with the console bound to strings; what the engine
// would have printed, or its request to end the program, becomes an R error.
// The rows are calculated on `plan::row_threads(settings)` threads and kept
// in the order of the scenarios. R is not thread-safe: a calculation on a
// worker thread touches nothing of R (it reads its scenario and writes its
// answer), and every row is built, checked and stored here, on R's thread.
// An interrupt from R stops the calculations between rows and, through the
// progress of a simulation check (whose rows are calculated one at a time,
// on this thread), within one.
std::vector<Row> answer_all(const std::vector<plan::Scenario>& scenarios,
                            const plan::SimulationSettings& settings) {
  std::vector<Row> rows;
  rows.reserve(scenarios.size());
  const ConsoleCapture capture;
  // Set when the call stops: the rows still in flight are then dropped.
  bool stopped = false;
  const int threads = plan::row_threads(settings);
  const plan::Progress progress =
      threads == 1 ? plan::Progress([](long, long) { Rcpp::checkUserInterrupt(); })
                   : plan::Progress();
  plan::SharedSearches shared;  // the rows of a design share its search
  // Last, so that it is ended first: its end waits for the rows in flight,
  // which use what is above.
  plan::OrderedWork work(threads);
  try {
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
      Rcpp::checkUserInterrupt();
      auto answer = std::make_shared<plan::Answer>();
      const auto calculate = [&scenarios, &settings, &progress, &shared, i, answer] {
        *answer = plan::answer(scenarios[i], settings, progress, &shared);
      };
      const auto finish = [&, i, answer] {
        if (stopped) return;
        rows.push_back(row_of(scenarios[i], *answer));
        if (const std::string text = capture.written(); !text.empty()) {
          Rcpp::stop("the engine wrote to its console: " + text);
        }
      };
      work.add(calculate, finish);
    }
    work.finish_all();
  } catch (const console::ProgramEnd& end) {
    stopped = true;
    Rcpp::stop("the engine stopped (status " + std::to_string(end.status) +
               "): " + capture.written());
  } catch (...) {
    stopped = true;
    throw;
  }
  return rows;
}

}  // namespace

// Power ("power"), sample-size ("size") or detectable-interaction ("detect")
// calculations: one row per combination of the vectors in `args`, the
// arguments of the R call as given
// (NULL when not given), in the library's row order. Returns the columns,
// and for each row the table the command line prints and its notes.
// [[Rcpp::export]]
Rcpp::List calculate_rows(const std::string& mode, const Rcpp::List& args) {
  const std::optional<plan::Mode> m = plan::parse_mode(mode);
  if (!m) Rcpp::stop("internal error: no calculation " + mode);
  plan::SimulationSettings settings;
  const plan::Request request = request_of(*m, args, &settings);
  if (const std::optional<plan::Error> e = plan::check(settings)) refuse(*e);
  const plan::Expansion expansion = plan::expand(request);
  if (!expansion.ok()) Rcpp::stop(r_message(*expansion.error));

  const std::vector<Row> rows = answer_all(expansion.scenarios, settings);
  Rcpp::CharacterVector reports(static_cast<R_xlen_t>(rows.size()));
  Rcpp::List notes(static_cast<R_xlen_t>(rows.size()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    reports[static_cast<R_xlen_t>(i)] = rows[i].report;
    notes[static_cast<R_xlen_t>(i)] = Rcpp::wrap(rows[i].notes);
  }
  return Rcpp::List::create(Rcpp::Named("columns") = columns_of(rows, settings.replicates > 0),
                            Rcpp::Named("reports") = reports, Rcpp::Named("notes") = notes);
}

// The points of curves along `over` ("cases" or "ror") from `from` to `to`,
// curve by curve in axis order, calculated on `threads` threads; `points`
// NULL for the library's number; `quantity` NULL (power, or size when
// `power` is given) or the mode's name ("detect": the detectable ROR^tb over
// cases); `args` the design as given, the vector that names the curves
// among them.
// [[Rcpp::export]]
Rcpp::List curve_rows(const std::string& over, double from, double to, SEXP points,
                      double threads, SEXP quantity, const Rcpp::List& args) {
  if (const std::optional<plan::Error> e = plan::choice_error(Column::over, over)) refuse(*e);
  plan::SimulationSettings settings;
  settings.threads = threads;
  if (const std::optional<plan::Error> e = plan::check(settings)) refuse(*e);
  const double count =
      Rf_isNull(points) ? plan::CurveQuery{}.points : Rcpp::as<double>(points);
  std::optional<plan::Mode> mode;
  if (!Rf_isNull(quantity)) {
    std::optional<plan::Error> e = plan::choice_error(Column::mode, Rcpp::as<std::string>(quantity));
    if (e) {
      e->input = "quantity";
      refuse(*e);
    }
    mode = plan::parse_mode(Rcpp::as<std::string>(quantity));
  }
  const plan::CurveExpansion curve =
      plan::expand_curve(request_of(plan::Mode::power, args),
                         over == plan::column(Column::over).choices[0] ? plan::Axis::cases
                                                                       : plan::Axis::ror,
                         from, to, count, mode);
  if (!curve.ok()) Rcpp::stop(r_message(*curve.error));

  std::vector<plan::Scenario> scenarios;
  for (const plan::CurvePoint& p : plan::curve_points(curve.query)) {
    scenarios.push_back(p.scenario);
  }
  return columns_of(answer_all(scenarios, settings), false);
}

// The columns of the inputs that vectors make rows of, in the order of the
// columns: those that can differ between the rows of one call.
// [[Rcpp::export]]
Rcpp::CharacterVector list_columns() {
  Rcpp::CharacterVector names;
  for (std::size_t i = 0; i < plan::kInputColumns; ++i) {
    const auto c = static_cast<Column>(i);
    if (c == Column::power ||
        std::find(plan::kListOrder.begin(), plan::kListOrder.end(), c) != plan::kListOrder.end()) {
      names.push_back(std::string(plan::row_column_name(i)));
    }
  }
  return names;
}

// Carrier prevalence under Hardy-Weinberg equilibrium, element by element;
// `model` is R's name for the genetic model.
// [[Rcpp::export]]
Rcpp::NumericVector carrier_prevalence_of(const Rcpp::NumericVector& allele_frequency,
                                          const std::string& model) {
  if (std::optional<plan::Error> e = plan::choice_error(Column::genetic_model, model)) {
    e->input = "model";
    refuse(*e);
  }
  const plan::GeneticModel genetic_model = *plan::parse_genetic_model(model);
  Rcpp::NumericVector prevalence(allele_frequency.size());
  for (R_xlen_t i = 0; i < allele_frequency.size(); ++i) {
    if (auto fault = values::check_probability(plan::column_name(Column::allele_frequency),
                                                allele_frequency[i])) {
      refuse(plan::Error(plan::Error::Kind::invalid_input, std::move(*fault)));
    }
    prevalence[i] = plan::carrier_prevalence(allele_frequency[i], genetic_model);
  }
  return prevalence;
}
