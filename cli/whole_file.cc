#include "cli/whole_file.h"

#include <fcntl.h>
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

// SIGINT and SIGTERM held back while the handler's state changes.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
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
  // A symbolic link stays: the file it names is the one replaced.
  struct stat link {};
  if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
      path_ = real;
      std::free(real);
    }
  }
  struct stat target {};
  const bool exists = ::stat(path_.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) {
    problem_ = "is a folder";
    return false;
  }
  // A device, pipe or socket cannot be replaced by a file, and must not be.
  if (exists && !S_ISREG(target.st_mode)) {
    problem_ = "is not a regular file (a device, pipe or socket) and cannot be written whole: "
               "leave --output out to write to standard output";
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
    problem_ = path_.empty() ? "is not a file name" : "is too long a file name";
    return false;
  }
  {
    const SignalsHeld held;
    std::memcpy(signal_temp_path.data(), name.c_str(), name.size() + 1);
    fd_ = ::mkostemp(signal_temp_path.data(), O_CLOEXEC);
    if (fd_ < 0) {
      problem_ = "cannot be written: no file can be made in its folder " + folder_of(path_) + ": " +
                 system_error(errno);
      return false;
    }
    temp_path_ = signal_temp_path.data();
    has_temp = 1;
  }
  // The permissions of the file it replaces, or those a new file would get.
  mode_t mode = 0;
  if (exists) {
    mode = target.st_mode & 07777;
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
  for (const int signo : {SIGINT, SIGTERM}) sigaction(signo, &action, nullptr);
}

}  // namespace gxe::cli
