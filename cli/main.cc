// gxeplan: power and sample size of case-control studies of
// gene-environment interaction. Without arguments, the question-by-question
// dialogue on standard input and output; with `power` or `size` and options,
// the calculations the command line asks for (gxeplan --help).

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "console/console.h"
#include "dialogue/program.h"

int main(int argc, char** argv) {
  gxe::console::install_signal_handlers();
  // A pipe whose reader has gone would otherwise kill the process silently
  // with SIGPIPE. Ignored, the write fails with EPIPE, and both front ends end
  // with a diagnostic and a failure status.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc <= 1) {
    gxe::console::bind_standard();
    return gxe::dialogue::run_program();
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  return gxe::cli::run_command_line(args, std::cout, std::cerr);
}
