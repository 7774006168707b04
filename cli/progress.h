#ifndef GXE_CLI_PROGRESS_H_
#define GXE_CLI_PROGRESS_H_

// A progress line for long work, on the error stream and only when that is
// a terminal: logs and pipes stay clean. The line appears once the work has
// taken about a second, is redrawn in place (carriage return) at most a few
// times a second, and is wiped when the work ends.

#include <chrono>
#include <iosfwd>
#include <string>

namespace gxe::cli {

class ProgressLine {
 public:
  // `enabled`: draw at all (true when the error stream is a terminal).
  ProgressLine(std::ostream& err, bool enabled);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine();

  // `done` of `total` units (total <= 0: unknown), with `what` in front.
  void update(const std::string& what, double done, double total);
  // The line is drawn from now on: it is enabled and the work has gone on
  // long enough to show it.
  bool showing() const;
  // Wipes the line if one was drawn.
  void clear();

  // True when standard error is a terminal.
  static bool error_stream_is_terminal();

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  bool enabled_;
  Clock::time_point start_;
  Clock::time_point last_draw_{};
  std::size_t drawn_width_ = 0;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_PROGRESS_H_
