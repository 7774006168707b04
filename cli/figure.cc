#include "cli/figure.h"
#include "cli/figure_paint.h"
#include "cli/whole_file.h"

#include <fcntl.h>
#include <plplot.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "values/number.h"

namespace gxe::cli {
namespace {

namespace fs = std::filesystem;

// Seconds the drawing may take before the child is stopped: a figure of the
// largest curves takes well under one.
constexpr int kDrawingSeconds = 120;

// --- Drawing (in the child process) ------------------------------------------------

// The pipe to the parent, for PLplot's messages; set in the child only.
int g_report_fd = -1;
bool g_aborted = false;

void report(const char* text) {
  if (g_report_fd < 0 || text == nullptr) return;
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(g_report_fd, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

// PLplot's fatal errors: it would print, end every stream and call exit().
// The child reports the message and ends at once, without exit handlers.
int on_plplot_exit(const char* message) {
  report(message);
  ::_exit(3);
}

// PLplot's recoverable errors: the operation was skipped, so the figure is
// wrong; reported, and the child fails at the end.
void on_plplot_abort(const char* message) {
  report(message);
  report("; ");
  g_aborted = true;
}

// The drawing child, from the fork to its end: it draws into `fd` and
// writes PLplot's messages to `report_fd`, the pipe's write end (it closes
// the read end, `read_fd`). Its exit status says how the drawing ended: 0
// drawn, 3 a fatal PLplot error, 4 no cairo device, 5 an operation PLplot
// skipped, 6 no streams of its own, 7 its parent gone.
[[noreturn]] void draw_in_child(const Figure& figure, FigureKind kind, int fd, int read_fd,
                                int report_fd, pid_t parent) {
  // The child ends with its parent: a parent stopped by a signal removes
  // the temporary file's name, and no child may go on drawing into a file
  // of that name. A parent that ended before the request took effect has
  // left this child to another parent.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(7);
  default_stop_signals();  // the parent's handler would remove its file
  ::close(read_fd);
  // Only through the descriptor the parent opened: once the parent has
  // removed the temporary name, what is written there has no name at all.
  // A copy above the standard descriptors, which are replaced below.
  const int own = ::fcntl(fd, F_DUPFD, 3);
  std::FILE* out = own < 0 ? nullptr : ::fdopen(own, "wb");
  const int null_in = ::open("/dev/null", O_RDONLY);
  const int null_out = ::open("/dev/null", O_WRONLY);
  if (out == nullptr || null_in < 0 || null_out < 0 || ::dup2(null_in, 0) < 0 ||
      ::dup2(null_out, 1) < 0 || ::dup2(null_out, 2) < 0) {
    ::_exit(6);
  }
  g_report_fd = report_fd;
  plsexit(on_plplot_exit);
  plsabort(on_plplot_abort);
  if (const std::string problem = paint::paint_figure(figure, kind, out); !problem.empty()) {
    report(problem.c_str());
    ::_exit(4);
  }
  ::_exit(g_aborted ? 5 : 0);
}

// --- Files ----------------------------------------------------------------------------

std::string errno_text(int error) { return std::strerror(error); }

fs::path folder_of(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// Whether the file open on `fd` holds a whole file of its kind: its
// signature at the start and its closing mark at the end, which a drawing
// cut short (a full disk, a driver that stopped) does not have.
bool complete(int fd, FigureKind kind) {
  std::string bytes;
  std::array<char, 1 << 16> buffer{};
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    bytes.append(buffer.data(), static_cast<std::size_t>(n));
    at += n;
  }
  std::string tail = bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 64));
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back()))) tail.pop_back();
  const auto ends_with = [&](std::string_view end) {
    return tail.size() >= end.size() && tail.compare(tail.size() - end.size(), end.size(), end) == 0;
  };
  switch (kind) {
    case FigureKind::png:
      return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0 && ends_with("IEND\xae\x42\x60\x82");
    case FigureKind::pdf:
      return bytes.rfind("%PDF-", 0) == 0 && ends_with("%%EOF");
    case FigureKind::svg:
      break;
  }
  return bytes.rfind("<?xml", 0) == 0 && ends_with("</svg>");
}

// Reads the child's report until it closes the pipe or the time is up.
std::string read_report(int fd, pid_t child, bool& timed_out) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kDrawingSeconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      ::kill(child, SIGKILL);
      return text;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return text;  // the wait for the child below still ends it
    if (ready == 0) continue;    // the deadline is checked above
    std::array<char, 512> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    if (text.size() < 4096) text.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

// Keeps a report to one printable line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = ' ';
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == ';')) text.pop_back();
  return text;
}

}  // namespace

std::optional<FigureKind> figure_kind(std::string_view path) {
  const fs::path p{std::string(path)};
  if (p.stem().empty()) return std::nullopt;
  std::string ending = p.extension().string();
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ending == ".svg") return FigureKind::svg;
  if (ending == ".png") return FigureKind::png;
  if (ending == ".pdf") return FigureKind::pdf;
  return std::nullopt;
}

std::string figure_path_problem(const std::string& path) {
  // Through a symbolic link, the file it names is written.
  const std::string target = link_target(path);
  if (target.empty()) return "cannot write " + values::quoted(path) + ": its symbolic links loop";
  const fs::path folder = folder_of(target);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return "cannot write " + values::quoted(path) + ": the folder " + values::quoted(folder.string()) +
           " does not exist";
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot write " + values::quoted(path) + ": the folder " + values::quoted(folder.string()) +
           " cannot be written (" + errno_text(errno) + ")";
  }
  if (fs::is_directory(fs::path(target), ec)) {
    return "cannot write " + values::quoted(path) + ": it is a folder";
  }
  return "";
}

std::string draw_figure(const Figure& figure, FigureKind kind, int fd) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return "cannot start the drawing: " + errno_text(errno);
  std::fflush(nullptr);  // nothing buffered is handed down twice
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return "cannot start the drawing: " + errno_text(error);
  }
  if (child == 0) draw_in_child(figure, kind, fd, pipe_fds[0], pipe_fds[1], parent);
  ::close(pipe_fds[1]);
  bool timed_out = false;
  const std::string message = one_line(read_report(pipe_fds[0], child, timed_out));
  ::close(pipe_fds[0]);
  int wstatus = 0;
  while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    return "the drawing took longer than " + std::to_string(kDrawingSeconds) + " seconds";
  }
  if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) return "";
  if (!message.empty()) return "PLplot could not draw the figure: " + message;
  if (WIFSIGNALED(wstatus)) {
    return "the drawing stopped on signal " + std::to_string(WTERMSIG(wstatus));
  }
  return "the drawing failed (status " + std::to_string(WEXITSTATUS(wstatus)) + ")";
}

std::string write_figure(const Figure& figure, const std::string& path) {
  const std::optional<FigureKind> kind = figure_kind(path);
  if (!kind) return values::quoted(path) + " must end in .svg, .png or .pdf";
  if (std::string problem = figure_path_problem(path); !problem.empty()) return problem;

  // Drawn into a temporary file beside the target, which replaces it only
  // once it is complete and on the disk, and which a stop signal removes.
  WholeFile file(path);
  if (!file.open()) return values::quoted(path) + " " + file.problem();
  if (std::string problem = draw_figure(figure, *kind, file.descriptor()); !problem.empty()) {
    return problem;
  }
  if (!complete(file.descriptor(), *kind)) {
    return "the figure for " + values::quoted(path) +
           " came out incomplete (is the disk full?); nothing was written";
  }
  if (!file.commit()) return values::quoted(path) + " " + file.problem();
  return "";
}

}  // namespace gxe::cli
