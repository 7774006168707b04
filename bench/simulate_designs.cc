// Asymptotic power against the simulated power of the Wald test over a table
// of designs. Run by hand: `gxe_simulate_designs` prints a Markdown table,
// `--csv` the same rows as CSV, `--replicates N` simulates N studies per
// design instead of 10,000.
//
// For each design the null's odds ratios are the point's, OR(G|E=0) and
// OR^tb(E|G=0); exposure categories are equally frequent. Columns: the
// asymptotic power of the model (null variance for the critical value,
// alternative variance for the power, one tail), the Wald approximation with
// the alternative's variance on both sides, and the share of 10,000
// simulated studies whose two-sided Wald test rejects.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/designs.h"
#include "model/model.h"
#include "model/records.h"
#include "simulate/simulate.h"

namespace {

using namespace gxe;

using bench::Design;
using bench::kDesigns;

// The model's asymptotic power at the point, with the null at the same odds
// ratios and z(1) set for alpha.
double asymptotic_power(const Design& d, double critical_value) {
  model::Records rec;
  rec.cells.ncat = d.k;
  for (int e = 0; e < d.k; ++e) rec.null.pexp[e] = 1.0 / d.k;
  rec.null.pgen = {1.0 - d.carrier, d.carrier};
  rec.null.ccr = d.c;
  rec.null.bg = std::log(d.or_g);
  rec.null.be = std::log(d.or_e) / (d.k - 1);
  rec.alt = rec.null;
  rec.alt.beg = std::log(d.ror) / (d.k - 1);
  rec.z = {critical_value, 0.0};
  double pw = 0.0;
  model::power(rec, d.cases, pw);
  return pw;
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false;
  simulate::Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--csv") == 0) {
      csv = true;
    } else if (std::strcmp(argv[i], "--replicates") == 0 && i + 1 < argc) {
      options.replicates = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: gxe_simulate_designs [--csv] [--replicates N]\n");
      return 2;
    }
  }
  if (csv) {
    std::printf("name,k,carrier,c,or_g,or_e,ror,cases,alpha,asymptotic,wald,simulated,se,failed\n");
  } else {
    std::printf(
        "| design | k | carriers | c | OR(G) | OR^tb(E) | ROR^tb | cases | alpha | asymptotic |"
        " Wald (varh1) | simulated +/- se | failed |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  }
  for (const Design& d : kDesigns) {
    simulate::Study s;
    s.exposure_prevalences.assign(static_cast<std::size_t>(d.k), 1.0 / d.k);
    s.carrier_prevalence = d.carrier;
    s.controls_per_case = d.c;
    s.or_g = d.or_g;
    s.or_e = d.or_e;
    s.ror = d.ror;
    s.cases = d.cases;
    s.alpha = d.alpha;
    const simulate::Outcome out = simulate::simulate_power(s, options);
    if (!out.ok()) {
      std::fprintf(stderr, "%s: %s\n", d.name, out.error->message().c_str());
      return 1;
    }
    const simulate::Check& c = out.check;
    const double asym = asymptotic_power(d, c.critical_value);
    if (csv) {
      std::printf("%s,%d,%g,%g,%g,%g,%g,%g,%g,%.4f,%.4f,%.4f,%.4f,%ld\n", d.name, d.k, d.carrier,
                  d.c, d.or_g, d.or_e, d.ror, d.cases, d.alpha, asym, c.wald_power, c.power, c.se,
                  c.failed);
    } else {
      std::printf(
          "| %s | %d | %g | %g | %g | %g | %g | %g | %g | %.3f | %.3f | %.3f +/- %.4f | %ld |\n",
          d.name, d.k, d.carrier, d.c, d.or_g, d.or_e, d.ror, d.cases, d.alpha, asym, c.wald_power,
          c.power, c.se, c.failed);
    }
  }
  return 0;
}
