// Cost of the simulation check: whole runs of 10,000 simulated studies by k
// and thread count, one fit of the interaction model and its
// likelihood-ratio statistic by k, and a whole sample size by simulation.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plan/simulation.h"
#include "simulate/fit.h"
#include "simulate/simulate.h"

namespace {

using namespace gxe;

// k quantiles, carriers 0.3, one control per case, OR(G|E=0) 1.5,
// OR^tb(E|G=0) 2, ROR^tb 2, 1000 cases.
simulate::Study study(int k) {
  simulate::Study s;
  s.exposure_prevalences.assign(static_cast<std::size_t>(k), 1.0 / k);
  s.carrier_prevalence = 0.3;
  s.or_g = 1.5;
  s.or_e = 2.0;
  s.ror = 2.0;
  s.cases = 1000.0;
  return s;
}

constexpr long kReplicates = 10000;

// Arguments: k, threads. Items are simulated studies.
void BM_SimulatePower(benchmark::State& state) {
  const simulate::Study s = study(static_cast<int>(state.range(0)));
  simulate::Options o;
  o.replicates = kReplicates;
  o.threads = static_cast<int>(state.range(1));
  double power = 0.0;
  for (auto _ : state) {
    const simulate::Outcome out = simulate::simulate_power(s, o);
    if (!out.ok()) {
      state.SkipWithError(out.error->message().c_str());
      break;
    }
    // The run has effects (threads) and is never optimised away, so the value
    // needs no DoNotOptimize; with Google Benchmark 1.7 and g++ 12 the
    // non-const DoNotOptimize on this double left the counter at 0.
    power = out.check.power;
  }
  state.SetItemsProcessed(state.iterations() * kReplicates);
  state.counters["power"] = power;
}

// A table of 1000 cases and 1000 controls spread like the expected table of
// the design above.
void expected_table(int k, std::vector<double>& cases, std::vector<double>& controls) {
  cases.assign(static_cast<std::size_t>(2 * k), 0.0);
  controls.assign(cases.size(), 0.0);
  double case_sum = 0.0;
  for (int g = 0; g <= 1; ++g) {
    for (int s = 0; s < k; ++s) {
      const double pg = g == 1 ? 0.3 : 0.7;
      const double eta = g * std::log(1.5) + (s + g * s) * std::log(2.0) / (k - 1);
      cases[static_cast<std::size_t>(g * k + s)] = pg * std::exp(eta) / k;
      controls[static_cast<std::size_t>(g * k + s)] = std::round(1000.0 * pg / k);
      case_sum += cases[static_cast<std::size_t>(g * k + s)];
    }
  }
  for (double& y : cases) y = std::round(1000.0 * y / case_sum);
}

// One fit of that table (from the usual starting point).
void BM_FitInteraction(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  std::vector<double> cases;
  std::vector<double> controls;
  expected_table(k, cases, controls);
  int steps = 0;
  for (auto _ : state) {
    const simulate::InteractionFit fit = simulate::fit_interaction(cases, controls);
    benchmark::DoNotOptimize(fit);
    steps = fit.newton_steps;
  }
  state.counters["newton_steps"] = steps;
}

// The likelihood-ratio statistic of that table given its full fit: the fit
// without the interaction from the full fit's lines, the extra work of the
// likelihood-ratio test in each simulated study.
void BM_LrStatistic(benchmark::State& state) {
  std::vector<double> cases;
  std::vector<double> controls;
  expected_table(static_cast<int>(state.range(0)), cases, controls);
  const simulate::InteractionFit fit = simulate::fit_interaction(cases, controls);
  double lr = 0.0;
  for (auto _ : state) {
    lr = simulate::lr_statistic(fit, cases, controls);
    benchmark::DoNotOptimize(lr);
  }
  state.counters["lr"] = lr;
}

// A whole sample-size calculation by simulation on one thread: the formula's
// size, its check at both extremes, then the search, 10,000 studies at each
// number of cases tried. k quantiles, carrier prevalence 0.3, one control
// per case, null odds ratios 2 and 1.5, ROR^tb 2, target power 0.8,
// OR^tb(E|G=0) in [1.5, 2.5] and OR(G|E=0) in [1, 2].
void BM_SimulatedSize(benchmark::State& state) {
  plan::Scenario s;
  s.mode = plan::Mode::size;
  s.design.quantiles = static_cast<int>(state.range(0));
  s.design.gene_prevalence = 0.3;
  s.design.or_e = 2.0;
  s.design.or_g = 1.5;
  s.design.ror = 2.0;
  s.target_power = 0.8;
  s.ranges = {plan::Range{1.5, 2.5}, plan::Range{1.0, 2.0}};
  const plan::SimulationSettings settings{static_cast<double>(kReplicates), 1, 1,
                                          plan::SizeBy::simulation};
  plan::SimulatedSize size;
  double formula = 0.0;
  for (auto _ : state) {
    const plan::Answer a = plan::answer(s, settings);
    if (!a.simulation || !a.simulation->size) {
      state.SkipWithError("no simulated size");
      break;
    }
    size = *a.simulation->size;
    formula = a.outcome.result.n_cases;
  }
  state.counters["formula_cases"] = formula;
  state.counters["sim_cases"] = size.cases;
  state.counters["trials"] = size.trials;
}

// Wall time, and CPU time of all threads together (on a shared machine the
// CPU time per study is the steadier figure).
BENCHMARK(BM_SimulatePower)
    ->ArgsProduct({{2, 4, 8, 16, 32, 64, 100}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_FitInteraction)->Arg(2)->Arg(4)->Arg(16)->Arg(100);
BENCHMARK(BM_LrStatistic)->Arg(2)->Arg(4)->Arg(16)->Arg(100);
BENCHMARK(BM_SimulatedSize)
    ->Arg(2)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
