// Whole calculations: both searches of a power or a sample-size calculation,
// with the report written to a discarded stream. The counters give the
// objective and gradient evaluations of each search.

#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>
#include <string>

#include "console/console.h"
#include "search/search.h"

namespace {

using gxe::search::Box;
using gxe::search::Records;

// k quantiles, gene prevalence 0.3, c = 1, null odds ratios 2 and 1.5,
// ROR^tb = 2, 500 cases; OR(G|E=0) in [0.5, 2], OR^tb(E|G=0) in [1, 4].
void store_design(int k, Records& rec, Box& lower, Box& upper) {
  gxe::model::Records& m = rec.model;
  m = gxe::model::Records{};
  m.cells.ncat = k;
  for (int e = 0; e < k; ++e) m.null.pexp[e] = 1.0 / k;
  m.null.pgen = {0.7, 0.3};
  m.null.ccr = 1.0;
  m.size = 1000.0;
  m.null.be = std::log(2.0) / (k - 1);
  m.null.bg = std::log(1.5);
  m.alt.pexp = m.null.pexp;
  m.alt.pgen = m.null.pgen;
  m.alt.ccr = 1.0;
  m.alt.beg = std::log(2.0) / (k - 1);
  lower = {std::log(0.5), 0.0};
  upper = {std::log(2.0), std::log(4.0) / (k - 1)};
}

void report_counts(benchmark::State& state, const gxe::search::Extremes& r) {
  for (std::size_t i = 0; i < r.searches.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    state.counters["f_search" + n] = r.searches[i].objective_calls;
    state.counters["g_search" + n] = r.searches[i].gradient_calls;
  }
}

// Times `calculation` (search and report) on the design for k = range(0),
// then reports the evaluation counts of `search` on the same design.
template <class Calculation, class Search>
void time_calculation(benchmark::State& state, Calculation calculation, Search search) {
  std::istringstream in;
  std::ostringstream out, err;
  gxe::console::bind(in, out, err);
  Records rec;
  Box lower, upper;
  store_design(static_cast<int>(state.range(0)), rec, lower, upper);
  for (auto _ : state) {
    calculation(rec, lower, upper);
    out.str("");
  }
  report_counts(state, search(rec, lower, upper));
  gxe::console::bind_standard();
}

void BM_PowerCalculation(benchmark::State& state) {
  time_calculation(state, gxe::search::power_calc,
                   [](Records& rec, const Box& lower, const Box& upper) {
                     return gxe::search::power_search(rec, lower, upper);
                   });
}

void BM_SizeCalculation(benchmark::State& state) {
  constexpr double kTargetPower = 0.8;
  time_calculation(
      state,
      [](Records& rec, const Box& lower, const Box& upper) {
        double power = kTargetPower;  // the driver overwrites its copy
        gxe::search::ssize_calc(rec, power, lower, upper);
      },
      [](Records& rec, const Box& lower, const Box& upper) {
        double power = kTargetPower;
        return gxe::search::ssize_search(rec, power, lower, upper);
      });
}

BENCHMARK(BM_PowerCalculation)->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SizeCalculation)->Arg(4)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
