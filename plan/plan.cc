#include "plan/plan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fmt/format.h>
#include <limits>
#include <memory>
#include <span>
#include <utility>

#include "model/model.h"
#include "model/oreg.h"
#include "model/association_impl.h"
#include "model/power_impl.h"
#include "model/records.h"
#include "plan/columns.h"
#include "plan/detect.h"
#include "search/search.h"
#include "search/searched.h"
#include "values/number.h"

namespace gxe::plan {
namespace {

static_assert(kMaxCategories == model::kMaxCategories);
constexpr double kDefaultAlpha = 0.05;

// ---------------------------------------------------------------------------
// Errors.

Error invalid(Column field, double value, std::string rule) {
  return Error{Error::Kind::invalid_input, std::string(column_name(field)),
               values::format_number(value), std::move(rule)};
}

Error no_answer(std::string rule) {
  return Error{Error::Kind::no_answer, std::string(), std::string(), std::move(rule)};
}

// An input that must be a positive number, or a probability in (0, 1).
struct Rule {
  Column field;
  double value;
  bool probability;
};

// The first input of the list, in its order, that breaks its rule.
std::optional<Error> first_failure(std::span<const Rule> rules) {
  for (const Rule& r : rules) {
    const std::string_view name = column_name(r.field);
    std::optional<values::Fault> fault = r.probability ? values::check_probability(name, r.value)
                                                       : values::check_positive(name, r.value);
    if (fault) return Error(Error::Kind::invalid_input, std::move(*fault));
  }
  return std::nullopt;
}

// The normal routines saturate beyond |z| = 37, where the tail is about
// 6e-300: below that the critical value cannot give back alpha/2.
bool quantile_holds(double alpha) {
  constexpr double kRoundTrip = 1e-6;
  const double z = critical_value(alpha);
  double p = 0.0;
  double q = 0.0;
  double pdf = 0.0;
  model::normp(z, p, q, pdf);
  return std::isfinite(z) && std::fabs(q / (alpha / 2) - 1.0) <= kRoundTrip;
}

std::optional<Error> check_exposure(const Design& d) {
  const bool has_prevalences = !d.exposure_prevalences.empty();
  if (d.quantiles != 0 && has_prevalences) {
    return Error{Error::Kind::invalid_input, std::string(column_name(Column::quantiles)),
                 values::format_number(d.quantiles),
                 "give either the number of quantiles or the exposure prevalences, not both"};
  }
  if (!has_prevalences) {  // the quantiles are the exposure: 0 of them is out of range
    if (d.quantiles < kMinCategories || d.quantiles > model::kMaxCategories) {
      return invalid(Column::quantiles, d.quantiles, "must be a whole number from 2 to 100");
    }
    return std::nullopt;
  }
  if (auto fault = values::check_exposure_prevalences(column_name(Column::exposure_prevalences),
                                                      d.exposure_prevalences)) {
    return Error(Error::Kind::invalid_input, std::move(*fault));
  }
  return std::nullopt;
}

std::optional<Error> check_range(const std::optional<Range>& range, Column low_field,
                                 Column high_field, bool probability = false) {
  if (!range) return std::nullopt;
  const Rule rules[] = {
      {low_field, range->low, probability},
      {high_field, range->high, probability},
  };
  if (auto e = first_failure(rules)) return e;
  if (range->low > range->high) {
    return invalid(low_field, range->low,
                   std::string("must not exceed the upper bound ") + values::format_number(range->high));
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// The calculation.

// Search variables of an odds-ratio box: (ln OR(G|E=0), ln OR^tb(E|G=0)/(k-1)).
void box_of(const Range& or_g, const Range& or_e, int k, search::Box& lower, search::Box& upper) {
  const double steps = k - 1;
  lower = {std::log(or_g.low), std::log(or_e.low) / steps};
  upper = {std::log(or_g.high), std::log(or_e.high) / steps};
}

// Stores the design in the model records as the dialogue does: the null
// (beg = 0) with its odds ratios, the alternative's fixed fields, k.
void store_design(model::Records& rec, const Design& d, int k) {
  rec.cells.ncat = k;
  const std::vector<double> p = d.prevalences();
  model::Hypothesis& null = rec.null;
  std::copy_n(p.begin(), k, null.pexp.begin());
  null.pgen = {1.0 - d.gene_prevalence, d.gene_prevalence};
  null.ccr = d.controls_per_case;
  const double steps = k - 1;
  null.be = std::log(d.or_e) / steps;
  null.bg = std::log(d.or_g);
  null.beg = 0.0;
  model::set_association(null, d.or_ge, k);
  rec.alt.pgen = null.pgen;
  rec.alt.pexp = null.pexp;
  rec.alt.dependence = null.dependence;
  rec.alt.ccr = null.ccr;
  rec.alt.beg = std::log(d.ror) / steps;
}

Extreme extreme_of(double power, const search::Box& x, int ok, int k) {
  return Extreme{power, std::exp(x[0]), std::exp((k - 1) * x[1]), ok == 0};
}

// The conversion and the box: fills the conversion fields and the ranges of
// the result, or says why there is no box to search.
std::optional<Error> convert_and_box(model::Records& rec, const Design& d, const Ranges& ranges,
                                     int k, Result& r) {
  r.solver_info = model::convert_odds_ratios(
      rec, d.or_g, d.or_e, d.ror, k, std::span<const double>(rec.null.pexp.data(), k),
      std::span<const double>(rec.null.pgen), r.or_e_conditional, r.or_g_conditional,
      rec.null.dependence);
  const bool converted = r.converted();
  if ((!ranges.or_e || !ranges.or_g) && !converted) {
    return no_answer("the conversion of the odds ratios to conditional ones did not converge "
                     "(solver info " + std::to_string(r.solver_info) +
                     "), so there is no default range: give both ranges");
  }
  r.or_e_range = ranges.or_e.value_or(Range{r.or_e_conditional, r.or_e_conditional});
  r.or_g_range = ranges.or_g.value_or(Range{r.or_g_conditional, r.or_g_conditional});
  return std::nullopt;
}

search::Options search_options(const Settings& s) {
  return {critical_value(s.alpha),
          s.search == SearchMethod::global ? search::Method::global : search::Method::centre,
          true, s.test};
}

void append_runs(const std::vector<search::SearchCounts>& counts, std::vector<SearchRun>& runs) {
  for (const search::SearchCounts& s : counts) {
    runs.push_back({s.objective_calls, s.gradient_calls, s.return_code});
  }
}

void fill_extremes(const search::Extremes& e, Result& r) {
  r.least = extreme_of(e.pmin, e.xmin, e.okmin, e.k);
  r.most = extreme_of(e.pmax, e.xmax, e.okmax, e.k);
  r.flat = std::fabs(e.pmax - e.pmin) < kFlatPower;
  append_runs(e.searches, r.searches);
}

std::optional<Error> powers_not_numbers(const Result& r) {
  if (std::isfinite(r.least.power) && std::isfinite(r.most.power)) return std::nullopt;
  return no_answer("the power is not a number for this design: the information about the "
                   "interaction is degenerate (an exposure category or genotype without subjects?)");
}

// ---------------------------------------------------------------------------
// Beyond the model's numerical reach: the search stopped at a point where a
// fit cannot be trusted (model::FitCheck), and the error names the input
// that took the calculation there.

// "beyond the model's numerical reach: <where> the information ...".
std::string beyond_reach_rule(const std::string& where) {
  return "beyond the model's numerical reach: " + where +
         " the information about the interaction is so nearly singular that its variance "
         "would keep fewer than 8 significant digits";
}

// A number in a message, to 4 significant digits.
std::string short_number(double x) { return fmt::format("{:.4g}", x); }

// A point of the alternative in search variables, as messages name it:
// "OR(G|E=0) = 1, OR^tb(E|G=0) = 1e+04".
std::string point_text(const search::Box& x, int k) {
  const Extreme at = extreme_of(0.0, x, 1, k);
  return "OR(G|E=0) = " + short_number(at.or_g) + ", OR^tb(E|G=0) = " + short_number(at.or_e);
}

Error beyond_reach(Column field, std::string value, const std::string& where) {
  return Error{Error::Kind::no_answer, std::string(column_name(field)), std::move(value),
               beyond_reach_rule(where)};
}

// The null's fit depends on the design alone. Each of its inputs in turn is
// set to a neutral value (odds ratio 1, carriers half the controls, one
// control per case, equally frequent exposure categories) and the null
// refitted; the input whose neutral value leaves the least cancellation is
// the one named (the first when none helps). Each refit has records of its
// own.
Error null_beyond_reach(const Design& d, int k) {
  std::string prevalences;
  for (double p : d.prevalences()) {
    prevalences += (prevalences.empty() ? "" : ";") + values::format_number(p);
  }
  struct Suspect {
    Column field;
    std::string value;
    void (*neutral)(Design&);
  } const suspects[] = {
      {Column::or_e, values::format_number(d.or_e), [](Design& n) { n.or_e = 1.0; }},
      {Column::or_g, values::format_number(d.or_g), [](Design& n) { n.or_g = 1.0; }},
      {Column::gene_prevalence, values::format_number(d.gene_prevalence),
       [](Design& n) { n.gene_prevalence = 0.5; }},
      {Column::controls_per_case, values::format_number(d.controls_per_case),
       [](Design& n) { n.controls_per_case = 1.0; }},
      {Column::exposure_prevalences, prevalences,
       [](Design& n) { n.quantiles = n.categories(), n.exposure_prevalences.clear(); }},
      {Column::or_ge, values::format_number(d.or_ge), [](Design& n) { n.or_ge = 1.0; }},
  };
  const Suspect* named = &suspects[0];
  double least = INFINITY;
  for (const Suspect& suspect : suspects) {
    Design neutral = d;
    suspect.neutral(neutral);
    model::Records rec;
    store_design(rec, neutral, k);
    model::FitCheck fit;
    model::fs_0(rec, fit);
    const bool usable = std::isfinite(fit.variance) && fit.variance > 0.0;
    if (usable && fit.cancellation < least) {
      named = &suspect;
      least = fit.cancellation;
    }
  }
  return beyond_reach(named->field, named->value, "under the null");
}

// The alternative is out of reach at x. The odds ratio farthest from 1 is
// named. When the centre of the box is out of reach too, that is ror itself
// or the range whose centre is farther out (by its bound farther from 1); a
// range that was not given is the single point of the conversion, which
// moves with ror, so ror is named for it. When the centre is within reach,
// the box reaches too far: of the ranges that are not a single point, the
// one whose odds ratio at x is farther from 1, by its bound nearer to x.
Error alternative_beyond_reach(search::Records& rec, const Scenario& s,
                               const search::OutOfReach& failure,
                               const search::Box& lower, const search::Box& upper, int k,
                               const Result& r) {
  const double steps = k - 1;
  const std::string where = "at " + point_text(failure.x, k) + " of the alternative";
  const search::Box centre = search::centre_of(lower, upper);
  // One range of the box, in log odds ratio.
  struct Direction {
    Column low_field;
    Column high_field;
    Range range;
    bool given;
    double x;       // at the failing point
    double centre;  // at the centre of the box
  };
  const Direction e{Column::or_e_low, Column::or_e_high, r.or_e_range, s.ranges.or_e.has_value(),
                    steps * failure.x[1], steps * centre[1]};
  const Direction g{Column::or_g_low, Column::or_g_high, r.or_g_range, s.ranges.or_g.has_value(),
                    failure.x[0], centre[0]};
  const auto named = [&](const Direction& d, bool low) {
    return beyond_reach(low ? d.low_field : d.high_field,
                        values::format_number(low ? d.range.low : d.range.high), where);
  };
  const auto far_end = [](const Range& range) {
    return std::fabs(std::log(range.low)) > std::fabs(std::log(range.high));  // true: low
  };

  if (search::reach_at(rec, centre)) {
    const Direction& d = std::fabs(e.centre) >= std::fabs(g.centre) ? e : g;
    if (!d.given || std::fabs(std::log(s.design.ror)) >= std::fabs(d.centre)) {
      return beyond_reach(Column::ror, values::format_number(s.design.ror), where);
    }
    return named(d, far_end(d.range));
  }
  const bool e_free = e.range.low < e.range.high;
  const bool g_free = g.range.low < g.range.high;
  const Direction& d = e_free && (!g_free || std::fabs(e.x) >= std::fabs(g.x)) ? e : g;
  const bool nearer_low =
      std::fabs(d.x - std::log(d.range.low)) <= std::fabs(d.x - std::log(d.range.high));
  return named(d, nearer_low);
}

Error reach_error(search::Records& rec, const Scenario& s, const search::OutOfReach& failure,
                  const search::Box& lower, const search::Box& upper, int k, const Result& r) {
  return failure.fit == search::OutOfReach::Fit::null
             ? null_beyond_reach(s.design, k)
             : alternative_beyond_reach(rec, s, failure, lower, upper, k, r);
}

// The design and box of a scenario as exact numbers, to know it again.
SharedSearches::Key key_of(const Scenario& s) {
  const Design& d = s.design;
  SharedSearches::Key key{static_cast<double>(d.quantiles),
                          static_cast<double>(d.exposure_prevalences.size())};
  key.insert(key.end(), d.exposure_prevalences.begin(), d.exposure_prevalences.end());
  key.insert(key.end(), {d.gene_prevalence, d.controls_per_case, d.or_e, d.or_g, d.ror, d.or_ge});
  key.push_back(static_cast<double>(s.settings.test));
  for (const std::optional<Range>& range : {s.ranges.or_e, s.ranges.or_g}) {
    key.insert(key.end(), {range ? 1.0 : 0.0, range ? range->low : 0.0, range ? range->high : 0.0});
  }
  return key;
}

}  // namespace

// What the global method's search of one design and box gives every row of
// it: the conversion and the box, or why there is no answer (no box, or a
// fit out of reach), and the extremes of the alternative's variance.
struct DesignSearch {
  Result conversion;  // the conversion's fields and the ranges searched
  search::Box lower{};
  search::Box upper{};
  std::optional<Error> error;
  search::VarianceExtremes variance;
};

namespace {

std::shared_ptr<const DesignSearch> search_design(const Scenario& s) {
  auto found = std::make_shared<DesignSearch>();
  search::Records rec;
  const int k = s.design.categories();
  store_design(rec.model, s.design, k);
  found->error = convert_and_box(rec.model, s.design, s.ranges, k, found->conversion);
  if (found->error) return found;
  box_of(found->conversion.or_g_range, found->conversion.or_e_range, k, found->lower,
         found->upper);
  try {
    found->variance =
        search::variance_extremes(rec, found->lower, found->upper, search_options(s.settings));
  } catch (const search::OutOfReach& failure) {
    found->error = reach_error(rec, s, failure, found->lower, found->upper, k, found->conversion);
  }
  return found;
}

// Common entry: checks, makes the records of this calculation, stores the
// design; then the conversion and the box, and with the global method the
// design's search (from `shared` when it holds it); a box with the carrier
// prevalence or the association searched goes to the four-dimensional
// search instead. The records are the
// call's own and nothing else is written but `shared`, which is made for
// calculations on several threads, so that calls on different threads never
// meet.
bool searches_association(const Scenario& s);
std::optional<Error> searched_calculation(search::Records& rec, const Scenario& s, int k,
                                          Result& r);

template <class Body>
Outcome calculate(const Scenario& s, SharedSearches* shared, Body body) {
  Outcome out;
  if (auto e = check(s)) {
    out.error = std::move(e);
    return out;
  }
  search::Records rec;
  const int k = s.design.categories();
  store_design(rec.model, s.design, k);
  if (searches_association(s)) {
    out.error = convert_and_box(rec.model, s.design, s.ranges, k, out.result);
    if (!out.error) out.error = searched_calculation(rec, s, k, out.result);
    return out;
  }
  std::shared_ptr<const DesignSearch> found;
  if (s.settings.search == SearchMethod::global) {
    found = shared ? shared->find_or_search(key_of(s), [&s] { return search_design(s); })
                   : search_design(s);
    out.result = found->conversion;
    out.error = found->error;
  } else {
    out.error = convert_and_box(rec.model, s.design, s.ranges, k, out.result);
  }
  if (out.error) return out;
  search::Box lower;
  search::Box upper;
  box_of(out.result.or_g_range, out.result.or_e_range, k, lower, upper);
  try {
    out.error = body(rec, lower, upper, out.result, found ? &found->variance : nullptr);
  } catch (const search::OutOfReach& failure) {
    out.error = reach_error(rec, s, failure, lower, upper, k, out.result);
  }
  return out;
}

}  // namespace

int Design::categories() const {
  return quantiles != 0 ? quantiles : static_cast<int>(exposure_prevalences.size());
}

bool Result::converted() const {
  return solver_info == 1 && std::isfinite(or_e_conditional) && or_e_conditional > 0.0 &&
         std::isfinite(or_g_conditional) && or_g_conditional > 0.0;
}

std::vector<double> Design::prevalences() const {
  if (quantiles == 0) return exposure_prevalences;
  const int k = std::clamp(quantiles, 0, model::kMaxCategories);
  return std::vector<double>(static_cast<std::size_t>(k), 1.0 / k);
}

double critical_value(double alpha) {
  // The dialogue's constant at 5 %, so that both give the same numbers there.
  if (alpha == kDefaultAlpha) return model::kCriticalValue;
  return -model::mynormi(alpha / 2);
}

std::optional<Error> check(const Scenario& s) {
  const Design& d = s.design;
  if (auto e = check_exposure(d)) return e;
  const Rule design_rules[] = {
      {Column::gene_prevalence, d.gene_prevalence, true},
      {Column::controls_per_case, d.controls_per_case, false},
      {Column::or_e, d.or_e, false},
      {Column::or_g, d.or_g, false},
      {Column::ror, d.ror, false},
      {Column::or_ge, d.or_ge, false},
      {Column::alpha, s.settings.alpha, true},
  };
  if (auto e = first_failure(design_rules)) return e;
  if (!quantile_holds(s.settings.alpha)) {
    return invalid(Column::alpha, s.settings.alpha,
                   "is too small: the normal tail cannot be computed below about 1e-298");
  }
  // A detect calculation takes both the cases and the target power.
  if (s.mode != Mode::size) {
    const Rule rules[] = {{Column::cases, s.cases, false}};
    if (auto e = first_failure(rules)) return e;
  }
  if (s.mode != Mode::power) {
    const Rule rules[] = {{Column::power, s.target_power, true}};
    if (auto e = first_failure(rules)) return e;
  }
  if (auto e = check_range(s.ranges.or_e, Column::or_e_low, Column::or_e_high)) return e;
  if (auto e = check_range(s.ranges.or_g, Column::or_g_low, Column::or_g_high)) return e;
  if (auto e = check_range(s.ranges.or_ge, Column::or_ge_low, Column::or_ge_high)) return e;
  if (auto e = check_range(s.ranges.gene_prevalence, Column::gene_prevalence_low,
                           Column::gene_prevalence_high, true)) {
    return e;
  }
  const bool searched = s.ranges.or_ge || s.ranges.gene_prevalence;
  if (searched && !(s.ranges.or_e && s.ranges.or_g)) {
    const Column missing = s.ranges.or_e ? Column::or_g_low : Column::or_e_low;
    return Error{Error::Kind::invalid_input, std::string(column_name(missing)), std::string(),
                 "is required when the carrier prevalence or the association is searched: the "
                 "conversion's single point would move with them, so give both ranges of the "
                 "odds ratios"};
  }
  return std::nullopt;
}

namespace {

// The least and the most favourable power over the box [lower, upper] for
// `cases` cases and c * cases controls: the calculation of power_over, on
// the records a calculation has set up. The cases were checked positive (or
// are a need rounded up), so the number of cases the model takes back from
// the size, size / (1 + c), is positive too and the model's stop on a
// number of cases that is not positive, which would print, is never reached.
std::optional<Error> powers_for(search::Records& rec, const Design& design, double cases,
                                const search::Box& lower, const search::Box& upper,
                                const Settings& settings,
                                const search::VarianceExtremes* variance, Result& r) {
  rec.model.size = cases * (1.0 + design.controls_per_case);
  const search::Options options = search_options(settings);
  const search::Extremes e = variance ? search::powers_from(rec, *variance, options)
                                      : search::power_search(rec, lower, upper, options);
  r.size = rec.model.size;
  r.n_cases = cases;
  r.n_controls = cases * design.controls_per_case;
  fill_extremes(e, r);
  for (Extreme* x : {&r.least, &r.most}) {
    x->or_ge = design.or_ge;
    x->gene_prevalence = design.gene_prevalence;
  }
  return powers_not_numbers(r);
}

// The formula's power as the study shrinks to nothing, at x:
// Phi(-z sqrt(varh0 / varh1)), the null's critical value seen in the
// alternative's spread. Where the alternative's variance far exceeds the
// null's (a strong interaction) this floor can pass a low target power, and
// the formula's sample size, the root of sqrt(n) |beg| = z1 sqrt(varh0) -
// z2 sqrt(varh1), then has no meaning: that right side is negative.
// What the power of `test` depends on at x (model::impl::power_for): the
// null's variance, and varh1 or the likelihood-ratio noncentrality.
struct TestQuantities {
  double varh0 = 0.0;
  double q = 0.0;
};

TestQuantities quantities_at(model::Records& rec, Test test, const search::Box& x) {
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  TestQuantities t;
  model::fs_0(rec, t.varh0);
  model::fs_a(rec, t.q);
  if (test == Test::lr) t.q = model::lr_noncentrality(rec, x);
  return t;
}

// The number of cases (unrounded) `test` needs at x for the power whose
// quantile of 1 - power is in rec.z(2).
double need_at(model::Records& rec, Test test, const search::Box& x) {
  const TestQuantities t = quantities_at(rec, test, x);
  return model::impl::need_for(test, t.varh0, t.q, rec.alt.beg, rec.z[0], rec.z[1]);
}

// (The Wald and likelihood-ratio tests' power at no cases is the level.)
double power_without_cases(model::Records& rec, Test test, const search::Box& x) {
  const TestQuantities t = quantities_at(rec, test, x);
  return model::impl::power_for(test, 0.0, t.varh0, t.q, rec.alt.beg, rec.z[0]);
}

// Why a sample size is not sought at all: no interaction, or a target that
// any study reaches.
std::optional<Error> size_refused(const Design& design, double target_power,
                                  const Settings& settings) {
  if (design.ror == 1.0) {
    return no_answer("no sample size reaches the target power when ROR^tb = 1: "
                     "there is no interaction to detect");
  }
  if (!(target_power > settings.alpha)) {
    return no_answer("the target power " + values::format_number(target_power) +
                     " is not above the level alpha = " + values::format_number(settings.alpha) +
                     ": any study reaches it");
  }
  return std::nullopt;
}

// The sample size's refusals after the search for the largest need: a need
// that is not a positive number, and a target that the formula's power at
// no cases at all (the floor, at the point `where`) already reaches.
std::optional<Error> need_refused(double cases, double floor, double target_power,
                                  const std::string& where) {
  if (!(std::isfinite(cases) && cases > 0.0)) {
    return no_answer("the number of cases needed is not a finite number for this design: the "
                     "information about the interaction is degenerate (an exposure category "
                     "or genotype without subjects?)");
  }
  if (floor >= target_power) {
    return no_answer(
        "the large-sample formula gives a power of " + short_number(floor) +
        " to a study of no size at all at " + where +
        ", where the alternative's variance far exceeds the null's, so it cannot size a study "
        "for the target power " + values::format_number(target_power) +
        ": give a target above " + short_number(floor));
  }
  return std::nullopt;
}

// Bound on the steps of the search for the smallest whole number of cases.
// The first candidate almost always reaches the target; each further step
// jumps to the need at the point the power search found, so a handful of
// steps means the need search and the power search disagree.
constexpr int kMaxCaseSteps = 50;

// The smallest whole number of cases whose least favourable power reaches
// the target. The power grows with the cases, so below the need of the least
// favourable point no number does: the first candidate is that need rounded
// up. When the power there still falls short (the need search stopped a
// little short of the largest need, or the last bit rounded the other way),
// the next candidate is the need where the power search found the smallest
// power, and at least one case more. `powers(cases, at)` fills the result
// for a number of cases (or says why there is none) and `need_at_least(at)`
// gives the need at its least favourable point; the runs of each candidate
// are added to `runs` when `count_runs`.
template <class Powers, class NeedAtLeast>
std::optional<Error> smallest_whole_cases(double need, double target_power, bool count_runs,
                                          std::vector<SearchRun>& runs, Result& r,
                                          Powers powers, NeedAtLeast need_at_least) {
  double cases = std::ceil(need);
  for (int step = 0;; ++step) {
    Result at = r;
    if (auto e = powers(cases, at)) return e;
    if (count_runs) runs.insert(runs.end(), at.searches.begin(), at.searches.end());
    if (at.least.power >= target_power) {
      r = std::move(at);
      return std::nullopt;
    }
    if (step == kMaxCaseSteps) {
      return no_answer("no whole number of cases up to " + values::format_number(cases) +
                       " was found to reach the target power at the least favourable point: "
                       "the searches for the largest need and the smallest power disagree");
    }
    // One case more (one unit in the last place beyond 2^53), or the need
    // there rounded up when it is larger; a need that is not a number is
    // passed over (std::max keeps its first argument then).
    cases = std::max(std::ceil(std::nextafter(cases, INFINITY)), std::ceil(need_at_least(at)));
  }
}

// ---------------------------------------------------------------------------
// A box with the carrier prevalence or the association searched too: the
// four-dimensional search (search/searched.h), anew for every calculation,
// since the null's variance varies over the box.

bool searches_association(const Scenario& s) {
  return s.ranges.or_ge.has_value() || s.ranges.gene_prevalence.has_value();
}

// The box's four ranges, in the order of the search variables, as given
// (a prevalence or an association not searched is its single value).
std::array<Range, search::kSearchedDimensions> searched_ranges(const Scenario& s,
                                                               const Result& r) {
  const Design& d = s.design;
  return {r.or_g_range, r.or_e_range,
          s.ranges.gene_prevalence.value_or(Range{d.gene_prevalence, d.gene_prevalence}),
          s.ranges.or_ge.value_or(Range{d.or_ge, d.or_ge})};
}

// A value of range i in its search variable: log OR (per step for the
// exposure and the association) or the logit of the prevalence.
double search_variable(int i, double value, int k) {
  const double steps = k - 1;
  switch (i) {
    case 0: return std::log(value);
    case 2: return model::impl::logit(value);
    default: return std::log(value) / steps;
  }
}

double from_search_variable(int i, double x, int k) {
  const double steps = k - 1;
  switch (i) {
    case 0: return std::exp(x);
    case 2: return model::impl::logistic(x);
    default: return std::exp(steps * x);
  }
}

struct SearchedBox {
  std::array<Range, search::kSearchedDimensions> ranges;
  search::Box4 lower{};
  search::Box4 upper{};
};

SearchedBox searched_box(const Scenario& s, const Result& r, int k) {
  SearchedBox box{searched_ranges(s, r)};
  for (int i = 0; i < search::kSearchedDimensions; ++i) {
    box.lower[i] = search_variable(i, box.ranges[i].low, k);
    box.upper[i] = search_variable(i, box.ranges[i].high, k);
  }
  return box;
}

// The value of range i at x: a bound exactly where x sits on it.
double value_at(const SearchedBox& box, const search::Box4& x, int i, int k) {
  if (x[i] == box.lower[i]) return box.ranges[i].low;
  if (x[i] == box.upper[i]) return box.ranges[i].high;
  return from_search_variable(i, x[i], k);
}

// An extreme of the four-dimensional search: where it is, and whether some
// expected case count there, with the point's control distribution, is
// below 5.
Extreme searched_extreme(const model::Records& design, const SearchedBox& box,
                         const search::Box4& x, double power, int k) {
  Extreme e;
  e.power = power;
  e.or_g = value_at(box, x, 0, k);
  e.or_e = value_at(box, x, 1, k);
  e.gene_prevalence = value_at(box, x, 2, k);
  e.or_ge = value_at(box, x, 3, k);
  model::Records rec = design;
  rec.alt.pgen = {1.0 - e.gene_prevalence, e.gene_prevalence};
  model::set_association(rec.alt, e.or_ge, k);
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  int ok = 1;
  model::cell_cnt(rec, k, ok);
  e.small_cells = ok == 0;
  return e;
}

// The point as messages name it.
std::string searched_point_text(const SearchedBox& box, const search::Box4& x, int k) {
  return "OR(G|E=0) = " + short_number(value_at(box, x, 0, k)) +
         ", OR^tb(E|G=0) = " + short_number(value_at(box, x, 1, k)) +
         ", carrier prevalence " + short_number(value_at(box, x, 2, k)) +
         ", OR^tb(G,E) = " + short_number(value_at(box, x, 3, k));
}

// Out of reach in the four-dimensional search: of the ranges searched (for
// the null's fit, only the prevalence and the association move it), the one
// whose bound nearer the failing point lies farthest from independence and
// half the controls carriers (on the scale of the search variables, per
// whole range of the exposure) is named.
Error searched_beyond_reach(const Scenario& s, const search::SearchedOutOfReach& failure,
                            const SearchedBox& box, int k) {
  constexpr Column kLow[] = {Column::or_g_low, Column::or_e_low, Column::gene_prevalence_low,
                             Column::or_ge_low};
  constexpr Column kHigh[] = {Column::or_g_high, Column::or_e_high, Column::gene_prevalence_high,
                              Column::or_ge_high};
  const bool null = failure.fit == search::OutOfReach::Fit::null;
  int named = -1;
  bool named_low = true;
  double farthest = -1.0;
  for (int i = null ? 2 : 0; i < search::kSearchedDimensions; ++i) {
    if (!(box.lower[i] < box.upper[i])) continue;
    const bool low =
        std::fabs(failure.x[i] - box.lower[i]) <= std::fabs(failure.x[i] - box.upper[i]);
    const double scale = (i == 1 || i == 3) ? k - 1.0 : 1.0;
    const double distance = std::fabs(low ? box.lower[i] : box.upper[i]) * scale;
    if (distance > farthest) {
      farthest = distance;
      named = i;
      named_low = low;
    }
  }
  if (named < 0) return null_beyond_reach(s.design, k);
  const std::string where =
      (null ? "under the null at " : "at ") + searched_point_text(box, failure.x, k) +
      (null ? "" : " of the alternative");
  const Range& range = box.ranges[static_cast<std::size_t>(named)];
  return beyond_reach(named_low ? kLow[named] : kHigh[named],
                      values::format_number(named_low ? range.low : range.high), where);
}

// The least and most favourable power over the four-dimensional box for
// `cases` cases; the search's extremes are left in `found`.
std::optional<Error> searched_powers(model::Records& rec, const Scenario& s, double cases,
                                     const SearchedBox& box, Result& r,
                                     search::SearchedExtremes& found) {
  const int k = s.design.categories();
  rec.size = cases * (1.0 + s.design.controls_per_case);
  rec.z[0] = critical_value(s.settings.alpha);
  const bool from_centre = s.settings.search == SearchMethod::centre;
  found = search::searched_power_extremes(rec, s.settings.test, box.lower, box.upper, true,
                                          from_centre);
  r.size = rec.size;
  r.n_cases = cases;
  r.n_controls = cases * s.design.controls_per_case;
  r.least = searched_extreme(rec, box, found.xmin, found.pmin, k);
  r.most = searched_extreme(rec, box, found.xmax, found.pmax, k);
  r.flat = std::fabs(found.pmax - found.pmin) < kFlatPower;
  append_runs(found.searches, r.searches);
  return powers_not_numbers(r);
}

// The smallest whole number of cases whose least favourable power over the
// four-dimensional box reaches the target, as size_for finds it over two.
std::optional<Error> searched_size(model::Records& rec, const Scenario& s,
                                   const SearchedBox& box, Result& r) {
  if (auto e = size_refused(s.design, s.target_power, s.settings)) return e;
  rec.z[0] = critical_value(s.settings.alpha);
  rec.z[1] = model::mynormi(1.0 - s.target_power);
  const search::SearchedNeed need =
      search::searched_largest_need(rec, s.settings.test, box.lower, box.upper, true,
                                    s.settings.search == SearchMethod::centre);
  rec.size = 0.0;
  const double floor =
      std::isfinite(need.cases) ? search::searched_power(rec, s.settings.test, need.x) : 0.0;
  if (auto e = need_refused(need.cases, floor, s.target_power,
                            searched_point_text(box, need.x, s.design.categories()))) {
    return e;
  }
  std::vector<SearchRun> runs;
  append_runs(need.searches, runs);
  search::SearchedExtremes found;
  const auto powers = [&](double cases, Result& at) {
    return searched_powers(rec, s, cases, box, at, found);
  };
  const auto need_at_least = [&](const Result&) {
    return search::searched_need(rec, s.settings.test, found.xmin);
  };
  if (auto e = smallest_whole_cases(need.cases, s.target_power, true, runs, r, powers,
                                    need_at_least)) {
    return e;
  }
  r.searches = std::move(runs);
  r.n_controls = whole_controls(r.n_cases, s.design.controls_per_case);
  r.size = r.n_cases + r.n_controls;
  return std::nullopt;
}

// A calculation over the four-dimensional box, after the checks, the design
// and the conversion (reported; the ranges of both odds ratios are given):
// the power or the size.
std::optional<Error> searched_calculation(search::Records& rec, const Scenario& s, int k,
                                          Result& r) {
  const SearchedBox box = searched_box(s, r, k);
  try {
    search::SearchedExtremes found;
    return s.mode == Mode::power ? searched_powers(rec.model, s, s.cases, box, r, found)
                                 : searched_size(rec.model, s, box, r);
  } catch (const search::SearchedOutOfReach& failure) {
    return searched_beyond_reach(s, failure, box, k);
  }
}

}  // namespace

double whole_controls(double cases, double controls_per_case) {
  // In double, c m carries the rounding of c and of the product: 1.1 x 50 is
  // 55.00000000000001. A product within a few units in the last place of a
  // whole number is taken as that number, any other is rounded up.
  constexpr double kWholeTolerance = 8.0 * std::numeric_limits<double>::epsilon();
  const double product = controls_per_case * cases;
  const double nearest = std::round(product);
  if (std::fabs(product - nearest) <= kWholeTolerance * nearest) return nearest;
  return std::ceil(product);
}

Outcome power_over(const Design& design, double cases, const Ranges& ranges,
                   const Settings& settings, SharedSearches* shared) {
  const Scenario s{Mode::power, design, cases, 0.0, ranges, settings};
  return calculate(s, shared, [&](search::Records& rec, const search::Box& lower,
                                  const search::Box& upper, Result& r,
                                  const search::VarianceExtremes* variance) {
    return powers_for(rec, design, cases, lower, upper, settings, variance, r);
  });
}

Outcome size_for(const Design& design, double target_power, const Ranges& ranges,
                 const Settings& settings, SharedSearches* shared) {
  const Scenario s{Mode::size, design, 0.0, target_power, ranges, settings};
  return calculate(s, shared, [&](search::Records& rec, const search::Box& lower,
                                  const search::Box& upper, Result& r,
                                  const search::VarianceExtremes* variance)
                                  -> std::optional<Error> {
    if (auto e = size_refused(design, target_power, settings)) return e;
    const search::Options options = search_options(settings);
    rec.model.z[0] = options.critical_value;
    rec.model.z[1] = model::mynormi(1.0 - target_power);
    const search::Need need = variance ? search::need_from(rec, *variance)
                                       : search::largest_need(rec, lower, upper, options);
    const double floor =
        std::isfinite(need.cases) ? power_without_cases(rec.model, settings.test, need.x) : 0.0;
    if (auto e = need_refused(need.cases, floor, target_power,
                              point_text(need.x, design.categories()))) {
      return e;
    }
    std::vector<SearchRun> runs;
    append_runs(need.searches, runs);
    const auto powers = [&](double cases, Result& at) {
      return powers_for(rec, design, cases, lower, upper, settings, variance, at);
    };
    const auto need_at_least = [&](const Result& at) {
      const double steps = design.categories() - 1;
      const search::Box x{std::log(at.least.or_g), std::log(at.least.or_e) / steps};
      return need_at(rec.model, settings.test, x);
    };
    // The global method's candidates all read the one search of the design.
    if (auto e = smallest_whole_cases(need.cases, target_power, variance == nullptr, runs, r,
                                      powers, need_at_least)) {
      return e;
    }
    r.searches = std::move(runs);
    r.n_controls = whole_controls(r.n_cases, design.controls_per_case);
    r.size = r.n_cases + r.n_controls;
    return std::nullopt;
  });
}

namespace {

// One evaluation of the engine at a point, on model records of its own.
template <class Evaluate>
double at_point(const Scenario& s, double or_g, double or_e, Evaluate evaluate) {
  Ranges point;
  point.or_e = Range{or_e, or_e};
  point.or_g = Range{or_g, or_g};
  Scenario checked = s;
  checked.ranges = point;
  if (check(checked)) return std::nan("");
  model::Records rec;
  const int k = s.design.categories();
  store_design(rec, s.design, k);
  search::Box lower;
  search::Box upper;
  box_of(*point.or_g, *point.or_e, k, lower, upper);
  rec.z[0] = critical_value(s.settings.alpha);
  return evaluate(rec, lower);
}

}  // namespace

double power_at(const Design& design, double cases, double or_g, double or_e,
                const Settings& settings) {
  const Scenario s{Mode::power, design, cases, 0.0, {}, settings};
  return at_point(s, or_g, or_e, [&](model::Records& rec, const search::Box& x) {
    rec.size = cases * (1.0 + design.controls_per_case);
    const TestQuantities t = quantities_at(rec, settings.test, x);
    return model::impl::power_for(settings.test, model::study_cases(rec), t.varh0, t.q,
                                  rec.alt.beg, rec.z[0]);
  });
}

double cases_needed_at(const Design& design, double target_power, double or_g, double or_e,
                       const Settings& settings) {
  const Scenario s{Mode::size, design, 0.0, target_power, {}, settings};
  return at_point(s, or_g, or_e, [&](model::Records& rec, const search::Box& x) {
    rec.z[1] = model::mynormi(1.0 - target_power);
    return need_at(rec, settings.test, x);
  });
}

Outcome run(const Scenario& s, SharedSearches* shared) {
  switch (s.mode) {
    case Mode::power: return power_over(s.design, s.cases, s.ranges, s.settings, shared);
    case Mode::size: return size_for(s.design, s.target_power, s.ranges, s.settings, shared);
    case Mode::detect: break;
  }
  return detectable_ror(s.design, s.cases, s.target_power, s.direction, s.ranges, s.settings,
                        shared);
}

double carrier_prevalence(double allele_frequency, GeneticModel model) {
  const double q = allele_frequency;
  // q (2 - q) rather than 1 - (1 - q)^2: no cancellation for a rare allele.
  return model == GeneticModel::dominant ? q * (2.0 - q) : q * q;
}


// The names are the choices of their columns, in the order of the
// enumerations.
std::string_view name(SearchMethod method) {
  return column(Column::search).choices[static_cast<std::size_t>(method)];
}
std::string_view name(Mode mode) {
  return column(Column::mode).choices[static_cast<std::size_t>(mode)];
}
std::string_view name(GeneticModel model) {
  return column(Column::genetic_model).choices[static_cast<std::size_t>(model)];
}
std::string_view name(Direction direction) {
  return column(Column::direction).choices[static_cast<std::size_t>(direction)];
}

namespace {

template <class Enum>
std::optional<Enum> parse_choice(Column c, std::string_view text) {
  const auto& choices = column(c).choices;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (!text.empty() && text == choices[i]) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

}  // namespace

std::string_view name(Test test) {
  return column(Column::test).choices[static_cast<std::size_t>(test)];
}
std::optional<Test> parse_test(std::string_view text) {
  return parse_choice<Test>(Column::test, text);
}
std::optional<SearchMethod> parse_search_method(std::string_view text) {
  return parse_choice<SearchMethod>(Column::search, text);
}
std::optional<Mode> parse_mode(std::string_view text) {
  return parse_choice<Mode>(Column::mode, text);
}
std::optional<GeneticModel> parse_genetic_model(std::string_view text) {
  return parse_choice<GeneticModel>(Column::genetic_model, text);
}
std::optional<Direction> parse_direction(std::string_view text) {
  return parse_choice<Direction>(Column::direction, text);
}

}  // namespace gxe::plan
