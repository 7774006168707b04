// gxeplan: power and sample size of case-control studies of
// gene-environment interaction. Questions on standard output, answers on
// standard input, fatal diagnostics on the error stream; no arguments.

#include <csignal>
#include <iostream>

#include "console/console.h"
#include "dialogue/program.h"

int main() {
  gxe::console::install_signal_handlers();
  // A pipe whose reader has gone would otherwise kill the process silently
  // with SIGPIPE. Ignored, the write fails with EPIPE and the console ends the
  // program at its next flush with a diagnostic and a failure status.
  std::signal(SIGPIPE, SIG_IGN);
  gxe::console::bind_standard();
  return gxe::dialogue::run_program();
}
