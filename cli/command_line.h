#ifndef GXE_CLI_COMMAND_LINE_H_
#define GXE_CLI_COMMAND_LINE_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace gxe::cli {

// `gxeplan power|size|curve|batch ...`, `--help`, `--version`: reads the
// arguments after the program name, runs every calculation they ask for and
// writes the rows to `out` as they finish; messages go to `err`. Returns the exit status
// (kAllAnswered, kSomeUnanswered, kWrongUse or kOutputFailure).
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace gxe::cli

#endif  // GXE_CLI_COMMAND_LINE_H_
