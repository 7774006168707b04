#ifndef GXE_CLI_FIGURE_PAINT_H_
#define GXE_CLI_FIGURE_PAINT_H_

// The painter of figures, in pieces that each draw one part of the page
// with PLplot, called in this order by paint_figure:
//   figure_paint.cc   the device, the page and its colour map;
//   figure_layout.cc  where the title, the notes, the legend and the plot's
//                     box go, and the title and notes themselves;
//   figure_curves.cc  each curve's band, edges and marks, and the target line;
//   figure_axes.cc    the frame, the ticks with their labels, the axis titles;
//   figure_legend.cc  the legend above the plot.
// Only the child process of draw_figure runs them: PLplot's state is
// process-wide, and a fatal error there ends the process.

#include <plstream.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/figure.h"

namespace gxe::cli::paint {

// --- Style shared by the pieces ------------------------------------------------------

// Text about twice PLplot's default, so that the figure shrunk to a journal
// column (about 3.5 inches) still has 7 to 8 point text.
inline constexpr double kTextScale = 1.45;

inline constexpr double kCurveWidth = 2.0;  // line widths at the vector page's scale
inline constexpr double kTargetWidth = 1.5;
inline constexpr double kFrameWidth = 1.0;

// PLplot's built-in line styles: 1 solid, 3 long dashes, 5 long-short
// dashes, 8 dash-dot patterns, 4 long dashes with short gaps, 6 dashes.
inline constexpr std::array<int, kMaxFigureCurves> kLineStyles = {1, 3, 5, 8, 4, 6};
inline constexpr int kTargetLineStyle = 2;  // short dashes
int line_style(std::size_t i);

// The legend's row height (in character heights) and its text size; the
// layout leaves room for its rows.
inline constexpr double kLegendRowHeight = 1.5;
inline constexpr double kLegendTextScale = 0.85;

inline constexpr const char* kMarkGlyph = "\u25CF";  // a filled circle, for simulated values

// Colour map 0: background, frame and text, target line, then each curve's
// line colour and its translucent band colour.
inline constexpr int kBackground = 0;
inline constexpr int kInk = 1;
inline constexpr int kTargetInk = 2;
inline constexpr int kFirstCurveColour = 3;
int line_colour(std::size_t i);
int band_colour(std::size_t i);

// --- What the pieces share -----------------------------------------------------------

// The figure, the stream it is drawn on, the factor for line widths (text
// scales with the page, line widths do not) and the plot's window in axis
// coordinates.
struct Canvas {
  const Figure& figure;
  plstream& pls;
  double line_scale;
  double wx_min, wx_max, wy_min, wy_max;
};

// Axis coordinate: log10 on a log scale.
double to_axis(double v, bool log_scale);

// One character height, as a fraction of the page's height and width.
std::pair<double, double> char_size(plstream& pls);

// Where things go on the page, in normalized page units.
struct Layout {
  double left, right, bottom, top;  // the plot's viewport
  double title_y;                   // centre lines of the text above it
  std::vector<double> note_y;
  double legend_y;                  // top of the legend, from the page's top
  double y_label_offset;            // the y axis title from the frame, in characters
};

// --- The pieces, in the order they are drawn ---------------------------------------

// Draws `figure` with the cairo driver for `kind` into `file`, which the
// driver closes at the end. Returns "" or why nothing could be drawn.
std::string paint_figure(const Figure& figure, FigureKind kind, std::FILE* file);

Layout lay_out(const Canvas& c);
void draw_text_above(const Canvas& c, const Layout& l);
void draw_curves(const Canvas& c);
void draw_axes(const Canvas& c, const Layout& l);
void draw_legend(const Canvas& c, const Layout& l);

// Rows of the legend: its entries in up to 3 columns.
std::size_t legend_rows(const Figure& f);

}  // namespace gxe::cli::paint

#endif  // GXE_CLI_FIGURE_PAINT_H_
