// Power and sample size at one point of the alternative.

#include <span>

#include "console/console.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"

namespace gxe::model {

double study_cases(const Records& rec) { return rec.size / (1.0 + rec.alt.ccr); }

void require_positive_cases(double ncase) {
  // Also stops on a number of cases that does not compare (not a number).
  if (!(ncase > 0.0)) {
    console::message({"error in power : n <= 0 ", ncase});
    console::end_program(0);
  }
}

namespace {

// Both fits with their checks, then the power for ncase cases.
double checked_power(Records& rec, double ncase, FitChecks& checks) {
  fs_0(rec, checks.null);
  fs_a(rec, checks.alt);
  require_positive_cases(ncase);
  return impl::power_of(ncase, checks.null.variance, checks.alt.variance, rec.alt.beg, rec.z[0]);
}

}  // namespace

void power3(Records& rec, int n, std::span<const double> x, double& pw) {
  FitChecks checks;
  power3(rec, n, x, pw, checks);
}

void power3(Records& rec, int /*n*/, std::span<const double> x, double& pw, FitChecks& checks) {
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  pw = checked_power(rec, study_cases(rec), checks);
}

void power(Records& rec, double ncase, double& pw) {
  FitChecks checks;
  pw = checked_power(rec, ncase, checks);
}

void sample(Records& rec, int n, std::span<const double> x, double& ss) {
  FitChecks checks;
  sample(rec, n, x, ss, checks);
}

void sample(Records& rec, int /*n*/, std::span<const double> x, double& ss, FitChecks& checks) {
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  fs_0(rec, checks.null);
  fs_a(rec, checks.alt);
  ss = impl::sample_of(checks.null.variance, checks.alt.variance, rec.alt.beg, rec.z[0],
                       rec.z[1]);
}

}  // namespace gxe::model
