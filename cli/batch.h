#ifndef GXE_CLI_BATCH_H_
#define GXE_CLI_BATCH_H_

// `gxeplan batch FILE`: one calculation per row of a CSV file, the results
// written beside the inputs, row by row as they are computed, so that a file
// of any length runs in constant memory. Every row gets its output row; a
// row that cannot be calculated keeps its inputs as read and says why in its
// error column.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/output.h"
#include "plan/plan.h"
#include "plan/row.h"
#include "plan/simulation.h"

namespace gxe::cli {

// Where the bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `buffer`: their number, 0 at the end, -1 when the
  // input cannot be read (errno says why).
  virtual long read(char* buffer, std::size_t size) = 0;
  // Whether read() would return at once. While it would wait for more input
  // (a pipe fed as rows are typed), the rows in flight are written first.
  virtual bool ready() { return true; }
};

// Shown while the rows are computed.
class BatchProgress {
 public:
  virtual ~BatchProgress() = default;
  virtual void row_done(std::size_t rows) = 0;
  // Takes the progress line away, before a message or at the end.
  virtual void clear() = 0;
};

// Calculates the design of the row numbered `row` (as a spreadsheet numbers
// it, for messages).
using Calculator = std::function<plan::Answer(const plan::Scenario& scenario, std::size_t row)>;

struct BatchSettings {
  char delimiter = ',';
  RowFormat format = RowFormat::csv;
  bool simulated = false;      // the output has the simulation check's columns
  bool flush_each_row = true;  // rows reach a reader as they are computed
  // Threads calculating rows (0: one per hardware thread; 1: one row after
  // the other). The output does not depend on it.
  int threads = 1;
};

struct BatchSummary {
  enum class End {
    done,            // every row read
    unreadable,      // the input could not be read to its end: `problem` says why
    output_failed,   // the output could not be written; reading stopped
  };
  End end = End::done;
  bool header_read = false;  // false: nothing was written
  std::size_t rows = 0;      // data rows, each with its output row
  std::size_t failed = 0;    // of them, rows without an answer
  std::string problem;       // why the file (or its header) could not be used
};

// Reads the rows of `input`, answers each with `calculate` and writes it
// to `out` in the given format; one line on `err` per row without an answer
// ("gxeplan: row 5, column cases: \"5OO\" is not a number"). A header that
// cannot be used ends the batch before anything is written (`header_read`
// false, `end` unreadable).
BatchSummary run_batch(ByteSource& input, const BatchSettings& settings, const Calculator& calculate,
                       std::ostream& out, std::ostream& err, BatchProgress* progress = nullptr);

}  // namespace gxe::cli

#endif  // GXE_CLI_BATCH_H_
