// Cost of one evaluation of the model at a point of the alternative: power
// and sample size, their exact gradients, and the odds-ratio conversion.
// The range searches call the first four hundreds of times per calculation.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <sstream>

#include "derivatives/derivatives.h"
#include "console/console.h"
#include "model/model.h"
#include "model/oreg.h"
#include "model/records.h"

namespace {

using namespace gxe;

// k quantiles, probg 0.3, one control per case, OR(G|E=0) 1.5,
// OR^tb(E|G=0) 2, ROR^tb 2, 500 cases, target power 0.8.
model::Records design_records(int k) {
  model::Records rec;
  rec.cells.ncat = k;
  for (int e = 0; e < k; ++e) rec.null.pexp[e] = 1.0 / k;
  rec.null.pgen = {0.7, 0.3};
  rec.null.ccr = 1.0;
  rec.null.bg = std::log(1.5);
  rec.null.be = std::log(2.0) / (k - 1);
  rec.alt.pexp = rec.null.pexp;
  rec.alt.pgen = rec.null.pgen;
  rec.alt.ccr = 1.0;
  rec.alt.beg = std::log(2.0) / (k - 1);
  rec.size = 1000.0;
  rec.z = {model::kCriticalValue, -0.8416212335729143};
  return rec;
}

std::array<double, 2> point(int k) { return {std::log(1.7), std::log(1.6) / (k - 1)}; }

void BM_power3(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  model::Records rec = design_records(k);
  const auto x = point(k);
  for (auto _ : state) {
    double pw = 0.0;
    model::power3(rec, 2, x, pw);
    benchmark::DoNotOptimize(pw);
  }
}

void BM_dpower3(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  model::Records rec = design_records(k);
  derivatives::Records grad;
  const auto x = point(k);
  for (auto _ : state) {
    std::array<double, 2> g{};
    derivatives::dpower3(rec, grad, 2, x, g);
    benchmark::DoNotOptimize(g);
  }
}

void BM_sample(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  model::Records rec = design_records(k);
  const auto x = point(k);
  for (auto _ : state) {
    double ss = 0.0;
    model::sample(rec, 2, x, ss);
    benchmark::DoNotOptimize(ss);
  }
}

void BM_dsample(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  model::Records rec = design_records(k);
  derivatives::Records grad;
  const auto x = point(k);
  for (auto _ : state) {
    std::array<double, 2> g{};
    derivatives::dsample(rec, grad, 2, x, g);
    benchmark::DoNotOptimize(g);
  }
}

// The conversion prints its report; the console writes to a discarded stream.
void BM_oreg(benchmark::State& state) {
  std::istringstream in;
  std::ostream discard(nullptr);
  std::ostringstream err;
  console::bind(in, discard, err);
  std::array<double, model::kMaxCategories> pexp{};
  pexp.fill(0.25);
  std::array<double, 2> pgen{0.7, 0.3};
  model::Records rec;
  for (auto _ : state) {
    double orgm = 1.5;
    double oretbm = 2.0;
    double ror = 2.0;
    int k = 4;
    double oretbc = 0.0;
    double orgc = 0.0;
    model::oreg(rec, orgm, oretbm, ror, k, pexp, pgen, oretbc, orgc);
    benchmark::DoNotOptimize(oretbc);
    benchmark::DoNotOptimize(orgc);
  }
  console::bind_standard();
}

BENCHMARK(BM_power3)->Arg(4)->Arg(100);
BENCHMARK(BM_dpower3)->Arg(4)->Arg(100);
BENCHMARK(BM_sample)->Arg(4)->Arg(100);
BENCHMARK(BM_dsample)->Arg(4)->Arg(100);
BENCHMARK(BM_oreg);

}  // namespace
