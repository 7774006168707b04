#include "cli/design_options.h"

#include <CLI/CLI.hpp>

#include <limits>
#include <optional>
#include <vector>

#include "cli/option_checks.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

using plan::Column;

enum class Check { number, list, range, choice };

// An option of the design: its column (which gives its name and its text),
// how it is shown in the help and how it is checked as it is parsed.
struct OptionEntry {
  Column column;
  const char* type_name;
  const char* help;
  Check check;
};

// The lists that do not name a curve take one value in a curve.
bool single_in_curve(Column c) {
  return c == Column::gene_prevalence || c == Column::allele_frequency ||
         c == Column::controls_per_case || c == Column::alpha;
}

CLI::Validator validator(const OptionEntry& s) {
  switch (s.check) {
    case Check::number:
      return number_check();
    case Check::list:
      return list_check();
    case Check::range:
      return range_check();
    case Check::choice:
      break;
  }
  return choice_check(s.column);
}

// A check of one setting of the simulation by the planning library's rule.
CLI::Validator setting_check(double plan::SimulationSettings::*setting) {
  return check_with([setting](std::string_view text) -> std::string {
    const values::NumberReading number = values::read_number(text);
    if (!number.ok()) return number.problem;
    plan::SimulationSettings settings;
    settings.*setting = number.value;
    const std::optional<plan::Error> e = plan::check(settings);
    return e ? e->plain_rule() : std::string();
  });
}

// The design's options, in the order of the help.
std::vector<OptionEntry> design_option_list(bool curve) {
  return {
      {Column::quantiles, "K",
       "Exposure in K categories of equal frequency\namong controls (quantiles), K from 2 to "
       "100.\nGive this or --exposure-prevalences.",
       Check::number},
      {Column::exposure_prevalences, "P1,...,PK",
       "Exposure in K categories with these\nfrequencies among controls, summing to 1.",
       Check::list},
      {Column::gene_prevalence, "P[,...]",
       "Proportion of carriers of the gene among\ncontrols, between 0 and 1. Required, unless\n"
       "--allele-frequency is given.",
       Check::list},
      {Column::allele_frequency, "Q[,...]",
       "Instead of --gene-prevalence: frequency of\nthe risk allele among controls, between 0\n"
       "and 1, with --genetic-model; carriers are in\nHardy-Weinberg proportions.",
       Check::list},
      {Column::genetic_model, "dominant|recessive",
       "Who carries the gene: dominant, one or two\ncopies of the allele, 1-(1-Q)^2 of "
       "controls;\nrecessive, two copies, Q^2.",
       Check::choice},
      {Column::controls_per_case, "C[,...]",
       "Number of controls per case.", Check::list},
      {Column::or_e, "X",
       "OR^tb(E|G=0) under the null: odds ratio of\nthe top versus the bottom exposure "
       "category\namong non-carriers.",
       Check::number},
      {Column::or_g, "X",
       "OR(G|E=0) under the null: odds ratio of\ncarriers versus non-carriers in the bottom\n"
       "exposure category.",
       Check::number},
      {Column::ror, "X[,...]",
       curve ? "With --over cases: ROR^tb under the alternative,\none curve per value (the ratio "
               "of the top-versus-\nbottom exposure odds ratios of carriers and of\n"
               "non-carriers)."
             : "ROR^tb under the alternative: the ratio of the\ntop-versus-bottom exposure odds "
               "ratios of\ncarriers and of non-carriers.",
       Check::list},
      {Column::or_e_low, "LO:HI",
       "Range of OR^tb(E|G=0) under the alternative\nto search, such as 1.5:2.5. Default: the "
       "one\nvalue that keeps --or-e and --or-g as the\nmarginal odds ratios.",
       Check::range},
      {Column::or_g_low, "LO:HI",
       "Range of OR(G|E=0) under the alternative to\nsearch, such as 1:2. Default: as for\n"
       "--or-e-range.",
       Check::range},
      {Column::or_ge, "X",
       "OR^tb(G,E) among controls: odds ratio of\nbeing a carrier in the top versus the bottom\n"
       "exposure category (1: gene and exposure\nindependent). The odds ratios above are then\n"
       "conditional on both.",
       Check::number},
      {Column::or_ge_low, "LO:HI",
       "Range of OR^tb(G,E) among controls to search\ntoo, such as 0.7:1.5 (with both ranges of "
       "the\nodds ratios). Default: the one value --or-ge.",
       Check::range},
      {Column::gene_prevalence_low, "LO:HI",
       "Range of the carrier prevalence among\ncontrols to search too, such as 0.2:0.4 (with\n"
       "both ranges of the odds ratios). Default: the\none value --gene-prevalence.",
       Check::range},
      {Column::allele_frequency_low, "LO:HI",
       "Instead of --gene-prevalence-range: a range\nof the risk allele's frequency to search, "
       "with\n--genetic-model.",
       Check::range},
      {Column::alpha, "A[,...]",
       "Two-sided level of the test: 5e-8 for\ngenome-wide significance, 0.05/m for a\n"
       "Bonferroni correction over m tests.",
       Check::list},
      {Column::search, "global|centre",
       "global: the true extremes over the box, from\nthe best points of a grid, each refined;\n"
       "centre: one local search from the centre of\nthe box, as the question-by-question "
       "dialogue\ndoes.",
       Check::choice},
      {Column::direction, "risk|protective",
       "Detect: the side of 1 on which the detectable\nROR^tb is sought, above 1 (risk) or below 1\n"
       "(protective).",
       Check::choice},
      {Column::test, "null-variance|wald|lr",
       "The test whose power is computed.\nnull-variance: the classical formula, critical\n"
       "value from the null's variance (the\ndialogue's); wald: the Wald test as fitted\n"
       "software runs it, variance at the fitted\nvalues; lr: the likelihood-ratio test.",
       Check::choice},
  };
}

}  // namespace

void DesignOptions::add(CLI::App& app, For command) {
  app_ = &app;
  const bool curve = command == For::curve;
  for (const OptionEntry& s : design_option_list(curve)) {
    if (s.column == Column::ror && command == For::detect) continue;
    if (s.column == Column::direction && command == For::calculation) continue;
    std::string type_name = s.type_name;
    if (curve && single_in_curve(s.column)) type_name = type_name.substr(0, type_name.find('['));
    CLI::Option* option = app.add_option(plan::option_name(s.column), text(s.column), s.help)
                              ->type_name(type_name)
                              ->check(validator(s));
    if (!plan::column(s.column).default_text.empty()) option->capture_default_str();
    if (s.column == Column::ror && command == For::calculation) option->required();
  }
  app.add_option("--format", format_,
                 "table: for reading; csv: a header row, then\n"
                 "one row per calculation; json: an array of\n"
                 "objects with the csv's column names.")
      ->type_name("table|csv|json")
      ->capture_default_str()
      ->check(choice_check({"table", "csv", "json"}));
  add_simulation(app);
}

void DesignOptions::add_cases(CLI::App& app, std::string_view help, bool required) {
  CLI::Option* option = app.add_option(plan::option_name(Column::cases), cases_, std::string(help))
                            ->type_name("N[,...]")
                            ->check(list_check());
  if (required) option->required();
}

void DesignOptions::add_power(CLI::App& app, std::string_view help, bool required) {
  CLI::Option* option = app.add_option(plan::option_name(Column::power), power_, std::string(help))
                            ->type_name("P[,...]")
                            ->check(list_check());
  if (required) option->required();
}

void DesignOptions::add_simulation(CLI::App& app) {
  app_ = &app;
  app.add_option("--simulate", simulate_,
                 "Check the large-sample power by simulation:\n"
                 "at the least and the most favourable points\n"
                 "draw R studies of the reported size and run\n"
                 "the Wald and the likelihood-ratio tests on\n"
                 "each (10000 is a good R; 0: no simulation).")
      ->type_name("R")
      ->capture_default_str()
      ->check(setting_check(&plan::SimulationSettings::replicates));
  app.add_option("--seed", seed_,
                 "Seed of the simulated studies: the same seed\n"
                 "gives the same studies, whatever --threads.")
      ->type_name("S")
      ->capture_default_str()
      ->check(setting_check(&plan::SimulationSettings::seed));
  app.add_option("--size-by", size_by_,
                 "formula: the study size of the large-sample\n"
                 "formula; simulation: also the fewest cases\n"
                 "whose simulated power reaches the target at\n"
                 "the least favourable point (sim_cases), with\n"
                 "--simulate R studies at each number of cases\n"
                 "tried. Sample-size calculations only.")
      ->type_name("formula|simulation")
      ->capture_default_str()
      ->check(choice_check({plan::kSizeByNames[0], plan::kSizeByNames[1]}));
  app.add_option("--threads", threads_,
                 "Threads for the calculations and the simulation\n"
                 "(0: all cores; 1: one row after the other).\n"
                 "The rows are the same whatever the number.")
      ->type_name("T")
      ->capture_default_str()
      ->check(setting_check(&plan::SimulationSettings::threads));
}

bool DesignOptions::given(Column c) const {
  const CLI::Option* option = app_->get_option_no_throw(plan::option_name(c));
  return option != nullptr && option->count() > 0;
}

std::string& DesignOptions::text(Column c) {
  return const_cast<std::string&>(std::as_const(*this).text(c));
}

const std::string& DesignOptions::text(Column c) const {
  switch (c) {
    case Column::cases: return cases_;
    case Column::power: return power_;
    case Column::quantiles: return quantiles_;
    case Column::exposure_prevalences: return exposure_prevalences_;
    case Column::gene_prevalence: return gene_prevalence_;
    case Column::allele_frequency: return allele_frequency_;
    case Column::genetic_model: return genetic_model_;
    case Column::controls_per_case: return controls_per_case_;
    case Column::or_e: return or_e_;
    case Column::or_g: return or_g_;
    case Column::ror: return ror_;
    case Column::or_ge: return or_ge_;
    case Column::or_e_low: case Column::or_e_high: return or_e_range_;
    case Column::or_g_low: case Column::or_g_high: return or_g_range_;
    case Column::or_ge_low: case Column::or_ge_high: return or_ge_range_;
    case Column::gene_prevalence_low: case Column::gene_prevalence_high:
      return gene_prevalence_range_;
    case Column::allele_frequency_low: case Column::allele_frequency_high:
      return allele_frequency_range_;
    case Column::alpha: return alpha_;
    case Column::search: return search_;
    case Column::test: return test_;
    case Column::direction: return direction_;
    default: return none_;
  }
}

plan::Request DesignOptions::request(plan::Mode mode) const {
  plan::Request r;
  r.mode = mode;
  const auto list = [&](Column c, std::vector<double>& values) {
    if (given(c)) values = values::read_number_list(text(c)).values;
  };
  const auto number = [&](Column c, std::optional<double>& value) {
    if (given(c)) value = values::read_number(text(c)).value;
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
  if (given(Column::genetic_model)) r.genetic_model = plan::parse_genetic_model(genetic_model_);
  if (given(Column::or_e_low)) r.ranges.or_e = read_range(or_e_range_).range;
  if (given(Column::or_g_low)) r.ranges.or_g = read_range(or_g_range_).range;
  if (given(Column::or_ge_low)) r.ranges.or_ge = read_range(or_ge_range_).range;
  if (given(Column::gene_prevalence_low)) {
    r.ranges.gene_prevalence = read_range(gene_prevalence_range_).range;
  }
  if (given(Column::allele_frequency_low)) {
    r.allele_frequency_range = read_range(allele_frequency_range_).range;
  }
  if (given(Column::search)) r.search = plan::parse_search_method(search_);
  if (given(Column::test)) r.test = plan::parse_test(test_);
  if (given(Column::direction)) r.direction = plan::parse_direction(direction_);
  return r;
}

plan::SimulationSettings DesignOptions::simulation() const {
  return {values::read_number(simulate_).value, values::read_number(seed_).value,
          values::read_number(threads_).value,
          plan::parse_size_by(size_by_).value_or(plan::SizeBy::formula)};
}

std::string DesignOptions::simulation_problem(std::optional<plan::Mode> mode) const {
  const plan::SimulationSettings settings = simulation();
  if (settings.size_by != plan::SizeBy::simulation) return {};
  if (const std::optional<plan::Error> e = plan::check(settings)) {
    return "--size-by: " + e->value + " " + option_rule(*e);
  }
  if (mode && *mode != plan::Mode::size) {
    return "--size-by: " + values::quoted(size_by_) +
           " needs a sample-size calculation: gxeplan size, a curve of the study size "
           "(--over ror with --power) or the size rows of a batch";
  }
  return {};
}

Format DesignOptions::format() const {
  return format_ == "csv" ? Format::csv : format_ == "json" ? Format::json : Format::table;
}

std::string option_rule(const values::Fault& fault) {
  return fault.rule_naming([](std::string_view name) {
    const std::optional<Column> c = plan::find_column(name);
    return c ? plan::option_name(*c) : "--" + std::string(name);
  });
}

std::string DesignOptions::message(const plan::RequestError& request_error, Texts others) const {
  const plan::Error& e = request_error.error;
  const std::optional<Column> c = plan::find_column(e.input);
  const std::string option = c ? plan::option_name(*c) : "--" + e.input;
  if (e.input.empty()) return option_rule(e);
  if (e.value.empty()) return option + " " + option_rule(e);
  const std::string* typed_text = c ? &text(*c) : &none_;
  for (const auto& [name, other] : others) {
    if (name == e.input) typed_text = other;
  }
  const std::string& typed = *typed_text;
  // A value made of several numbers is quoted whole, then the number the
  // rule is about.
  const bool range = option.ends_with("-range");
  if (c == Column::exposure_prevalences || range) {
    return option + ": " + values::quoted(typed) + ": " + e.input + " = " + e.value + ": " +
           option_rule(e);
  }
  if (!request_error.item) return option + ": " + values::quoted(typed) + " " + option_rule(e);
  // The list item, and the whole list: "0" in "0,3" shows a decimal comma
  // read as a list.
  const values::ListReading list = values::read_number_list(typed);
  return option + ": " + values::quoted(list.items.at(*request_error.item)) + " in " +
         values::quoted(typed) + " " + option_rule(e);
}

}  // namespace gxe::cli
