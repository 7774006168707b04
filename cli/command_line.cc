#include "cli/command_line.h"

#include <optional>
#include <ostream>
#include <string>

#include "cli/batch.h"
#include "cli/curve.h"
#include "cli/whole_file.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/simulation.h"
#include "plan/plan.h"

namespace gxe::cli {

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Parsed parsed = parse_command_line(args);
  switch (parsed.action) {
    case Parsed::Action::wrong_use:
      err << parsed.text << '\n';
      return kWrongUse;
    case Parsed::Action::show:
      out << parsed.text;
      return flushed(out, err) ? kAllAnswered : kOutputFailure;
    case Parsed::Action::batch:
      return run_batch_command(parsed.batch, out, err);
    case Parsed::Action::calculate:
      // Interrupted, the command ends as killed by the signal (the shell's
      // 130 for Ctrl-C), not with a status of its own; a figure's
      // temporary file is removed on the way.
      stop_on_signal("gxeplan: interrupted\n");
      break;
  }
  if (parsed.request.curve) return run_curve(parsed.request, out, err);

  const std::vector<plan::Scenario>& scenarios = parsed.request.scenarios;
  const SimulationSettings& simulation = parsed.request.simulation;
  const bool simulated = simulation.replicates > 0;
  const auto writer = make_writer(parsed.request.format, out, scenarios, simulated);
  writer->begin();
  bool all_answered = true;
  ProgressLine progress(err, ProgressLine::error_stream_is_terminal());
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    const std::string row_name = "row " + std::to_string(i + 1);
    const RowAnswer a = answer(scenarios[i], simulation, progress,
                               row_name + " of " + std::to_string(scenarios.size()));
    progress.clear();
    const plan::Outcome& outcome = a.outcome;
    writer->write(scenarios[i], outcome, a.simulation ? &*a.simulation : nullptr);
    if (!outcome.ok()) {
      all_answered = false;
      err << "gxeplan: " << row_name << ": " << outcome.error->message() << '\n';
    }
    // Each row as it is done; a reader that has gone stops the rest.
    if (!flushed(out, err)) return kOutputFailure;
  }
  writer->end();
  if (!flushed(out, err)) return kOutputFailure;
  return all_answered ? kAllAnswered : kSomeUnanswered;
}

}  // namespace gxe::cli
