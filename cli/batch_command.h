#ifndef GXE_CLI_BATCH_COMMAND_H_
#define GXE_CLI_BATCH_COMMAND_H_

// `gxeplan batch FILE`: the command around the batch itself (cli/batch.h):
// its options, the input file or standard input, the output written whole,
// the progress line and the closing count of rows.

#include <string>

#include "cli/command.h"
#include "cli/design_options.h"

namespace CLI {
class App;
}  // namespace CLI

namespace gxe::cli {

class BatchCommand : public Command {
 public:
  explicit BatchCommand(CLI::App& top);
  // kAllAnswered, kSomeUnanswered, kWrongUse (the file cannot be read, or
  // its header lacks a required column) or kOutputFailure.
  int run(std::ostream& out, std::ostream& err) override;

  // The output format as given: csv, json or jsonl.
  const std::string& format() const { return format_; }

 private:
  std::string input_;   // a file, or "-" for standard input
  std::string output_;  // empty or "-": standard output
  std::string format_ = "csv";
  std::string delimiter_ = ",";
  DesignOptions simulation_;  // --simulate, --seed, --threads, --size-by: for every answered row
};

}  // namespace gxe::cli

#endif  // GXE_CLI_BATCH_COMMAND_H_
