#ifndef GXE_CLI_OUTPUT_H_
#define GXE_CLI_OUTPUT_H_

// The three output formats of the command line, written row by row as the
// calculations finish, so a long list shows its first answers early.

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plan/plan.h"
#include "plan/row.h"

namespace gxe::cli {

// How the command line writes its rows: a table for reading, csv or json.
enum class Format { table, csv, json };

// Flushes `out`; false, after saying so on `err`, when it cannot be written
// (a full device, a reader that has gone).
bool flushed(std::ostream& out, std::ostream& err);

class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void begin() = 0;
  // `simulation`: the simulation check of the answer, when one was made.
  virtual void write(const plan::Scenario& scenario, const plan::Outcome& outcome,
                     const plan::Simulation* simulation = nullptr) = 0;
  virtual void end() = 0;
};

// Rows of the output columns, then the simulation check's columns when the
// rows carry one, then any columns carried through from an input, by name,
// with their text as given. csv: RFC 4180, a header row of the column names,
// numbers in shortest round-trip form. json: an array of objects, one per
// line, keyed by the same names, numbers as numbers, flags as booleans, empty
// cells of the output and simulation columns as null and carried cells as
// strings. jsonl: the same objects, one per line, nothing around them.
enum class RowFormat { csv, json, jsonl };

class RowStream {
 public:
  // `leading_names`: columns written before the output columns (a curve's
  // axis and curve values), typed like them.
  RowStream(RowFormat format, std::ostream& out, bool simulated = false,
            std::vector<std::string> carried_names = {},
            std::vector<std::string> leading_names = {});
  void begin();
  // csv: `count` empty lines, rows without cells that a reader of the file
  // skips as it would blank rows of its own; the other formats: nothing.
  void blank_rows(std::size_t count);
  // `simulation`: the row's check, if one was made (its columns are empty
  // otherwise); `carried` holds one text per carried name, `leading` one
  // cell per leading name.
  void write(const plan::Row& row, const plan::Simulation* simulation = nullptr,
             std::span<const std::string_view> carried = {},
             std::span<const plan::Cell> leading = {});
  void end();

 private:
  RowFormat format_;
  std::ostream& out_;
  bool simulated_;
  std::vector<std::string> carried_names_;
  std::vector<std::string> leading_names_;
  bool first_ = true;
};

// table: for reading in an 80-column terminal; the inputs all rows share
// once, then one block per calculation. csv and json: as RowStream writes
// them, without carried columns. `scenarios` holds every calculation to
// come, at least one. `simulated`: the rows carry the simulation check (the
// csv and json get its columns after `error`).
std::unique_ptr<RowWriter> make_writer(Format format, std::ostream& out,
                                       const std::vector<plan::Scenario>& scenarios,
                                       bool simulated = false);

}  // namespace gxe::cli

#endif  // GXE_CLI_OUTPUT_H_
