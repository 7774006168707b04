#include "derivatives/records.h"

namespace gxe::derivatives {

HypothesisGradient g_alt;
CellTableGradient g_cells;
HypothesisGradient p_alt;
CellTableGradient p_cells;

void reset_derivative_records() {
  g_alt = HypothesisGradient{};
  g_cells = CellTableGradient{};
  p_alt = HypothesisGradient{};
  p_cells = CellTableGradient{};
}

}  // namespace gxe::derivatives
