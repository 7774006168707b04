#ifndef GXE_MINIMIZER_MINIMIZER_H_
#define GXE_MINIMIZER_MINIMIZER_H_

// Declarations of the bound-constrained trust-region minimizer: settings and
// machine constants, step assessment, bounded double-dogleg step, secant
// update, iteration summary and the reverse-communication driver.
//
// Conventions: vectors are 0-based spans of at least the stated length (the
// routine reads entry i of the algorithm at [i - 1]); IV and V are 1-based
// slot views (slots.h). Nothing here allocates. Routines whose output may
// alias an input say so.

#include <span>

#include "minimizer/slots.h"

namespace gxe::minimizer {

using Vec = std::span<double>;
using CVec = std::span<const double>;

// Packed lower-triangular matrix stored by rows: row i holds L(i,1) .. L(i,i)
// at 1-based positions i(i-1)/2 + 1 .. i(i+1)/2. Indices are 1-based.
template <class T>
class Packed {
 public:
  explicit Packed(std::span<T> a) : a_(a) {}
  T& operator()(int i, int j) const { return a_[pos(i, j)]; }
  // The i entries of row i, as a span.
  std::span<T> row(int i) const { return a_.subspan(pos(i, 1), static_cast<std::size_t>(i)); }
  static constexpr std::size_t pos(int i, int j) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(i - 1) / 2 +
           static_cast<std::size_t>(j) - 1;
  }

 private:
  std::span<T> a_;
};

// ---------------------------------------------------------------------------
// Settings, checks and machine constants.

// Fills IV and V with the defaults of family `alg`; IV(1) = 12 on success,
// 15/16/67 on too-short arrays or a bad family.
void divset(int alg, IvView iv, int liv, int lv, VView v);
// Writes the default real settings into slots 19.. of `v` (lv unused).
void dv7dfl(int alg1, int lv, VView v);
// Checks IV, V and the scale vector D on every (re)start; result in IV(1).
void dparck(int alg, CVec d, IvView iv, int liv, int lv, int n, VView v);

double d1mach(int i);
int i1mach(int i);
int i7mdcn(int k);
double dr7mdc(int k);

// ---------------------------------------------------------------------------
// Step assessment and measures.

void da7sst(IvView iv, int liv, int lv, VView v);
// Relative step size max_i |D(i)(X(i) - X0(i))| / max_i D(i)(|X(i)| + |X0(i)|).
double drldst(int p, CVec d, CVec x, CVec x0);
// 2-norm without overflow or harmful underflow.
double dv2nrm(int p, CVec x);

// ---------------------------------------------------------------------------
// Bounded double-dogleg step and its helpers.

// `b` holds the bounds pair by pair: b[2(i-1)] = lower(i), b[2(i-1)+1] = upper(i).
void dd7dgb(CVec b, CVec d, Vec dig, Vec dst, CVec g, std::span<int> ipiv, int& ka, Vec l,
            int lv, int p, int pc, Vec nwtst, Vec step, Vec td, Vec tg, VView v, Vec w, CVec x0);
void dd7dog(CVec dig, int lv, int n, CVec nwtstp, Vec step, VView v);
void dq7rsh(int k, int p, bool havqtr, Vec qtr, Vec r, Vec w);
double dh2rfg(double a, double b, double& x, double& y, double& z);
void dh2rfa(int n, Vec a, Vec b, double x, double y, double z);

// Vector and triangular routines; output may alias input for all of them.
void dl7ivm(int n, Vec x, CVec l, CVec y);  // solve L x = y
void dl7itv(int n, Vec x, CVec l, CVec y);  // solve L' x = y
void dl7tvm(int n, Vec x, CVec l, CVec y);  // x = L' y
void dl7vml(int n, Vec x, CVec l, CVec y);  // x = L y
void dv7vmp(int n, Vec x, CVec y, CVec z, int k);  // x = y*z (k >= 0) or y/z
void dv7ipr(int n, std::span<int> ip, Vec x);      // x = x(ip), in place
void dv7shf(int n, int k, Vec x);                  // move x(k) to the end
void i7shft(int n, int k, std::span<int> x);       // the same for integers
void dv7cpy(int n, Vec y, CVec x);                 // y = x
void dv7scp(int n, Vec y, double s);               // y = s
void dv2axy(int n, Vec w, double a, CVec x, CVec y);  // w = a x + y
double dd7tpr(int n, CVec x, CVec y);              // dot product skipping negligible terms

// ---------------------------------------------------------------------------
// Secant update of the Cholesky factor.

void dw7zbf(CVec l, int n, CVec s, Vec w, CVec y, Vec z);
void dl7upd(Vec beta, Vec gamma, CVec l, Vec lambda, Vec lplus, int n, Vec w, Vec z);

// ---------------------------------------------------------------------------
// Iteration summary and driver.

void ditsum(CVec d, CVec g, IvView iv, int liv, int lv, int n, VView v, CVec x);

// One step of the reverse-communication protocol: returns with IV(1) = 1 (f
// wanted at X), 2 (gradient wanted at X) or a final code. D is rewritten with
// DINIT on a fresh start when DINIT >= 0.
void drmngb(CVec b, Vec d, double fx, Vec g, IvView iv, int liv, int lv, int n, VView v, Vec x);

// The interrupt query; always false.
bool stopx(int dummy);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_MINIMIZER_H_
