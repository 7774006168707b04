#include "cli/design_options.h"

#include <CLI/CLI.hpp>

#include <limits>
#include <optional>
#include <vector>

#include "cli/option_checks.h"
#include "plan/request_text.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

using plan::Column;

// An option of the design: its column (which gives its name and its text),
// and how it is shown in the help; its text is checked as its column is read.
struct OptionEntry {
  Column column;
  const char* type_name;
  const char* help;
};

// The lists that do not name a curve take one value in a curve.
bool single_in_curve(Column c) {
  return c == Column::gene_prevalence || c == Column::allele_frequency ||
         c == Column::controls_per_case || c == Column::alpha;
}

// The check of an option's text: the form its column takes, as every front
// end that reads typed texts reads it.
CLI::Validator validator(const OptionEntry& s) {
  const plan::TextForm form = *plan::text_form(s.column);
  const Column column = s.column;
  return check_with(
      [form, column](std::string_view t) { return plan::text_problem(form, column, t); });
}

// A check of one setting of the simulation by the planning library's rule.
CLI::Validator setting_check(double plan::SimulationSettings::*setting) {
  return check_with(
      [setting](std::string_view text) { return plan::setting_problem(setting, text); });
}

// The design's options, in the order of the help.
std::vector<OptionEntry> design_option_list(bool curve) {
  return {
      {Column::quantiles, "K",
       "Exposure in K categories of equal frequency\namong controls (quantiles), K from 2 to "
       "100.\nGive this or --exposure-prevalences."},
      {Column::exposure_prevalences, "P1,...,PK",
       "Exposure in K categories with these\nfrequencies among controls, summing to 1."},
      {Column::gene_prevalence, "P[,...]",
       "Proportion of carriers of the gene among\ncontrols, between 0 and 1. Required, unless\n"
       "--allele-frequency is given."},
      {Column::allele_frequency, "Q[,...]",
       "Instead of --gene-prevalence: frequency of\nthe risk allele among controls, between 0\n"
       "and 1, with --genetic-model; carriers are in\nHardy-Weinberg proportions."},
      {Column::genetic_model, "dominant|recessive",
       "Who carries the gene: dominant, one or two\ncopies of the allele, 1-(1-Q)^2 of "
       "controls;\nrecessive, two copies, Q^2."},
      {Column::controls_per_case, "C[,...]",
       "Number of controls per case."},
      {Column::or_e, "X",
       "OR^tb(E|G=0) under the null: odds ratio of\nthe top versus the bottom exposure "
       "category\namong non-carriers."},
      {Column::or_g, "X",
       "OR(G|E=0) under the null: odds ratio of\ncarriers versus non-carriers in the bottom\n"
       "exposure category."},
      {Column::ror, "X[,...]",
       curve ? "With --over cases: ROR^tb under the alternative,\none curve per value (the ratio "
               "of the top-versus-\nbottom exposure odds ratios of carriers and of\n"
               "non-carriers)."
             : "ROR^tb under the alternative: the ratio of the\ntop-versus-bottom exposure odds "
               "ratios of\ncarriers and of non-carriers."},
      {Column::or_e_low, "LO:HI",
       "Range of OR^tb(E|G=0) under the alternative\nto search, such as 1.5:2.5. Default: the "
       "one\nvalue that keeps --or-e and --or-g as the\nmarginal odds ratios."},
      {Column::or_g_low, "LO:HI",
       "Range of OR(G|E=0) under the alternative to\nsearch, such as 1:2. Default: as for\n"
       "--or-e-range."},
      {Column::or_ge, "X",
       "OR^tb(G,E) among controls: odds ratio of\nbeing a carrier in the top versus the bottom\n"
       "exposure category (1: gene and exposure\nindependent). The odds ratios above are then\n"
       "conditional on both."},
      {Column::or_ge_low, "LO:HI",
       "Range of OR^tb(G,E) among controls to search\ntoo, such as 0.7:1.5 (with both ranges of "
       "the\nodds ratios). Default: the one value --or-ge."},
      {Column::gene_prevalence_low, "LO:HI",
       "Range of the carrier prevalence among\ncontrols to search too, such as 0.2:0.4 (with\n"
       "both ranges of the odds ratios). Default: the\none value --gene-prevalence."},
      {Column::allele_frequency_low, "LO:HI",
       "Instead of --gene-prevalence-range: a range\nof the risk allele's frequency to search, "
       "with\n--genetic-model."},
      {Column::alpha, "A[,...]",
       "Two-sided level of the test: 5e-8 for\ngenome-wide significance, 0.05/m for a\n"
       "Bonferroni correction over m tests."},
      {Column::search, "global|centre",
       "global: the true extremes over the box, from\nthe best points of a grid, each refined;\n"
       "centre: one local search from the centre of\nthe box, as the question-by-question "
       "dialogue\ndoes."},
      {Column::direction, "risk|protective",
       "Detect: the side of 1 on which the detectable\nROR^tb is sought, above 1 (risk) or below 1\n"
       "(protective)."},
      {Column::test, "null-variance|wald|lr",
       "The test whose power is computed.\nnull-variance: the classical formula, critical\n"
       "value from the null's variance (the\ndialogue's); wald: the Wald test as fitted\n"
       "software runs it, variance at the fitted\nvalues; lr: the likelihood-ratio test."},
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
  return plan::request_from_texts(
      mode, [this](Column c) { return given(c) ? &text(c) : nullptr; });
}

plan::SimulationSettings DesignOptions::simulation() const {
  return {values::read_number(simulate_).value, values::read_number(seed_).value,
          values::read_number(threads_).value,
          plan::parse_size_by(size_by_).value_or(plan::SizeBy::formula)};
}

std::string DesignOptions::simulation_problem(std::optional<plan::Mode> mode) const {
  const std::string problem = plan::size_by_problem(simulation(), size_by_, mode);
  return problem.empty() ? problem : "--size-by: " + problem;
}

Format DesignOptions::format() const {
  return format_ == "csv" ? Format::csv : format_ == "json" ? Format::json : Format::table;
}

std::string DesignOptions::message(const plan::RequestError& request_error, Texts others) const {
  const plan::Error& e = request_error.error;
  const std::optional<Column> c = plan::find_column(e.input);
  const std::string option = c ? plan::option_name(*c) : "--" + e.input;
  if (e.input.empty()) return plan::option_rule(e);
  if (e.value.empty()) return option + " " + plan::option_rule(e);
  const std::string* typed_text = c ? &text(*c) : &none_;
  for (const auto& [name, other] : others) {
    if (name == e.input) typed_text = other;
  }
  return option + ": " + plan::typed_value_message(request_error, *typed_text);
}

}  // namespace gxe::cli
