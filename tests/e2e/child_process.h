#ifndef GXE_TESTS_E2E_CHILD_PROCESS_H_
#define GXE_TESTS_E2E_CHILD_PROCESS_H_

// Running the real gxeplan binary from a test: standard descriptors supplied
// by the test (never the terminal), and every wait bounded so that a hang
// fails the test instead of blocking the suite.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace gxe::e2e {

using namespace std::chrono_literals;

// Whether this test, and so the binary it runs, is built with
// AddressSanitizer (g++ defines a macro, clang answers __has_feature).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Long enough for a sanitizer build on a busy machine.
inline constexpr std::chrono::milliseconds kChildTimeout = 30s;

// A file descriptor, closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// An unnamed temporary file to capture an output stream of the child.
class CaptureFile {
 public:
  CaptureFile() {
    std::string path = "/tmp/gxeplan_capture_XXXXXX";
    fd_ = Fd(::mkstemp(path.data()));
    if (fd_.get() >= 0) ::unlink(path.c_str());
  }
  bool ok() const { return fd_.get() >= 0; }
  int fd() const { return fd_.get(); }

  // Everything the child wrote.
  std::string contents() const {
    std::string text;
    char buf[4096];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd_.get(), buf, sizeof buf, at);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
    return text;
  }

 private:
  Fd fd_;
};

// Starts `path` with the arguments `args` (after the program name) and the
// given standard input, output and error descriptors (an output descriptor
// below 0: standard output closed), default signal dispositions and no
// blocked signals. Returns the child's pid, or -1.
inline pid_t spawn_child(const char* path, const std::vector<std::string>& args, int in, int out,
                         int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  if (out < 0) {
    posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv{const_cast<char*>(path)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, path, &actions, &attr, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The same without arguments: the question-by-question dialogue.
inline pid_t spawn_child(const char* path, int in, int out, int err) {
  return spawn_child(path, {}, in, out, err);
}

// Waits for the child for at most `timeout`. When it has not ended by then it
// is killed (and reaped) and the result is false.
inline bool wait_for_child(pid_t pid, int& wstatus,
                           std::chrono::milliseconds timeout = kChildTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) return true;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
}

// "exit status 3" or "killed by signal 9", for failure messages.
inline std::string describe_wait_status(int wstatus) {
  if (WIFEXITED(wstatus)) return "exit status " + std::to_string(WEXITSTATUS(wstatus));
  if (WIFSIGNALED(wstatus)) return "killed by signal " + std::to_string(WTERMSIG(wstatus));
  return "wait status " + std::to_string(wstatus);
}

// What a run of gxeplan that ended wrote, and its exit status.
struct Finished {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs gxeplan (GXE_BINARY) with `args` to its end, standard input from the
// descriptor `in`, standard output to `out_fd` when given and captured
// otherwise. Fails when it cannot start, does not end in time (it is then
// killed) or is ended by a signal.
inline ::testing::AssertionResult run_to_end(const std::vector<std::string>& args, int in,
                                             Finished& run, int out_fd = -1) {
  CaptureFile out;
  CaptureFile err;
  if (in < 0 || !out.ok() || !err.ok()) return ::testing::AssertionFailure() << "no files";
  const pid_t pid = spawn_child(GXE_BINARY, args, in, out_fd >= 0 ? out_fd : out.fd(), err.fd());
  if (pid <= 0) return ::testing::AssertionFailure() << "cannot start " << GXE_BINARY;
  int wstatus = 0;
  if (!wait_for_child(pid, wstatus)) return ::testing::AssertionFailure() << "did not end; killed";
  if (!WIFEXITED(wstatus)) return ::testing::AssertionFailure() << describe_wait_status(wstatus);
  run = {out.contents(), err.contents(), WEXITSTATUS(wstatus)};
  return ::testing::AssertionSuccess();
}

}  // namespace gxe::e2e

#endif  // GXE_TESTS_E2E_CHILD_PROCESS_H_
