#include "cli/whole_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <streambuf>
#include <utility>

#include "values/number.h"

namespace gxe::cli {
namespace {

// What the signal handler needs, in static storage: it may touch nothing
// else. `signal_temp_path` holds the name of the open temporary file while
// `has_temp` is 1.
std::array<char, 4096> signal_temp_path{};
volatile sig_atomic_t has_temp = 0;
std::array<char, 4096> stop_message{};
std::size_t stop_message_size = 0;

constexpr std::string_view kTempSuffix = ".tmp-XXXXXX";

// The signals that stop the program with its temporary file removed: ^C,
// kill's default, a closed terminal or connection, and ^\.
constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Most symbolic links followed to the file they name, as the kernel's own
// limit on a path (40).
constexpr int kMostLinks = 40;

void on_stop(int signo) {
  if (has_temp != 0) ::unlink(signal_temp_path.data());
  const ssize_t ignored = ::write(STDERR_FILENO, stop_message.data(), stop_message_size);
  (void)ignored;
  // Default action, delivered when the handler returns (the signal is
  // blocked until then): the program ends as killed by it.
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
  ::raise(signo);
}

// The stop signals held back while the handler's state changes.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signo : kStopSignals) sigaddset(&stop, signo);
    sigprocmask(SIG_BLOCK, &stop, &before_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string system_error(int error) { return std::strerror(error); }

}  // namespace

std::string link_target(const std::string& path) {
  std::string at = path;
  for (int links = 0; links <= kMostLinks; ++links) {
    struct stat link {};
    if (::lstat(at.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return at;
    std::array<char, 4096> text{};
    const ssize_t n = ::readlink(at.c_str(), text.data(), text.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= text.size()) return at;
    const std::string target(text.data(), static_cast<std::size_t>(n));
    // A relative target is relative to the link's folder.
    at = target.front() == '/' ? target : folder_of(at) + "/" + target;
  }
  return {};
}

std::string file_name_problem(const std::string& path) {
  if (path.empty()) return "is not a file name";
  const std::string target = link_target(path);
  if (target.empty()) return "is a loop of symbolic links";
  if (target.size() + kTempSuffix.size() >= signal_temp_path.size()) {
    return "is too long a file name: a path may have at most " +
           std::to_string(signal_temp_path.size() - 1 - kTempSuffix.size()) + " bytes here";
  }
  // The file is first written under its name and a suffix, in its folder,
  // whose file system limits the length of a name (255 bytes on most).
  const std::size_t slash = target.rfind('/');
  const std::size_t name = target.size() - (slash == std::string::npos ? 0 : slash + 1);
  long longest = ::pathconf(folder_of(target).c_str(), _PC_NAME_MAX);
  if (longest < 0) longest = NAME_MAX;  // a folder that does not exist is reported on opening
  if (name + kTempSuffix.size() > static_cast<std::size_t>(longest)) {
    return "is too long a file name: it is written first under a temporary name " +
           std::to_string(kTempSuffix.size()) + " bytes longer, and its folder takes names of " +
           "at most " + std::to_string(longest) + " bytes (its name has " + std::to_string(name) +
           ")";
  }
  return {};
}

// The stream's buffer on the temporary file's descriptor; write(2) in
// blocks, retried when interrupted. The first error is kept.
class WholeFile::Buffer : public std::streambuf {
 public:
  explicit Buffer(int fd) : fd_(fd) { setp(block_.data(), block_.data() + block_.size()); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const char* at = pbase();
    while (error_ == 0 && at < pptr()) {
      const ssize_t n = ::write(fd_, at, static_cast<std::size_t>(pptr() - at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        break;
      }
      at += n;
    }
    setp(block_.data(), block_.data() + block_.size());
    return error_ == 0;
  }

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> block_{};
};

WholeFile::WholeFile(std::string path) : path_(std::move(path)) {}

WholeFile::~WholeFile() { discard(); }

bool WholeFile::open() {
  problem_ = file_name_problem(path_);
  if (!problem_.empty()) return false;
  // A symbolic link stays: the file it names is the one replaced, or made.
  path_ = link_target(path_);
  struct stat target {};
  const bool exists = ::stat(path_.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) {
    problem_ = "is a folder";
    return false;
  }
  // A device, pipe or socket cannot be replaced by a file, and must not be.
  if (exists && !S_ISREG(target.st_mode)) {
    problem_ = "is not a regular file (a device, pipe or socket) and cannot be written whole: "
               "leave --output out, or give -, to write to standard output";
    return false;
  }
  // The rename would replace a file this user may not write: refused, as
  // writing it would be.
  if (exists && ::access(path_.c_str(), W_OK) != 0) {
    problem_ = "cannot be written: " + system_error(errno);
    return false;
  }
  const std::string name = path_ + std::string(kTempSuffix);
  if (path_.empty() || name.size() >= signal_temp_path.size()) {
    problem_ = "is not a file name that can be written";  // links changed since the check
    return false;
  }
  {
    const SignalsHeld held;
    std::memcpy(signal_temp_path.data(), name.c_str(), name.size() + 1);
    fd_ = ::mkostemp(signal_temp_path.data(), O_CLOEXEC);
    if (fd_ < 0) {
      problem_ = "cannot be written: no file can be made in its folder " +
                 values::shown(folder_of(path_)) + ": " + system_error(errno);
      return false;
    }
    temp_path_ = signal_temp_path.data();
    has_temp = 1;
  }
  // The permissions of the file it replaces, or those a new file would get;
  // never its set-user-ID, set-group-ID or sticky bit, which a new file
  // written by this user must not inherit.
  mode_t mode = 0;
  if (exists) {
    mode = target.st_mode & 0777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd_, mode);
  buffer_ = std::make_unique<Buffer>(fd_);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
  return true;
}

std::ostream& WholeFile::stream() { return *stream_; }

bool WholeFile::commit() {
  const auto fail = [&](const std::string& what, int error) {
    problem_ = what + ": " + system_error(error);
    discard();
    return false;
  };
  stream_->flush();
  if (!*stream_ || buffer_->error() != 0) {
    return fail("cannot be written", buffer_->error() != 0 ? buffer_->error() : EIO);
  }
  if (::fsync(fd_) != 0) return fail("cannot be written to the disk", errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail("cannot be written", errno);
  {
    const SignalsHeld held;
    if (::rename(temp_path_.c_str(), path_.c_str()) != 0) return fail("cannot be replaced", errno);
    has_temp = 0;
    temp_path_.clear();
  }
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(folder_of(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

void WholeFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_path_.empty()) {
    const SignalsHeld held;
    ::unlink(temp_path_.c_str());
    has_temp = 0;
    temp_path_.clear();
  }
}

void stop_on_signal(std::string_view message) {
  {
    const SignalsHeld held;
    stop_message_size = std::min(message.size(), stop_message.size());
    std::memcpy(stop_message.data(), message.data(), stop_message_size);
  }
  struct sigaction action = {};
  action.sa_handler = on_stop;
  sigfillset(&action.sa_mask);
  for (const int signo : kStopSignals) sigaction(signo, &action, nullptr);
}

void default_stop_signals() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signo : kStopSignals) sigaction(signo, &action, nullptr);
}

}  // namespace gxe::cli
