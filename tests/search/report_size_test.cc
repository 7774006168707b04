// The "Size" column of the power report: the entered number of cases times
// (1 + c), cut to its whole part, in 8 columns.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "console/console.h"
#include "model/records.h"
#include "search/search.h"
#include "tests/model/design.h"

namespace gxe::search {
namespace {

// The result row of a power calculation over the single point (OR(G|E=0),
// OR^tb(E|G=0)) = (1.5, 2) of the worked-example design with the given
// number of cases and control-case ratio.
std::string power_row(double cases, double ccr) {
  const gxe::testing::Design d{.ccr = ccr, .cases = cases};
  Records rec;
  gxe::testing::store_design(rec.model, d);
  const Box point{std::log(1.5), std::log(2.0) / (d.k - 1)};
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  console::bind(in, out, err);
  power_calc(rec, point, point);
  console::bind_standard();
  // Empty line, header, rule, then the row.
  std::istringstream lines(out.str());
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(lines, line);
  return line;
}

TEST(PowerReportSize, TotalSubjectsCutToTheWholePart) {
  struct Row {
    double cases, ccr;
    const char* size_field;
  };
  for (const Row& r : {
           Row{150.0, 2.0, "     450"},   // 150 cases and 300 controls
           Row{100.7, 1.0, "     201"},   // 201.4 subjects
           Row{0.4, 1.0, "       0"},     // 0.8 subjects
           Row{2.5, 0.5, "       3"},     // 3.75 subjects
           Row{49999999.7, 1.0, "99999999"},
           Row{5e7, 1.0, "********"},     // 10^8 subjects: too wide
       }) {
    EXPECT_EQ(power_row(r.cases, r.ccr).substr(0, 9), std::string(r.size_field) + " ")
        << r.cases << " cases, c = " << r.ccr;
  }
}

}  // namespace
}  // namespace gxe::search
