// Signals reaching gxeplan: while the dialogue waits for an answer, the
// message on the error stream and the exit status; while the command line
// writes a file whole, the file left as it was and no temporary file behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/expected_files.h"
#include "tests/e2e/temp_folder.h"

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

// --- Writing a file whole ------------------------------------------------------------

namespace fs = std::filesystem;

// The signals that stop a command writing a file: ^C, kill's default, a
// closed terminal or ssh session, and ^\\.
constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// SIGQUIT's default action dumps core; not in the build folder.
void no_core_files() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

class StopWhileWritingTest : public ::testing::TestWithParam<int> {};

// A batch waiting for more rows, its temporary file open: stopped, it leaves
// the output file as it was, no temporary file, and ends as killed by the
// signal it got.
TEST_P(StopWhileWritingTest, BatchLeavesTheOutputFileAlone) {
  no_core_files();
  const int signo = GetParam();
  const TempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const fs::path file = folder.path() / "results.csv";
  write_file(file, "old results\n");
  int input[2];
  ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
  Fd in_read(input[0]);
  Fd in_write(input[1]);  // held open: the batch waits for more rows
  CaptureFile out;
  CaptureFile err;
  const pid_t pid = spawn_child(GXE_BINARY, {"batch", "-", "--output", file.string()},
                                in_read.get(), out.fd(), err.fd());
  ASSERT_GT(pid, 0);
  const std::string rows = "mode,cases,quantiles,gene_prevalence,ror\npower,500,4,0.3,2\n";
  ASSERT_EQ(::write(in_write.get(), rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
  // The temporary file appears before the first row is read.
  const auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
  while (folder.names().size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(folder.names().size(), 2u);
  ASSERT_EQ(::kill(pid, signo), 0);
  int wstatus = 0;
  ASSERT_TRUE(wait_for_child(pid, wstatus));
  ASSERT_TRUE(WIFSIGNALED(wstatus)) << describe_wait_status(wstatus);
  EXPECT_EQ(WTERMSIG(wstatus), signo);
  EXPECT_EQ(read_file(file), "old results\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"results.csv"});
  EXPECT_EQ(err.contents(), "gxeplan: interrupted; " + file.string() + " was not written\n");
}

// The figure's temporary file appears once the points are computed, and a
// child process draws into it. Stopped once the child has started, gxeplan
// removes the temporary name; a child that outlived it and opened the file
// by name would then write a whole figure under that name. Each try waits for the drawing
// child too (this process adopts it when gxeplan is gone), then finds the
// folder empty.
TEST(StopWhileWriting, FigureLeavesNoTemporaryFile) {
  no_core_files();
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  constexpr int kTries = 12;  // 3 per signal
  int stopped_while_drawing = 0;
  for (int i = 0; i < kTries; ++i) {
    const int signo = kStopSignals[static_cast<std::size_t>(i) % kStopSignals.size()];
    SCOPED_TRACE("try " + std::to_string(i) + ", signal " + std::to_string(signo));
    const TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const Fd watch(::inotify_init1(IN_CLOEXEC));
    ASSERT_GE(watch.get(), 0);
    ASSERT_GE(::inotify_add_watch(watch.get(), folder.path().c_str(), IN_CREATE), 0);
    const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    CaptureFile out;
    CaptureFile err;
    const pid_t pid = spawn_child(
        GXE_BINARY,
        {"curve", "--over", "cases", "--from", "100", "--to", "1000", "--points", "2",
         "--quantiles", "2", "--gene-prevalence", "0.3", "--ror", "2", "--search", "centre",
         "--plot", (folder.path() / "figure.svg").string()},
        in.get(), out.fd(), err.fd());
    ASSERT_GT(pid, 0);

    // The signal once the temporary file is made and the drawing child has
    // started, before it has had time to open any file.
    bool created = false;
    alignas(inotify_event) std::array<char, 4096> events{};
    pollfd p{watch.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(kChildTimeout.count())) == 1 &&
        ::read(watch.get(), events.data(), events.size()) > 0) {
      created = true;
      const std::string children =
          "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
      const auto deadline = std::chrono::steady_clock::now() + 1s;
      while (read_file(children).empty() && std::chrono::steady_clock::now() < deadline) {
      }
      ::kill(pid, signo);
    }
    int wstatus = 0;
    ASSERT_TRUE(wait_for_child(pid, wstatus));
    ASSERT_TRUE(created) << "no temporary file; " << describe_wait_status(wstatus) << "\n"
                         << err.contents();
    // Stopped, or (on a busy machine) done before the signal came.
    const bool stopped = WIFSIGNALED(wstatus);
    if (stopped) {
      EXPECT_EQ(WTERMSIG(wstatus), signo);
      ++stopped_while_drawing;
    }
    // Every orphaned drawing child, now this process's, to its end.
    const auto deadline = std::chrono::steady_clock::now() + kChildTimeout;
    for (;;) {
      const pid_t done = ::waitpid(-1, &wstatus, WNOHANG);
      if (done < 0) break;  // no children left
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "a drawing child did not end";
      if (done == 0) std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(folder.names(),
              stopped ? std::vector<std::string>{} : std::vector<std::string>{"figure.svg"});
  }
  // The signal came in time, not after the figure was written.
  EXPECT_GE(stopped_while_drawing, kTries / 2);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopWhileWritingTest, ::testing::ValuesIn(kStopSignals),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace gxe::e2e
