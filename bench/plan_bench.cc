// Whole calculations through the planning library, by search method: the
// global search (a grid of the box, then local searches from its best
// points) next to the dialogue's single search from the centre. Design as
// in search_bench.cc: k quantiles, carrier prevalence 0.3, one control per
// case, null odds ratios 2 and 1.5, ROR^tb 2, 500 cases or power 0.8 (both
// for the detectable ROR^tb), OR(G|E=0) in [0.5, 2] and OR^tb(E|G=0) in
// [1, 4].

#include <benchmark/benchmark.h>

#include "plan/plan.h"

namespace {

using gxe::plan::Mode;
using gxe::plan::SearchMethod;
using gxe::plan::Test;

void BM_Plan(benchmark::State& state, Mode mode, SearchMethod method, int searched = 0,
             Test test = Test::null_variance) {
  gxe::plan::Scenario s;
  s.mode = mode;
  s.design.quantiles = static_cast<int>(state.range(0));
  s.design.gene_prevalence = 0.3;
  s.design.or_e = 2.0;
  s.design.or_g = 1.5;
  s.design.ror = 2.0;
  s.cases = 500;
  s.target_power = 0.8;
  s.ranges = {gxe::plan::Range{1.0, 4.0}, gxe::plan::Range{0.5, 2.0}};
  // Three or four dimensions: the carrier prevalence, then the association.
  if (searched >= 1) s.ranges.gene_prevalence = gxe::plan::Range{0.2, 0.4};
  if (searched >= 2) s.ranges.or_ge = gxe::plan::Range{0.7, 1.5};
  s.settings.search = method;
  s.settings.test = test;
  int runs = 0;
  int evaluations = 0;
  for (auto _ : state) {
    const gxe::plan::Outcome out = gxe::plan::run(s);
    benchmark::DoNotOptimize(out.result.least.power);
    runs = static_cast<int>(out.result.searches.size());
    evaluations = 0;
    for (const auto& r : out.result.searches) evaluations += r.objective_calls;
  }
  state.counters["minimizer_runs"] = runs;
  state.counters["f_evals_in_runs"] = evaluations;
}

BENCHMARK_CAPTURE(BM_Plan, power_centre, Mode::power, SearchMethod::centre)
    ->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, power_global, Mode::power, SearchMethod::global)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_global_k20, Mode::size, SearchMethod::global)
    ->Arg(20)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_centre, Mode::size, SearchMethod::centre)
    ->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, power_global_4d, Mode::power, SearchMethod::global, 2)
    ->Arg(4)->Arg(20)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_global_4d, Mode::size, SearchMethod::global, 2)
    ->Arg(4)->Arg(20)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_global, Mode::size, SearchMethod::global)
    ->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
// The same calculations for the Wald and the likelihood-ratio tests.
BENCHMARK_CAPTURE(BM_Plan, power_global_wald, Mode::power, SearchMethod::global, 0, Test::wald)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, power_global_lr, Mode::power, SearchMethod::global, 0, Test::lr)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_global_wald, Mode::size, SearchMethod::global, 0, Test::wald)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, size_global_lr, Mode::size, SearchMethod::global, 0, Test::lr)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, power_global_4d_lr, Mode::power, SearchMethod::global, 2, Test::lr)
    ->Arg(4)->Arg(20)->Unit(benchmark::kMicrosecond);
// The detectable ROR^tb for 500 cases and power 0.8: power_over at every
// ROR^tb tried, each a design of its own.
BENCHMARK_CAPTURE(BM_Plan, detect_global, Mode::detect, SearchMethod::global)
    ->Arg(4)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, detect_centre, Mode::detect, SearchMethod::centre)
    ->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Plan, detect_global_4d, Mode::detect, SearchMethod::global, 2)
    ->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace
