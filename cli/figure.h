#ifndef GXE_CLI_FIGURE_H_
#define GXE_CLI_FIGURE_H_

// Figures of curves, drawn by PLplot's cairo drivers into SVG, PNG or PDF
// files: for each curve a band between two edges (or a single line), an
// optional dashed target line, axes with readable ticks (a log scale where
// asked), a title with notes under it and a legend above the plot.
//
// PLplot keeps process-wide state, may print to standard output and ends the
// process with exit() on a fatal error. So the drawing runs in a child
// process with its standard streams on /dev/null and PLplot's exit and abort
// handlers reporting through a pipe: whatever happens there, this process
// gets a message and keeps its output clean.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gxe::cli {

enum class FigureKind { svg, png, pdf };

// Curves a figure tells apart: each has its own colour and line style.
inline constexpr std::size_t kMaxFigureCurves = 6;

// The kind of file that `path` names, by its ending (.svg, .png or .pdf, in
// any case), or nothing when it has no such ending or no name before it.
std::optional<FigureKind> figure_kind(std::string_view path);

// A value with its interval, drawn as a dot with a vertical bar.
struct FigureMark {
  double x = 0.0;
  double y = 0.0;
  double low = 0.0;
  double high = 0.0;
};

struct FigureCurve {
  std::string label;  // the legend's text; PLplot text escapes such as #u...#d allowed
  std::vector<double> x;
  // The band's lower and upper edges at each x; a line when they are equal.
  // A value that is not finite breaks the curve there.
  std::vector<double> low;
  std::vector<double> high;
  std::vector<FigureMark> marks;  // in the curve's colour
};

struct Figure {
  std::string title;
  std::vector<std::string> notes;  // smaller lines under the title
  std::string x_label;
  std::string y_label;
  bool log_x = false;
  bool log_y = false;
  double x_min = 0.0;  // the axes' extent; positive on a log scale
  double x_max = 1.0;
  double y_min = 0.0;
  double y_max = 1.0;
  bool bands = true;  // shade between the edges
  std::vector<FigureCurve> curves;
  std::optional<double> target;  // a dashed horizontal line at this y
  std::string target_label;
  std::string marks_label;  // the legend's text for the marks, when there are any
};

struct Tick {
  double value = 0.0;
  std::string label;
};

// Tick marks for an axis from `low` to `high` (low < high, both positive on
// a log scale): 4 to about 10 round values inside the range, such as 0, 0.2,
// ..., 1 or, on a log scale, 1.5, 2, 2.5, 3 or 1000, 10 000, 100 000.
std::vector<Tick> axis_ticks(double low, double high, bool log_scale);

// Why `path` cannot take a figure (the folder of the file it names, through
// its symbolic links, does not exist or cannot be written, or it is a
// folder), or "" when it can. A quick check before long calculations;
// writing checks again.
std::string figure_path_problem(const std::string& path);

// Draws the figure into `path`, whose ending chooses the kind of file. The
// file is drawn under a temporary name in the same folder and renamed only
// when it is complete, so it is there whole or not at all. Returns "" on
// success, or what went wrong.
std::string write_figure(const Figure& figure, const std::string& path);

// The drawing alone, in a child process that writes only through `fd`, a
// file the caller opened for writing (no check of the result), and that
// ends when the caller's process ends. Returns "" or what went wrong, with
// PLplot's own message when it stopped on an error.
std::string draw_figure(const Figure& figure, FigureKind kind, int fd);

}  // namespace gxe::cli

#endif  // GXE_CLI_FIGURE_H_
