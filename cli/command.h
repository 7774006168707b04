#ifndef GXE_CLI_COMMAND_H_
#define GXE_CLI_COMMAND_H_

// A subcommand of gxeplan: it registers its options on the top-level parser
// when it is made, and runs once the arguments are parsed.

#include <iosfwd>
#include <string>

namespace gxe::cli {

class Command {
 public:
  virtual ~Command() = default;
  // Checks what the parser could not (inputs that depend on each other),
  // calculates and writes: the exit status (cli/status.h).
  virtual int run(std::ostream& out, std::ostream& err) = 0;
};

// Wrong use: "gxeplan: <message>" on `err`, and kWrongUse.
int wrong_use(std::ostream& err, const std::string& message);

}  // namespace gxe::cli

#endif  // GXE_CLI_COMMAND_H_
