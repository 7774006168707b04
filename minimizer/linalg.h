#ifndef GXE_MINIMIZER_LINALG_H_
#define GXE_MINIMIZER_LINALG_H_

// Vector and triangular kernels of the minimizer. The Hessian approximation
// is kept as H = L L' with L lower triangular and packed by rows (Packed).
// Every routine works on the leading n entries of its spans (nothing when
// n <= 0), and every output may be the same storage as an input.

#include <cstddef>
#include <span>

#include "minimizer/slots.h"

namespace gxe::minimizer {

// Packed lower-triangular matrix stored by rows: row i holds L(i,1) .. L(i,i)
// at 1-based positions i(i-1)/2 + 1 .. i(i+1)/2. Indices are 1-based.
template <class T>
class Packed {
 public:
  // Views `a` as the packed matrix; it holds n(n+1)/2 entries for order n.
  explicit Packed(std::span<T> a) : a_(a) {}
  // L(i,j) for j <= i.
  T& operator()(int i, int j) const { return a_[pos(i, j)]; }
  // The i entries of row i, as a span.
  std::span<T> row(int i) const { return a_.subspan(pos(i, 1), static_cast<std::size_t>(i)); }
  // 0-based position of L(i,j) in the packed storage.
  static constexpr std::size_t pos(int i, int j) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(i - 1) / 2 + at0(j);
  }

 private:
  std::span<T> a_;
};

// Solves L x = y by forward substitution; l is the packed n x n factor.
// Leading zeros of y give zeros in x without dividing by L(j,j).
void dl7ivm(int n, Vec x, CVec l, CVec y);
// Solves L' x = y by back substitution; l is the packed n x n factor.
void dl7itv(int n, Vec x, CVec l, CVec y);
// x = L' y for the packed n x n factor l.
void dl7tvm(int n, Vec x, CVec l, CVec y);
// x = L y for the packed n x n factor l.
void dl7vml(int n, Vec x, CVec l, CVec y);
// Entry by entry, x = y * z when k >= 0 and x = y / z when k < 0.
void dv7vmp(int n, Vec x, CVec y, CVec z, int k);
// Permutes x in place to x(ip(1)), ..., x(ip(n)); ip, a permutation of
// 1..n, is marked while its cycles are followed and restored on return.
void dv7ipr(int n, std::span<int> ip, Vec x);
// Moves x(k) to position n and x(k+1..n) one place forward (nothing unless
// 1 <= k < n).
void dv7shf(int n, int k, Vec x);
// The same as dv7shf for an integer vector.
void i7shft(int n, int k, std::span<int> x);
// y = x.
void dv7cpy(int n, Vec y, CVec x);
// Sets every entry of y to s.
void dv7scp(int n, Vec y, double s);
// w = a x + y.
void dv2axy(int n, Vec w, double a, CVec x, CVec y);
// Dot product x'y that leaves out terms too small to matter next to the
// representable ones (both factors tiny, or a tiny product of factors <= 1).
double dd7tpr(int n, CVec x, CVec y);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_LINALG_H_
