#include "cli/rows.h"

#include <ostream>

#include "cli/output.h"
#include "cli/progress.h"
#include "cli/status.h"

namespace gxe::cli {

int answer_rows(const std::vector<plan::Scenario>& scenarios,
                const plan::SimulationSettings& simulation, const RowWrite& write,
                const RowLabel& label, std::ostream& out, std::ostream& err) {
  bool all_answered = true;
  ProgressLine progress(err, ProgressLine::error_stream_is_terminal());
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    const std::string row = "row " + std::to_string(i + 1);
    const std::string what = "simulating " + row + " of " + std::to_string(scenarios.size());
    const plan::Answer answer =
        plan::answer(scenarios[i], simulation, [&](long done, long total) {
          progress.update(what, static_cast<double>(done), static_cast<double>(total));
        });
    progress.clear();
    write(i, answer);
    if (!answer.outcome.ok()) {
      all_answered = false;
      err << "gxeplan: " << row << label(i) << ": " << answer.outcome.error->message() << '\n';
    }
    if (!flushed(out, err)) return kOutputFailure;
  }
  return all_answered ? kAllAnswered : kSomeUnanswered;
}

}  // namespace gxe::cli
