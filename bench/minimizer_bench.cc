// Cost of one bounded minimization with dmngb, set up as the range searches
// set theirs up (divset, no printing, two variables, unit scales): time per
// solve, and the objective and gradient evaluations it takes.

#include <benchmark/benchmark.h>

#include <array>

#include "minimizer/dmngb.h"
#include "minimizer/minimizer.h"

namespace gxe::minimizer {
namespace {

constexpr int kLiv = 100;
constexpr int kLv = 100;

struct Counts {
  int f = 0;
  int g = 0;
};

// f = 1 + (x1 - 0.5)^2 + 3 (x2 + 0.25)^2 + (x1 - 0.5)(x2 + 0.25).
void quadratic_f(int, CVec x, int&, double& f, Counts& c, int&, int&) {
  ++c.f;
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  f = 1.0 + a * a + 3.0 * b * b + a * b;
}
void quadratic_g(int, CVec x, int&, Vec g, Counts& c, int&, int&) {
  ++c.g;
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  g[0] = 2.0 * a + b;
  g[1] = 6.0 * b + a;
}

void rosenbrock_f(int, CVec x, int&, double& f, Counts& c, int&, int&) {
  ++c.f;
  const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
  f = 100.0 * a * a + b * b;
}
void rosenbrock_g(int, CVec x, int&, Vec g, Counts& c, int&, int&) {
  ++c.g;
  const double a = x[1] - x[0] * x[0];
  g[0] = -400.0 * x[0] * a - 2.0 * (1.0 - x[0]);
  g[1] = 200.0 * a;
}

template <class F, class G>
void solve_repeatedly(benchmark::State& state, F f, G g, std::array<double, 2> start,
                      std::array<double, 4> box) {
  const std::array<double, 2> scale{1.0, 1.0};
  Counts total;
  int code = 0;
  for (auto _ : state) {
    std::array<int, kLiv> iv_store{};
    std::array<double, kLv> v_store{};
    IvView iv(iv_store);
    VView v(v_store);
    divset(2, iv, kLiv, kLv, v);
    iv(OUTPUT_UNIT) = 0;
    iv(PRINT_SOLUTION) = 0;
    iv(PRINT_STATISTICS) = 0;
    std::array<double, 2> x = start;
    std::array<double, 2> d = scale;
    int unused = 0;
    dmngb(2, d, x, box, f, g, iv, kLiv, kLv, v, total, unused, unused);
    code = iv(RETURN_CODE);
    benchmark::DoNotOptimize(x);
  }
  const auto solves = static_cast<double>(state.iterations());
  state.counters["f_evals"] = total.f / solves;
  state.counters["g_evals"] = total.g / solves;
  state.counters["code"] = code;
}

void BM_DmngbQuadratic(benchmark::State& state) {
  solve_repeatedly(state, quadratic_f, quadratic_g, {1.5, 1.5}, {-2, 2, -2, 2});
}
BENCHMARK(BM_DmngbQuadratic);

void BM_DmngbRosenbrockBox(benchmark::State& state) {
  solve_repeatedly(state, rosenbrock_f, rosenbrock_g, {-1.2, 1.0}, {-2, 2, -1, 3});
}
BENCHMARK(BM_DmngbRosenbrockBox);

}  // namespace
}  // namespace gxe::minimizer
