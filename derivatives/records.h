#ifndef GXE_DERIVATIVES_RECORDS_H_
#define GXE_DERIVATIVES_RECORDS_H_

// Gradient companions of the model records, one set per derivative chain:
// `g_alt`, `g_cells` for the sample-size chain and `p_alt`, `p_cells` for the
// power chain. Each entry is the gradient, with respect to the two search
// variables, of the field of the same name in the `alt` or `cells` of the
// model::Records they go with. Like those, they belong to one calculation.
//
// Only these entries ever hold something other than zero: bg (1, 0) and
// be (0, 1), written as the seed by every evaluation; b0 of the alternative
// and the cells of the table, written by the alternative fit (the control
// cells get exact zeros). Every other entry stays zero: those fields do not
// depend on the search variables.

#include <array>

#include "derivatives/dual.h"
#include "model/records.h"

namespace gxe::derivatives {

struct HypothesisGradient {
  Gradient be{};
  Gradient bg{};
  Gradient beg{};
  std::array<Gradient, model::kMaxCategories> pexp{};
  std::array<Gradient, 2> pgen{};
  Gradient b0{};
  Gradient ccr{};
};

struct CellTableGradient {
  std::array<Gradient, 4 * model::kMaxCategories> cell{};  // same order as model::CellTable::cell

  Gradient& at(int d, int g, int e) { return cell[model::CellTable::index(d, g, e)]; }
  const Gradient& at(int d, int g, int e) const { return cell[model::CellTable::index(d, g, e)]; }
};

// The companions of one calculation.
struct Records {
  HypothesisGradient g_alt;  // sample-size chain
  CellTableGradient g_cells;
  HypothesisGradient p_alt;  // power chain
  CellTableGradient p_cells;
};

}  // namespace gxe::derivatives

#endif  // GXE_DERIVATIVES_RECORDS_H_
