// Signals reaching gxeplan while it waits for an answer: the message on the
// error stream and the exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>

#include "tests/e2e/child_process.h"

namespace gxe::e2e {
namespace {

struct SignalCase {
  int signo;
  const char* message;  // the whole error stream
  int status;           // -1: any failure status
};

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

// Reads the child's output until it ends with `prompt` or the time is up.
bool wait_for_prompt(int fd, const std::string& prompt, std::string& seen) {
  const auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
  while (seen.size() < prompt.size() ||
         seen.compare(seen.size() - prompt.size(), prompt.size(), prompt) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;  // the child closed its output
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

TEST_P(SignalTest, WaitingAtTheFirstQuestion) {
  const SignalCase& c = GetParam();
  int in_pipe[2];
  int out_pipe[2];
  ASSERT_EQ(::pipe2(in_pipe, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out_pipe, O_CLOEXEC), 0);
  Fd in_read(in_pipe[0]);
  Fd in_write(in_pipe[1]);  // held open: the child never sees the end of input
  Fd out_read(out_pipe[0]);
  Fd out_write(out_pipe[1]);
  CaptureFile err;
  ASSERT_TRUE(err.ok());

  const pid_t pid = spawn_child(GXE_BINARY, in_read.get(), out_write.get(), err.fd());
  ASSERT_GT(pid, 0) << "cannot start " << GXE_BINARY;
  in_read.reset();
  out_write.reset();

  std::string seen;
  const bool prompted = wait_for_prompt(
      out_read.get(), " (type \"p\" for power or \"s\" for sample size) ", seen);
  if (!prompted) {
    ::kill(pid, SIGKILL);
    int ignored = 0;
    wait_for_child(pid, ignored);
    FAIL() << "no first question; output so far:\n" << seen;
  }
  ASSERT_EQ(::kill(pid, c.signo), 0);
  int wstatus = 0;
  ASSERT_TRUE(wait_for_child(pid, wstatus)) << "gxeplan did not end after the signal";
  ASSERT_TRUE(WIFEXITED(wstatus)) << describe_wait_status(wstatus);
  if (c.status >= 0) {
    EXPECT_EQ(WEXITSTATUS(wstatus), c.status);
  } else {
    EXPECT_NE(WEXITSTATUS(wstatus), 0);
  }
  EXPECT_EQ(err.contents(), c.message);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest,
                         ::testing::Values(SignalCase{SIGINT, "Interrupt\n", 1},
                                           SignalCase{SIGTERM, "Killed\n", 1},
                                           SignalCase{SIGFPE, "Floating Exception\n", -1},
                                           SignalCase{SIGABRT, "IOT Trap\n", -1}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                           switch (info.param.signo) {
                             case SIGINT: return std::string("Interrupt");
                             case SIGTERM: return std::string("Terminate");
                             case SIGFPE: return std::string("FloatingPoint");
                             default: return std::string("Abort");
                           }
                         });

}  // namespace
}  // namespace gxe::e2e
