#ifndef GXE_CLI_DESIGN_OPTIONS_H_
#define GXE_CLI_DESIGN_OPTIONS_H_

// The options every calculating command shares (the design, the ranges, the
// level, the search and the output format), their checks, and the building
// of the calculations they ask for. Internal to the command line.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "plan/plan.h"
#include "simulate/simulate.h"

// CLI11's classes, declared here so that only the files that register
// options include (and compile) the whole header-only library.
namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace gxe::cli {

// The options as typed. Each option's check reads its text strictly when the
// command line is parsed; the texts are read again, knowing they are valid,
// when the calculations are built, and kept for messages.
struct Typed {
  std::string cases;
  std::string power;
  std::string quantiles;
  std::string exposure_prevalences;
  std::string gene_prevalence;
  std::string allele_frequency;
  std::string genetic_model;
  std::string controls_per_case = "1";
  std::string or_e = "1";
  std::string or_g = "1";
  std::string ror;
  std::string or_e_range;
  std::string or_g_range;
  std::string alpha = "0.05";
  std::string search = "global";
  std::string format = "table";
  std::string simulate = "0";
  std::string seed = std::to_string(simulate::kDefaultSeed);
  std::string threads = "0";
};

// A check for CLI11: the message (text quoted, then why) or "" when valid.
// CLI11 puts the option's name in front.
CLI::Validator check_with(std::function<std::string(std::string_view)> problem_of);
const CLI::Validator& number_check();
const CLI::Validator& list_check();
// A file written whole (--output, --plot): a name, not too long once the
// temporary name it is first written under adds its suffix.
const CLI::Validator& file_name_check();
CLI::Validator choice_check(std::initializer_list<std::string_view> choices);
// A whole number from `low` to `high`.
CLI::Validator whole_number_from(int low, int high);

// The options the calculations share, after the one that sets them apart;
// --ror is required. The simulation check's options come with them.
void add_design_options(CLI::App& app, Typed& t);

// Wrong use: `message` after "gxeplan: ".
Parsed wrong_use(std::string message);

// Every combination of the list options of a parsed `power` or `size`
// command, each checked, or the message naming the first input at fault.
Parsed build(const CLI::App& command, const Typed& t, plan::Mode mode);

}  // namespace gxe::cli

#endif  // GXE_CLI_DESIGN_OPTIONS_H_
