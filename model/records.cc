#include "model/records.h"

namespace gxe::model {

Hypothesis null;
Hypothesis alt;
CellTable cells;
int cellmin = 0;
double pow0 = 0.0;
double size = 0.0;
std::array<double, 2> z{};
AltOdr altodr;

void reset_records() {
  null = Hypothesis{};
  alt = Hypothesis{};
  cells = CellTable{};
  cellmin = 0;
  pow0 = 0.0;
  size = 0.0;
  z = {};
  altodr = AltOdr{};
}

}  // namespace gxe::model
