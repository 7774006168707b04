#include "tests/support/test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gxe::testing {

::testing::AssertionResult IsClose(double x, double y, double rel) {
  const double scale = std::max(std::fabs(x), std::fabs(y));
  const double diff = std::fabs(x - y);
  if (x == y || diff <= rel * scale) return ::testing::AssertionSuccess();
  char buf[160];
  std::snprintf(buf, sizeof buf, "%.17g and %.17g differ by %.3g (relative %.3g > %.3g)", x, y,
                diff, diff / scale, rel);
  return ::testing::AssertionFailure() << buf;
}

}  // namespace gxe::testing
