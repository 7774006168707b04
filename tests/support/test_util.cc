#include "tests/support/test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

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

std::vector<std::vector<std::string>> fixture_rows(const std::string& path,
                                                   const std::string& header) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.starts_with(header)) continue;
    std::vector<std::string>& fields = rows.emplace_back();
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
  }
  return rows;
}

}  // namespace gxe::testing
