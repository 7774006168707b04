#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "cli/figure_paint.h"

namespace gxe::cli::paint {
namespace {

// The width of the legend's line samples (a share of the plot's width) and
// the gap before each text (in character widths).
constexpr double kLegendSample = 0.06;
constexpr double kLegendTextOffset = 0.6;

bool has_marks(const Figure& f) {
  return std::any_of(f.curves.begin(), f.curves.end(),
                     [](const FigureCurve& c) { return !c.marks.empty(); });
}

// Entries of the legend: one per curve, one for the marks when there are
// any, one for the target line.
std::size_t legend_size(const Figure& f) {
  return f.curves.size() + (has_marks(f) ? 1 : 0) + (f.target ? 1 : 0);
}

// Up to 3 columns; 4 entries as 2 by 2 rather than 3 and 1.
std::size_t legend_columns(const Figure& f) {
  const std::size_t entries = legend_size(f);
  return entries == 4 ? 2 : std::clamp<std::size_t>(entries, 1, 3);
}

// What tells the entries apart, in the arrays PLplot's legend takes: what
// each shows (a box, a line, a symbol), its text, and its box's and line's
// colour, style and width.
struct LegendEntries {
  std::vector<PLINT> opts;
  std::vector<std::string> texts;
  std::vector<PLINT> box_colours;
  std::vector<PLINT> line_colours;
  std::vector<PLINT> line_styles;
  std::vector<PLFLT> line_widths;

  void add(PLINT opt, const std::string& text, PLINT box_colour, PLINT line_colour,
           PLINT line_style, PLFLT line_width) {
    opts.push_back(opt);
    texts.push_back(text);
    box_colours.push_back(box_colour);
    line_colours.push_back(line_colour);
    line_styles.push_back(line_style);
    line_widths.push_back(line_width);
  }
};

// Per curve its colour (a shaded box for a band) and line style, then the
// marks' symbol, then the target line.
LegendEntries legend_entries(const Canvas& c) {
  const Figure& f = c.figure;
  LegendEntries e;
  for (std::size_t i = 0; i < f.curves.size(); ++i) {
    e.add(f.bands ? (PL_LEGEND_COLOR_BOX | PL_LEGEND_LINE) : PL_LEGEND_LINE, f.curves[i].label,
          band_colour(i), line_colour(i), line_style(i), kCurveWidth * c.line_scale);
  }
  if (has_marks(f)) {
    e.add(PL_LEGEND_SYMBOL, f.marks_label, kBackground, kInk, 1, kFrameWidth * c.line_scale);
  }
  if (f.target) {
    e.add(PL_LEGEND_LINE, f.target_label, kBackground, kTargetInk, kTargetLineStyle,
          kTargetWidth * c.line_scale);
  }
  return e;
}

}  // namespace

std::size_t legend_rows(const Figure& f) {
  return (legend_size(f) + legend_columns(f) - 1) / legend_columns(f);
}

// The legend above the plot, centred, in rows of up to 3 entries: from
// legend_entries, with the settings all entries share.
void draw_legend(const Canvas& c, const Layout& l) {
  const std::size_t n = legend_size(c.figure);
  if (n == 0) return;
  const LegendEntries e = legend_entries(c);
  std::vector<const char*> text_ptrs;
  for (const std::string& t : e.texts) text_ptrs.push_back(t.c_str());
  const std::vector<PLINT> text_colours(n, kInk);
  const std::vector<PLINT> box_patterns(n, 0);
  const std::vector<PLFLT> box_scales(n, 0.8);
  const std::vector<PLFLT> box_widths(n, 1.0);
  const std::vector<PLINT> symbol_colours(n, kInk);
  const std::vector<PLFLT> symbol_scales(n, 0.7);
  const std::vector<PLINT> symbol_numbers(n, 1);
  const std::vector<const char*> symbols(n, kMarkGlyph);
  PLFLT width = 0;
  PLFLT height = 0;
  c.pls.legend(&width, &height, PL_LEGEND_ROW_MAJOR,
               PL_POSITION_TOP | PL_POSITION_INSIDE | PL_POSITION_SUBPAGE, 0.0, l.legend_y,
               kLegendSample, kBackground, kInk, 1, static_cast<PLINT>(legend_rows(c.figure)),
               static_cast<PLINT>(legend_columns(c.figure)), static_cast<PLINT>(n),
               e.opts.data(), kLegendTextOffset, kLegendTextScale, kLegendRowHeight, 0.0,
               text_colours.data(), text_ptrs.data(), e.box_colours.data(), box_patterns.data(),
               box_scales.data(), box_widths.data(), e.line_colours.data(), e.line_styles.data(),
               e.line_widths.data(), symbol_colours.data(), symbol_scales.data(),
               symbol_numbers.data(), symbols.data());
}

}  // namespace gxe::cli::paint
