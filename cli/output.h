#ifndef GXE_CLI_OUTPUT_H_
#define GXE_CLI_OUTPUT_H_

// The three output formats of the command line, written row by row as the
// calculations finish, so a long list shows its first answers early.

#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/options.h"
#include "plan/plan.h"
#include "plan/row.h"

namespace gxe::cli {

class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void begin() = 0;
  // `simulation`: the simulation check of the answer, when one was made.
  virtual void write(const plan::Scenario& scenario, const plan::Outcome& outcome,
                     const plan::Simulation* simulation = nullptr) = 0;
  virtual void end() = 0;
};

using Json = nlohmann::ordered_json;  // keys in column order

// A cell as json: numbers as numbers (whole ones within 2^53 as integers),
// flags as booleans, lists as arrays, empty cells as null.
Json json_cell(const plan::Cell& cell);

// table: for reading in an 80-column terminal; the inputs all rows share
// once, then one block per calculation. csv: RFC 4180, a header row of the
// column names, numbers in shortest round-trip form. json: an array of
// objects, one per line, keyed by the same names. `scenarios` holds every
// calculation to come, at least one. `simulated`: the rows carry the
// simulation check (the csv and json get its columns after `error`).
std::unique_ptr<RowWriter> make_writer(Format format, std::ostream& out,
                                       const std::vector<plan::Scenario>& scenarios,
                                       bool simulated = false);

}  // namespace gxe::cli

#endif  // GXE_CLI_OUTPUT_H_
