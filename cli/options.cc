#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/batch.h"
#include "cli/curve.h"
#include "cli/design_options.h"
#include "cli/whole_file.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

// --- Reading values --------------------------------------------------------------

struct RangeReading {
  plan::Range range;
  std::string problem;
};

// "LO:HI", two numbers separated by one colon.
RangeReading read_range(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    return {{}, "is not a range LO:HI of two numbers (write 1.5:2.5)"};
  }
  RangeReading reading;
  const std::string_view bounds[] = {text.substr(0, colon), text.substr(colon + 1)};
  double* values[] = {&reading.range.low, &reading.range.high};
  for (int i = 0; i < 2; ++i) {
    const values::NumberReading number = values::read_number(bounds[i]);
    if (!number.ok()) {
      return {{}, "is not a range LO:HI of two numbers: " + values::quoted(bounds[i]) + " " +
                      number.problem};
    }
    *values[i] = number.value;
  }
  return reading;
}

}  // namespace

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
// A whole number from `low` to `high`.
CLI::Validator whole_number_from(int low, int high) {
  return check_with(
      [low, high](std::string_view t) { return values::read_whole_number(t, low, high).problem; });
}

const CLI::Validator& file_name_check() {
  static const CLI::Validator check =
      check_with([](std::string_view t) { return file_name_problem(std::string(t)); });
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
CLI::Validator choice_check(std::initializer_list<std::string_view> choices) {
  std::vector<std::string_view> allowed(choices);
  return check_with([allowed](std::string_view t) -> std::string {
    if (std::find(allowed.begin(), allowed.end(), t) != allowed.end()) return {};
    std::string list;
    for (std::string_view c : allowed) list += (list.empty() ? "" : ", ") + std::string(c);
    return "is not one of " + list;
  });
}

namespace {

// --- The options -------------------------------------------------------------------

constexpr const char* kFooter =
    "Lists: --cases, --power, --ror, --gene-prevalence (or --allele-frequency),\n"
    "--controls-per-case and --alpha take comma lists such as 0.1,0.2,0.3 and\n"
    "give one row per combination. In the rows, --alpha changes slowest, then\n"
    "--gene-prevalence, --controls-per-case and --ror, and --cases (or --power)\n"
    "fastest; each list in the order given. Write numbers with a decimal point\n"
    "and no thousands separators: 1500, not 1,500 (a list \"1, 500\" takes a blank).\n"
    "\n"
    "Exit status: 0 every row answered; 1 some rows without an answer (their error\n"
    "column says why); 2 wrong use, nothing calculated; 4 output not written.";

// The simulation check, for every command that calculates.
void add_simulation_options(CLI::App& app, Typed& t) {
  app.add_option("--simulate", t.simulate,
                 "Check the large-sample power by simulation:\n"
                 "at the least and the most favourable points\n"
                 "draw R studies of the reported size and run\n"
                 "the Wald test on each (10000 is a good R;\n"
                 "0: no simulation).")
      ->type_name("R")
      ->capture_default_str()
      ->check(whole_number_from(0, simulate::kMaxReplicates));
  app.add_option("--seed", t.seed,
                 "Seed of the simulated studies: the same seed\n"
                 "gives the same studies, whatever --threads.")
      ->type_name("S")
      ->capture_default_str()
      ->check(whole_number_from(0, std::numeric_limits<int>::max()));
  app.add_option("--threads", t.threads,
                 "Threads for the simulation (0: all cores).")
      ->type_name("T")
      ->capture_default_str()
      ->check(whole_number_from(0, simulate::kMaxThreads));
}

// The simulation options as read, knowing they are valid.
SimulationSettings simulation_settings(const Typed& t) {
  SimulationSettings settings;
  settings.replicates = static_cast<long>(values::read_whole_number(t.simulate).value);
  settings.seed = static_cast<std::uint64_t>(values::read_whole_number(t.seed).value);
  settings.threads = static_cast<int>(values::read_whole_number(t.threads).value);
  return settings;
}

}  // namespace

void add_design_options(CLI::App& app, Typed& t) {
  app.add_option("--quantiles", t.quantiles,
                 "Exposure in K categories of equal frequency\n"
                 "among controls (quantiles), K from 2 to 100.\n"
                 "Give this or --exposure-prevalences.")
      ->type_name("K")
      ->check(whole_number_from(plan::kMinCategories, plan::kMaxCategories));
  app.add_option("--exposure-prevalences", t.exposure_prevalences,
                 "Exposure in K categories with these\n"
                 "frequencies among controls, summing to 1.")
      ->type_name("P1,...,PK")
      ->check(list_check());
  app.add_option("--gene-prevalence", t.gene_prevalence,
                 "Proportion of carriers of the gene among\n"
                 "controls, between 0 and 1. Required, unless\n"
                 "--allele-frequency is given.")
      ->type_name("P[,...]")
      ->check(list_check());
  app.add_option("--allele-frequency", t.allele_frequency,
                 "Instead of --gene-prevalence: frequency of\n"
                 "the risk allele among controls, between 0\n"
                 "and 1, with --genetic-model; carriers are in\n"
                 "Hardy-Weinberg proportions.")
      ->type_name("Q[,...]")
      ->check(list_check());
  app.add_option("--genetic-model", t.genetic_model,
                 "Who carries the gene: dominant, one or two\n"
                 "copies of the allele, 1-(1-Q)^2 of controls;\n"
                 "recessive, two copies, Q^2.")
      ->type_name("dominant|recessive")
      ->check(choice_check({"dominant", "recessive"}));
  app.add_option("--controls-per-case", t.controls_per_case, "Number of controls per case.")
      ->type_name("C[,...]")
      ->capture_default_str()
      ->check(list_check());
  app.add_option("--or-e", t.or_e,
                 "OR^tb(E|G=0) under the null: odds ratio of\n"
                 "the top versus the bottom exposure category\n"
                 "among non-carriers.")
      ->type_name("X")
      ->capture_default_str()
      ->check(number_check());
  app.add_option("--or-g", t.or_g,
                 "OR(G|E=0) under the null: odds ratio of\n"
                 "carriers versus non-carriers in the bottom\n"
                 "exposure category.")
      ->type_name("X")
      ->capture_default_str()
      ->check(number_check());
  app.add_option("--ror", t.ror,
                 "ROR^tb under the alternative: the ratio of the\n"
                 "top-versus-bottom exposure odds ratios of\n"
                 "carriers and of non-carriers.")
      ->type_name("X[,...]")
      ->required()
      ->check(list_check());
  app.add_option("--or-e-range", t.or_e_range,
                 "Range of OR^tb(E|G=0) under the alternative\n"
                 "to search, such as 1.5:2.5. Default: the one\n"
                 "value that keeps --or-e and --or-g as the\n"
                 "marginal odds ratios.")
      ->type_name("LO:HI")
      ->check(range_check());
  app.add_option("--or-g-range", t.or_g_range,
                 "Range of OR(G|E=0) under the alternative to\n"
                 "search, such as 1:2. Default: as for\n"
                 "--or-e-range.")
      ->type_name("LO:HI")
      ->check(range_check());
  app.add_option("--alpha", t.alpha,
                 "Two-sided level of the test: 5e-8 for\n"
                 "genome-wide significance, 0.05/m for a\n"
                 "Bonferroni correction over m tests.")
      ->type_name("A[,...]")
      ->capture_default_str()
      ->check(list_check());
  app.add_option("--search", t.search,
                 "global: the true extremes over the box, from\n"
                 "the best points of a grid, each refined;\n"
                 "centre: one local search from the centre of\n"
                 "the box, as the question-by-question dialogue\n"
                 "does.")
      ->type_name("global|centre")
      ->capture_default_str()
      ->check(choice_check({"global", "centre"}));
  app.add_option("--format", t.format,
                 "table: for reading; csv: a header row, then\n"
                 "one row per calculation; json: an array of\n"
                 "objects with the csv's column names.")
      ->type_name("table|csv|json")
      ->capture_default_str()
      ->check(choice_check({"table", "csv", "json"}));
  add_simulation_options(app, t);
}

namespace {

CLI::App* add_power_command(CLI::App& top, Typed& t) {
  CLI::App* app =
      top.add_subcommand("power", "Least and most favourable power for N cases");
  app->add_option("--cases", t.cases, "Number of cases, each with C controls.")
      ->type_name("N[,...]")
      ->required()
      ->check(list_check());
  add_design_options(*app, t);
  app->footer(
      "The power of the Wald test of ROR^tb is found at every point of the box of\n"
      "the alternative's OR(G|E=0) and OR^tb(E|G=0) (--or-g-range, --or-e-range);\n"
      "the least and the most favourable power are reported with the odds ratios\n"
      "where they occur.\n\n" +
      std::string(kFooter));
  return app;
}

CLI::App* add_size_command(CLI::App& top, Typed& t) {
  CLI::App* app = top.add_subcommand("size", "Study size that reaches a target power");
  app->add_option("--power", t.power,
                  "Target power, between 0 and 1, reached at the\n"
                  "least favourable point of the box.")
      ->type_name("P[,...]")
      ->required()
      ->check(list_check());
  add_design_options(*app, t);
  app->footer(
      "The study size is the fewest whole cases that reach the target power at the\n"
      "least favourable point of the box of the alternative's OR(G|E=0) and\n"
      "OR^tb(E|G=0) (--or-g-range, --or-e-range), and C times as many controls\n"
      "rounded up to whole subjects; the powers it has at both extremes of the box\n"
      "are reported (gxeplan power with those cases gives the same).\n\n" +
      std::string(kFooter));
  return app;
}

}  // namespace

// --- Messages --------------------------------------------------------------------------

Parsed wrong_use(std::string message) {
  Parsed p;
  p.action = Parsed::Action::wrong_use;
  p.text = "gxeplan: " + std::move(message);
  return p;
}

namespace {

// "power, size or batch": the commands, in the order of the help.
std::string command_names(const CLI::App& top) {
  const std::vector<const CLI::App*> commands = top.get_subcommands({});
  std::string names;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    names += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i]->get_name();
  }
  return names;
}

// The message of a parse error of CLI11, in our words where we know the case.
Parsed parse_failure(const CLI::ParseError& e, const CLI::App& top, const CLI::App* command,
                     const CLI::App* other) {
  // Unknown arguments first: a mistyped option name explains the rest.
  const std::vector<std::string> stray_top = top.remaining();
  if (!stray_top.empty()) {
    const std::string& a = stray_top.front();
    if (command == nullptr && !a.empty() && a[0] != '-') {
      return wrong_use(values::quoted(a) + " is not a command: use " + command_names(top) +
                       " (gxeplan --help)");
    }
    return wrong_use(values::quoted(a) + " is not an option here: options follow the command, as in "
                     "gxeplan power --cases 500 ... (gxeplan --help)");
  }
  if (command != nullptr) {
    const std::string name = "gxeplan " + command->get_name();
    const std::vector<std::string> stray = command->remaining();
    if (!stray.empty()) {
      const std::string& a = stray.front();
      if ((a.empty() || a[0] != '-') && command->get_name() == "batch") {
        return wrong_use(values::quoted(a) + " is one file too many: gxeplan batch reads one FILE");
      }
      if (a.empty() || a[0] != '-') {
        return wrong_use(values::quoted(a) + " is not the value of an option: a value goes right "
                         "after its option, and a list is one argument, such as 500,1000");
      }
      if (other != nullptr && other->get_option_no_throw(a) != nullptr) {
        return wrong_use(a + " is not an option of " + name + " (it belongs to gxeplan " +
                         other->get_name() + ")");
      }
      return wrong_use(values::quoted(a) + " is not an option of " + name + " (" + name +
                       " --help lists them)");
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
      for (const CLI::Option* opt : command->get_options()) {
        if (opt->get_required() && opt->count() == 0) {
          return wrong_use(opt->get_name() + " is required (" + name + " --help)");
        }
      }
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
      // CLI11 names the option first: "--ror: ...".
      const std::string what = e.what();
      const CLI::Option* opt = command->get_option_no_throw(what.substr(0, what.find(':')));
      if (opt != nullptr && opt->count() > 1) {
        return wrong_use(opt->get_name() + " is given more than once: give it once, with a "
                         "comma list for several values");
      }
      if (opt != nullptr) return wrong_use(opt->get_name() + " needs a value");
    }
  }
  // A flag given a value, "--version=x", arrives as "Could not convert:
  // --version = x".
  const std::string what = e.what();
  constexpr std::string_view kConversion = "Could not convert: ";
  if (dynamic_cast<const CLI::ConversionError*>(&e) != nullptr && what.starts_with(kConversion)) {
    const std::size_t equals = what.find(" = ", kConversion.size());
    if (equals != std::string::npos) {
      return wrong_use(what.substr(kConversion.size(), equals - kConversion.size()) +
                       " takes no value: " + values::quoted(what.substr(equals + 3)) +
                       " was given");
    }
  }
  // Validation errors arrive as "--cases: \"5OO\" is not a number", the
  // value quoted; any other message of the parser keeps to one line of
  // printable text.
  return wrong_use(values::printable(what));
}

// --- Building the calculations -----------------------------------------------------

// Where a value came from, for messages: the option and its text (a list
// item, or the whole value of an option made of several numbers).
struct Source {
  std::string_view field;  // the column name plan::check reports
  std::string_view option;
  std::string_view text;
  bool whole_value = false;  // a range or the exposure prevalences
  std::string_view list = {};  // the whole list, when `text` is one of its items
};

// A message for an input plan::check refused.
std::string check_message(const plan::Error& error, const std::vector<Source>& sources) {
  for (const Source& s : sources) {
    if (s.field != error.input) continue;
    if (s.whole_value) {
      return std::string(s.option) + ": " + values::quoted(s.text) + ": " + error.message();
    }
    // The whole list too: "0" in "0,3" shows a decimal comma read as a list.
    const std::string in_list =
        s.list.find(',') == std::string_view::npos ? "" : " in " + values::quoted(s.list);
    return std::string(s.option) + ": " + values::quoted(s.text) + in_list + " " + error.rule;
  }
  return error.message();
}

}  // namespace

Parsed build(const CLI::App& command, const Typed& t, plan::Mode mode) {
  const auto given = [&](const char* option) { return command.count(option) > 0; };

  if (given("--quantiles") && given("--exposure-prevalences")) {
    return wrong_use("--quantiles and --exposure-prevalences: give one of the two, not both");
  }
  if (!given("--quantiles") && !given("--exposure-prevalences")) {
    return wrong_use("the exposure categories are required: give --quantiles K or "
                     "--exposure-prevalences P1,...,PK");
  }
  const bool from_alleles = given("--allele-frequency");
  if (from_alleles && given("--gene-prevalence")) {
    return wrong_use("--gene-prevalence and --allele-frequency: give one of the two, not both");
  }
  if (!from_alleles && !given("--gene-prevalence")) {
    return wrong_use("--gene-prevalence is required (or --allele-frequency with "
                     "--genetic-model)");
  }
  if (from_alleles != given("--genetic-model")) {
    return wrong_use(from_alleles
                         ? "--allele-frequency needs --genetic-model dominant or recessive"
                         : "--genetic-model goes with --allele-frequency");
  }

  plan::Scenario base;
  base.mode = mode;
  if (given("--quantiles")) {
    base.design.quantiles = static_cast<int>(values::read_whole_number(t.quantiles).value);
  } else {
    base.design.exposure_prevalences = values::read_number_list(t.exposure_prevalences).values;
  }
  base.design.or_e = values::read_number(t.or_e).value;
  base.design.or_g = values::read_number(t.or_g).value;
  if (given("--or-e-range")) base.ranges.or_e = read_range(t.or_e_range).range;
  if (given("--or-g-range")) base.ranges.or_g = read_range(t.or_g_range).range;
  base.settings.search = *plan::parse_search_method(t.search);

  // The lists, slowest first.
  const std::string& gene_text = from_alleles ? t.allele_frequency : t.gene_prevalence;
  const std::string_view gene_option = from_alleles ? "--allele-frequency" : "--gene-prevalence";
  const std::string& last_text = mode == plan::Mode::power ? t.cases : t.power;
  // Each list read once; its items are views into the option texts.
  const values::ListReading alpha_list = values::read_number_list(t.alpha);
  const values::ListReading gene_list = values::read_number_list(gene_text);
  const values::ListReading controls_list = values::read_number_list(t.controls_per_case);
  const values::ListReading ror_list = values::read_number_list(t.ror);
  const values::ListReading last_list = values::read_number_list(last_text);
  const std::vector<std::string_view>& alpha_items = alpha_list.items;
  const std::vector<std::string_view>& gene_items = gene_list.items;
  const std::vector<std::string_view>& controls_items = controls_list.items;
  const std::vector<std::string_view>& ror_items = ror_list.items;
  const std::vector<std::string_view>& last_items = last_list.items;

  std::vector<double> gene_values = gene_list.values;  // carrier prevalences from here on
  std::optional<plan::GeneticModel> model;
  if (from_alleles) {
    model = plan::parse_genetic_model(t.genetic_model);
    for (std::size_t i = 0; i < gene_values.size(); ++i) {
      const double q = gene_values[i];
      if (const std::optional<plan::Error> error = plan::check_allele_frequency(q)) {
        return wrong_use("--allele-frequency: " + values::quoted(gene_items[i]) + " " + error->rule);
      }
      gene_values[i] = plan::carrier_prevalence(q, *model);
    }
  }

  // The number of rows, counted up to one more than allowed.
  std::size_t rows = 1;
  for (std::size_t n : {alpha_items.size(), gene_items.size(), controls_items.size(),
                        ror_items.size(), last_items.size()}) {
    rows = std::min(rows * n, kMaxRows + 1);  // rows * n: at most 10001 * one argument's length
  }
  if (rows > kMaxRows) {
    return wrong_use("the lists make more than " + std::to_string(kMaxRows) +
                     " combinations, one row each; split the command");
  }

  const std::vector<double>& alphas = alpha_list.values;
  const std::vector<double>& controls = controls_list.values;
  const std::vector<double>& rors = ror_list.values;
  const std::vector<double>& lasts = last_list.values;
  Parsed parsed;
  parsed.action = Parsed::Action::calculate;
  parsed.request.mode = mode;
  parsed.request.format = t.format == "csv"    ? Format::csv
                          : t.format == "json" ? Format::json
                                               : Format::table;
  parsed.request.simulation = simulation_settings(t);
  parsed.request.scenarios.reserve(rows);
  for (std::size_t a = 0; a < alphas.size(); ++a) {
    for (std::size_t g = 0; g < gene_values.size(); ++g) {
      for (std::size_t c = 0; c < controls.size(); ++c) {
        for (std::size_t r = 0; r < rors.size(); ++r) {
          for (std::size_t n = 0; n < lasts.size(); ++n) {
            plan::Scenario s = base;
            s.settings.alpha = alphas[a];
            s.design.gene_prevalence = gene_values[g];
            s.design.controls_per_case = controls[c];
            s.design.ror = rors[r];
            (mode == plan::Mode::power ? s.cases : s.target_power) = lasts[n];
            if (const std::optional<plan::Error> error = plan::check(s)) {
              if (from_alleles && error->input == "gene_prevalence") {
                return wrong_use("--allele-frequency: " + values::quoted(gene_items[g]) +
                                 " gives a carrier prevalence of " + error->value + " (" +
                                 std::string(plan::name(*model)) + "), which " + error->rule);
              }
              const std::vector<Source> sources = {
                  {"quantiles", "--quantiles", t.quantiles},
                  {"exposure_prevalences", "--exposure-prevalences", t.exposure_prevalences,
                   true},
                  {"gene_prevalence", gene_option, gene_items[g], false, gene_text},
                  {"controls_per_case", "--controls-per-case", controls_items[c], false,
                   t.controls_per_case},
                  {"or_e", "--or-e", t.or_e},
                  {"or_g", "--or-g", t.or_g},
                  {"ror", "--ror", ror_items[r], false, t.ror},
                  {"alpha", "--alpha", alpha_items[a], false, t.alpha},
                  {"cases", "--cases", last_items[n], false, last_text},
                  {"power", "--power", last_items[n], false, last_text},
                  {"or_e_low", "--or-e-range", t.or_e_range, true},
                  {"or_e_high", "--or-e-range", t.or_e_range, true},
                  {"or_g_low", "--or-g-range", t.or_g_range, true},
                  {"or_g_high", "--or-g-range", t.or_g_range, true},
              };
              return wrong_use(check_message(*error, sources));
            }
            parsed.request.scenarios.push_back(std::move(s));
          }
        }
      }
    }
  }
  return parsed;
}

Parsed parse_command_line(const std::vector<std::string>& args) {
  Typed typed;
  CLI::App top(
      "gxeplan: power and sample size of case-control studies of gene-environment\n"
      "interaction, for a binary gene G and an exposure E in k ordered categories,\n"
      "with the Wald test of the trend interaction ROR^tb. The odds ratios\n"
      "OR(G|E=0) and OR^tb(E|G=0) of the alternative are given as ranges, and the\n"
      "least and the most favourable power over that box are reported.",
      "gxeplan");
  top.set_version_flag("--version", std::string("gxeplan ") + GXE_VERSION,
                       "Print the version and exit");
  top.require_subcommand(0, 1);
  top.footer(
      "Without arguments, gxeplan asks for the study design question by question.\n"
      "gxeplan power --help, gxeplan size --help, gxeplan curve --help and\n"
      "gxeplan batch --help list the options.");
  CLI::App* power = add_power_command(top, typed);
  CLI::App* size = add_size_command(top, typed);
  CurveTyped curve_typed;
  CLI::App* curve = add_curve_command(top, typed, curve_typed);
  BatchRequest batch_request;
  CLI::App* batch = add_batch_command(top, batch_request);
  add_simulation_options(*batch, typed);

  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    top.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {Parsed::Action::show, {}, top.help(), {}};
  } catch (const CLI::CallForAllHelp&) {
    return {Parsed::Action::show, {}, top.help(), {}};
  } catch (const CLI::CallForVersion& e) {
    return {Parsed::Action::show, {}, std::string(e.what()) + "\n", {}};
  } catch (const CLI::ParseError& e) {
    const CLI::App* command = power->parsed()   ? power
                              : size->parsed()  ? size
                              : curve->parsed() ? curve
                              : batch->parsed() ? batch
                                                : nullptr;
    const CLI::App* other = command == power ? size : command == size ? power : nullptr;
    return parse_failure(e, top, command, other);
  }
  if (power->parsed()) return build(*power, typed, plan::Mode::power);
  if (size->parsed()) return build(*size, typed, plan::Mode::size);
  if (curve->parsed()) return build_curve(*curve, typed, curve_typed);
  if (batch->parsed()) {
    Parsed parsed;
    parsed.action = Parsed::Action::batch;
    parsed.batch = batch_request;
    // "-" is standard output, as FILE "-" is standard input.
    if (parsed.batch.output == "-") parsed.batch.output.clear();
    parsed.batch.simulation = simulation_settings(typed);
    return parsed;
  }
  return wrong_use("give a command, " + command_names(top) + " (gxeplan --help)");
}

}  // namespace gxe::cli
