// The report of a range search: header and rule, one result row, the
// explanation and the small-cell warning. The two drivers differ only in the
// rule's split, the explanation's texts and the warning's form.

#include <cmath>
#include <string>

#include "console/console.h"
#include "model/records.h"
#include "search/search.h"

namespace gxe::search {
namespace {

using console::Layout;

constexpr int kSizeWidth = 8;
constexpr int kColumnWidth = 12;
constexpr int kDecimals = 4;

// Integer field of the study size. The size is a double that may be far too
// large for any integer type (or not finite); converting such a value is
// undefined, so anything that cannot fit the field is written as asterisks
// before any conversion.
void size_field(Layout& line, double size) {
  constexpr double kFieldLimit = 1e8;  // 8 columns hold at most 99999999
  if (!(std::fabs(size) < kFieldLimit)) {
    line.text(std::string(kSizeWidth, '*'));
    return;
  }
  line.integer(static_cast<long long>(std::trunc(size)), kSizeWidth);
}

// Odds ratio of a search point: OR(G|E=0) = exp(x(1)); the top-versus-bottom
// OR^tb(E|G=0) spans k - 1 steps of the per-step coefficient x(2).
double gene_or(const Box& x) { return std::exp(x[0]); }
double exposure_or(const Box& x, int k) { return std::exp((k - 1) * x[1]); }

}  // namespace

void write_header() {
  Layout line;
  line.newline().text("Size", kSizeWidth).blanks(2);
  for (const char* heading : {"Min power", "OR(G|E=0)", "OR^tb(E|G=0)", "Max power", "OR(G|E=0)",
                              "OR^tb(E|G=0)"}) {
    line.text(heading, kColumnWidth).blanks(1);
  }
  line.end();
}

void write_row(const Extremes& r) {
  Layout line;
  size_field(line, r.size);
  line.blanks(1);
  for (double value : {r.pmin, gene_or(r.xmin), exposure_or(r.xmin, r.k), r.pmax, gene_or(r.xmax),
                       exposure_or(r.xmax, r.k)}) {
    line.fixed(value, kColumnWidth, kDecimals).blanks(1);
  }
  line.end();
}

void write_power_explanation() {
  Layout()
      .newline()
      .text("The values of OR(G|E=0) and OR^tb(E|G=0)")
      .newline()
      .text("are the values under the alternative that produced the")
      .newline()
      .text(" minimum and maximum power over the interval given as input.")
      .newline()
      .end();
}

void write_size_explanation() {
  Layout()
      .newline()
      .text("The values of OR(G|E=0) and OR^tb(E|G=0)")
      .newline()
      .text("are the values under the alternative that produced the ")
      .newline()
      .text("minimum and maximum power over the interval given as input.")
      .newline()
      .end();
}

void write_power_warning() {
  console::message({"Suspect values : some cell counts when d=1                 where less than 5."});
}

void write_size_warning() {
  console::message({"Suspect values : some cell counts when d=1", " where less than 5."});
}

void power_calc(Records& rec, const Box& lower, const Box& upper) {
  write_header();
  Layout().text(std::string(40, '-')).text(std::string(40, '-')).end();
  const Extremes r = power_search(rec, lower, upper);
  write_row(r);
  write_power_explanation();
  if (r.okmin == 0 || r.okmax == 0) write_power_warning();
}

void ssize_calc(Records& rec, double& power, const Box& lower, const Box& upper) {
  if (rec.model.alt.beg == 0.0) {
    // ROR^tb = 1: the alternative has no interaction, so no number of cases
    // reaches the target power (the formula divides by beg = 0).
    console::message({"No sample size reaches the target power when ROR^tb = 1."});
    return;
  }
  write_header();
  Layout().text(std::string(36, '-')).text(std::string(44, '-')).end();
  const Extremes r = ssize_search(rec, power, lower, upper);
  write_row(r);
  write_size_explanation();
  if (r.okmin == 0 || r.okmax == 0) write_size_warning();
}

}  // namespace gxe::search
