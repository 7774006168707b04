#include "cli/figure.h"
#include "cli/whole_file.h"

#include <fcntl.h>
#include <plstream.h>
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
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "values/number.h"

namespace gxe::cli {
namespace {

namespace fs = std::filesystem;

// --- Page and style --------------------------------------------------------------

// The page: 10 x 7.5 inches for the vector files (PLplot's cairo drivers
// count 72 units to the inch), 1200 x 900 pixels for PNG. Text scales with
// the page; line widths do not, so they are scaled for PNG by hand.
constexpr int kVectorWidth = 720;
constexpr int kVectorHeight = 540;
constexpr int kPngWidth = 1200;
constexpr int kPngHeight = 900;

// Text about twice PLplot's default, so that the figure shrunk to a journal
// column (about 3.5 inches) still has 7 to 8 point text.
constexpr double kTextScale = 1.45;
constexpr double kTitleScale = 1.15;  // relative to kTextScale
constexpr double kNoteScale = 0.8;

// Width of an average character of the text font, in character heights, and
// the share of the page's width that a line of text may take.
constexpr double kCharWidth = 0.62;
constexpr double kTextWidth = 0.96;

constexpr double kCurveWidth = 2.0;  // line widths at the vector page's scale
constexpr double kTargetWidth = 1.5;
constexpr double kFrameWidth = 1.0;
constexpr double kBandAlpha = 0.22;  // opacity of the shaded bands

struct Rgb {
  int r, g, b;
};

// Curve colours of clearly different lightness (luminance about 20 %, 45 %,
// 65 %, 0 %, 65 %, 50 %), so that neighbouring curves stay apart in greyscale,
// each with its own line style on top.
constexpr std::array<Rgb, 6> kColours = {{
    {31, 59, 115},    // dark blue
    {213, 94, 0},     // vermillion
    {230, 159, 0},    // orange
    {0, 0, 0},        // black
    {86, 180, 233},   // sky blue
    {0, 158, 115},    // bluish green
}};
// PLplot's built-in line styles: 1 solid, 3 long dashes, 5 long-short
// dashes, 8 dash-dot patterns, 4 long dashes with short gaps, 6 dashes.
constexpr std::array<int, 6> kLineStyles = {1, 3, 5, 8, 4, 6};
static_assert(kColours.size() == kMaxFigureCurves && kLineStyles.size() == kMaxFigureCurves);
constexpr int kTargetLineStyle = 2;  // short dashes
// The legend: the width of its line samples (a share of the plot's width),
// the gap before each text and the height of a row (in character widths and
// heights), and its text size.
constexpr double kLegendSample = 0.06;
constexpr double kLegendTextOffset = 0.6;
constexpr double kLegendRowHeight = 1.5;
constexpr double kLegendTextScale = 0.85;

constexpr int kLoneMarker = 4;       // a circle, for a point with no neighbour to join
constexpr const char* kMarkGlyph = "\u25CF";  // a filled circle, for simulated values
constexpr double kMarkScale = 0.45;  // relative to kTextScale
constexpr Rgb kTargetColour = {120, 120, 120};

// Colour map 0: background, frame and text, target line, then each curve's
// line colour and its translucent band colour.
constexpr int kBackground = 0;
constexpr int kInk = 1;
constexpr int kTargetInk = 2;
constexpr int kFirstCurveColour = 3;
int line_colour(std::size_t i) { return kFirstCurveColour + static_cast<int>(i % kColours.size()); }
int band_colour(std::size_t i) {
  return kFirstCurveColour + static_cast<int>(kColours.size() + i % kColours.size());
}

// Seconds the drawing may take before the child is stopped: a figure of the
// largest curves takes well under one.
constexpr int kDrawingSeconds = 120;

// --- Ticks --------------------------------------------------------------------------

// 1234567 as "1 234 567" (thin spaces) from 10 000 up, as journals print it.
std::string grouped(double whole) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.0f", whole);
  const std::string digits = buffer.data();
  if (whole < 1e4 || digits.find_first_not_of("0123456789") != std::string::npos) return digits;
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += "\u2009";
    text += digits[i];
  }
  return text;
}

// A tick value as text: whole numbers whole, others to six significant
// digits without trailing zeros (1.5, 0.05).
std::string tick_label(double v) {
  if (v == 0.0) return "0";
  if (std::fabs(v) >= 1 && std::fabs(v) < 1e15 && v == std::round(v)) return grouped(v);
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.6g", v);
  return text.data();
}

// Multiples of a round step, 1, 2 or 5 times a power of ten: the coarsest
// that gives at least 4 intervals (5 or more ticks on a full range).
std::vector<Tick> linear_ticks(double low, double high) {
  const double span = high - low;
  const double magnitude = std::pow(10.0, std::floor(std::log10(span)));
  double step = magnitude;
  for (const double factor : {5.0, 2.0, 1.0, 0.5, 0.2, 0.1, 0.05}) {
    step = factor * magnitude;
    if (span / step >= 4.0) break;
  }
  // Start at the first multiple not below `low`; indices keep the values
  // exact multiples (no accumulated rounding).
  // An axis a few units in the last place wide: round steps would not be
  // counted exactly, so its two ends, in full.
  if (std::max(std::fabs(low), std::fabs(high)) / step > 1e15) {
    return {{low, values::format_number(low)}, {high, values::format_number(high)}};
  }
  const double slack = 1e-9 * step;
  const double first = std::ceil((low - slack) / step);
  // Every label with the step's decimals: 0.0, 0.2, ..., 1.0; steps too
  // small or values too large for that are written with exponents.
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  const bool plain = decimals <= 6 && std::max(std::fabs(low), std::fabs(high)) < 1e15;
  std::vector<Tick> ticks;
  for (double i = first; i * step <= high + slack && ticks.size() < 20; i += 1.0) {
    const double v = i * step + 0.0;  // + 0.0: no "-0"
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, v == 0.0 ? 0.0 : v);
    ticks.push_back({v, !plain         ? tick_label(v)
                        : decimals == 0 ? grouped(std::round(v))
                                        : std::string(text.data())});
  }
  return ticks;
}

// Round values in each decade, coarsest first.
const std::vector<std::vector<double>>& decade_sets() {
  static const std::vector<std::vector<double>> sets = {
      {1},
      {1, 3},
      {1, 2, 5},
      {1, 2, 3, 5},
      {1, 1.5, 2, 3, 5, 7},
      {1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8},
      {1, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6, 1.8, 2, 2.2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9},
  };
  return sets;
}

std::vector<Tick> log_ticks(double low, double high) {
  const int first_decade = static_cast<int>(std::floor(std::log10(low)));
  const int last_decade = static_cast<int>(std::floor(std::log10(high)));
  const double slack = 1e-9;
  for (const std::vector<double>& set : decade_sets()) {
    std::vector<Tick> ticks;
    for (int d = first_decade; d <= last_decade; ++d) {
      for (const double m : set) {
        // m * 10^d with the power exact: 1.2 * 10 and 12, not 12.000000000000002.
        const double v = d >= 0 ? m * std::pow(10.0, d) : m / std::pow(10.0, -d);
        if (v >= low * (1 - slack) && v <= high * (1 + slack)) ticks.push_back({v, tick_label(v)});
      }
    }
    if (ticks.size() > 10 && set.size() == 1) {
      // Many decades: every second, third, ... decade, keeping 1 among them.
      const std::size_t every = (ticks.size() + 9) / 10;
      std::vector<Tick> thinned;
      for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (std::lround(std::log10(ticks[i].value)) % static_cast<long>(every) == 0) {
          thinned.push_back(ticks[i]);
        }
      }
      return thinned;
    }
    if (ticks.size() >= 4) return ticks;
  }
  // A range too narrow for round values in each decade, where the log scale
  // is nearly linear.
  return linear_ticks(low, high);
}

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

const char* device_name(FigureKind kind) {
  switch (kind) {
    case FigureKind::png:
      return "pngcairo";
    case FigureKind::pdf:
      return "pdfcairo";
    case FigureKind::svg:
      break;
  }
  return "svgcairo";
}

bool device_available(const char* device) {
  std::array<const char*, 128> menu{};
  std::array<const char*, 128> names{};
  const char** menu_ptr = menu.data();
  const char** names_ptr = names.data();
  int count = static_cast<int>(names.size());
  plgDevs(&menu_ptr, &names_ptr, &count);
  for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i) {
    if (names[static_cast<std::size_t>(i)] != nullptr &&
        std::strcmp(names[static_cast<std::size_t>(i)], device) == 0) {
      return true;
    }
  }
  return false;
}

// Characters a text shows: UTF-8 sequences count once, PLplot's escapes
// (#u, #d for super- and subscripts, #g for a Greek letter) not at all.
std::size_t shown_length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '#' && i + 1 < text.size()) {
      ++i;  // the escape's letter; #g's Greek letter still counts below
      continue;
    }
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

// Axis coordinate: log10 on a log scale.
double to_axis(double v, bool log_scale) { return log_scale ? std::log10(v) : v; }

// Stretches of consecutive points where both edges are finite and the x
// value fits the axis.
std::vector<std::pair<std::size_t, std::size_t>> finite_runs(const FigureCurve& c, bool log_x,
                                                             bool log_y) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  const std::size_t n = std::min({c.x.size(), c.low.size(), c.high.size()});
  const auto usable = [&](std::size_t i) {
    const auto ok = [](double v, bool log_scale) {
      return std::isfinite(v) && (!log_scale || v > 0.0);
    };
    return ok(c.x[i], log_x) && ok(c.low[i], log_y) && ok(c.high[i], log_y);
  };
  std::size_t i = 0;
  while (i < n) {
    if (!usable(i)) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n && usable(j)) ++j;
    runs.emplace_back(i, j);
    i = j;
  }
  return runs;
}

struct Layout {
  double left, right, bottom, top;  // the plot's viewport, normalized page units
  double title_y;                    // centre lines of the text above it
  std::vector<double> note_y;
  double legend_y;                   // top of the legend, from the page's top
};

class Painter {
 public:
  Painter(const Figure& figure, FigureKind kind) : f_(figure), kind_(kind) {}

  int draw(std::FILE* file) {
    const char* device = device_name(kind_);
    if (!device_available(device)) {
      report("PLplot has no ");
      report(device);
      report(" device (install its cairo driver, plplot-driver-cairo)");
      return 4;
    }
    plstream pls;
    pls_ = &pls;
    const bool png = kind_ == FigureKind::png;
    line_scale_ = png ? static_cast<double>(kPngWidth) / kVectorWidth : 1.0;
    pls.sdev(device);
    pls.sfile(file);  // the driver writes there and closes it at the end
    pls.spage(0, 0, png ? kPngWidth : kVectorWidth, png ? kPngHeight : kVectorHeight, 0, 0);
    pls.spause(false);
    set_colours();
    pls.init();
    pls.adv(0);
    pls.schr(0.0, kTextScale);

    const Layout layout = lay_out();
    draw_text_above(layout);
    pls.vpor(layout.left, layout.right, layout.bottom, layout.top);
    wx_min_ = to_axis(f_.x_min, f_.log_x);
    wx_max_ = to_axis(f_.x_max, f_.log_x);
    wy_min_ = to_axis(f_.y_min, f_.log_y);
    wy_max_ = to_axis(f_.y_max, f_.log_y);
    pls.wind(wx_min_, wx_max_, wy_min_, wy_max_);

    if (f_.bands) {
      for (std::size_t i = 0; i < f_.curves.size(); ++i) draw_band(i);
    }
    if (f_.target) draw_target();
    for (std::size_t i = 0; i < f_.curves.size(); ++i) draw_edges(i);
    for (std::size_t i = 0; i < f_.curves.size(); ++i) draw_marks(i);
    draw_axes(layout);
    draw_legend(layout);
    pls_ = nullptr;
    return g_aborted ? 5 : 0;
  }

 private:
  void set_colours() {
    const std::size_t n = kFirstCurveColour + 2 * kColours.size();
    pls_->scmap0n(static_cast<PLINT>(n));
    pls_->scol0(kBackground, 255, 255, 255);
    pls_->scol0(kInk, 0, 0, 0);
    pls_->scol0(kTargetInk, kTargetColour.r, kTargetColour.g, kTargetColour.b);
    for (std::size_t i = 0; i < kColours.size(); ++i) {
      const Rgb& c = kColours[i];
      pls_->scol0(line_colour(i), c.r, c.g, c.b);
      pls_->scol0a(band_colour(i), c.r, c.g, c.b, kBandAlpha);
    }
  }

  // One character height, as a fraction of the page's height and width.
  std::pair<double, double> char_size() {
    PLFLT def = 0;
    PLFLT height = 0;
    pls_->gchr(def, height);
    PLFLT x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    pls_->gspa(x0, x1, y0, y1);
    return {height / (y1 - y0), height / (x1 - x0)};
  }

  bool has_marks() const {
    return std::any_of(f_.curves.begin(), f_.curves.end(),
                       [](const FigureCurve& c) { return !c.marks.empty(); });
  }
  std::size_t legend_entries() const {
    return f_.curves.size() + (has_marks() ? 1 : 0) + (f_.target ? 1 : 0);
  }
  std::size_t legend_rows() const {
    return (legend_entries() + legend_columns() - 1) / legend_columns();
  }
  std::size_t legend_columns() const {
    const std::size_t entries = legend_entries();
    return entries == 4 ? 2 : std::clamp<std::size_t>(entries, 1, 3);
  }

  Layout lay_out() {
    const auto [cy, cx] = char_size();
    Layout l{};
    // Text lines by their centres, with room for superscripts above each.
    double y = 1.0 - 1.5 * cy * kTitleScale;
    l.title_y = y;
    y -= 1.7 * cy * kTitleScale;
    for (std::size_t i = 0; i < f_.notes.size(); ++i) {
      l.note_y.push_back(y);
      y -= 2.0 * cy * kNoteScale;
    }
    y -= 0.2 * cy;
    l.legend_y = 1.0 - y;
    y -= (static_cast<double>(legend_rows()) + 0.5) * kLegendRowHeight * kLegendTextScale * cy +
         0.8 * cy;
    l.top = y;
    l.bottom = 4.7 * cy;
    // Room for the longest y tick label, and the axis title beside it.
    std::size_t longest = 1;
    for (const Tick& t : axis_ticks(f_.y_min, f_.y_max, f_.log_y)) {
      longest = std::max(longest, shown_length(t.label));
    }
    y_label_offset_ = 0.9 * static_cast<double>(longest) + 1.8;
    l.left = (y_label_offset_ + 1.4) * cx;
    l.right = 1.0 - 2.2 * cx;
    return l;
  }

  // A line of text centred at height y, shrunk when it would not fit the
  // page's width. The width is estimated from the characters shown (PLplot
  // has no measure of text drawn by the cairo drivers).
  void centred_line(double y, const std::string& text, double scale) {
    pls_->schr(0.0, kTextScale * scale);
    const double cx = char_size().second;
    const double width = kCharWidth * cx * static_cast<double>(shown_length(text));
    if (width > kTextWidth) pls_->schr(0.0, kTextScale * scale * kTextWidth / width);
    pls_->ptex(0.5, y, 1.0, 0.0, 0.5, text.c_str());
    pls_->schr(0.0, kTextScale);
  }

  void draw_text_above(const Layout& l) {
    pls_->vpor(0.0, 1.0, 0.0, 1.0);
    pls_->wind(0.0, 1.0, 0.0, 1.0);
    pls_->col0(kInk);
    centred_line(l.title_y, f_.title, kTitleScale);
    for (std::size_t i = 0; i < f_.notes.size(); ++i) {
      centred_line(l.note_y[i], f_.notes[i], kNoteScale);
    }
  }

  void draw_band(std::size_t i) {
    const FigureCurve& c = f_.curves[i];
    pls_->col0(band_colour(i));
    for (const auto& [a, b] : finite_runs(c, f_.log_x, f_.log_y)) {
      if (b - a < 2) continue;
      std::vector<PLFLT> xs;
      std::vector<PLFLT> ys;
      for (std::size_t k = a; k < b; ++k) {
        xs.push_back(to_axis(c.x[k], f_.log_x));
        ys.push_back(to_axis(c.high[k], f_.log_y));
      }
      for (std::size_t k = b; k-- > a;) {
        xs.push_back(to_axis(c.x[k], f_.log_x));
        ys.push_back(to_axis(c.low[k], f_.log_y));
      }
      pls_->fill(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
    }
  }

  void draw_edges(std::size_t i) {
    const FigureCurve& c = f_.curves[i];
    pls_->col0(line_colour(i));
    pls_->lsty(kLineStyles[i % kLineStyles.size()]);
    pls_->width(kCurveWidth * line_scale_);
    for (const auto& [a, b] : finite_runs(c, f_.log_x, f_.log_y)) {
      std::vector<PLFLT> xs;
      std::vector<PLFLT> lows;
      std::vector<PLFLT> highs;
      bool same = true;
      for (std::size_t k = a; k < b; ++k) {
        xs.push_back(to_axis(c.x[k], f_.log_x));
        lows.push_back(to_axis(c.low[k], f_.log_y));
        highs.push_back(to_axis(c.high[k], f_.log_y));
        same = same && c.low[k] == c.high[k];
      }
      const auto n = static_cast<PLINT>(xs.size());
      if (n == 1) {
        // A lone point between points without an answer: a marker.
        pls_->lsty(1);
        pls_->poin(1, xs.data(), lows.data(), kLoneMarker);
        if (!same) pls_->poin(1, xs.data(), highs.data(), kLoneMarker);
        pls_->lsty(kLineStyles[i % kLineStyles.size()]);
        continue;
      }
      pls_->line(n, xs.data(), lows.data());
      if (!same) pls_->line(n, xs.data(), highs.data());
    }
    pls_->lsty(1);
  }

  void draw_marks(std::size_t i) {
    pls_->col0(line_colour(i));
    pls_->lsty(1);
    pls_->width(kFrameWidth * line_scale_);
    pls_->schr(0.0, kTextScale * kMarkScale);  // the glyph's size
    for (const FigureMark& m : f_.curves[i].marks) {
      const auto ok = [&](double v, bool log_scale) {
        return std::isfinite(v) && (!log_scale || v > 0.0);
      };
      if (!ok(m.x, f_.log_x) || !ok(m.y, f_.log_y) || !ok(m.low, f_.log_y) ||
          !ok(m.high, f_.log_y)) {
        continue;
      }
      PLFLT x = to_axis(m.x, f_.log_x);
      PLFLT y = to_axis(m.y, f_.log_y);
      PLFLT low = to_axis(m.low, f_.log_y);
      PLFLT high = to_axis(m.high, f_.log_y);
      pls_->erry(1, &x, &low, &high);
      pls_->string(1, &x, &y, kMarkGlyph);
    }
    pls_->schr(0.0, kTextScale);
  }

  void draw_target() {
    const double y = to_axis(*f_.target, f_.log_y);
    if (!std::isfinite(y) || y < wy_min_ || y > wy_max_) return;
    pls_->col0(kTargetInk);
    pls_->lsty(kTargetLineStyle);
    pls_->width(kTargetWidth * line_scale_);
    pls_->join(wx_min_, y, wx_max_, y);
    pls_->lsty(1);
  }

  // The frame, ticks pointing inwards with their labels, and the axis titles.
  void draw_axes(const Layout& l) {
    pls_->col0(kInk);
    pls_->lsty(1);
    pls_->width(kFrameWidth * line_scale_);
    pls_->box("bc", 0.0, 0, "bc", 0.0, 0);
    const auto [cy, cx] = char_size();
    const double tick_y = 0.6 * cy / (l.top - l.bottom) * (wy_max_ - wy_min_);
    const double tick_x = 0.6 * cx / (l.right - l.left) * (wx_max_ - wx_min_);
    for (const Tick& t : axis_ticks(f_.x_min, f_.x_max, f_.log_x)) {
      const double x = to_axis(t.value, f_.log_x);
      pls_->join(x, wy_min_, x, wy_min_ + tick_y);
      pls_->join(x, wy_max_, x, wy_max_ - tick_y);
      pls_->mtex("b", 1.4, (x - wx_min_) / (wx_max_ - wx_min_), 0.5, t.label.c_str());
    }
    for (const Tick& t : axis_ticks(f_.y_min, f_.y_max, f_.log_y)) {
      const double y = to_axis(t.value, f_.log_y);
      pls_->join(wx_min_, y, wx_min_ + tick_x, y);
      pls_->join(wx_max_, y, wx_max_ - tick_x, y);
      pls_->mtex("lv", 0.6, (y - wy_min_) / (wy_max_ - wy_min_), 1.0, t.label.c_str());
    }
    pls_->mtex("b", 3.3, 0.5, 0.5, f_.x_label.c_str());  // clear of the tick labels' line
    pls_->mtex("l", y_label_offset_, 0.5, 0.5, f_.y_label.c_str());
  }

  // Above the plot, centred: per curve its colour (a shaded box for a band)
  // and line style, then the target line.
  void draw_legend(const Layout& l) {
    const std::size_t n = legend_entries();
    if (n == 0) return;
    std::vector<PLINT> opts;
    std::vector<std::string> texts;
    std::vector<PLINT> text_colours(n, kInk);
    std::vector<PLINT> box_colours;
    std::vector<PLINT> box_patterns(n, 0);
    std::vector<PLFLT> box_scales(n, 0.8);
    std::vector<PLFLT> box_widths(n, 1.0);
    std::vector<PLINT> line_colours;
    std::vector<PLINT> line_styles;
    std::vector<PLFLT> line_widths;
    for (std::size_t i = 0; i < f_.curves.size(); ++i) {
      opts.push_back(f_.bands ? (PL_LEGEND_COLOR_BOX | PL_LEGEND_LINE) : PL_LEGEND_LINE);
      texts.push_back(f_.curves[i].label);
      box_colours.push_back(band_colour(i));
      line_colours.push_back(line_colour(i));
      line_styles.push_back(kLineStyles[i % kLineStyles.size()]);
      line_widths.push_back(kCurveWidth * line_scale_);
    }
    if (has_marks()) {
      opts.push_back(PL_LEGEND_SYMBOL);
      texts.push_back(f_.marks_label);
      box_colours.push_back(kBackground);
      line_colours.push_back(kInk);
      line_styles.push_back(1);
      line_widths.push_back(kFrameWidth * line_scale_);
    }
    if (f_.target) {
      opts.push_back(PL_LEGEND_LINE);
      texts.push_back(f_.target_label);
      box_colours.push_back(kBackground);
      line_colours.push_back(kTargetInk);
      line_styles.push_back(kTargetLineStyle);
      line_widths.push_back(kTargetWidth * line_scale_);
    }
    std::vector<const char*> text_ptrs;
    for (const std::string& t : texts) text_ptrs.push_back(t.c_str());
    const std::vector<PLINT> symbol_colours(n, kInk);
    const std::vector<PLFLT> symbol_scales(n, 0.7);
    const std::vector<PLINT> symbol_numbers(n, 1);
    const std::vector<const char*> symbols(n, kMarkGlyph);
    PLFLT width = 0;
    PLFLT height = 0;
    pls_->legend(&width, &height, PL_LEGEND_ROW_MAJOR,
                 PL_POSITION_TOP | PL_POSITION_INSIDE | PL_POSITION_SUBPAGE, 0.0, l.legend_y,
                 kLegendSample, kBackground, kInk, 1, static_cast<PLINT>(legend_rows()),
                 static_cast<PLINT>(legend_columns()), static_cast<PLINT>(n), opts.data(),
                 kLegendTextOffset, kLegendTextScale, kLegendRowHeight, 0.0, text_colours.data(), text_ptrs.data(), box_colours.data(),
                 box_patterns.data(), box_scales.data(), box_widths.data(), line_colours.data(),
                 line_styles.data(), line_widths.data(), symbol_colours.data(),
                 symbol_scales.data(), symbol_numbers.data(), symbols.data());
  }

  const Figure& f_;
  FigureKind kind_;
  plstream* pls_ = nullptr;
  double line_scale_ = 1.0;
  double y_label_offset_ = 4.0;
  double wx_min_ = 0, wx_max_ = 1, wy_min_ = 0, wy_max_ = 1;
};

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

std::vector<Tick> axis_ticks(double low, double high, bool log_scale) {
  if (!(low < high) || !std::isfinite(low) || !std::isfinite(high)) return {};
  if (log_scale && !(low > 0.0)) return {};
  return log_scale ? log_ticks(low, high) : linear_ticks(low, high);
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
  if (child == 0) {
    // The child ends with its parent: a parent stopped by a signal removes
    // the temporary file's name, and no child may go on drawing into a file
    // of that name. A parent that ended before the request took effect has
    // left this child to another parent.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(7);
    default_stop_signals();  // the parent's handler would remove its file
    ::close(pipe_fds[0]);
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
    g_report_fd = pipe_fds[1];
    plsexit(on_plplot_exit);
    plsabort(on_plplot_abort);
    int status = 0;
    {
      Painter painter(figure, kind);
      status = painter.draw(out);
    }  // the stream ends here, and the driver writes the file
    ::_exit(g_aborted && status == 0 ? 5 : status);
  }
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
