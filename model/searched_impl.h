#ifndef GXE_MODEL_SEARCHED_IMPL_H_
#define GXE_MODEL_SEARCHED_IMPL_H_

// Both fits at a point of the alternative where the carrier prevalence and
// the association among controls are searched too, written once over the
// scalar type T (double, or a value that carries gradients in as many
// directions as the box has).
//
// The control distribution is made for the point's prevalence and
// association (model/association_impl.h), and both hypotheses' tables are
// taken over it: the null's with its own odds ratios and no interaction, the
// alternative's at (bg, be) with the interaction. So unlike the search over
// the two odds ratios alone, the null's variance varies over the box too.

#include <span>

#include "model/association_impl.h"
#include "model/fits_impl.h"
#include "model/lr_impl.h"
#include "model/model.h"
#include "model/records.h"

namespace gxe::model::impl {

template <class T>
struct Variances {
  T varh0;  // the null's per-case variance of the interaction estimate
  T varh1;  // the alternative's
};

// The two variances at the point (bg, be, carriers, gamma) of the
// alternative in rec.alt, with the null in rec.null (its odds ratios,
// margins and controls per case); k exposure categories; gamma the
// association per step of the exposure score.
template <class T>
Variances<T> variances_at(const Records& rec, int k, const T& bg, const T& be, const T& carriers,
                          const T& gamma) {
  ControlTable<T> pi{};
  control_distribution(carriers, gamma, std::span<const double>(rec.null.pexp.data(), k), k, pi);
  CellArray<T> cell{};
  T b0;
  const T varh0 = fit(rec.null, TableControls<T>{rec.null, pi, carriers}, T(rec.null.bg),
                      T(rec.null.be), k, cell, b0);
  const T varh1 = fit(rec.alt, TableControls<T>{rec.alt, pi, carriers}, bg, be, k, cell, b0);
  return {varh0, varh1};
}

// The likelihood-ratio noncentrality per case at the same point.
template <class T>
T noncentrality_at(const Records& rec, int k, const T& bg, const T& be, const T& carriers,
                   const T& gamma) {
  ControlTable<T> pi{};
  control_distribution(carriers, gamma, std::span<const double>(rec.null.pexp.data(), k), k, pi);
  return lr_noncentrality(rec.alt, TableControls<T>{rec.alt, pi, carriers}, bg, be, k);
}

// The same two fits in double with what each says about its own arithmetic
// (model::FitCheck): the variances are those of variances_at, bit for bit.
inline void checked_variances(const Records& rec, int k, double bg, double be, double carriers,
                              double gamma, FitChecks& checks) {
  ControlTable<double> pi{};
  control_distribution(carriers, gamma, std::span<const double>(rec.null.pexp.data(), k), k, pi);
  CellArray<double> cell{};
  double b0 = 0.0;
  checks.null.variance = fit(rec.null, TableControls<double>{rec.null, pi, carriers},
                             rec.null.bg, rec.null.be, k, cell, b0, checks.null.cancellation);
  checks.alt.variance = fit(rec.alt, TableControls<double>{rec.alt, pi, carriers}, bg, be, k,
                            cell, b0, checks.alt.cancellation);
}

}  // namespace gxe::model::impl

#endif  // GXE_MODEL_SEARCHED_IMPL_H_
