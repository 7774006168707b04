#ifndef GXE_CLI_CURVE_COMMAND_H_
#define GXE_CLI_CURVE_COMMAND_H_

// `gxeplan curve`: power against the number of cases or against ROR^tb, the
// study size needed against ROR^tb, or the detectable ROR^tb against the
// number of cases, one curve per value of a list, as rows (table, csv,
// json) and optionally as a figure (SVG, PNG, PDF).

#include <string>
#include <variant>

#include "cli/command.h"
#include "cli/curve.h"
#include "cli/design_options.h"
#include "cli/output.h"
#include "plan/simulation.h"

namespace CLI {
class App;
}  // namespace CLI

namespace gxe::cli {

// What a parsed curve command calculates and draws.
struct CurveCalculations {
  CurveRequest curve;
  Format format = Format::table;
  plan::SimulationSettings simulation;
};

class CurveCommand : public Command {
 public:
  explicit CurveCommand(CLI::App& top);

  // The curves the parsed options ask for, or the message of wrong use.
  std::variant<CurveCalculations, std::string> prepare() const;
  // Computes every point, writes the rows as they finish and, when asked,
  // draws the figure: kAllAnswered, kSomeUnanswered (a point without an
  // answer keeps its row) or kOutputFailure (rows or figure not written).
  int run(std::ostream& out, std::ostream& err) override;

 private:
  // The figure's own checks: a name, a target, the number of curves.
  std::string figure_problem(const plan::CurveQuery& query) const;

  const CLI::App* app_ = nullptr;
  DesignOptions options_;
  std::string over_, from_, to_, points_ = "40", plot_, target_, quantity_;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_CURVE_COMMAND_H_
