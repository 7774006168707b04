#ifndef GXE_MODEL_FITS_IMPL_H_
#define GXE_MODEL_FITS_IMPL_H_

// The fits written once over the scalar type T: double for the model itself,
// a value-with-gradient type for the exact derivatives. Every operation is
// written as it should be carried out, in the order it should be carried out,
// so that both instantiations compute the same values bit for bit.
//
// T must provide +, -, *, / (also mixed with double), unary minus, and exp,
// log found by argument-dependent lookup (std:: for double); branches, where
// there are any, look at value(x) only.

#include <algorithm>
#include <array>
#include <cmath>

#include "model/records.h"

namespace gxe::model::impl {

inline double value(double x) { return x; }

// log(1 + x) to a few units in the last place for any x > -1, from log
// alone: with u = 1 + x rounded, log(u) x / (u - 1) corrects the rounding
// of u (the ratio x / (u - 1) is exact to first order), and u = 1 means x is
// below half an ulp of 1, where log(1 + x) = x. Written with log rather than
// the C library's log1p so that every build computes the same bits: the
// libraries' log1p differ in their last bits between platforms (glibc's and
// the WebAssembly build's C library), while their log agrees.
inline double log_one_plus(double x) {
  const double u = 1.0 + x;
  if (u == 1.0) return x;
  return std::log(u) * (x / (u - 1.0));
}

template <class T>
using CellArray = std::array<T, 4 * kMaxCategories>;

// The loops never run past the capacity of the tables, whatever k they are
// given.
inline int bounded_categories(int k) { return std::clamp(k, 0, kMaxCategories); }

constexpr int cell_at(int d, int g, int e) { return CellTable::index(d, g, e); }
constexpr int h4_at(int i, int j) { return (i - 1) + 4 * (j - 1); }  // column by column

// The control distribution's factors, pi(g, e) = pgen(g) pexp(e) related(g, e)
// with related = 1 + dependence, as the records hold them: doubles, the same
// at every point of the alternative. A search over the carrier prevalence or
// the association passes factors of its own type instead (values that carry
// gradients), with the same two accessors.
struct RecordControls {
  const Hypothesis& r;
  double pgen(int g) const { return r.pgen[g - 1]; }
  double related(int g, int e) const { return 1.0 + r.dependence[dependence_at(g, e)]; }
};

// Expected cell table of hypothesis r, per case, written into the first k
// categories of `cell`; bg and be stand for r.bg and r.be (they carry the
// gradient under the alternative), and `controls` gives the control
// distribution's factors. Returns the intercept b0 = -log(ccr S).
//
// Controls: ccr pi(g, e), pi(g, e) = pgen(g) pexp(e) related(g, e) the control
// distribution. Cases: exp(eta) pi(g, e) / S, with
// eta = (g-1) bg + (e-1) be + (g-1)(e-1) beg and S the sum of the numerators,
// so the case cells sum to 1 and cases/controls = exp(b0 + eta) in every
// cell: the logistic model with (b0, bg, be, beg) reproduces the table, and
// that vector is the maximum-likelihood fit of it. The products are taken in
// the order written, whatever the factors' type.
template <class T, class Controls>
T cell_table(const Hypothesis& r, const Controls& controls, const T& bg, const T& be, int k,
             CellArray<T>& cell) {
  using std::exp;
  using std::log;
  T s = T(0.0);
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= k; ++e) {
      const auto related = controls.related(g, e);
      cell[cell_at(1, g, e)] = T(controls.pgen(g) * r.pexp[e - 1] * related * r.ccr);
      const T eta = static_cast<double>(g - 1) * bg + static_cast<double>(e - 1) * be +
                    static_cast<double>((g - 1) * (e - 1)) * r.beg;
      const T numerator = exp(eta) * controls.pgen(g) * r.pexp[e - 1] * related;
      s = s + numerator;
      cell[cell_at(2, g, e)] = numerator;  // divided by S below
    }
  }
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= k; ++e) cell[cell_at(2, g, e)] = cell[cell_at(2, g, e)] / s;
  }
  return -log(r.ccr * s);
}

template <class T>
T cell_table(const Hypothesis& r, const T& bg, const T& be, int k, CellArray<T>& cell) {
  return cell_table(r, RecordControls{r}, bg, be, k, cell);
}

// Logistic weight of the cell with exposure score s and genotype g:
// exp(eta) / (1 + exp(eta))^2 = pi (1 - pi), pi the case probability.
template <class T>
T weight(const std::array<T, 4>& mle, int s, int g) {
  using std::exp;
  const double gd = g;
  const double sd = s;
  const T eta = mle[0] + mle[1] * gd + mle[2] * sd + mle[3] * gd * sd;
  const T e = exp(eta);
  return e / ((1.0 + e) * (1.0 + e));
}

// Expected information of the logistic regression on x = (1, g, s, g s),
// sum over the cells of N w x x', N = controls + cases per case. The upper
// triangle is accumulated term by term (the integer factor of each entry is
// exact) and mirrored into the lower one.
template <class T>
void hess2(const std::array<T, 4>& mle, const CellArray<T>& cell, int k, std::array<T, 16>& h4) {
  for (T& h : h4) h = T(0.0);
  const auto add = [&h4](int i, int j, const T& term) { h4[h4_at(i, j)] = h4[h4_at(i, j)] + term; };
  for (int g = 0; g <= 1; ++g) {
    for (int s = 0; s < k; ++s) {
      const T w = weight(mle, s, g);
      const T n = cell[cell_at(1, g + 1, s + 1)] + cell[cell_at(2, g + 1, s + 1)];
      add(1, 1, n * w);
      add(1, 2, n * static_cast<double>(g) * w);
      add(1, 3, n * static_cast<double>(s) * w);
      add(1, 4, n * static_cast<double>(g * s) * w);
      add(2, 2, n * static_cast<double>(g * g) * w);
      add(2, 3, n * static_cast<double>(g * s) * w);
      add(2, 4, n * static_cast<double>(g * g * s) * w);
      add(3, 3, n * static_cast<double>(s * s) * w);
      add(3, 4, n * static_cast<double>(s * s * g) * w);
      add(4, 4, n * static_cast<double>(s * g * s * g) * w);
    }
  }
  for (int i = 1; i <= 4; ++i) {
    for (int j = i; j <= 4; ++j) h4[h4_at(j, i)] = h4[h4_at(i, j)];
  }
}

// Determinant of rows 1..3 of h4 in the columns c1, c2, c3, as the six
// signed triple products a11 a22 a33 - a11 a23 a32 - a12 a21 a33
// + a12 a23 a31 + a13 a21 a32 - a13 a22 a31, every entry read as stored.
template <class T>
T det3(const std::array<T, 16>& h4, int c1, int c2, int c3) {
  const auto a = [&](int i, int c) -> const T& { return h4[h4_at(i, c)]; };
  return a(1, c1) * a(2, c2) * a(3, c3) - a(1, c1) * a(2, c3) * a(3, c2) -
         a(1, c2) * a(2, c1) * a(3, c3) + a(1, c2) * a(2, c3) * a(3, c1) +
         a(1, c3) * a(2, c1) * a(3, c2) - a(1, c3) * a(2, c2) * a(3, c1);
}

// The cofactor C44 and the determinant of h4, the latter expanded along the
// fourth row. No pivoting: the matrix is the 4 x 4 information of a
// well-posed design, and how much the expansion can be trusted is measured
// by cofactor_cancellation.
template <class T>
struct Cofactors {
  T c44;
  T det;
};

template <class T>
Cofactors<T> cofactors(const std::array<T, 16>& h4) {
  const T d3 = det3(h4, 1, 2, 3);  // cofactor C44
  const T c41 = -det3(h4, 2, 3, 4);
  const T c42 = det3(h4, 1, 3, 4);
  const T c43 = -det3(h4, 1, 2, 4);
  const T deta =
      h4[h4_at(4, 1)] * c41 + h4[h4_at(4, 2)] * c42 + h4[h4_at(4, 3)] * c43 + h4[h4_at(4, 4)] * d3;
  return {d3, deta};
}

// Element (4, 4) of the inverse of h4: the cofactor of (4, 4) over the
// determinant.
template <class T>
T myinv(const std::array<T, 16>& h4) {
  const Cofactors<T> c = cofactors(h4);
  return c.c44 / c.det;
}

// Sum of the absolute values of the six triple products of det3.
inline double det3_terms(const std::array<double, 16>& a, int c1, int c2, int c3) {
  const auto m = [&](int i, int c) { return std::fabs(a[h4_at(i, c)]); };
  return m(1, c1) * m(2, c2) * m(3, c3) + m(1, c1) * m(2, c3) * m(3, c2) +
         m(1, c2) * m(2, c1) * m(3, c3) + m(1, c2) * m(2, c3) * m(3, c1) +
         m(1, c3) * m(2, c1) * m(3, c2) + m(1, c3) * m(2, c2) * m(3, c1);
}

// How much the cofactor formula cancels: for C44 and for the determinant,
// the sum of the absolute values of the products it adds up (6 and 24 of
// them) over the absolute value of the sum, added together. Every entry of h4
// is a sum of positive terms, known to a few units of rounding; a relative
// error d in each entry and in each operation moves the determinant by at
// most about 4 d times its sum of absolute products, so the relative error of
// C44 / det is bounded by a small multiple of d times this ratio. It is 1
// when nothing cancels and grows as the information nears singularity;
// infinite or not a number when the determinant is 0.
inline double cofactor_cancellation(const std::array<double, 16>& h4,
                                    const Cofactors<double>& c) {
  const double c44_terms = det3_terms(h4, 1, 2, 3);
  const double det_terms = std::fabs(h4[h4_at(4, 1)]) * det3_terms(h4, 2, 3, 4) +
                           std::fabs(h4[h4_at(4, 2)]) * det3_terms(h4, 1, 3, 4) +
                           std::fabs(h4[h4_at(4, 3)]) * det3_terms(h4, 1, 2, 4) +
                           std::fabs(h4[h4_at(4, 4)]) * c44_terms;
  return c44_terms / std::fabs(c.c44) + det_terms / std::fabs(c.det);
}

// The information of hypothesis r and its cofactors: the table into `cell`,
// its intercept into b0, the matrix into h4, at the generating parameters
// (b0, bg, be, beg), with the control distribution's factors `controls`.
template <class T, class Controls>
Cofactors<T> information(const Hypothesis& r, const Controls& controls, const T& bg, const T& be,
                         int k, CellArray<T>& cell, T& b0, std::array<T, 16>& h4) {
  b0 = cell_table(r, controls, bg, be, k, cell);
  const std::array<T, 4> mle{b0, bg, be, T(r.beg)};
  hess2(mle, cell, k, h4);
  return cofactors(h4);
}

template <class T>
Cofactors<T> information(const Hypothesis& r, const T& bg, const T& be, int k, CellArray<T>& cell,
                         T& b0, std::array<T, 16>& h4) {
  return information(r, RecordControls{r}, bg, be, k, cell, b0, h4);
}

// One fit: the table of hypothesis r into `cell` and its intercept into b0,
// then the per-case variance of the estimate of beg, element (4, 4) of the
// inverse information.
template <class T, class Controls>
T fit(const Hypothesis& r, const Controls& controls, const T& bg, const T& be, int k,
      CellArray<T>& cell, T& b0) {
  std::array<T, 16> h4;
  const Cofactors<T> c = information(r, controls, bg, be, k, cell, b0, h4);
  return c.c44 / c.det;
}

template <class T>
T fit(const Hypothesis& r, const T& bg, const T& be, int k, CellArray<T>& cell, T& b0) {
  return fit(r, RecordControls{r}, bg, be, k, cell, b0);
}

// The same in double, with the cancellation of its cofactor formula.
template <class Controls>
double fit(const Hypothesis& r, const Controls& controls, double bg, double be, int k,
           CellArray<double>& cell, double& b0, double& cancellation) {
  std::array<double, 16> h4;
  const Cofactors<double> c = information(r, controls, bg, be, k, cell, b0, h4);
  cancellation = cofactor_cancellation(h4, c);
  return c.c44 / c.det;
}

inline double fit(const Hypothesis& r, double bg, double be, int k, CellArray<double>& cell,
                  double& b0, double& cancellation) {
  return fit(r, RecordControls{r}, bg, be, k, cell, b0, cancellation);
}

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_FITS_IMPL_H_
