#include "plan/request_text.h"

#include <vector>

#include "values/number.h"

namespace gxe::plan {

std::optional<TextForm> text_form(Column c) {
  switch (c) {
    case Column::quantiles: case Column::or_e: case Column::or_g: case Column::or_ge:
      return TextForm::number;
    case Column::cases: case Column::power: case Column::ror: case Column::gene_prevalence:
    case Column::allele_frequency: case Column::exposure_prevalences:
    case Column::controls_per_case: case Column::alpha:
      return TextForm::list;
    case Column::or_e_low: case Column::or_g_low: case Column::or_ge_low:
    case Column::gene_prevalence_low: case Column::allele_frequency_low:
      return TextForm::range;
    case Column::search: case Column::test: case Column::direction: case Column::genetic_model:
      return TextForm::choice;
    default:
      return std::nullopt;
  }
}

RangeReading read_range(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    return {{}, "is not a range LO:HI of two numbers (write 1.5:2.5)"};
  }
  RangeReading reading;
  const std::string_view bounds[] = {text.substr(0, colon), text.substr(colon + 1)};
  double* ends[] = {&reading.range.low, &reading.range.high};
  for (int i = 0; i < 2; ++i) {
    const values::NumberReading number = values::read_number(bounds[i]);
    if (!number.ok()) {
      return {{}, "is not a range LO:HI of two numbers: " + values::quoted(bounds[i]) + " " +
                      number.problem};
    }
    *ends[i] = number.value;
  }
  return reading;
}

std::string one_bound_rule(Column low, bool low_given) {
  const auto high = static_cast<Column>(static_cast<std::size_t>(low) + 1);
  std::string_view neither = "the one value of the conversion";
  if (low == Column::or_ge_low) neither = "the one value or_ge";
  if (low == Column::gene_prevalence_low) neither = "the one value gene_prevalence";
  if (low == Column::allele_frequency_low) neither = "the one carrier prevalence";
  return "is empty while " + std::string(column_name(low_given ? low : high)) +
         " is given: give both bounds of the range, or neither for " + std::string(neither);
}

std::string text_problem(TextForm form, Column c, std::string_view text) {
  switch (form) {
    case TextForm::number:
      return values::read_number(text).problem;
    case TextForm::list:
      return values::read_number_list(text).problem;
    case TextForm::range:
      return read_range(text).problem;
    case TextForm::choice:
      break;
  }
  return is_choice(c, text) ? std::string() : choice_rule(c);
}

Request request_from_texts(Mode mode, const TextOf& text_of) {
  Request r;
  r.mode = mode;
  const auto list = [&](Column c, std::vector<double>& values) {
    if (const std::string* t = text_of(c)) values = values::read_number_list(*t).values;
  };
  const auto number = [&](Column c, std::optional<double>& value) {
    if (const std::string* t = text_of(c)) value = values::read_number(*t).value;
  };
  const auto range = [&](Column c, std::optional<Range>& value) {
    if (const std::string* t = text_of(c)) value = read_range(*t).range;
  };
  list(Column::cases, r.cases);
  list(Column::power, r.power);
  list(Column::ror, r.ror);
  list(Column::gene_prevalence, r.gene_prevalence);
  list(Column::allele_frequency, r.allele_frequency);
  list(Column::controls_per_case, r.controls_per_case);
  list(Column::alpha, r.alpha);
  list(Column::exposure_prevalences, r.exposure_prevalences);
  number(Column::quantiles, r.quantiles);
  number(Column::or_e, r.or_e);
  number(Column::or_g, r.or_g);
  number(Column::or_ge, r.or_ge);
  if (const std::string* t = text_of(Column::genetic_model)) {
    r.genetic_model = parse_genetic_model(*t);
  }
  range(Column::or_e_low, r.ranges.or_e);
  range(Column::or_g_low, r.ranges.or_g);
  range(Column::or_ge_low, r.ranges.or_ge);
  range(Column::gene_prevalence_low, r.ranges.gene_prevalence);
  range(Column::allele_frequency_low, r.allele_frequency_range);
  if (const std::string* t = text_of(Column::search)) r.search = parse_search_method(*t);
  if (const std::string* t = text_of(Column::test)) r.test = parse_test(*t);
  if (const std::string* t = text_of(Column::direction)) r.direction = parse_direction(*t);
  return r;
}

std::string option_rule(const values::Fault& fault) {
  return fault.rule_naming([](std::string_view name) {
    const std::optional<Column> c = find_column(name);
    return c ? option_name(*c) : "--" + std::string(name);
  });
}

std::string typed_value_message(const RequestError& request_error, std::string_view typed) {
  const Error& e = request_error.error;
  const std::optional<Column> c = find_column(e.input);
  // A value made of several numbers is quoted whole, then the number the
  // rule is about.
  const bool range = c && option_name(*c).ends_with("-range");
  if (c == Column::exposure_prevalences || range) {
    return values::quoted(typed) + ": " + e.input + " = " + e.value + ": " + option_rule(e);
  }
  if (!request_error.item) return values::quoted(typed) + " " + option_rule(e);
  // The list item, and the whole list: "0" in "0,3" shows a decimal comma
  // read as a list.
  const values::ListReading list = values::read_number_list(typed);
  return values::quoted(list.items.at(*request_error.item)) + " in " + values::quoted(typed) +
         " " + option_rule(e);
}

std::string setting_problem(double SimulationSettings::*setting, std::string_view text) {
  const values::NumberReading number = values::read_number(text);
  if (!number.ok()) return number.problem;
  SimulationSettings settings;
  settings.*setting = number.value;
  const std::optional<Error> e = check(settings);
  return e ? e->plain_rule() : std::string();
}

std::string size_by_problem(const SimulationSettings& settings, std::string_view size_by,
                            std::optional<Mode> mode) {
  if (settings.size_by != SizeBy::simulation) return {};
  if (const std::optional<Error> e = check(settings)) return e->value + " " + option_rule(*e);
  if (mode && *mode != Mode::size) {
    return values::quoted(size_by) +
           " needs a sample-size calculation: gxeplan size, a curve of the study size "
           "(--over ror with --power) or the size rows of a batch";
  }
  return {};
}

}  // namespace gxe::plan
