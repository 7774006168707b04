// The Wald and likelihood-ratio tests: the likelihood-ratio noncentrality at
// a point, and the mean shift a target power needs.

#include <cmath>
#include <cstdint>
#include <span>
#include <utility>

#include <boost/math/tools/toms748_solve.hpp>

#include "model/lr_impl.h"
#include "model/model.h"
#include "model/power_impl.h"
#include "model/records.h"

namespace gxe::model {

double lr_noncentrality(Records& rec, std::span<const double> x) {
  rec.alt.bg = x[0];
  rec.alt.be = x[1];
  return impl::lr_noncentrality(rec.alt, impl::RecordControls{rec.alt}, x[0], x[1],
                                rec.cells.ncat);
}

double needed_shift(double target, double z) {
  const auto gap = [z, target](double t) { return impl::two_sided_power(t, z) - target; };
  // Below, at t = 0, the power is the level; above, at the shift the near
  // tail alone needs, Phi(t - z) = target, the far tail only adds.
  const double near = z - mynormi(1.0 - target);
  if (!(gap(0.0) < 0.0)) return 0.0;
  double high = near;
  if (!(gap(high) >= 0.0)) return high;  // the tails saturate: nothing closer is known
  std::uintmax_t iterations = 200;
  const auto [low, up] = boost::math::tools::toms748_solve(
      gap, 0.0, high, boost::math::tools::eps_tolerance<double>(52), iterations);
  return gap(low) >= 0.0 ? low : up;
}

}  // namespace gxe::model
