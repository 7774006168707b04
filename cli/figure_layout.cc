#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "cli/figure_paint.h"

namespace gxe::cli::paint {
namespace {

constexpr double kTitleScale = 1.15;  // relative to kTextScale
constexpr double kNoteScale = 0.8;

// Width of an average character of the text font, in character heights, and
// the share of the page's width that a line of text may take.
constexpr double kCharWidth = 0.62;
constexpr double kTextWidth = 0.96;

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

// The text above the plot, from the page's top down: the title, the notes,
// then the legend's rows; the plot's top is what is left under them.
void lay_out_text(const Figure& f, double cy, Layout& l) {
  // Text lines by their centres, with room for superscripts above each.
  double y = 1.0 - 1.5 * cy * kTitleScale;
  l.title_y = y;
  y -= 1.7 * cy * kTitleScale;
  for (std::size_t i = 0; i < f.notes.size(); ++i) {
    l.note_y.push_back(y);
    y -= 2.0 * cy * kNoteScale;
  }
  y -= 0.2 * cy;
  l.legend_y = 1.0 - y;
  y -= (static_cast<double>(legend_rows(f)) + 0.5) * kLegendRowHeight * kLegendTextScale * cy +
       0.8 * cy;
  l.top = y;
}

// A line of text centred at height y, shrunk when it would not fit the
// page's width. The width is estimated from the characters shown (PLplot
// has no measure of text drawn by the cairo drivers).
void centred_line(plstream& pls, double y, const std::string& text, double scale) {
  pls.schr(0.0, kTextScale * scale);
  const double cx = char_size(pls).second;
  const double width = kCharWidth * cx * static_cast<double>(shown_length(text));
  if (width > kTextWidth) pls.schr(0.0, kTextScale * scale * kTextWidth / width);
  pls.ptex(0.5, y, 1.0, 0.0, 0.5, text.c_str());
  pls.schr(0.0, kTextScale);
}

}  // namespace

// The plot's box: under the text above it, with room below for the x tick
// labels and axis title, on the left for the longest y tick label and the
// axis title beside it, and a narrow margin on the right.
Layout lay_out(const Canvas& c) {
  const Figure& f = c.figure;
  const auto [cy, cx] = char_size(c.pls);
  Layout l{};
  lay_out_text(f, cy, l);
  l.bottom = 4.7 * cy;
  std::size_t longest = 1;
  for (const Tick& t : axis_ticks(f.y_min, f.y_max, f.log_y)) {
    longest = std::max(longest, shown_length(t.label));
  }
  l.y_label_offset = 0.9 * static_cast<double>(longest) + 1.8;
  l.left = (l.y_label_offset + 1.4) * cx;
  l.right = 1.0 - 2.2 * cx;
  return l;
}

// The title and the notes under it, centred on the whole page.
void draw_text_above(const Canvas& c, const Layout& l) {
  const Figure& f = c.figure;
  c.pls.vpor(0.0, 1.0, 0.0, 1.0);
  c.pls.wind(0.0, 1.0, 0.0, 1.0);
  c.pls.col0(kInk);
  centred_line(c.pls, l.title_y, f.title, kTitleScale);
  for (std::size_t i = 0; i < f.notes.size(); ++i) {
    centred_line(c.pls, l.note_y[i], f.notes[i], kNoteScale);
  }
}

}  // namespace gxe::cli::paint
