#include "cli/rows.h"

#include <memory>
#include <ostream>

#include "cli/output.h"
#include "cli/progress.h"
#include "cli/status.h"
#include "plan/ordered_work.h"

namespace gxe::cli {

int answer_rows(const std::vector<plan::Scenario>& scenarios,
                const plan::SimulationSettings& simulation, const RowWrite& write,
                const RowLabel& label, std::ostream& out, std::ostream& err) {
  bool all_answered = true;
  bool written = true;
  ProgressLine progress(err, ProgressLine::error_stream_is_terminal());
  plan::SharedSearches shared;  // the rows of a design share its search
  plan::OrderedWork work(plan::row_threads(simulation));
  for (std::size_t i = 0; i < scenarios.size() && written; ++i) {
    auto answer = std::make_shared<plan::Answer>();
    const auto calculate = [&, i, answer] {
      // A simulation's progress is reported on this thread: rows are then
      // calculated one at a time.
      const std::string what = "simulating row " + std::to_string(i + 1) + " of " +
                               std::to_string(scenarios.size());
      *answer = plan::answer(scenarios[i], simulation, [&](long done, long total) {
        progress.update(what, static_cast<double>(done), static_cast<double>(total));
      }, &shared);
    };
    const auto finish = [&, i, answer] {
      if (!written) return;
      progress.clear();
      write(i, *answer);
      if (!answer->outcome.ok()) {
        all_answered = false;
        err << "gxeplan: row " << i + 1 << label(i) << ": " << answer->outcome.error->message()
            << '\n';
      }
      written = flushed(out, err);
    };
    work.add(calculate, finish);
  }
  work.finish_all();
  if (!written) return kOutputFailure;
  return all_answered ? kAllAnswered : kSomeUnanswered;
}

}  // namespace gxe::cli
