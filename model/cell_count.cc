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

void cell_odds(const Records& rec, int k, CellOdds& out) {
  const Hypothesis& alt = rec.alt;
  const int kk = impl::bounded_categories(k);
  double s = 0.0;
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= kk; ++e) {
      double& o = out.odds[(g - 1) * kMaxCategories + (e - 1)];
      o = std::exp(eta(alt, g, e));
      const double related = 1.0 + alt.dependence[dependence_at(g, e)];
      s = s + o * alt.pgen[g - 1] * alt.pexp[e - 1] * related;
    }
  }
  out.sum = s * (1.0 + alt.ccr);
}

// The expected number of cases in cell (g, e) of a study of `size` subjects
// is size / (1 + ccr) * exp(eta) pi(g, e) / S, S the normalising sum of the
// cell table; only case cells are examined.
int cells_reach_minimum(Records& rec, int k, const CellOdds& at) {
  const Hypothesis& alt = rec.alt;
  rec.cellmin = kCellMinimum;
  const int kk = impl::bounded_categories(k);
  int ok = 1;
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= kk; ++e) {
      const double c = rec.size * at.odds[(g - 1) * kMaxCategories + (e - 1)] *
                       alt.pgen[g - 1] * alt.pexp[e - 1] *
                       (1.0 + alt.dependence[dependence_at(g, e)]) / at.sum;
      if (c < static_cast<double>(rec.cellmin)) ok = 0;
    }
  }
  return ok;
}

void cell_cnt(Records& rec, int k, int& ok) {
  CellOdds at;
  cell_odds(rec, k, at);
  ok = cells_reach_minimum(rec, k, at);
}

}  // namespace gxe::model
