// Expected cell-count check of the alternative.

#include <cmath>

#include "model/fits_impl.h"
#include "model/model.h"
#include "model/records.h"

namespace gxe::model {
namespace {

constexpr int kCellMinimum = 5;  // expected cases per cell for the normal approximation

// Log odds of cell (g, e) relative to the cell (1, 1) under the alternative.
double eta(const Hypothesis& alt, int g, int e) {
  return (g - 1) * alt.bg + (e - 1) * alt.be + (g - 1) * (e - 1) * alt.beg;
}

}  // namespace

// The expected number of cases in cell (g, e) of a study of `size` subjects
// is size / (1 + ccr) * exp(eta) pgen pexp / S, S the normalising sum of the
// cell table; only case cells are examined.
void cell_cnt(Records& rec, int k, int& ok) {
  const Hypothesis& alt = rec.alt;
  rec.cellmin = kCellMinimum;
  ok = 1;
  const int kk = impl::bounded_categories(k);
  double s = 0.0;
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= kk; ++e) {
      s = s + std::exp(eta(alt, g, e)) * alt.pgen[g - 1] * alt.pexp[e - 1];
    }
  }
  s = s * (1.0 + alt.ccr);
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= kk; ++e) {
      const double c =
          rec.size * std::exp(eta(alt, g, e)) * alt.pgen[g - 1] * alt.pexp[e - 1] / s;
      if (c < static_cast<double>(rec.cellmin)) ok = 0;
    }
  }
}

}  // namespace gxe::model
