// Where the simulated power is least favourable, on random designs. The
// size by simulation searches the number of cases at the formula's least
// favourable point; the simulated power may be lowest elsewhere in the box.
// For each random design this finds the formula's study size and least
// favourable point, simulates studies of that size there and at the four
// corners of the box, and counts the designs where a corner's simulated
// power is below the formula's point's by more than two standard errors of
// the difference (independent seeds at each point, so that the two powers
// are independent). Run by hand:
//
//   gxe_simulated_worst_case [--designs N] [--replicates R] [--seed S] [--verbose]
//
// (defaults 100 designs, 10,000 studies a point, seed 1). With --verbose, one
// line per design.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "plan/plan.h"
#include "simulate/simulate.h"

namespace {

using namespace gxe;

// A random design: k from 2 to 8 quantiles, carriers 0.05 to 0.5 among
// controls, 1, 2 or 4 controls per case, null odds ratios 0.5 to 3, ROR^tb
// 1.5 to 3 or its inverse, target power 0.8, and a box from the null odds
// ratios' conditional values times 1/2 to 1 at the bottom and 1 to 2 at the
// top (log-uniform).
plan::Scenario random_design(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto log_uniform = [&](double low, double high) {
    return low * std::pow(high / low, unit(rng));
  };
  plan::Scenario s;
  s.mode = plan::Mode::size;
  s.design.quantiles = 2 + static_cast<int>(unit(rng) * 7.0);
  s.design.gene_prevalence = 0.05 + 0.45 * unit(rng);
  const double controls[] = {1.0, 2.0, 4.0};
  s.design.controls_per_case = controls[static_cast<int>(unit(rng) * 3.0)];
  s.design.or_e = log_uniform(0.5, 3.0);
  s.design.or_g = log_uniform(0.5, 3.0);
  s.design.ror = log_uniform(1.5, 3.0);
  if (unit(rng) < 0.5) s.design.ror = 1.0 / s.design.ror;
  s.target_power = 0.8;
  const auto box = [&](double centre) {
    return plan::Range{centre / log_uniform(1.0, 2.0), centre * log_uniform(1.0, 2.0)};
  };
  s.ranges = {box(s.design.or_e), box(s.design.or_g)};
  return s;
}

struct Simulated {
  double power = 0.0;
  double se = 0.0;
  bool unreliable = false;
};

Simulated simulate_at(const plan::Scenario& s, const plan::Result& r, double or_g, double or_e,
                      simulate::Options options) {
  const simulate::Outcome o = simulate::simulate_power(
      simulate::Study{s.design.prevalences(), s.design.gene_prevalence,
                      r.n_controls / r.n_cases, or_g, or_e, s.design.ror, r.n_cases,
                      s.settings.alpha, s.design.or_ge},
      options);
  if (!o.ok()) return {std::nan(""), 0.0, true};
  return {o.check.power, o.check.se, o.check.failed > 0.1 * o.check.replicates};
}

}  // namespace

int main(int argc, char** argv) {
  long designs = 100;
  simulate::Options options;
  std::uint64_t seed = 1;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--designs") == 0 && i + 1 < argc) {
      designs = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--replicates") == 0 && i + 1 < argc) {
      options.replicates = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
    } else {
      std::fprintf(stderr,
                   "usage: gxe_simulated_worst_case [--designs N] [--replicates R] [--seed S] "
                   "[--verbose]\n");
      return 2;
    }
  }
  std::mt19937_64 rng(seed);
  long answered = 0;
  long sparse = 0;
  long worse = 0;
  long corner_extreme = 0;
  // The largest deficit of a corner's simulated power below the formula's
  // point's, in standard errors of the difference (negative: every corner
  // simulated better).
  double largest_gap = -HUGE_VAL;
  for (long d = 0; d < designs; ++d) {
    const plan::Scenario s = random_design(rng);
    const plan::Outcome out = plan::run(s);
    if (!out.ok()) continue;
    const plan::Result& r = out.result;
    options.seed = seed * 1000003 + static_cast<std::uint64_t>(d) * 5;
    const Simulated at = simulate_at(s, r, r.least.or_g, r.least.or_e, options);
    if (at.unreliable) {
      ++sparse;
      continue;
    }
    ++answered;
    double gap = -HUGE_VAL;  // this design's
    bool is_corner = false;
    for (const double or_g : {r.or_g_range.low, r.or_g_range.high}) {
      for (const double or_e : {r.or_e_range.low, r.or_e_range.high}) {
        ++options.seed;
        if (or_g == r.least.or_g && or_e == r.least.or_e) {
          is_corner = true;
          continue;
        }
        const Simulated c = simulate_at(s, r, or_g, or_e, options);
        if (c.unreliable) continue;
        const double se = std::hypot(at.se, c.se);
        if (se > 0.0) gap = std::max(gap, (at.power - c.power) / se);
      }
    }
    if (is_corner) ++corner_extreme;
    if (gap > 2.0) ++worse;
    largest_gap = std::max(largest_gap, gap);
    if (verbose) {
      std::printf("k %d carriers %.3f c %g ror %.3f cases %.0f least (%.3f, %.3f)%s power %.4f"
                  " largest deficit of a corner %.2f se\n",
                  s.design.categories(), s.design.gene_prevalence, s.design.controls_per_case,
                  s.design.ror, r.n_cases, r.least.or_g, r.least.or_e,
                  is_corner ? " a corner" : "", at.power, gap);
    }
  }
  std::printf("designs %ld: with a size and a reliable simulation %ld (too sparse %ld)\n",
              designs, answered, sparse);
  std::printf("formula's least favourable point at a corner of the box: %ld\n", corner_extreme);
  std::printf("a corner simulated worse by more than 2 standard errors: %ld of %ld (%.1f %%)\n",
              worse, answered, answered > 0 ? 100.0 * worse / answered : 0.0);
  std::printf("largest deficit of a corner: %.2f standard errors\n", largest_gap);
  return 0;
}
