#ifndef GXE_CLI_CALCULATION_COMMAND_H_
#define GXE_CLI_CALCULATION_COMMAND_H_

// `gxeplan power`, `gxeplan size` and `gxeplan detect`: one calculation per
// combination of the list options, each row written as it is answered.

#include <string>
#include <variant>
#include <vector>

#include "cli/command.h"
#include "cli/design_options.h"
#include "cli/output.h"
#include "plan/plan.h"
#include "plan/simulation.h"

namespace CLI {
class App;
}  // namespace CLI

namespace gxe::cli {

// What a parsed power, size or detect command calculates.
struct Calculations {
  std::vector<plan::Scenario> scenarios;  // in row order, each passing plan::check
  Format format = Format::table;
  plan::SimulationSettings simulation;
};

class CalculationCommand : public Command {
 public:
  // Registers `power`, `size` or `detect` on `top`.
  CalculationCommand(CLI::App& top, plan::Mode mode);

  // The calculations the parsed options ask for, or the message of wrong use.
  std::variant<Calculations, std::string> prepare() const;
  int run(std::ostream& out, std::ostream& err) override;

 private:
  plan::Mode mode_;
  DesignOptions options_;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_CALCULATION_COMMAND_H_
