#ifndef GXE_CLI_OPTION_CHECKS_H_
#define GXE_CLI_OPTION_CHECKS_H_

// The checks CLI11 runs on option values as the command line is parsed.
// Each returns the value in quotes and why it is refused ("\"5OO\" is not a
// number"); CLI11 puts the option's name in front.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "plan/columns.h"
#include "plan/plan.h"

// CLI11's classes, declared here so that only the files that register
// options include (and compile) the whole header-only library.
namespace CLI {
class Validator;
}  // namespace CLI

namespace gxe::cli {

// A check from a function giving the problem of a text, "" when valid.
CLI::Validator check_with(std::function<std::string(std::string_view)> problem_of);

const CLI::Validator& number_check();
const CLI::Validator& list_check();
// One of a text column's values, or of a front end's own choices.
CLI::Validator choice_check(plan::Column column);
CLI::Validator choice_check(std::initializer_list<std::string_view> choices);
// A whole number from `low` to `high`.
CLI::Validator whole_number_from(int low, int high);
// A file written whole (--output, --plot): a name, not too long once the
// temporary name it is first written under adds its suffix.
const CLI::Validator& file_name_check();

}  // namespace gxe::cli

#endif  // GXE_CLI_OPTION_CHECKS_H_
