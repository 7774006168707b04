// The console on the process's own standard streams, and the handlers of the
// signals that end the program. Only programs link this part: a library that
// embeds the engine binds its own streams and leaves the process's signals
// and exit to its host.

#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <iostream>

#include "console/console.h"

namespace gxe::console {
namespace {

// Exit statuses of the signals that end the program abnormally.
constexpr int kSignalStopStatus = 1;     // interrupt, termination request
constexpr int kSignalFailureStatus = 3;  // floating-point trap, abort

void write_signal_message(const char* text, std::size_t length) {
  // write(2) is async-signal-safe; there is nothing to do if it fails.
  const ssize_t ignored = ::write(STDERR_FILENO, text, length);
  (void)ignored;
}

template <std::size_t N>
[[noreturn]] void stop_on_signal(const char (&text)[N], int status) {
  write_signal_message(text, N - 1);
  ::_exit(status);
}

void on_signal(int signo) {
  switch (signo) {
    case SIGINT: stop_on_signal("Interrupt\n", kSignalStopStatus);
    case SIGTERM: stop_on_signal("Killed\n", kSignalStopStatus);
    case SIGFPE: stop_on_signal("Floating Exception\n", kSignalFailureStatus);
    default: stop_on_signal("IOT Trap\n", kSignalFailureStatus);
  }
}

}  // namespace

void bind_standard() { bind(std::cin, std::cout, std::cerr); }

void install_signal_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigfillset(&action.sa_mask);  // one message, even when signals crowd in
  sigset_t ours;
  sigemptyset(&ours);
  for (int signo : {SIGINT, SIGTERM, SIGFPE, SIGABRT}) {
    sigaction(signo, &action, nullptr);
    sigaddset(&ours, signo);
  }
  // A signal blocked by whoever started us would never reach the handler.
  sigprocmask(SIG_UNBLOCK, &ours, nullptr);
}

}  // namespace gxe::console
