#ifndef GXE_PLAN_PLAN_H_
#define GXE_PLAN_PLAN_H_

// The planning library: power and sample size of a case-control study of
// gene-environment interaction as values in, results or errors out. Every
// front end that is not the interactive dialogue (the command line, batch
// files, curves, the R package) calls these functions.
//
// A calculation is one power or sample-size calculation of the engine: the
// design is stored in model records of the call's own, the box of the two
// nuisance odds ratios of the alternative is searched with the
// bound-constrained minimizer and the exact gradients, and the least and the
// most favourable points are reported. Nothing is printed and the process is
// never ended: what the dialogue would print (the conversion's solver
// problem, the stop on a number of cases that is not positive) comes back as
// a field of the result or as an error.
//
// Thread-safe: the library has no global state. Every call works on records
// it makes for itself and reads nothing but its arguments, so calls may run
// at the same time on different threads (a batch or a curve spread over the
// cores), and an interactive dialogue in the same process never sees them.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/tests.h"
#include "plan/shared_searches.h"
#include "values/fault.h"

namespace gxe::plan {

// --- Inputs -----------------------------------------------------------------

// The study design: the control population, the null model and the
// interaction under the alternative.
struct Design {
  // The exposure in k ordered categories, either equally frequent among
  // controls (quantiles = k) or with the k given prevalences among controls
  // (exposure_prevalences, summing to 1). Exactly one of the two is given.
  int quantiles = 0;
  std::vector<double> exposure_prevalences;
  double gene_prevalence = 0.0;    // carrier prevalence among controls, in (0, 1)
  double controls_per_case = 1.0;  // c > 0
  double or_e = 1.0;               // OR^tb(E|G=0) under the null, > 0
  double or_g = 1.0;               // OR(G|E=0) under the null, > 0
  double ror = 1.0;                // ROR^tb under the alternative, > 0
  // OR^tb(G,E) among controls, > 0: the association of gene and exposure
  // (1: independent). The control distribution is then the log-linear one
  // with the margins above, under both hypotheses.
  double or_ge = 1.0;

  // k, from whichever form the exposure was given in.
  int categories() const;
  // The k prevalences among controls, from whichever form (1/k each for
  // quantiles).
  std::vector<double> prevalences() const;
};

// The number k of exposure categories a design may have.
using values::kMaxCategories;
using values::kMinCategories;

// A range of an odds ratio, low <= high, both positive and finite; equal
// bounds fix the odds ratio.
struct Range {
  double low = 1.0;
  double high = 1.0;
};

// The alternative's ranges of the two nuisance odds ratios. A range that is
// not given is the single point of the conditional odds ratio that the
// marginal-to-conditional conversion gives (the odds ratios under the null
// read as marginal ones).
struct Ranges {
  std::optional<Range> or_e;  // OR^tb(E|G=0)
  std::optional<Range> or_g;  // OR(G|E=0)
  // Searched besides, when given (both ranges of the odds ratios must then
  // be given too): OR^tb(G,E) among controls, and the carrier prevalence
  // among controls (0 < low <= high < 1). Not given: the design's value.
  std::optional<Range> or_ge{};
  std::optional<Range> gene_prevalence{};
};

enum class SearchMethod {
  // From the best points of a grid over the box, each refined by the
  // minimizer with its default tolerances: the true extremes of the box.
  global,
  // One local search from the centre of the box, as the dialogue does it
  // (relative function tolerance 1e-6 for the power searches).
  centre,
};

// The test whose power is computed, all three two-sided at level alpha on
// the per-step log interaction beg, for n cases:
//   null_variance: the classical formula, the critical value taken from the
//     null's variance and the spread from the alternative's,
//     Phi((sqrt(n) |beg| - z sqrt(varh0)) / sqrt(varh1)) (the dialogue's);
//   wald: the Wald test as fitted software runs it, its variance estimated at
//     the fitted (alternative) values, both tails:
//     Phi(t - z) + Phi(-t - z), t = sqrt(n) |beg| / sqrt(varh1);
//   lr: the likelihood-ratio test by its expected noncentrality n d, d the
//     expected deviance difference per case between the model without and
//     with the interaction fitted to the alternative's table:
//     P(chi2_1(n d) > z^2) = Phi(t - z) + Phi(-t - z), t = sqrt(n d).
using Test = model::Test;

struct Settings {
  double alpha = 0.05;  // two-sided level, in (0, 1)
  SearchMethod search = SearchMethod::global;
  Test test = Test::null_variance;
};

// power: the power for a number of cases; size: the study size for a target
// power; detect: the ROR^tb that a number of cases detects with a target
// power (plan/detect.h).
enum class Mode { power, size, detect };

// The side of 1 on which a detectable ROR^tb is sought: above 1 (a risk
// that carriers' exposure raises) or below 1 (a protective interaction).
enum class Direction { risk, protective };

// One calculation: a power calculation for `cases` cases, a sample-size
// calculation for `target_power`, or the detectable ROR^tb for both (the
// design's ror is then not used; `direction` is only used there). The value
// the mode does not use is ignored.
struct Scenario {
  Mode mode = Mode::power;
  Design design;
  double cases = 0.0;
  double target_power = 0.0;
  Ranges ranges;
  Settings settings;
  Direction direction = Direction::risk;
};

// --- Results ----------------------------------------------------------------

// One extreme of the power over the box.
struct Extreme {
  double power = 0.0;
  double or_g = 0.0;         // OR(G|E=0) where it occurs
  double or_e = 0.0;         // OR^tb(E|G=0) where it occurs
  bool small_cells = false;  // some expected case count there is below 5
  double or_ge = 1.0;            // OR^tb(G,E) among controls where it occurs
  double gene_prevalence = 0.0;  // the carrier prevalence where it occurs
};

// Work of one minimizer run, as the minimizer counted it.
struct SearchRun {
  int objective_calls = 0;
  int gradient_calls = 0;
  int return_code = 0;  // the minimizer's verdict (3 to 6: converged)
};

struct Result {
  // The study: in a power calculation the cases given and c times as many
  // controls (neither need be whole); in a sample-size calculation whole
  // numbers of both, the controls c times the cases rounded up
  // (whole_controls). The size is their sum.
  double size = 0.0;
  double n_cases = 0.0;
  double n_controls = 0.0;
  // The least favourable point (smallest power; in a sample-size calculation
  // the point that needs the most subjects, where the size was fixed) and the
  // most favourable one (largest power at that size).
  Extreme least;
  Extreme most;
  // The power varies by less than kFlatPower over the box: the location of
  // the extremes is then not meaningful.
  bool flat = false;
  // The marginal-to-conditional conversion: the conditional OR^tb(E|G=0) and
  // OR(G|E=0) that keep the marginal odds ratios at the null's values, and
  // the nonlinear solver's verdict (1 = converged).
  double or_e_conditional = 0.0;
  double or_g_conditional = 0.0;
  int solver_info = 0;
  // The conversion converged to usable odds ratios (finite and positive).
  bool converted() const;
  // The box that was searched (the ranges given, or the conversion's point).
  Range or_e_range;
  Range or_g_range;
  std::vector<SearchRun> searches;
  // A detect calculation: the ROR^tb found, at which the extremes above
  // (power_over's) were computed; 0 in the other modes.
  double ror_detectable = 0.0;
};

inline constexpr double kFlatPower = 1e-4;

// Why a calculation has no result: the input at fault by its column name
// ("gene_prevalence", "or_e_low", ...; empty when no single input is), its
// value as read (shortest round-trip form) and the rule, what is allowed or
// why there is no answer. message() gives "gene_prevalence = 1.5: must be
// greater than 0 and less than 1", or the rule alone.
struct Error : values::Fault {
  enum class Kind {
    invalid_input,  // a value out of its range: wrong use
    no_answer,      // valid inputs for which the quantity does not exist
  };
  Kind kind = Kind::invalid_input;

  Error() = default;
  Error(Kind kind, std::string input, std::string value, std::string rule)
      : values::Fault{std::move(input), std::move(value), std::move(rule)}, kind(kind) {}
  Error(Kind kind, values::Fault fault) : values::Fault(std::move(fault)), kind(kind) {}
};

// The result of a calculation, or why there is none. When there is an error
// of kind no_answer, the conversion fields of `result` are still filled.
struct Outcome {
  Result result;
  std::optional<Error> error;
  bool ok() const { return !error.has_value(); }
};

// --- Calculations -------------------------------------------------------------

// Least and most favourable power over the box for `cases` cases (and
// c * cases controls). With the global method the design's search is taken
// from `shared` when it holds it, and left there for the next calculation
// of the same design and box; the answer is the same with or without.
Outcome power_over(const Design& design, double cases, const Ranges& ranges,
                   const Settings& settings, SharedSearches* shared = nullptr);

// Study size that reaches `target_power` at the least favourable point of
// the box: the smallest whole number of cases m whose least favourable power,
// as power_over(design, m, ...) computes it, reaches the target, and
// whole_controls(m, c) controls. The extremes are power_over's at m cases
// (m (1 + c) subjects in the model), so feeding m back to power_over gives
// the same least favourable power.
Outcome size_for(const Design& design, double target_power, const Ranges& ranges,
                 const Settings& settings, SharedSearches* shared = nullptr);

// The whole number of controls for `cases` cases at c controls per case:
// c * cases rounded up, where a product that is a whole number up to the
// rounding of double arithmetic (1.1 * 50 = 55.00000000000001) counts as
// that whole number.
double whole_controls(double cases, double controls_per_case);

// Any of the three, as the scenario's mode says (detect: plan/detect.h).
Outcome run(const Scenario& scenario, SharedSearches* shared = nullptr);

// --- Single points -------------------------------------------------------------

// The power for `cases` cases at one point of the alternative (OR(G|E=0) =
// or_g, OR^tb(E|G=0) = or_e), and the number of cases (unrounded) needed
// there for `target_power`; not a number when the inputs fail `check`.
double power_at(const Design& design, double cases, double or_g, double or_e,
                const Settings& settings);
double cases_needed_at(const Design& design, double target_power, double or_g, double or_e,
                       const Settings& settings);

// --- Checks -------------------------------------------------------------------

// The first input of the scenario that is out of its range, if any: every
// number finite; k from 2 to 100; prevalences summing to 1 within 1e-6;
// gene prevalence and target power in (0, 1); c, cases and odds ratios
// positive; ranges with 0 < low <= high; alpha in (0, 1). Errors of kind
// invalid_input only; the calculations run the same checks first.
std::optional<Error> check(const Scenario& scenario);

// Critical value z(1 - alpha/2) of the two-sided test at level alpha.
double critical_value(double alpha);

// --- Carrier prevalence ---------------------------------------------------------

enum class GeneticModel { dominant, recessive };

// Carrier prevalence under Hardy-Weinberg equilibrium for a risk allele of
// frequency q: 1 - (1 - q)^2 = q (2 - q) (dominant) or q^2 (recessive).
double carrier_prevalence(double allele_frequency, GeneticModel model);

// Names as the front ends write them: "global"/"centre", "power"/"size",
// "dominant"/"recessive", "null-variance"/"wald"/"lr", "risk"/"protective";
// the parsers return nothing for any other text.
std::string_view name(SearchMethod method);
std::string_view name(Mode mode);
std::string_view name(Direction direction);
std::optional<Direction> parse_direction(std::string_view text);
std::string_view name(GeneticModel model);
std::string_view name(Test test);
std::optional<Test> parse_test(std::string_view text);
std::optional<SearchMethod> parse_search_method(std::string_view text);
std::optional<Mode> parse_mode(std::string_view text);
std::optional<GeneticModel> parse_genetic_model(std::string_view text);

}  // namespace gxe::plan

#endif  // GXE_PLAN_PLAN_H_
