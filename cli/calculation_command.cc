#include "cli/calculation_command.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/rows.h"
#include "cli/status.h"
#include "cli/whole_file.h"
#include "plan/request.h"

namespace gxe::cli {
namespace {

constexpr const char* kListsFooter =
    "Lists: --cases, --power, --ror, --gene-prevalence (or --allele-frequency),\n"
    "--controls-per-case and --alpha take comma lists such as 0.1,0.2,0.3 and\n"
    "give one row per combination. In the rows, --alpha changes slowest, then\n"
    "--gene-prevalence, --controls-per-case and --ror, and --cases (or --power)\n"
    "fastest; each list in the order given. Write numbers with a decimal point\n"
    "and no thousands separators: 1500, not 1,500 (a list \"1, 500\" takes a blank).\n";

constexpr const char* kDetectListsFooter =
    "Lists: --cases, --power, --gene-prevalence (or --allele-frequency),\n"
    "--controls-per-case and --alpha take comma lists such as 0.1,0.2,0.3 and\n"
    "give one row per combination. In the rows, --alpha changes slowest, then\n"
    "--gene-prevalence, --controls-per-case and --power (in the place of --ror in\n"
    "gxeplan power), and --cases fastest; each list in the order given. Write\n"
    "numbers with a decimal point and no thousands separators: 1500, not 1,500\n"
    "(a list \"1, 500\" takes a blank).\n";

constexpr const char* kStatusFooter =
    "\n"
    "Exit status: 0 every row answered; 1 some rows without an answer (their error\n"
    "column says why); 2 wrong use, nothing calculated; 4 output not written.";

constexpr const char* kPowerFooter =
    "The power of the Wald test of ROR^tb is found at every point of the box of\n"
    "the alternative's OR(G|E=0) and OR^tb(E|G=0) (--or-g-range, --or-e-range);\n"
    "the least and the most favourable power are reported with the odds ratios\n"
    "where they occur.\n\n";

constexpr const char* kSizeFooter =
    "The study size is the fewest whole cases that reach the target power at the\n"
    "least favourable point of the box of the alternative's OR(G|E=0) and\n"
    "OR^tb(E|G=0) (--or-g-range, --or-e-range), and C times as many controls\n"
    "rounded up to whole subjects; the powers it has at both extremes of the box\n"
    "are reported (gxeplan power with those cases gives the same).\n\n";

constexpr const char* kDetectFooter =
    "The detectable ROR^tb is the one nearest 1, above it (--direction risk) or\n"
    "below it (protective), at which the least favourable power over the box of\n"
    "the alternative's OR(G|E=0) and OR^tb(E|G=0) (--or-g-range, --or-e-range)\n"
    "reaches the target power; the box is searched anew at each ROR^tb tried,\n"
    "and a range not given follows ROR^tb through the conversion. It is exact to\n"
    "a relative 1e-6 or better: gxeplan power at that ROR^tb gives the target\n"
    "power. The powers at both extremes of the box are reported there.\n\n";

}  // namespace

CalculationCommand::CalculationCommand(CLI::App& top, plan::Mode mode) : mode_(mode) {
  const std::string name(plan::name(mode));
  CLI::App* app = nullptr;
  switch (mode) {
    case plan::Mode::power:
      app = top.add_subcommand(name, "Least and most favourable power for N cases");
      options_.add_cases(*app, "Number of cases, each with C controls.", true);
      options_.add(*app);
      app->footer(std::string(kPowerFooter) + kListsFooter + kStatusFooter);
      break;
    case plan::Mode::size:
      app = top.add_subcommand(name, "Study size that reaches a target power");
      options_.add_power(*app,
                         "Target power, between 0 and 1, reached at the\n"
                         "least favourable point of the box.",
                         true);
      options_.add(*app);
      app->footer(std::string(kSizeFooter) + kListsFooter + kStatusFooter);
      break;
    case plan::Mode::detect:
      app = top.add_subcommand(name, "ROR^tb nearest 1 that N cases detect with a target power");
      options_.add_cases(*app, "Number of cases, each with C controls.", true);
      options_.add_power(*app,
                         "Target power, between 0 and 1 (above --alpha),\n"
                         "reached at the least favourable point of the box.",
                         true);
      options_.add(*app, DesignOptions::For::detect);
      app->footer(std::string(kDetectFooter) + kDetectListsFooter + kStatusFooter);
      break;
  }
}

std::variant<Calculations, std::string> CalculationCommand::prepare() const {
  plan::Expansion rows = plan::expand(options_.request(mode_));
  if (!rows.ok()) return options_.message(*rows.error);
  if (std::string problem = options_.simulation_problem(mode_); !problem.empty()) return problem;
  return Calculations{std::move(rows.scenarios), options_.format(), options_.simulation()};
}

int CalculationCommand::run(std::ostream& out, std::ostream& err) {
  std::variant<Calculations, std::string> prepared = prepare();
  if (const std::string* message = std::get_if<std::string>(&prepared)) {
    return wrong_use(err, *message);
  }
  const Calculations& c = std::get<Calculations>(prepared);
  // Interrupted, the command ends as killed by the signal (the shell's 130
  // for Ctrl-C), not with a status of its own.
  stop_on_signal("gxeplan: interrupted\n");
  const bool simulated = c.simulation.replicates > 0;
  const auto writer = make_writer(c.format, out, c.scenarios, simulated);
  writer->begin();
  const int status = answer_rows(
      c.scenarios, c.simulation,
      [&](std::size_t i, const plan::Answer& a) {
        writer->write(c.scenarios[i], a.outcome, a.simulation ? &*a.simulation : nullptr);
      },
      [](std::size_t) { return std::string(); }, out, err);
  if (status == kOutputFailure) return status;
  writer->end();
  return flushed(out, err) ? status : kOutputFailure;
}

}  // namespace gxe::cli
