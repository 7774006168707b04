#ifndef GXE_CLI_OPTIONS_H_
#define GXE_CLI_OPTIONS_H_

// The command line of gxeplan: `gxeplan power ...`, `gxeplan size ...` and
// `gxeplan curve ...` read into the list of calculations they ask for, every
// input checked before anything is computed; `gxeplan batch FILE ...` read
// into its request (its rows are read and checked as they are computed).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/simulation.h"
#include "plan/curve.h"
#include "plan/plan.h"

namespace gxe::cli {

enum class Format { table, csv, json };

// Exit statuses: as grep and diff use them, a calculation without an answer
// is not wrong use.
inline constexpr int kAllAnswered = 0;
inline constexpr int kSomeUnanswered = 1;
inline constexpr int kWrongUse = 2;
inline constexpr int kOutputFailure = 4;  // standard output cannot be written

// Most rows one command may ask for: lists multiply, and a few long lists
// would otherwise ask for millions of searches.
inline constexpr std::size_t kMaxRows = 10000;

// `gxeplan curve`: the curves to compute, and the figure to draw of them.
struct CurveRequest {
  plan::CurveQuery query;  // passes plan::check
  std::string plot;      // the figure's file, ending in .svg, .png or .pdf; empty: none
  std::optional<double> target;  // power drawn as a dashed line, in (0, 1)
};

struct Request {
  plan::Mode mode = plan::Mode::power;
  Format format = Format::table;
  // Every combination of the list options, in row order; each passes
  // plan::check. For a curve, the scenarios of its points, curve by curve.
  std::vector<plan::Scenario> scenarios;
  std::optional<CurveRequest> curve;
  // --simulate, --seed, --threads: the simulation check of every answer.
  SimulationSettings simulation;
};

// `gxeplan batch` as given, checked by CLI11 (see cli/batch.h).
struct BatchRequest {
  std::string input;   // a file, or "-" for standard input
  std::string output;  // empty: standard output (given as -)
  std::string format = "csv";
  std::string delimiter = ",";
  SimulationSettings simulation;  // --simulate, --seed, --threads: for every answered row
};

struct Parsed {
  enum class Action {
    calculate,  // `request` holds the calculations
    batch,      // `batch` holds the batch command
    show,       // help or version: `text` goes to standard output, status 0
    wrong_use,  // `text` is the one-line message for the error stream, status 2
  };
  Action action = Action::wrong_use;
  Request request;
  std::string text;
  BatchRequest batch;
};

// Reads the arguments after the program name. Never computes a calculation.
Parsed parse_command_line(const std::vector<std::string>& args);

}  // namespace gxe::cli

#endif  // GXE_CLI_OPTIONS_H_
