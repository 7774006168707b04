// Power and sample size at one point of the alternative.

#include <span>

#include "console/console.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"

namespace gxe::model {

double study_cases() { return size / (1.0 + alt.ccr); }

void require_positive_cases(double ncase) {
  // Also stops on a number of cases that does not compare (not a number).
  if (!(ncase > 0.0)) {
    console::message({"error in power : n <= 0 ", ncase});
    console::end_program(0);
  }
}

namespace {

// Both fits with their checks, then the power for ncase cases.
double checked_power(double ncase, FitChecks& checks) {
  fs_0(checks.null);
  fs_a(checks.alt);
  require_positive_cases(ncase);
  return impl::power_of(ncase, checks.null.variance, checks.alt.variance, alt.beg, z[0]);
}

}  // namespace

void power3(int n, std::span<const double> x, double& pw) {
  FitChecks checks;
  power3(n, x, pw, checks);
}

void power3(int /*n*/, std::span<const double> x, double& pw, FitChecks& checks) {
  alt.bg = x[0];
  alt.be = x[1];
  pw = checked_power(study_cases(), checks);
}

void power(double ncase, double& pw) {
  FitChecks checks;
  pw = checked_power(ncase, checks);
}

void sample(int n, std::span<const double> x, double& ss) {
  FitChecks checks;
  sample(n, x, ss, checks);
}

void sample(int /*n*/, std::span<const double> x, double& ss, FitChecks& checks) {
  alt.bg = x[0];
  alt.be = x[1];
  fs_0(checks.null);
  fs_a(checks.alt);
  ss = impl::sample_of(checks.null.variance, checks.alt.variance, alt.beg, z[0], z[1]);
}

}  // namespace gxe::model
