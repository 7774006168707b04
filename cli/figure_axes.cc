#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/figure.h"
#include "cli/figure_paint.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

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

// On a log scale: the coarsest set of round values per decade that gives
// at least 4 ticks, thinned to every few decades when even 1 per decade
// gives more than 10.
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

}  // namespace

std::vector<Tick> axis_ticks(double low, double high, bool log_scale) {
  if (!(low < high) || !std::isfinite(low) || !std::isfinite(high)) return {};
  if (log_scale && !(low > 0.0)) return {};
  return log_scale ? log_ticks(low, high) : linear_ticks(low, high);
}

namespace paint {

// The frame, ticks pointing inwards on all four sides with their labels
// under and left of the plot, and the axis titles outside the labels.
void draw_axes(const Canvas& c, const Layout& l) {
  const Figure& f = c.figure;
  c.pls.col0(kInk);
  c.pls.lsty(1);
  c.pls.width(kFrameWidth * c.line_scale);
  c.pls.box("bc", 0.0, 0, "bc", 0.0, 0);
  const auto [cy, cx] = char_size(c.pls);
  const double tick_y = 0.6 * cy / (l.top - l.bottom) * (c.wy_max - c.wy_min);
  const double tick_x = 0.6 * cx / (l.right - l.left) * (c.wx_max - c.wx_min);
  for (const Tick& t : axis_ticks(f.x_min, f.x_max, f.log_x)) {
    const double x = to_axis(t.value, f.log_x);
    c.pls.join(x, c.wy_min, x, c.wy_min + tick_y);
    c.pls.join(x, c.wy_max, x, c.wy_max - tick_y);
    c.pls.mtex("b", 1.4, (x - c.wx_min) / (c.wx_max - c.wx_min), 0.5, t.label.c_str());
  }
  for (const Tick& t : axis_ticks(f.y_min, f.y_max, f.log_y)) {
    const double y = to_axis(t.value, f.log_y);
    c.pls.join(c.wx_min, y, c.wx_min + tick_x, y);
    c.pls.join(c.wx_max, y, c.wx_max - tick_x, y);
    c.pls.mtex("lv", 0.6, (y - c.wy_min) / (c.wy_max - c.wy_min), 1.0, t.label.c_str());
  }
  c.pls.mtex("b", 3.3, 0.5, 0.5, f.x_label.c_str());  // clear of the tick labels' line
  c.pls.mtex("l", l.y_label_offset, 0.5, 0.5, f.y_label.c_str());
}

}  // namespace paint
}  // namespace gxe::cli
