#include "cli/option_checks.h"

#include <CLI/CLI.hpp>

#include <utility>
#include <vector>

#include "cli/whole_file.h"
#include "values/number.h"

namespace gxe::cli {

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
