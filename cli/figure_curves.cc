#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "cli/figure_paint.h"

namespace gxe::cli::paint {
namespace {

constexpr int kLoneMarker = 4;       // a circle, for a point with no neighbour to join
constexpr double kMarkScale = 0.45;  // the marks' glyph, relative to kTextScale

// Whether a value can be drawn on its axis: finite, and positive on a log
// scale.
bool drawable(double v, bool log_scale) { return std::isfinite(v) && (!log_scale || v > 0.0); }

// Stretches of consecutive points where both edges are finite and the x
// value fits the axis.
std::vector<std::pair<std::size_t, std::size_t>> finite_runs(const FigureCurve& c, bool log_x,
                                                             bool log_y) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  const std::size_t n = std::min({c.x.size(), c.low.size(), c.high.size()});
  const auto usable = [&](std::size_t i) {
    return drawable(c.x[i], log_x) && drawable(c.low[i], log_y) && drawable(c.high[i], log_y);
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

// Curve i's band: for each run of two or more points, a translucent polygon
// along the upper edge and back along the lower one.
void draw_band(const Canvas& c, std::size_t i) {
  const Figure& f = c.figure;
  const FigureCurve& curve = f.curves[i];
  c.pls.col0(band_colour(i));
  for (const auto& [a, b] : finite_runs(curve, f.log_x, f.log_y)) {
    if (b - a < 2) continue;
    std::vector<PLFLT> xs;
    std::vector<PLFLT> ys;
    for (std::size_t k = a; k < b; ++k) {
      xs.push_back(to_axis(curve.x[k], f.log_x));
      ys.push_back(to_axis(curve.high[k], f.log_y));
    }
    for (std::size_t k = b; k-- > a;) {
      xs.push_back(to_axis(curve.x[k], f.log_x));
      ys.push_back(to_axis(curve.low[k], f.log_y));
    }
    c.pls.fill(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
  }
}

// The dashed target line across the plot, unless it falls outside the y
// axis.
void draw_target(const Canvas& c) {
  const Figure& f = c.figure;
  const double y = to_axis(*f.target, f.log_y);
  if (!std::isfinite(y) || y < c.wy_min || y > c.wy_max) return;
  c.pls.col0(kTargetInk);
  c.pls.lsty(kTargetLineStyle);
  c.pls.width(kTargetWidth * c.line_scale);
  c.pls.join(c.wx_min, y, c.wx_max, y);
  c.pls.lsty(1);
}

// Curve i's edges in its colour and line style: each run of points as a
// line, a single line where the edges meet; a run of one point (between
// points without an answer) as a circle on each edge, one where they meet.
void draw_edges(const Canvas& c, std::size_t i) {
  const Figure& f = c.figure;
  const FigureCurve& curve = f.curves[i];
  c.pls.col0(line_colour(i));
  c.pls.lsty(line_style(i));
  c.pls.width(kCurveWidth * c.line_scale);
  for (const auto& [a, b] : finite_runs(curve, f.log_x, f.log_y)) {
    std::vector<PLFLT> xs;
    std::vector<PLFLT> lows;
    std::vector<PLFLT> highs;
    bool same = true;
    for (std::size_t k = a; k < b; ++k) {
      xs.push_back(to_axis(curve.x[k], f.log_x));
      lows.push_back(to_axis(curve.low[k], f.log_y));
      highs.push_back(to_axis(curve.high[k], f.log_y));
      same = same && curve.low[k] == curve.high[k];
    }
    const auto n = static_cast<PLINT>(xs.size());
    if (n == 1) {
      c.pls.lsty(1);  // the circle's outline solid
      c.pls.poin(1, xs.data(), lows.data(), kLoneMarker);
      if (!same) c.pls.poin(1, xs.data(), highs.data(), kLoneMarker);
      c.pls.lsty(line_style(i));
      continue;
    }
    c.pls.line(n, xs.data(), lows.data());
    if (!same) c.pls.line(n, xs.data(), highs.data());
  }
  c.pls.lsty(1);
}

// Curve i's marks in its colour: a vertical bar for each interval and the
// glyph at the value; a mark with a value that does not fit the axes is
// left out.
void draw_marks(const Canvas& c, std::size_t i) {
  const Figure& f = c.figure;
  c.pls.col0(line_colour(i));
  c.pls.lsty(1);
  c.pls.width(kFrameWidth * c.line_scale);
  c.pls.schr(0.0, kTextScale * kMarkScale);  // the glyph's size
  for (const FigureMark& m : f.curves[i].marks) {
    if (!drawable(m.x, f.log_x) || !drawable(m.y, f.log_y) || !drawable(m.low, f.log_y) ||
        !drawable(m.high, f.log_y)) {
      continue;
    }
    PLFLT x = to_axis(m.x, f.log_x);
    PLFLT y = to_axis(m.y, f.log_y);
    PLFLT low = to_axis(m.low, f.log_y);
    PLFLT high = to_axis(m.high, f.log_y);
    c.pls.erry(1, &x, &low, &high);
    c.pls.string(1, &x, &y, kMarkGlyph);
  }
  c.pls.schr(0.0, kTextScale);
}

}  // namespace

// Inside the plot's box, in layers: every curve's band, the target line over
// the bands, every curve's edges, then the marks on top.
void draw_curves(const Canvas& c) {
  const Figure& f = c.figure;
  if (f.bands) {
    for (std::size_t i = 0; i < f.curves.size(); ++i) draw_band(c, i);
  }
  if (f.target) draw_target(c);
  for (std::size_t i = 0; i < f.curves.size(); ++i) draw_edges(c, i);
  for (std::size_t i = 0; i < f.curves.size(); ++i) draw_marks(c, i);
}

}  // namespace gxe::cli::paint
