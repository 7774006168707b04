#include "cli/option_checks.h"

#include <CLI/CLI.hpp>

#include <utility>
#include <vector>

#include "cli/whole_file.h"
#include "values/number.h"

namespace gxe::cli {

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

CLI::Validator check_with(std::function<std::string(std::string_view)> problem_of) {
  return CLI::Validator(
      [problem_of = std::move(problem_of)](std::string& text) -> std::string {
        const std::string problem = problem_of(text);
        return problem.empty() ? std::string() : values::quoted(text) + " " + problem;
      },
      "");
}

const CLI::Validator& number_check() {
  static const CLI::Validator check =
      check_with([](std::string_view t) { return values::read_number(t).problem; });
  return check;
}

const CLI::Validator& list_check() {
  static const CLI::Validator check =
      check_with([](std::string_view t) { return values::read_number_list(t).problem; });
  return check;
}

const CLI::Validator& range_check() {
  static const CLI::Validator check =
      check_with([](std::string_view t) { return read_range(t).problem; });
  return check;
}

CLI::Validator choice_check(plan::Column column) {
  return check_with([column](std::string_view t) {
    return plan::is_choice(column, t) ? std::string() : plan::choice_rule(column);
  });
}

CLI::Validator choice_check(std::initializer_list<std::string_view> choices) {
  std::vector<std::string_view> allowed(choices);
  return check_with([allowed](std::string_view t) -> std::string {
    if (std::find(allowed.begin(), allowed.end(), t) != allowed.end()) return {};
    return plan::choice_rule(allowed);
  });
}

CLI::Validator whole_number_from(int low, int high) {
  return check_with(
      [low, high](std::string_view t) { return values::read_whole_number(t, low, high).problem; });
}

const CLI::Validator& file_name_check() {
  static const CLI::Validator check =
      check_with([](std::string_view t) { return file_name_problem(std::string(t)); });
  return check;
}

}  // namespace gxe::cli
