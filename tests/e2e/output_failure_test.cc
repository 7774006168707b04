// Standard output that cannot be written: a full device, a closed descriptor,
// a pipe whose reader has gone. The real binary must end promptly with a
// failure status and say why on the error stream, never report success, hang
// or die from SIGPIPE.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>

#include <chrono>
#include <csignal>
#include <string>

#include "tests/e2e/child_process.h"

namespace gxe::e2e {
namespace {

constexpr const char* kWriteError = "write error on standard output\n";

// A whole power calculation and the answer "n": run to the end, the program
// would exit with status 0.
constexpr const char* kSession = "p\ny\n4\n0.3\n1\n500\n2\n1.5\n2\n1.5 2.5\n1 2\nn\n";

// A file holding the whole session, to serve as standard input (written with
// pwrite, so its offset is still at the start).
CaptureFile session_input() {
  CaptureFile file;
  const std::string text = kSession;
  EXPECT_EQ(::pwrite(file.fd(), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
  return file;
}

void expect_output_failure(pid_t pid, const CaptureFile& err) {
  int wstatus = 0;
  ASSERT_TRUE(wait_for_child(pid, wstatus)) << "gxeplan did not end; killed";
  ASSERT_TRUE(WIFEXITED(wstatus)) << describe_wait_status(wstatus);
  EXPECT_NE(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(err.contents(), kWriteError);
}

TEST(OutputFailure, FullDevice) {
  const CaptureFile in = session_input();
  ASSERT_TRUE(in.ok());
  Fd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  ASSERT_GE(full.get(), 0) << "no /dev/full";
  CaptureFile err;
  ASSERT_TRUE(err.ok());
  const pid_t pid = spawn_child(GXE_BINARY, in.fd(), full.get(), err.fd());
  ASSERT_GT(pid, 0);
  expect_output_failure(pid, err);
}

TEST(OutputFailure, ClosedDescriptor) {
  const CaptureFile in = session_input();
  ASSERT_TRUE(in.ok());
  CaptureFile err;
  ASSERT_TRUE(err.ok());
  const pid_t pid = spawn_child(GXE_BINARY, in.fd(), -1, err.fd());
  ASSERT_GT(pid, 0);
  expect_output_failure(pid, err);
}

// The reader of the output pipe goes away while the program waits at the
// first question; then an answer arrives and the next question cannot be
// written. Standard input stays open, so a program that ignored the failure
// would wait for more answers for ever (and the timeout would catch it).
TEST(OutputFailure, PipeReaderGoneWhileWaiting) {
  int in_pipe[2];
  int out_pipe[2];
  ASSERT_EQ(::pipe2(in_pipe, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out_pipe, O_CLOEXEC), 0);
  Fd in_read(in_pipe[0]);
  Fd in_write(in_pipe[1]);
  Fd out_read(out_pipe[0]);
  Fd out_write(out_pipe[1]);
  CaptureFile err;
  ASSERT_TRUE(err.ok());
  const pid_t pid = spawn_child(GXE_BINARY, in_read.get(), out_write.get(), err.fd());
  ASSERT_GT(pid, 0);
  in_read.reset();
  out_write.reset();

  // Wait for the first prompt, so that the program is blocked in its read.
  const std::string prompt = "or \"s\" for sample size) ";
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
  while (seen.size() < prompt.size() ||
         seen.compare(seen.size() - prompt.size(), prompt.size(), prompt) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out_read.get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    const ssize_t n = ::read(out_read.get(), buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  const bool prompted = seen.ends_with(prompt);
  out_read.reset();  // the reader goes away
  const std::string answers = "p\ny\n4\n";
  // Should the child be gone already, the write must fail, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  const bool sent =
      ::write(in_write.get(), answers.data(), answers.size()) == static_cast<ssize_t>(answers.size());
  expect_output_failure(pid, err);
  EXPECT_TRUE(prompted) << "no first question; output so far:\n" << seen;
  EXPECT_TRUE(sent);
}

}  // namespace
}  // namespace gxe::e2e
