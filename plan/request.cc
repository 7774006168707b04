#include "plan/request.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "values/number.h"

namespace gxe::plan {
namespace {

// A reference to another input inside a rule, which each front end writes
// in its own way (--allele-frequency, allele_frequency).
std::string ref(Column c) { return "{" + std::string(column_name(c)) + "}"; }

RequestError refused(Column c, std::string value, std::string rule,
                     std::optional<std::size_t> item = std::nullopt) {
  return {Error(Error::Kind::invalid_input, std::string(column_name(c)), std::move(value),
                std::move(rule)),
          item};
}

// The text of a list's first value, for a rule about the list as a whole.
std::string first_of(const std::vector<double>& list) {
  return list.empty() ? std::string() : values::format_number(list.front());
}

// The value a list stands for at `i`: its item, or the column's default
// when the list is empty.
double item_or_default(const std::vector<double>& list, std::size_t i, Column c) {
  return list.empty() ? default_number(c) : list[i];
}

std::size_t length(const std::vector<double>& list) { return std::max<std::size_t>(list.size(), 1); }

// The list that changes fastest: the numbers of cases of a power or detect
// request, the target powers of a size one.
const std::vector<double>& last_list(const Request& r) {
  return r.mode == Mode::size ? r.power : r.cases;
}

// The list in the place of ror: a detect request's target powers.
const std::vector<double>& interaction_list(const Request& r) {
  return r.mode == Mode::detect ? r.power : r.ror;
}

// A detect request: both the cases and the target power, and no ROR^tb,
// which it finds.
std::optional<RequestError> check_detect(const Request& r) {
  if (!r.ror.empty()) {
    return refused(Column::ror, first_of(r.ror),
                   "is given in a detect calculation, which finds the ROR^tb that the cases "
                   "detect with the target power: leave it out, or calculate the power");
  }
  if (r.cases.empty()) {
    return refused(Column::cases, "", "is required: a detect calculation needs the number of cases");
  }
  if (r.power.empty()) {
    return refused(Column::power, "", "is required: a detect calculation needs the target power");
  }
  return std::nullopt;
}

// The input a request must not give, as its mode says.
std::optional<RequestError> check_mode(const Request& r) {
  if (r.mode == Mode::detect) return check_detect(r);
  if (r.direction) {
    return refused(Column::direction, values::quoted(name(*r.direction)),
                   "is the side of 1 on which a detect calculation finds ROR^tb: leave it "
                   "out, or calculate the detectable ROR^tb");
  }
  const bool power = r.mode == Mode::power;
  const Column used = power ? Column::cases : Column::power;
  const Column unused = power ? Column::power : Column::cases;
  if (!(power ? r.power : r.cases).empty()) {
    return refused(unused, first_of(power ? r.power : r.cases),
                   power ? "is given in a power calculation, which finds the power for the cases "
                           "given: leave it out, or calculate the size"
                         : "is given in a size calculation, which finds the number of cases: "
                           "leave it out, or calculate the power");
  }
  if (last_list(r).empty()) {
    return refused(used, "",
                   power ? "is required: a power calculation needs the number of cases"
                         : "is required: a size calculation needs the target power");
  }
  if (r.ror.empty()) return refused(Column::ror, "", "is required: give ROR^tb under the alternative");
  return std::nullopt;
}

std::optional<RequestError> check_exposure(const Request& r) {
  const bool prevalences = !r.exposure_prevalences.empty();
  if (r.quantiles && prevalences) {
    return refused(Column::quantiles, values::format_number(*r.quantiles),
                   "is given and so is " + ref(Column::exposure_prevalences) +
                       ": give one of the two");
  }
  if (!r.quantiles && !prevalences) {
    return refused(Column::quantiles, "",
                   "is required, or " + ref(Column::exposure_prevalences) +
                       ": give the number of quantiles or the prevalence of each exposure "
                       "category");
  }
  if (r.quantiles) {
    const double k = *r.quantiles;
    if (!(k >= kMinCategories && k <= kMaxCategories && k == std::trunc(k))) {
      return refused(Column::quantiles, values::format_number(k),
                     "must be a whole number from 2 to 100");
    }
  }
  return std::nullopt;
}

// A range of the allele frequency as the range of the carrier prevalence it
// gives: under either genetic model the share of carriers grows with the
// allele's frequency, so the bounds map to the bounds.
std::optional<RequestError> allele_range(const Request& r, Ranges& ranges) {
  if (!r.allele_frequency_range) return std::nullopt;
  const Range q = *r.allele_frequency_range;
  if (r.ranges.gene_prevalence) {
    return refused(Column::allele_frequency_low, values::format_number(q.low),
                   "goes instead of " + ref(Column::gene_prevalence_low) + ": give one of them");
  }
  if (!r.genetic_model) {
    return refused(Column::allele_frequency_low, values::format_number(q.low),
                   "needs " + ref(Column::genetic_model) + ": dominant or recessive");
  }
  for (const auto& [c, x] : {std::pair{Column::allele_frequency_low, q.low},
                             std::pair{Column::allele_frequency_high, q.high}}) {
    if (auto fault = values::check_probability(column_name(c), x)) {
      return RequestError{Error(Error::Kind::invalid_input, std::move(*fault)), std::nullopt};
    }
  }
  if (q.low > q.high) {
    return refused(Column::allele_frequency_low, values::format_number(q.low),
                   "must not exceed the upper bound " + values::format_number(q.high));
  }
  ranges.gene_prevalence = Range{carrier_prevalence(q.low, *r.genetic_model),
                                 carrier_prevalence(q.high, *r.genetic_model)};
  return std::nullopt;
}

// The carrier prevalences of the request: the ones given, or those of the
// allele frequencies under the genetic model.
std::optional<RequestError> gene_values(const Request& r, std::vector<double>& carriers) {
  const bool by_prevalence = !r.gene_prevalence.empty();
  const bool by_allele = !r.allele_frequency.empty();
  if (!by_allele) {
    if (r.genetic_model && !r.allele_frequency_range) {
      return refused(Column::genetic_model, values::quoted(name(*r.genetic_model)),
                     "goes with " + ref(Column::allele_frequency) + ": give both, or " +
                         ref(Column::gene_prevalence));
    }
    if (!by_prevalence && r.ranges.gene_prevalence) {
      // Searched over a range: the design's own value, which the conversion
      // reports, is the middle of the range.
      const Range& range = *r.ranges.gene_prevalence;
      carriers = {(range.low + range.high) / 2};
      return std::nullopt;
    }
    if (!by_prevalence) {
      return refused(Column::gene_prevalence, "",
                     "is required: give the carrier prevalence among controls, or " +
                         ref(Column::allele_frequency) + " with " + ref(Column::genetic_model));
    }
    carriers = r.gene_prevalence;
    return std::nullopt;
  }
  if (!r.genetic_model) {
    return refused(Column::allele_frequency, first_of(r.allele_frequency),
                   "needs " + ref(Column::genetic_model) + ": dominant or recessive");
  }
  const std::size_t items = r.allele_frequency.size();
  for (std::size_t i = 0; i < items; ++i) {
    const double q = r.allele_frequency[i];
    const std::optional<std::size_t> item = items > 1 ? std::optional(i) : std::nullopt;
    if (auto fault = values::check_probability(column_name(Column::allele_frequency), q)) {
      return RequestError{Error(Error::Kind::invalid_input, std::move(*fault)), item};
    }
    const double p = carrier_prevalence(q, *r.genetic_model);
    if (by_prevalence && (r.gene_prevalence.size() != items || r.gene_prevalence[i] != p)) {
      // Both, as in a row written from an allele frequency and read again:
      // each prevalence must be the one its frequency gives, to the last bit.
      return refused(Column::gene_prevalence,
                     values::format_number(i < r.gene_prevalence.size() ? r.gene_prevalence[i]
                                                                         : r.gene_prevalence[0]),
                     "is not the carrier prevalence " + values::format_number(p) + " that " +
                         ref(Column::allele_frequency) + " " + values::format_number(q) + " gives (" +
                         std::string(name(*r.genetic_model)) + "): give one of the two",
                     item);
    }
    carriers.push_back(p);
  }
  return std::nullopt;
}

// The rows the lists make, counted up to one more than allowed.
std::size_t row_count(const Request& r, std::size_t genes) {
  std::size_t rows = 1;
  for (const std::size_t n : {length(r.alpha), genes, length(r.controls_per_case),
                              length(interaction_list(r)), length(last_list(r))}) {
    rows = std::min(rows * n, kMaxRows + 1);  // at most 10001 times one list's length
  }
  return rows;
}

// Which list item of the row at (a, g, c, o, n) an error of check() is about.
struct RowItems {
  std::size_t alpha, gene, controls, ror, last;  // ror: the target power's place in detect
};

RequestError row_error(const Request& r, Error e, const RowItems& at) {
  const auto item_of = [](const std::vector<double>& list, std::size_t i) {
    return list.size() > 1 ? std::optional(i) : std::nullopt;
  };
  const std::optional<Column> c = find_column(e.input);
  if (c == Column::gene_prevalence && !r.allele_frequency.empty()) {
    // The prevalence an allele frequency gave is out of range: the frequency
    // is the input to change.
    const double q = r.allele_frequency[at.gene];
    return refused(Column::allele_frequency, values::format_number(q),
                   "gives a carrier prevalence of " + e.value + " (" +
                       std::string(name(*r.genetic_model)) + "), which " + e.rule,
                   item_of(r.allele_frequency, at.gene));
  }
  std::optional<std::size_t> item;
  if (c == Column::alpha) item = item_of(r.alpha, at.alpha);
  if (c == Column::gene_prevalence) item = item_of(r.gene_prevalence, at.gene);
  if (c == Column::controls_per_case) item = item_of(r.controls_per_case, at.controls);
  if (c == Column::ror || (c == Column::power && r.mode == Mode::detect)) {
    item = item_of(interaction_list(r), at.ror);
  } else if (c == Column::cases || c == Column::power) {
    item = item_of(last_list(r), at.last);
  }
  return {std::move(e), item};
}

// The settings every row shares.
Scenario base_of(const Request& r) {
  Scenario base;
  base.mode = r.mode;
  if (r.quantiles) base.design.quantiles = static_cast<int>(*r.quantiles);
  base.design.exposure_prevalences = r.exposure_prevalences;
  base.design.or_e = r.or_e.value_or(default_number(Column::or_e));
  base.design.or_g = r.or_g.value_or(default_number(Column::or_g));
  base.design.or_ge = r.or_ge.value_or(default_number(Column::or_ge));
  if (r.ranges.or_ge && !r.or_ge) {
    // Searched over a range: the design's own value, which the conversion
    // reports, is the middle of the range on the log scale.
    base.design.or_ge = std::sqrt(r.ranges.or_ge->low * r.ranges.or_ge->high);
  }
  base.ranges = r.ranges;
  base.settings.search = r.search.value_or(*parse_search_method(column(Column::search).default_text));
  base.settings.test = r.test.value_or(*parse_test(column(Column::test).default_text));
  base.direction =
      r.direction.value_or(*parse_direction(column(Column::direction).default_text));
  return base;
}

}  // namespace

double default_number(Column c) { return values::read_number(column(c).default_text).value; }

std::optional<Error> choice_error(Column c, std::string_view text) {
  if (is_choice(c, text)) return std::nullopt;
  return Error(Error::Kind::invalid_input, std::string(column_name(c)), values::quoted(text),
               choice_rule(c));
}

Expansion expand(const Request& request) {
  Expansion out;
  Request r = request;
  std::vector<double> genes;
  if ((out.error = check_mode(r)) || (out.error = check_exposure(r)) ||
      (out.error = allele_range(request, r.ranges)) || (out.error = gene_values(r, genes))) {
    return out;
  }
  const std::size_t rows = row_count(r, genes.size());
  if (rows > kMaxRows) {
    out.error = RequestError{Error(Error::Kind::invalid_input, "", "",
                                   "the lists make more than " + std::to_string(kMaxRows) +
                                       " combinations, one row each: split the calculation"),
                             std::nullopt};
    return out;
  }
  const Scenario base = base_of(r);
  out.scenarios.reserve(rows);
  RowItems at{};
  for (at.alpha = 0; at.alpha < length(r.alpha); ++at.alpha) {
    for (at.gene = 0; at.gene < genes.size(); ++at.gene) {
      for (at.controls = 0; at.controls < length(r.controls_per_case); ++at.controls) {
        for (at.ror = 0; at.ror < interaction_list(r).size(); ++at.ror) {
          for (at.last = 0; at.last < last_list(r).size(); ++at.last) {
            Scenario s = base;
            s.settings.alpha = item_or_default(r.alpha, at.alpha, Column::alpha);
            s.design.gene_prevalence = genes[at.gene];
            s.design.controls_per_case =
                item_or_default(r.controls_per_case, at.controls, Column::controls_per_case);
            (r.mode == Mode::detect ? s.target_power : s.design.ror) =
                interaction_list(r)[at.ror];
            (r.mode == Mode::size ? s.target_power : s.cases) = last_list(r)[at.last];
            if (std::optional<Error> e = check(s)) {
              out.error = row_error(r, std::move(*e), at);
              out.scenarios.clear();
              return out;
            }
            out.scenarios.push_back(std::move(s));
          }
        }
      }
    }
  }
  return out;
}

}  // namespace gxe::plan
