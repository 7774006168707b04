#include "cli/progress.h"

#include <unistd.h>

#include <fmt/format.h>

#include <ostream>

namespace gxe::cli {
namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);  // short work shows nothing
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

std::string duration_text(double seconds) {
  if (seconds < 60) return fmt::format("{:.0f} s", seconds);
  if (seconds < 3600) {
    const int whole = static_cast<int>(seconds);
    return fmt::format("{} min {:02} s", whole / 60, whole % 60);
  }
  return fmt::format("{:.1f} h", seconds / 3600);
}

}  // namespace

ProgressLine::ProgressLine(std::ostream& err, bool enabled)
    : err_(err), enabled_(enabled), start_(Clock::now()) {}

ProgressLine::~ProgressLine() { clear(); }

bool ProgressLine::error_stream_is_terminal() { return isatty(STDERR_FILENO) == 1; }

bool ProgressLine::showing() const { return enabled_ && Clock::now() - start_ >= kQuietFor; }

void ProgressLine::update(const std::string& what, double done, double total) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < kQuietFor || now - last_draw_ < kRedrawEvery) return;
  last_draw_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double rate = done / elapsed;
  std::string text = what + ": " + fmt::format("{:.0f}", done);
  if (total > 0) {
    text += fmt::format(" of {:.0f} ({:.0f} %)", total, 100 * done / total);
    if (rate > 0 && done < total) text += ", " + duration_text((total - done) / rate) + " left";
  }
  text += fmt::format(", {:.3g}/s", rate);
  const std::size_t width = text.size();
  if (width < drawn_width_) text += std::string(drawn_width_ - width, ' ');
  err_ << '\r' << text << std::flush;
  drawn_width_ = width;
}

void ProgressLine::clear() {
  if (drawn_width_ == 0) return;
  err_ << '\r' << std::string(drawn_width_, ' ') << '\r' << std::flush;
  drawn_width_ = 0;
}

}  // namespace gxe::cli
