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

void power3(int /*n*/, std::span<const double> x, double& pw) {
  alt.bg = x[0];
  alt.be = x[1];
  power(study_cases(), pw);
}

void power(double ncase, double& pw) {
  double varh0 = 0.0;
  double varh1 = 0.0;
  fs_0(varh0);
  fs_a(varh1);
  require_positive_cases(ncase);
  pw = impl::power_of(ncase, varh0, varh1, alt.beg, z[0]);
}

void sample(int /*n*/, std::span<const double> x, double& ss) {
  alt.bg = x[0];
  alt.be = x[1];
  double varh0 = 0.0;
  double varh1 = 0.0;
  fs_0(varh0);
  fs_a(varh1);
  ss = impl::sample_of(varh0, varh1, alt.beg, z[0], z[1]);
}

}  // namespace gxe::model
