#ifndef GXE_TESTS_MODEL_DESIGN_H_
#define GXE_TESTS_MODEL_DESIGN_H_

// Study designs for the model and derivative tests, stored into model
// records the way the dialogue stores an entered design.

#include <cmath>
#include <vector>

#include "model/model.h"
#include "model/records.h"

namespace gxe::testing {

struct Design {
  int k = 4;                      // exposure categories
  double probg = 0.3;             // carrier prevalence among controls
  double ccr = 1.0;               // controls per case
  double or_g = 1.5;              // OR(G|E=0), null and alternative start
  double or_e_tb = 2.0;           // OR^tb(E|G=0), null and alternative start
  double ror_tb = 2.0;            // ROR^tb under the alternative
  double cases = 500.0;           // number of cases (size = cases (1 + ccr))
  std::vector<double> pexp = {};  // empty: k quantiles
};

// The design of the worked example: 4 quantiles, probg 0.3, one control per
// case, OR(G|E=0) 1.5, OR^tb(E|G=0) 2, ROR^tb 2, 500 cases.
inline Design example_design() { return Design{}; }

// Stores the design into `rec`, from zeros, as the dialogue stores an entered
// design; the alternative starts at the null's odds ratios.
inline void store_design(model::Records& rec, const Design& d) {
  using namespace gxe::model;
  rec = Records{};
  rec.cells.ncat = d.k;
  Hypothesis& null = rec.null;
  Hypothesis& alt = rec.alt;
  for (int e = 0; e < d.k; ++e) {
    null.pexp[e] = d.pexp.empty() ? 1.0 / d.k : d.pexp[e];
  }
  null.pgen = {1.0 - d.probg, d.probg};
  null.ccr = d.ccr;
  null.bg = std::log(d.or_g);
  null.be = std::log(d.or_e_tb) / (d.k - 1);
  null.beg = 0.0;
  alt.pexp = null.pexp;
  alt.pgen = null.pgen;
  alt.ccr = null.ccr;
  alt.beg = std::log(d.ror_tb) / (d.k - 1);
  alt.bg = null.bg;
  alt.be = null.be;
  rec.size = d.cases * (1.0 + d.ccr);
  rec.z = {kCriticalValue, -0.8416212335729143};  // power 0.8
}

}  // namespace gxe::testing

#endif  // GXE_TESTS_MODEL_DESIGN_H_
