#include "derivatives/derivatives.h"

#include <algorithm>
#include <array>

#include "derivatives/dual.h"
#include "derivatives/records.h"
#include "console/console.h"
#include "model/fits_impl.h"
#include "model/lr_impl.h"
#include "model/model.h"
#include "model/normal_impl.h"
#include "model/power_impl.h"
#include "model/records.h"

namespace gxe::derivatives {
namespace {

namespace impl = model::impl;

// Messages of the two chains when asked for more directions than a Dual has.
constexpr const char* kSampleTooManyDirections = "Parameter g_p_ is greater than g_pmax_";
constexpr const char* kPowerTooManyDirections = "Parameter p_p_ is greater than p_pmax_";

// One chain at work: the model records of the calculation, the chain's own
// companions and its message.
struct Chain {
  model::Records& rec;
  HypothesisGradient& alt;
  CellTableGradient& cells;
  const char* too_many_directions;
};

Chain sample_chain(model::Records& rec, Records& grad) {
  return {rec, grad.g_alt, grad.g_cells, kSampleTooManyDirections};
}
Chain power_chain(model::Records& rec, Records& grad) {
  return {rec, grad.p_alt, grad.p_cells, kPowerTooManyDirections};
}

// The gradients have room for kDirections components.
void guard(const char* too_many_directions, int directions) {
  if (directions > kDirections) {
    console::message({too_many_directions});
    console::end_program(0);
  }
}
void guard(const Chain& chain, int directions) { guard(chain.too_many_directions, directions); }

// Stores the search point and its seed: alt.bg = x(1) with gradient column 1,
// alt.be = x(2) with gradient column 2.
void seed(const Chain& chain, std::span<const Dual> x) {
  chain.alt.bg = x[0].d;
  chain.rec.alt.bg = x[0].v;
  chain.alt.be = x[1].d;
  chain.rec.alt.be = x[1].v;
}

// The null fit reads only the null record, so its table, intercept and
// variance are constants of the search: the double fit gives the same values
// as a dual one would, and the gradients are zero by construction.
Dual fit_null(const Chain& chain) {
  double varh0 = 0.0;
  model::fs_0(chain.rec, varh0);
  const int k = impl::bounded_categories(chain.rec.cells.ncat);
  std::fill_n(chain.cells.cell.begin(), 4 * k, Gradient{});
  return Dual(varh0);
}

// The alternative fit over duals, from the point and seed stored in alt and
// the chain's companions; the table and intercept go to the model records
// (values) and to the companions (gradients).
Dual fit_alternative(const Chain& chain) {
  model::Records& rec = chain.rec;
  const int k = impl::bounded_categories(rec.cells.ncat);
  const Dual bg(rec.alt.bg, chain.alt.bg);
  const Dual be(rec.alt.be, chain.alt.be);
  impl::CellArray<Dual> cell;
  Dual b0;
  const Dual varh1 = impl::fit(rec.alt, bg, be, k, cell, b0);
  rec.alt.b0 = b0.v;
  chain.alt.b0 = b0.d;
  for (int i = 0; i < 4 * k; ++i) {
    rec.cells.cell[i] = cell[i].v;
    chain.cells.cell[i] = cell[i].d;
  }
  return varh1;
}

// Identity seed for the entry points: x(i) with unit gradient in direction i.
std::array<Dual, kDirections> seeded(std::span<const double> x) {
  return {variable<kDirections>(x[0], 0), variable<kDirections>(x[1], 1)};
}

void copy_gradient(const Dual& u, int n, std::span<double> g) {
  const int m = std::clamp(n, 0, kDirections);
  for (int i = 0; i < m; ++i) g[i] = u.d[i];
}

void power_of_alternative(const Chain& chain, int directions, double ncase, Dual& pw) {
  guard(chain, directions);
  const Dual varh0 = fit_null(chain);
  const Dual varh1 = fit_alternative(chain);
  model::require_positive_cases(ncase);
  pw = impl::power_of(ncase, varh0, varh1, chain.rec.alt.beg, chain.rec.z[0]);
}

}  // namespace

// --- Sample-size chain --------------------------------------------------------

void dsample(model::Records& rec, Records& grad, int n, std::span<const double> x,
             std::span<double> g) {
  const std::array<Dual, kDirections> xs = seeded(x);
  Dual ss;
  g_sample(rec, grad, n, n, xs, ss);
  copy_gradient(ss, n, g);
}

void dvarh1(model::Records& rec, Records& grad, int n, std::span<const double> x,
            std::span<double> g) {
  const Chain chain = sample_chain(rec, grad);
  guard(chain, n);
  seed(chain, seeded(x));
  copy_gradient(fit_alternative(chain), n, g);
}

void dlr(model::Records& rec, int n, std::span<const double> x, std::span<double> g) {
  guard(kSampleTooManyDirections, n);
  const std::array<Dual, kDirections> xs = seeded(x);
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  const Dual d = impl::lr_noncentrality(rec.alt, impl::RecordControls{rec.alt}, xs[0], xs[1],
                                        rec.cells.ncat);
  copy_gradient(d, n, g);
}

void g_sample(model::Records& rec, Records& grad, int g_p_, int /*n*/, std::span<const Dual> x,
              Dual& ss) {
  const Chain chain = sample_chain(rec, grad);
  guard(chain, g_p_);
  seed(chain, x);
  const Dual varh0 = fit_null(chain);
  const Dual varh1 = fit_alternative(chain);
  ss = impl::sample_of(varh0, varh1, rec.alt.beg, rec.z[0], rec.z[1]);
}

void g_fs_a(model::Records& rec, Records& grad, int g_p_, Dual& varh1) {
  const Chain chain = sample_chain(rec, grad);
  guard(chain, g_p_);
  varh1 = fit_alternative(chain);
}

void g_fs_0(model::Records& rec, Records& grad, int g_p_, Dual& varh0) {
  const Chain chain = sample_chain(rec, grad);
  guard(chain, g_p_);
  varh0 = fit_null(chain);
}

// --- Power chain --------------------------------------------------------------

void dpower3(model::Records& rec, Records& grad, int n, std::span<const double> x,
             std::span<double> g) {
  const std::array<Dual, kDirections> xs = seeded(x);
  Dual pw;
  p_power3(rec, grad, n, n, xs, pw);
  copy_gradient(pw, n, g);
}

void p_power3(model::Records& rec, Records& grad, int p_p_, int /*n*/, std::span<const Dual> x,
              Dual& pw) {
  const Chain chain = power_chain(rec, grad);
  guard(chain, p_p_);
  seed(chain, x);
  power_of_alternative(chain, p_p_, model::study_cases(rec), pw);
}

void p_power(model::Records& rec, Records& grad, int p_p_, double ncase, Dual& pw) {
  power_of_alternative(power_chain(rec, grad), p_p_, ncase, pw);
}

void p_normp(int p_p_, const Dual& z, Dual& p, Dual& q, Dual& pdf) {
  guard(kPowerTooManyDirections, p_p_);
  impl::normp(z, p, q, pdf);
}

void p_fs_a(model::Records& rec, Records& grad, int p_p_, Dual& varh1) {
  const Chain chain = power_chain(rec, grad);
  guard(chain, p_p_);
  varh1 = fit_alternative(chain);
}

void p_fs_0(model::Records& rec, Records& grad, int p_p_, Dual& varh0) {
  const Chain chain = power_chain(rec, grad);
  guard(chain, p_p_);
  varh0 = fit_null(chain);
}

}  // namespace gxe::derivatives
