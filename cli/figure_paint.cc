#include "cli/figure_paint.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>

namespace gxe::cli::paint {
namespace {

// The page: 10 x 7.5 inches for the vector files (PLplot's cairo drivers
// count 72 units to the inch), 1200 x 900 pixels for PNG. Text scales with
// the page; line widths do not, so they are scaled for PNG by hand.
constexpr int kVectorWidth = 720;
constexpr int kVectorHeight = 540;
constexpr int kPngWidth = 1200;
constexpr int kPngHeight = 900;

constexpr double kBandAlpha = 0.22;  // opacity of the shaded bands

struct Rgb {
  int r, g, b;
};

// Curve colours of clearly different lightness (luminance about 20 %, 45 %,
// 65 %, 0 %, 65 %, 50 %), so that neighbouring curves stay apart in greyscale,
// each with its own line style on top.
constexpr std::array<Rgb, kMaxFigureCurves> kColours = {{
    {31, 59, 115},    // dark blue
    {213, 94, 0},     // vermillion
    {230, 159, 0},    // orange
    {0, 0, 0},        // black
    {86, 180, 233},   // sky blue
    {0, 158, 115},    // bluish green
}};
constexpr Rgb kTargetColour = {120, 120, 120};

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

// Colour map 0 of the page: white background, black ink, the grey of the
// target line, and each curve's colour opaque for its lines and translucent
// for its band.
void set_colours(plstream& pls) {
  const std::size_t n = kFirstCurveColour + 2 * kColours.size();
  pls.scmap0n(static_cast<PLINT>(n));
  pls.scol0(kBackground, 255, 255, 255);
  pls.scol0(kInk, 0, 0, 0);
  pls.scol0(kTargetInk, kTargetColour.r, kTargetColour.g, kTargetColour.b);
  for (std::size_t i = 0; i < kColours.size(); ++i) {
    const Rgb& c = kColours[i];
    pls.scol0(line_colour(i), c.r, c.g, c.b);
    pls.scol0a(band_colour(i), c.r, c.g, c.b, kBandAlpha);
  }
}

// The device and the page: its size, the file the driver writes, the colour
// map, and the whole page as one subpage with the text scale set.
void open_page(plstream& pls, const char* device, FigureKind kind, std::FILE* file) {
  const bool png = kind == FigureKind::png;
  pls.sdev(device);
  pls.sfile(file);  // the driver writes there and closes it at the end
  pls.spage(0, 0, png ? kPngWidth : kVectorWidth, png ? kPngHeight : kVectorHeight, 0, 0);
  pls.spause(false);
  set_colours(pls);
  pls.init();
  pls.adv(0);
  pls.schr(0.0, kTextScale);
}

}  // namespace

int line_style(std::size_t i) { return kLineStyles[i % kLineStyles.size()]; }

int line_colour(std::size_t i) { return kFirstCurveColour + static_cast<int>(i % kColours.size()); }

int band_colour(std::size_t i) {
  return kFirstCurveColour + static_cast<int>(kColours.size() + i % kColours.size());
}

double to_axis(double v, bool log_scale) { return log_scale ? std::log10(v) : v; }

std::pair<double, double> char_size(plstream& pls) {
  PLFLT def = 0;
  PLFLT height = 0;
  pls.gchr(def, height);
  PLFLT x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  pls.gspa(x0, x1, y0, y1);
  return {height / (y1 - y0), height / (x1 - x0)};
}

// The whole page: the text above the plot, then in the plot's box the bands,
// the target line, the edges and marks, then the axes drawn over them, and
// the legend above. The stream ends on return, and the driver writes the file.
std::string paint_figure(const Figure& figure, FigureKind kind, std::FILE* file) {
  const char* device = device_name(kind);
  if (!device_available(device)) {
    return std::string("PLplot has no ") + device +
           " device (install its cairo driver, plplot-driver-cairo)";
  }
  plstream pls;
  const Canvas canvas{figure,
                      pls,
                      kind == FigureKind::png ? static_cast<double>(kPngWidth) / kVectorWidth : 1.0,
                      to_axis(figure.x_min, figure.log_x),
                      to_axis(figure.x_max, figure.log_x),
                      to_axis(figure.y_min, figure.log_y),
                      to_axis(figure.y_max, figure.log_y)};
  open_page(pls, device, kind, file);

  const Layout layout = lay_out(canvas);
  draw_text_above(canvas, layout);
  pls.vpor(layout.left, layout.right, layout.bottom, layout.top);
  pls.wind(canvas.wx_min, canvas.wx_max, canvas.wy_min, canvas.wy_max);
  draw_curves(canvas);
  draw_axes(canvas, layout);
  draw_legend(canvas, layout);
  return "";
}

}  // namespace gxe::cli::paint
