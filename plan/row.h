#ifndef GXE_PLAN_ROW_H_
#define GXE_PLAN_ROW_H_

// One calculation as a row of typed values: the scenario's inputs first,
// then the results. Every front end that writes rows (csv and json on the
// command line, batch files, the R package's data.frames) takes its column
// names and values from here, so they all say the same thing.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "plan/columns.h"
#include "plan/plan.h"

namespace gxe::plan {

// A value: empty (the input does not apply, or there is no result), a
// number, a flag, a text, or a list of numbers (the exposure prevalences).
using Cell = std::variant<std::monostate, double, bool, std::string, std::vector<double>>;

struct Row {
  std::array<Cell, kColumnCount> cells;                   // mode to error
  std::array<Cell, kAssociationColumnCount> association;  // or_ge onwards
  const Cell& operator[](Column c) const { return const_cast<Row&>(*this)[c]; }
  Cell& operator[](Column c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kColumnCount ? cells[i] : association[i - static_cast<std::size_t>(Column::or_ge)];
  }
};

// The row of a calculation. Inputs that the mode does not use (cases in a
// sample-size calculation, the target power in a power calculation, ror in a
// detect calculation, direction outside one) and the form of the exposure
// not given are empty. Without a result the result columns are empty,
// except the conversion's, which are filled whenever the conversion ran for
// the calculation's own ROR^tb; the error column holds the error's message.
Row make_row(const Scenario& scenario, const Outcome& outcome);

// --- The simulation check ---------------------------------------------------------

// What a simulation of the real Wald and likelihood-ratio tests found at one
// of the two extremes.
struct SimulatedPoint {
  double power = 0.0;       // share of simulated studies whose Wald test rejected
  double se = 0.0;          // its Monte-Carlo standard error
  double failed = 0.0;      // studies whose fit failed (separated or not converged)
  double wald_power = 0.0;  // the Wald approximation with the alternative's variance
  double lr_power = 0.0;    // share whose likelihood-ratio test rejected
  double lr_se = 0.0;       // its Monte-Carlo standard error
};

// The sample size by simulation: the fewest whole cases at which the
// simulated power of the test at the least favourable point reaches the
// target, with c times as many controls rounded up (plan/simulation.h).
struct SimulatedSize {
  double cases = 0.0;
  // The 95 % interval of `cases` from the Monte-Carlo error, in whole cases.
  double low = 0.0;
  double high = 0.0;
  double power = 0.0;   // the simulated power at `cases`
  double se = 0.0;      // its Monte-Carlo standard error
  double failed = 0.0;  // studies whose fit failed at `cases`
  int trials = 0;       // numbers of cases simulated in the search
  bool lr = false;      // the likelihood-ratio test's power (else the Wald test's)
};

struct Simulation {
  double replicates = 0.0;  // simulated studies at each point
  SimulatedPoint least;     // at the least favourable point
  SimulatedPoint most;      // at the most favourable point
  std::optional<SimulatedSize> size{};  // when the size was sought by simulation
};

// The values of the simulation check's columns (sim_replicates to
// sim_cases_high), in order; all empty without a simulation, the simulated
// size's without one. The sim_unreliable flags are `unreliable` at each
// point.
std::array<Cell, kSimulationColumnCount> simulation_cells(const Simulation* simulation);

// The largest share of simulated studies whose fit may fail for the
// simulated power to mean something. A failed fit (a separated table: a cell
// of the 2 x 2k table empty in a way that sends the interaction estimate to
// infinity) never rejects, so when many fail the share of rejections
// measures how often the table is separated, not the power of the test: the
// design is too sparse for the Wald test.
inline constexpr double kMaxFailedShare = 0.10;
bool unreliable(const SimulatedPoint& simulated, double replicates);

// The simulated power differs from the asymptotic one by more than three
// Monte-Carlo standard errors: the asymptotic answer is off for this design.
// The standard error is the larger of the simulation's own and the one the
// asymptotic power would have, so that a simulated power of exactly 0 or 1
// (standard error 0) is not taken as a disagreement by itself. Never true at
// an unreliable point, where the simulated power is no guide.
inline constexpr double kSimulationDisagreement = 3.0;
bool disagrees(double asymptotic_power, const SimulatedPoint& simulated, double replicates);

// The point with the simulated power of the test whose power the formula
// computes in `power` and `se`: the likelihood-ratio test's for Test::lr,
// the Wald test's (as simulated) for the other two. What the formula is to
// be compared with.
SimulatedPoint as_tested(const SimulatedPoint& simulated, Test test);

// A cell as plain text: numbers in shortest round-trip form, flags as
// "true"/"false", a list joined by ';', empty as "".
std::string cell_text(const Cell& cell);

// A field as RFC 4180 writes it: in double quotes, with quotes doubled, when
// it holds a comma, a quote or a line break; as it is otherwise.
std::string csv_field(std::string_view text);

// --- Rows as text ------------------------------------------------------------------

// The names of the columns rows are written under, in order: `leading`
// (a curve's axis and curve columns), the row's columns, the simulation
// check's when `simulated`, the association's and the test's, then
// `carried` (columns of an input file passed through).
std::vector<std::string> row_names(bool simulated, std::span<const std::string> leading = {},
                                   std::span<const std::string> carried = {});

// The texts of a row's cells under row_names (cell_text): one per leading
// cell, the row's, the check's (empty without `simulation`) when
// `simulated`, then the carried texts as given.
std::vector<std::string> row_texts(const Row& row, const Simulation* simulation, bool simulated,
                                   std::span<const Cell> leading = {},
                                   std::span<const std::string_view> carried = {});

// One csv record: the fields as csv_field writes them, separated by commas
// and ended by CRLF.
std::string csv_record(std::span<const std::string> fields);

}  // namespace gxe::plan

#endif  // GXE_PLAN_ROW_H_
