// Fits under the alternative and the null, and the information matrix they
// use, in double precision.

#include <array>
#include <cmath>

#include "model/fits_impl.h"
#include "model/model.h"
#include "model/records.h"

namespace gxe::model {

void hess2(const Records& rec, int /*n*/, const std::array<double, 4>& mle,
           std::array<double, 16>& h4) {
  impl::hess2(mle, rec.cells.cell, impl::bounded_categories(rec.cells.ncat), h4);
}

void myinv(const std::array<double, 16>& h4, double& v) { v = impl::myinv(h4); }

// Both fits are closed-form: the data are the hypothesis' own expected table,
// so the maximum-likelihood estimate is the generating parameter vector and
// only the intercept has to be computed.
void fs_a(Records& rec, double& varh1) {
  Hypothesis& alt = rec.alt;
  varh1 = impl::fit(alt, alt.bg, alt.be, impl::bounded_categories(rec.cells.ncat),
                    rec.cells.cell, alt.b0);
}

void fs_0(Records& rec, double& varh0) {
  Hypothesis& null = rec.null;
  varh0 = impl::fit(null, null.bg, null.be, impl::bounded_categories(rec.cells.ncat),
                    rec.cells.cell, null.b0);
}

void fs_a(Records& rec, FitCheck& fit) {
  Hypothesis& alt = rec.alt;
  fit.variance = impl::fit(alt, alt.bg, alt.be, impl::bounded_categories(rec.cells.ncat),
                           rec.cells.cell, alt.b0, fit.cancellation);
}

void fs_0(Records& rec, FitCheck& fit) {
  Hypothesis& null = rec.null;
  fit.variance = impl::fit(null, null.bg, null.be, impl::bounded_categories(rec.cells.ncat),
                           rec.cells.cell, null.b0, fit.cancellation);
}

bool FitCheck::within_reach() const {
  // Written so that a variance or a cancellation that is not a number fails.
  return std::isfinite(variance) && variance > 0.0 && cancellation <= kMaxCancellation;
}

}  // namespace gxe::model
