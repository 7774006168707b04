#ifndef GXE_CLI_DESIGN_OPTIONS_H_
#define GXE_CLI_DESIGN_OPTIONS_H_

// The options every calculating command shares (the design, the ranges, the
// level, the search, the output format and the simulation check), read into
// the planning library's request, and its errors written as the command line
// writes them: "--cases: \"0\" in \"500,0\" must be greater than 0".

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <string_view>

#include "cli/output.h"
#include "plan/request.h"
#include "plan/simulation.h"

namespace CLI {
class App;
}  // namespace CLI

namespace gxe::cli {

class DesignOptions {
 public:
  // The command the options are for: power or size (--ror required), a
  // curve (a list of ROR^tb values names the curves over cases, or ROR^tb is
  // the axis; the lists that do not name a curve show one value) or detect
  // (no --ror: ROR^tb is what it finds). Curves and detect take --direction.
  enum class For { calculation, curve, detect };
  // Registers the options on `app`.
  void add(CLI::App& app, For command = For::calculation);
  // The simulation check's options alone (gxeplan batch has no design).
  void add_simulation(CLI::App& app);
  // --cases and --power, with their help.
  void add_cases(CLI::App& app, std::string_view help, bool required);
  void add_power(CLI::App& app, std::string_view help, bool required);

  // What the parsed options ask for; each text was checked as it was parsed.
  plan::Request request(plan::Mode mode) const;
  plan::SimulationSettings simulation() const;
  Format format() const;
  // Why the simulation's options do not go together, or "": --size-by
  // simulation needs --simulate and, when `mode` is given, a sample-size
  // calculation (a batch takes it for its size rows).
  std::string simulation_problem(std::optional<plan::Mode> mode) const;

  // A request's error as the command line names it: the option, the text
  // typed (the list item at fault, and its list), the rule with other inputs
  // named by their options.
  // `others` gives the texts of inputs that are not the design's (a curve's
  // --from), by name.
  using Texts = std::span<const std::pair<std::string_view, const std::string*>>;
  std::string message(const plan::RequestError& error, Texts others = {}) const;

  // The text typed for a column's option, or its default.
  const std::string& text(plan::Column c) const;

 private:
  bool given(plan::Column c) const;
  std::string& text(plan::Column c);

  const CLI::App* app_ = nullptr;
  std::string cases_, power_, quantiles_, exposure_prevalences_, gene_prevalence_,
      allele_frequency_, genetic_model_, ror_, or_e_range_, or_g_range_, or_ge_range_,
      gene_prevalence_range_, allele_frequency_range_;
  std::string controls_per_case_{plan::column(plan::Column::controls_per_case).default_text};
  std::string or_e_{plan::column(plan::Column::or_e).default_text};
  std::string or_g_{plan::column(plan::Column::or_g).default_text};
  std::string or_ge_{plan::column(plan::Column::or_ge).default_text};
  std::string alpha_{plan::column(plan::Column::alpha).default_text};
  std::string search_{plan::column(plan::Column::search).default_text};
  std::string test_{plan::column(plan::Column::test).default_text};
  std::string direction_{plan::column(plan::Column::direction).default_text};
  std::string format_ = "table";
  std::string simulate_ = "0";
  std::string seed_ = std::to_string(simulate::kDefaultSeed);
  std::string threads_ = "0";
  std::string size_by_{plan::name(plan::SizeBy::formula)};
  std::string none_;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_DESIGN_OPTIONS_H_
