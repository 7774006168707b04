#ifndef GXE_PLAN_REQUEST_H_
#define GXE_PLAN_REQUEST_H_

// A request: a design whose inputs may be lists, as a front end gathers it
// (the command line's options, a batch row, an R call), and its expansion
// into the calculations it asks for. Every front end builds one and expands
// it here, so that the order of the rows, the either/or rules, the defaults,
// the carrier prevalence of an allele and the limit on the number of rows
// are the same everywhere.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/columns.h"
#include "plan/plan.h"

namespace gxe::plan {

// An input not given is empty (a list) or nothing; it then takes its
// column's default, or is refused when it has none and is needed.
struct Request {
  Mode mode = Mode::power;
  std::vector<double> cases;  // power and detect: the numbers of cases
  std::vector<double> power;  // size and detect: the target powers
  std::vector<double> ror;    // power and size only
  std::optional<Direction> direction;  // detect only
  // The gene: its carrier prevalences among controls, or the frequencies of
  // its risk allele with the genetic model.
  std::vector<double> gene_prevalence;
  std::vector<double> allele_frequency;
  std::optional<GeneticModel> genetic_model;
  // A range of the allele frequency to search, with the genetic model: the
  // range of the carrier prevalences it gives (in place of
  // ranges.gene_prevalence).
  std::optional<Range> allele_frequency_range;
  std::vector<double> controls_per_case;
  std::vector<double> alpha;
  // The exposure: equally frequent categories, or their prevalences.
  std::optional<double> quantiles;
  std::vector<double> exposure_prevalences;
  std::optional<double> or_e;
  std::optional<double> or_g;
  std::optional<double> or_ge;  // OR^tb(G,E) among controls
  Ranges ranges;
  std::optional<SearchMethod> search;
  std::optional<Test> test;
};

// Most rows one request may ask for: lists multiply, and a few long lists
// would otherwise ask for millions of searches.
inline constexpr std::size_t kMaxRows = 10000;

// The inputs whose lists make the rows, slowest first: every combination is
// a row, the last list changing fastest, each list in the order given.
inline constexpr std::array<Column, 5> kListOrder = {
    Column::alpha, Column::gene_prevalence, Column::controls_per_case, Column::ror,
    Column::cases,  // or Column::power in a size request
};

// A detect request's lists: the target powers take the place of ror, and
// the numbers of cases still change fastest. Power is found from ROR^tb and
// cases; detect turns that round and finds ROR^tb from the target power and
// cases, so a table of either reads the same way.
inline constexpr std::array<Column, 5> kDetectListOrder = {
    Column::alpha, Column::gene_prevalence, Column::controls_per_case, Column::power,
    Column::cases,
};

// An error of a request: which item of its input's list is at fault, when
// the input is a list of more than one.
struct RequestError {
  Error error;
  std::optional<std::size_t> item;  // 0-based
};

struct Expansion {
  std::vector<Scenario> scenarios;
  std::optional<RequestError> error;
  bool ok() const { return !error.has_value(); }
};

// The calculations of `request`, each passing check(), in row order; or the
// first input at fault. Refused, naming the input: a number of cases in a
// size request or a target power in a power request, or neither given; a
// detect request without both, or with ror; a direction outside a detect
// request; both forms of the exposure or neither (quantiles must then be a
// whole number from 2 to 100); both forms of the gene or neither, an allele
// frequency without its genetic model or a model without frequencies, a
// frequency outside (0, 1) or one whose carrier prevalence is 0 or 1 in
// double precision; no ror (power and size); more than kMaxRows rows; and
// the first row, in row order, that check() refuses. An allele frequency's
// errors name allele_frequency, whatever the prevalence check says.
Expansion expand(const Request& request);

// The default of an input column as a number (1 for controls_per_case, or_e
// and or_g, 0.05 for alpha).
double default_number(Column c);

// A text column's value, or the error naming it: "is not one of global, centre".
std::optional<Error> choice_error(Column c, std::string_view text);

}  // namespace gxe::plan

#endif  // GXE_PLAN_REQUEST_H_
