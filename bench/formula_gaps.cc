// The three power formulas against the simulated Wald and likelihood-ratio
// tests. Run by hand (it takes minutes):
//   gxe_formula_gaps [--random N] [--replicates R] [--seed S] [--csv]
// For the designs of gxe_simulate_designs and N random ones (300 by
// default), each at a box of one point (the null's odds ratios), the power
// of each formula (null-variance, wald, lr) and the share of R simulated
// studies (100,000 by default) whose Wald test and whose likelihood-ratio
// test reject. Prints the largest and the typical (median) gap of each
// formula from each simulated test, and how often the gap exceeds three
// Monte-Carlo standard errors; --csv prints the rows instead.
//
// A random design: k from 2 to 10 quantiles, carrier prevalence 0.03 to 0.5,
// 0.5, 1, 2 or 4 controls per case, OR(G|E=0) and OR^tb(E|G=0) 0.5 to 3,
// ROR^tb 1.3 to 4 or its inverse (all log-uniform), and the number of cases
// at which the null-variance formula gives a power drawn from 0.3 to 0.9.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/designs.h"
#include "plan/plan.h"
#include "plan/simulation.h"

namespace {

using namespace gxe;

constexpr std::array<plan::Test, 3> kTests = {plan::Test::null_variance, plan::Test::wald,
                                              plan::Test::lr};

struct Row {
  bench::Design design;
  std::array<double, 3> formula{};  // by kTests
  double wald = 0.0;                // simulated powers and their standard errors
  double wald_se = 0.0;
  double lr = 0.0;
  double lr_se = 0.0;
  bool small_cells = false;  // some expected case count below 5
};

plan::Design plan_design(const bench::Design& d) {
  plan::Design p;
  p.quantiles = d.k;
  p.gene_prevalence = d.carrier;
  p.controls_per_case = d.c;
  p.or_g = d.or_g;
  p.or_e = d.or_e;
  p.ror = d.ror;
  return p;
}

plan::Ranges point_box(const bench::Design& d) {
  plan::Ranges r;
  r.or_e = plan::Range{d.or_e, d.or_e};
  r.or_g = plan::Range{d.or_g, d.or_g};
  return r;
}

std::vector<bench::Design> random_designs(int count, unsigned seed) {
  std::mt19937_64 draw(seed);
  const auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(draw);
  };
  const auto log_uniform = [&](double lo, double hi) {
    return std::exp(uniform(std::log(lo), std::log(hi)));
  };
  constexpr double kControls[] = {0.5, 1.0, 2.0, 4.0};
  std::vector<bench::Design> out;
  while (static_cast<int>(out.size()) < count) {
    bench::Design d{"random", static_cast<int>(uniform(2, 11)), log_uniform(0.03, 0.5),
                    kControls[static_cast<int>(uniform(0, 4))], log_uniform(0.5, 3),
                    log_uniform(0.5, 3), log_uniform(1.3, 4), 0.0, 0.05};
    if (uniform(0, 1) < 0.5) d.ror = 1.0 / d.ror;
    plan::Settings s;
    const plan::Outcome size =
        plan::size_for(plan_design(d), uniform(0.3, 0.9), point_box(d), s);
    if (!size.ok() || size.result.n_cases > 20000) continue;
    d.cases = size.result.n_cases;
    out.push_back(d);
  }
  return out;
}

bool measure(const bench::Design& d, double replicates, unsigned seed, Row& row) {
  row.design = d;
  plan::Settings settings;
  settings.alpha = d.alpha;
  for (std::size_t t = 0; t < kTests.size(); ++t) {
    settings.test = kTests[t];
    const plan::Outcome o = plan::power_over(plan_design(d), d.cases, point_box(d), settings);
    if (!o.ok()) return false;
    row.formula[t] = o.result.least.power;
    row.small_cells = o.result.least.small_cells;
  }
  settings.test = plan::Test::null_variance;
  const plan::Scenario s{plan::Mode::power, plan_design(d), d.cases, 0.0, point_box(d), settings};
  const plan::Answer a = plan::answer(s, {replicates, static_cast<double>(seed), 0});
  if (!a.simulation) return false;
  row.wald = a.simulation->least.power;
  row.wald_se = a.simulation->least.se;
  row.lr = a.simulation->least.lr_power;
  row.lr_se = a.simulation->least.lr_se;
  return true;
}

struct Gaps {
  double largest = 0.0;
  double median = 0.0;
  double mean = 0.0;  // signed: formula minus simulation
  int beyond = 0;     // |gap| > 3 standard errors
};

Gaps gaps(const std::vector<Row>& rows, std::size_t formula, bool lr) {
  Gaps g;
  std::vector<double> sizes;
  for (const Row& r : rows) {
    const double gap = r.formula[formula] - (lr ? r.lr : r.wald);
    const double se = std::max(lr ? r.lr_se : r.wald_se, 1e-12);
    sizes.push_back(std::fabs(gap));
    g.largest = std::max(g.largest, std::fabs(gap));
    g.mean += gap / static_cast<double>(rows.size());
    if (std::fabs(gap) > 3 * se) ++g.beyond;
  }
  std::sort(sizes.begin(), sizes.end());
  if (!sizes.empty()) g.median = sizes[sizes.size() / 2];
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  int random = 300;
  double replicates = 100000;
  unsigned seed = 1;
  bool csv = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--random") == 0 && i + 1 < argc) {
      random = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--replicates") == 0 && i + 1 < argc) {
      replicates = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--csv") == 0) {
      csv = true;
    } else {
      std::fprintf(stderr,
                   "usage: gxe_formula_gaps [--random N] [--replicates R] [--seed S] [--csv]\n");
      return 2;
    }
  }
  std::vector<bench::Design> designs(bench::kDesigns.begin(), bench::kDesigns.end());
  for (const bench::Design& d : random_designs(random, seed)) designs.push_back(d);
  std::vector<Row> rows;
  if (csv) {
    std::printf("name,k,carrier,c,or_g,or_e,ror,cases,alpha,null_variance,wald,lr,"
                "sim_wald,sim_wald_se,sim_lr,sim_lr_se\n");
  }
  for (const bench::Design& d : designs) {
    Row row;
    if (!measure(d, replicates, seed, row)) {
      std::fprintf(stderr, "%s: no answer, left out\n", d.name);
      continue;
    }
    rows.push_back(row);
    if (csv) {
      std::printf("%s,%d,%.6g,%g,%.6g,%.6g,%.6g,%g,%g,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f\n",
                  d.name, d.k, d.carrier, d.c, d.or_g, d.or_e, d.ror, d.cases, d.alpha,
                  row.formula[0], row.formula[1], row.formula[2], row.wald, row.wald_se, row.lr,
                  row.lr_se);
    }
  }
  if (csv) return 0;
  std::vector<Row> filled;
  for (const Row& r : rows) {
    if (!r.small_cells) filled.push_back(r);
  }
  std::printf("%zu designs, %.0f simulated studies each\n", rows.size(), replicates);
  const char* names[] = {"null-variance", "wald", "lr"};
  for (const auto* set : {&rows, &filled}) {
    std::printf("\n%s (%zu designs)\n\n", set == &rows ? "All designs"
                                                       : "Every expected case count at least 5",
                set->size());
    std::printf("| formula | vs simulated | largest gap | median gap | mean gap | beyond 3 se |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (std::size_t f = 0; f < kTests.size(); ++f) {
      for (const bool lr : {false, true}) {
        const Gaps g = gaps(*set, f, lr);
        std::printf("| %s | %s | %.4f | %.4f | %+.4f | %d |\n", names[f],
                    lr ? "likelihood ratio" : "Wald", g.largest, g.median, g.mean, g.beyond);
      }
    }
  }
  return 0;
}
