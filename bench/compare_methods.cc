// How far the dialogue's search from the centre of the box is from the
// global search, on random designs (both modes, k from 2 to 100, boxes from
// narrow to wide). Prints a summary; run by hand:
//   build/release/bench/gxe_compare_methods [designs]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "plan/plan.h"

namespace {

using namespace gxe::plan;

struct Tally {
  int designs = 0;
  int differ = 0;         // the centre answer is worse than the global one
  int better = 0;         // the centre answer is better: the global search missed
  double worst = 0.0;     // largest difference (relative for sizes)
  double worst_or = 0.0;  // largest distance of a reported odds ratio (log scale)
};

}  // namespace

int main(int argc, char** argv) {
  const int designs = argc > 1 ? std::atoi(argv[1]) : 200;
  std::mt19937 rng(7);
  const auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(rng);
  };
  Tally size_tally, power_tally, flat_tally;
  for (int trial = 0; trial < designs; ++trial) {
    Scenario s;
    s.mode = trial % 2 == 0 ? Mode::power : Mode::size;
    s.design.quantiles = std::uniform_int_distribution<int>(2, 100)(rng);
    s.design.gene_prevalence = uniform(0.05, 0.6);
    s.design.controls_per_case = uniform(0.5, 4);
    s.design.or_e = std::exp(uniform(-1, 1.5));
    s.design.or_g = std::exp(uniform(-1, 1.5));
    s.design.ror = std::exp(uniform(0.3, 1.5) * (trial % 3 == 0 ? -1 : 1));
    s.cases = std::round(uniform(100, 3000));
    s.target_power = uniform(0.5, 0.95);
    const double width = std::exp(uniform(0, 3));
    const double g0 = std::exp(uniform(-1.5, 1.5));
    const double e0 = std::exp(uniform(-1.5, 1.5));
    s.ranges = {Range{e0, e0 * width}, Range{g0, g0 * std::sqrt(width)}};
    s.settings.search = SearchMethod::global;
    const Outcome global = run(s);
    s.settings.search = SearchMethod::centre;
    const Outcome centre = run(s);
    if (!global.ok() || !centre.ok()) continue;
    const Result& g = global.result;
    const Result& c = centre.result;
    const double or_distance =
        std::max({std::fabs(std::log(g.least.or_g / c.least.or_g)),
                  std::fabs(std::log(g.least.or_e / c.least.or_e)),
                  std::fabs(std::log(g.most.or_g / c.most.or_g)),
                  std::fabs(std::log(g.most.or_e / c.most.or_e))});
    if (g.flat) {
      ++flat_tally.designs;
      flat_tally.worst_or = std::max(flat_tally.worst_or, or_distance);
      continue;
    }
    if (s.mode == Mode::size) {
      ++size_tally.designs;
      const double shortfall = (g.size - c.size) / g.size;  // > 0: the centre answer is too small
      if (g.size - c.size > 1.0) ++size_tally.differ;
      if (c.size - g.size > 1.0) ++size_tally.better;
      size_tally.worst = std::max(size_tally.worst, shortfall);
      size_tally.worst_or = std::max(size_tally.worst_or, or_distance);
    } else {
      ++power_tally.designs;
      const double gap = std::max(c.least.power - g.least.power, g.most.power - c.most.power);
      if (gap > 1e-6) ++power_tally.differ;
      if (std::max(g.least.power - c.least.power, c.most.power - g.most.power) > 1e-7) {
        ++power_tally.better;
      }
      power_tally.worst = std::max(power_tally.worst, gap);
      power_tally.worst_or = std::max(power_tally.worst_or, or_distance);
    }
  }
  std::printf("designs: %d (size %d, power %d, flat boxes %d)\n", designs, size_tally.designs,
              power_tally.designs, flat_tally.designs);
  std::printf("size: centre more than 1 subject below global in %d of %d; largest shortfall %.3f %%\n",
              size_tally.differ, size_tally.designs, 100 * size_tally.worst);
  std::printf("power: centre extreme more than 1e-6 short of global in %d of %d; largest gap %.2e\n",
              power_tally.differ, power_tally.designs, power_tally.worst);
  std::printf("centre better than global: size %d, power %d\n", size_tally.better,
              power_tally.better);
  std::printf("largest distance of a reported odds ratio, |log ratio|: size %.3f, power %.3f, "
              "flat boxes %.3f\n",
              size_tally.worst_or, power_tally.worst_or, flat_tally.worst_or);
  return 0;
}
