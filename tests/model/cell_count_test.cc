// Expected case-count check.

#include <gtest/gtest.h>

#include <vector>

#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::model {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;

TEST(CellCntTest, Thresholds) {
  struct Row {
    const char* name;
    Design design;
    int ok;
  };
  // With all odds ratios 1 a case cell expects cases * pgen(g) * pexp(e).
  const std::vector<Row> rows = {
      // k = 2 halves, probg 0.5: every cell expects cases / 4.
      {"4.999 expected cases",
       {.k = 2, .probg = 0.5, .or_g = 1, .or_e_tb = 1, .ror_tb = 1, .cases = 4 * 4.999},
       0},
      {"5.001 expected cases",
       {.k = 2, .probg = 0.5, .or_g = 1, .or_e_tb = 1, .ror_tb = 1, .cases = 4 * 5.001},
       1},
      // 100 cases, carriers 0.1, quarters: 2.5 expected in each carrier cell.
      {"carrier cells of 2.5",
       {.k = 4, .probg = 0.1, .or_g = 1, .or_e_tb = 1, .ror_tb = 1, .cases = 100},
       0},
      // 200 cases, carriers 0.2: smallest expected count 10.
      {"smallest count 10",
       {.k = 4, .probg = 0.2, .or_g = 1, .or_e_tb = 1, .ror_tb = 1, .cases = 200},
       1},
      // An empty category expects no cases at all, however large the study.
      {"empty category",
       {.k = 3,
        .probg = 0.5,
        .or_g = 1,
        .or_e_tb = 1,
        .ror_tb = 1,
        .cases = 1e9,
        .pexp = {0.5, 0.0, 0.5}},
       0},
      // Controls are not examined: 0.01 controls per case still passes.
      {"sparse controls", {.k = 4, .probg = 0.3, .ccr = 0.01, .cases = 1000}, 1},
      // Odds ratios move cases between cells: a strong protective gene
      // effect empties the carrier cells.
      {"protective gene", {.k = 4, .probg = 0.3, .or_g = 0.01, .ror_tb = 1, .cases = 1000}, 0},
  };
  for (const Row& r : rows) {
    Records rec;
    store_design(rec, r.design);
    rec.cellmin = 0;
    int ok = -1;
    cell_cnt(rec, r.design.k, ok);
    EXPECT_EQ(ok, r.ok) << r.name;
    EXPECT_EQ(rec.cellmin, 5) << r.name;
  }
}

// The check uses the alternative at its current point and the study size,
// not the table of the last fit.
TEST(CellCntTest, ReadsTheAlternativeNotTheCellTable) {
  Records rec;
  store_design(rec, {.k = 4, .probg = 0.2, .or_g = 1, .or_e_tb = 1, .ror_tb = 1, .cases = 200});
  rec.cells.cell.fill(0.0);
  int ok = -1;
  cell_cnt(rec, 4, ok);
  EXPECT_EQ(ok, 1);
  for (const double c : rec.cells.cell) EXPECT_EQ(c, 0.0);
  rec.alt.bg = -3.0;  // OR(G|E=0) = 0.05 at the current point
  cell_cnt(rec, 4, ok);
  EXPECT_EQ(ok, 0);
}

}  // namespace
}  // namespace gxe::model
