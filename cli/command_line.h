#ifndef GXE_CLI_COMMAND_LINE_H_
#define GXE_CLI_COMMAND_LINE_H_

// The command line of gxeplan: `gxeplan power|size|detect|curve|batch ...`,
// `--help`, `--version`. Each subcommand owns its options and its run.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"

namespace CLI {
class App;
}  // namespace CLI

namespace gxe::cli {

class CalculationCommand;
class CurveCommand;
class BatchCommand;

class CommandLine {
 public:
  CommandLine();
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Reads the arguments after the program name: the command to run, or
  // null when reading ends here, with `status` set (help and the version
  // written to `out`, wrong use to `err`). Calculates nothing.
  Command* parse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 int& status);

 private:
  std::unique_ptr<CLI::App> top_;
  std::unique_ptr<CalculationCommand> power_;
  std::unique_ptr<CalculationCommand> size_;
  std::unique_ptr<CalculationCommand> detect_;
  std::unique_ptr<CurveCommand> curve_;
  std::unique_ptr<BatchCommand> batch_;
};

// Reads the arguments, runs every calculation they ask for and writes the
// rows to `out` as they finish; messages go to `err`. Returns the exit status
// (cli/status.h).
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace gxe::cli

#endif  // GXE_CLI_COMMAND_LINE_H_
