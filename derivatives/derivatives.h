#ifndef GXE_DERIVATIVES_DERIVATIVES_H_
#define GXE_DERIVATIVES_DERIVATIVES_H_

// Exact gradients of sample size and power with respect to the search
// variables x = (log OR(G|E=0), per-step log OR^tb(E|G=0)), by forward-mode
// differentiation: the model's own templates run over Dual, so every value
// equals the double routine's to the last bit and every gradient is the
// derivative of exactly the operations that produced it.
//
// Two chains, each with its own companions (derivatives/records.h) and its
// own guard message: the sample-size chain (g_) and the power chain (p_).
// Both write the same model records as the value routines: alt.bg, alt.be,
// null.b0, alt.b0 and the table in `cells`, which is left holding the
// alternative's table.
//
// Every routine below takes the records of its calculation first, the model's
// (`rec`) and the companions (`grad`), then the number of directions. More
// than two directions (the capacity of a Dual) writes "Parameter g_p_ is
// greater than g_pmax_" or "Parameter p_p_ is greater than p_pmax_" and ends
// the program with status 0, before any record is written.

#include <span>

#include "derivatives/dual.h"
#include "derivatives/records.h"
#include "model/records.h"

namespace gxe::derivatives {

// --- Entry points (the minimizer's gradient callbacks call these) -----------

// g(i) = d sample / d x(i) at x, i = 1..n; n = 2 (x holds two entries, g n).
void dsample(model::Records& rec, Records& grad, int n, std::span<const double> x,
             std::span<double> g);
// g(i) = d varh1 / d x(i) at x, i = 1..n, varh1 the alternative's per-case
// variance of the interaction estimate (the alternative's fit of the
// sample-size chain); n = 2.
void dvarh1(model::Records& rec, Records& grad, int n, std::span<const double> x,
            std::span<double> g);
// g(i) = d lr / d x(i) at x, i = 1..n, lr the likelihood-ratio
// noncentrality per case (model::lr_noncentrality); n = 2. Stores x into
// rec.alt.
void dlr(model::Records& rec, int n, std::span<const double> x, std::span<double> g);
// g(i) = d power3 / d x(i) at x, i = 1..n; n = 2 (x holds two entries, g n).
void dpower3(model::Records& rec, Records& grad, int n, std::span<const double> x,
             std::span<double> g);

// --- Sample-size chain --------------------------------------------------------

// sample() over duals: x(i) carries the seed column i as its gradient.
void g_sample(model::Records& rec, Records& grad, int g_p_, int n, std::span<const Dual> x,
              Dual& ss);
// Fit of the alternative from rec.alt and the seed entries of grad.g_alt;
// writes rec.alt.b0, grad.g_alt.b0, rec.cells and grad.g_cells.
void g_fs_a(model::Records& rec, Records& grad, int g_p_, Dual& varh1);
// Fit of the null: nothing in it depends on the search variables, so it runs
// in double and its result has gradient zero. Writes rec.null.b0, rec.cells
// and zeros into grad.g_cells.
void g_fs_0(model::Records& rec, Records& grad, int g_p_, Dual& varh0);

// --- Power chain --------------------------------------------------------------

// power3() over duals: x(i) carries the seed column i as its gradient.
void p_power3(model::Records& rec, Records& grad, int p_p_, int n, std::span<const Dual> x,
              Dual& pw);
// power() over duals at the alternative in rec.alt / grad.p_alt; ncase has no
// gradient. A number of cases that is not positive stops the program exactly
// as power() does.
void p_power(model::Records& rec, Records& grad, int p_p_, double ncase, Dual& pw);
// normp() over duals; reads no record.
void p_normp(int p_p_, const Dual& z, Dual& p, Dual& q, Dual& pdf);
void p_fs_a(model::Records& rec, Records& grad, int p_p_, Dual& varh1);
void p_fs_0(model::Records& rec, Records& grad, int p_p_, Dual& varh0);

}  // namespace gxe::derivatives

#endif  // GXE_DERIVATIVES_DERIVATIVES_H_
