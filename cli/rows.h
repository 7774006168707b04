#ifndef GXE_CLI_ROWS_H_
#define GXE_CLI_ROWS_H_

// The one row loop of the command line, for power, size and curve rows:
// each calculation is answered in turn (with its simulation check when one
// is asked for), handed to the writer as soon as it is done and flushed, so
// that a long list shows its first answers early; a row without an answer
// is named on the error stream.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "plan/plan.h"
#include "plan/simulation.h"

namespace gxe::cli {

// Writes the answer of row `i`.
using RowWrite = std::function<void(std::size_t i, const plan::Answer& answer)>;
// What follows "row N" in a message: "" or " (cases 250)".
using RowLabel = std::function<std::string(std::size_t i)>;

// The calculations are spread over `simulation.threads` threads (0: every
// core), unless each is checked by simulation, which uses them itself; the
// rows come out in order whatever the number. Returns kAllAnswered,
// kSomeUnanswered or kOutputFailure (the output could not be written: the
// rows after it are not calculated).
int answer_rows(const std::vector<plan::Scenario>& scenarios,
                const plan::SimulationSettings& simulation, const RowWrite& write,
                const RowLabel& label, std::ostream& out, std::ostream& err);

}  // namespace gxe::cli

#endif  // GXE_CLI_ROWS_H_
