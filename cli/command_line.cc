#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <ostream>
#include <string_view>

#include "cli/batch_command.h"
#include "cli/calculation_command.h"
#include "cli/curve_command.h"
#include "cli/output.h"
#include "cli/status.h"
#include "values/number.h"

namespace gxe::cli {
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
std::string parse_failure(const CLI::ParseError& e, const CLI::App& top, const CLI::App* command,
                          const CLI::App* other) {
  // Unknown arguments first: a mistyped option name explains the rest.
  const std::vector<std::string> stray_top = top.remaining();
  if (!stray_top.empty()) {
    const std::string& a = stray_top.front();
    if (command == nullptr && !a.empty() && a[0] != '-') {
      return (values::quoted(a) + " is not a command: use " + command_names(top) +
                       " (gxeplan --help)");
    }
    return (values::quoted(a) + " is not an option here: options follow the command, as in "
                     "gxeplan power --cases 500 ... (gxeplan --help)");
  }
  if (command != nullptr) {
    const std::string name = "gxeplan " + command->get_name();
    const std::vector<std::string> stray = command->remaining();
    if (!stray.empty()) {
      const std::string& a = stray.front();
      if ((a.empty() || a[0] != '-') && command->get_name() == "batch") {
        return (values::quoted(a) + " is one file too many: gxeplan batch reads one FILE");
      }
      if (a.empty() || a[0] != '-') {
        return (values::quoted(a) + " is not the value of an option: a value goes right "
                         "after its option, and a list is one argument, such as 500,1000");
      }
      if (other != nullptr && other->get_option_no_throw(a) != nullptr) {
        return (a + " is not an option of " + name + " (it belongs to gxeplan " +
                         other->get_name() + ")");
      }
      return (values::quoted(a) + " is not an option of " + name + " (" + name +
                       " --help lists them)");
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
      for (const CLI::Option* opt : command->get_options()) {
        if (opt->get_required() && opt->count() == 0) {
          return (opt->get_name() + " is required (" + name + " --help)");
        }
      }
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
      // CLI11 names the option first: "--ror: ...".
      const std::string what = e.what();
      const CLI::Option* opt = command->get_option_no_throw(what.substr(0, what.find(':')));
      if (opt != nullptr && opt->count() > 1) {
        return (opt->get_name() + " is given more than once: give it once, with a "
                         "comma list for several values");
      }
      if (opt != nullptr) return (opt->get_name() + " needs a value");
    }
  }
  // A flag given a value, "--version=x", arrives as "Could not convert:
  // --version = x".
  const std::string what = e.what();
  constexpr std::string_view kConversion = "Could not convert: ";
  if (dynamic_cast<const CLI::ConversionError*>(&e) != nullptr && what.starts_with(kConversion)) {
    const std::size_t equals = what.find(" = ", kConversion.size());
    if (equals != std::string::npos) {
      return (what.substr(kConversion.size(), equals - kConversion.size()) +
                       " takes no value: " + values::quoted(what.substr(equals + 3)) +
                       " was given");
    }
  }
  // Validation errors arrive as "--cases: \"5OO\" is not a number", the
  // value quoted; any other message of the parser keeps to one line of
  // printable text.
  return (values::printable(what));
}

}  // namespace

CommandLine::CommandLine()
    : top_(std::make_unique<CLI::App>(
          "gxeplan: power and sample size of case-control studies of gene-environment\n"
          "interaction, for a binary gene G and an exposure E in k ordered categories,\n"
          "with the Wald test of the trend interaction ROR^tb. The odds ratios\n"
          "OR(G|E=0) and OR^tb(E|G=0) of the alternative are given as ranges, and the\n"
          "least and the most favourable power over that box are reported.",
          "gxeplan")) {
  top_->set_version_flag("--version", std::string("gxeplan ") + GXE_VERSION,
                         "Print the version and exit");
  top_->require_subcommand(0, 1);
  top_->footer(
      "Without arguments, gxeplan asks for the study design question by question.\n"
      "gxeplan power --help, gxeplan size --help, gxeplan detect --help,\n"
      "gxeplan curve --help and gxeplan batch --help list the options.");
  power_ = std::make_unique<CalculationCommand>(*top_, plan::Mode::power);
  size_ = std::make_unique<CalculationCommand>(*top_, plan::Mode::size);
  detect_ = std::make_unique<CalculationCommand>(*top_, plan::Mode::detect);
  curve_ = std::make_unique<CurveCommand>(*top_);
  batch_ = std::make_unique<BatchCommand>(*top_);
}

CommandLine::~CommandLine() = default;

Command* CommandLine::parse(const std::vector<std::string>& args, std::ostream& out,
                            std::ostream& err, int& status) {
  CLI::App* apps[] = {top_->get_subcommand("power"), top_->get_subcommand("size"),
                      top_->get_subcommand("detect"), top_->get_subcommand("curve"),
                      top_->get_subcommand("batch")};
  Command* commands[] = {power_.get(), size_.get(), detect_.get(), curve_.get(), batch_.get()};
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    top_->parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << top_->help();
    status = flushed(out, err) ? kAllAnswered : kOutputFailure;
    return nullptr;
  } catch (const CLI::CallForAllHelp&) {
    out << top_->help();
    status = flushed(out, err) ? kAllAnswered : kOutputFailure;
    return nullptr;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << '\n';
    status = flushed(out, err) ? kAllAnswered : kOutputFailure;
    return nullptr;
  } catch (const CLI::ParseError& e) {
    const CLI::App* command = nullptr;
    for (const CLI::App* app : apps) {
      if (command == nullptr && app->parsed()) command = app;
    }
    // The command an option of power, size or detect belongs to instead
    // (detect's --ror is power's).
    const CLI::App* other = command == apps[0]                          ? apps[1]
                            : command == apps[1] || command == apps[2] ? apps[0]
                                                                        : nullptr;
    status = wrong_use(err, parse_failure(e, *top_, command, other));
    return nullptr;
  }
  for (std::size_t i = 0; i < std::size(apps); ++i) {
    if (apps[i]->parsed()) return commands[i];
  }
  status = wrong_use(err, "give a command, " + command_names(*top_) + " (gxeplan --help)");
  return nullptr;
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  int status = kWrongUse;
  Command* command = line.parse(args, out, err, status);
  return command != nullptr ? command->run(out, err) : status;
}

}  // namespace gxe::cli
