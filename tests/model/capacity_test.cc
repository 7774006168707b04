// The tables hold 100 exposure categories. A routine handed a larger k
// (which the dialogue never accepts) must not read or write past them: it
// works on the first 100 categories, as if k were 100.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "model/model.h"
#include "model/oreg.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::model {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;

constexpr int kOverCapacity = 1000;
constexpr double kUnchecked = std::numeric_limits<double>::quiet_NaN();

// 100 quantiles, a study large enough that every case cell passes the
// count check, and a second one small enough that some fail.
Design full_design(double cases) {
  return Design{.k = kMaxCategories, .probg = 0.3, .ror_tb = 1.5, .cases = cases};
}

// Each row computes one number from the records with the category count
// `k`; the number for an over-capacity k must equal the number for k = 100.
struct Row {
  const char* name;
  std::function<void(Records&)> prepare;
  std::function<double(Records&, int)> compute;
  double at_capacity;  // expected at k = 100; NaN: not checked
};

TEST(CapacityTest, CategoryCountsAboveTheCapacityActAsTheCapacity) {
  const std::array<double, 2> x{0.2, -0.01};
  const std::vector<Row> rows = {
      {"cell_cnt, all cells pass", [](Records& rec) { store_design(rec, full_design(1e6)); },
       [](Records& rec, int k) {
         int ok = -1;
         cell_cnt(rec, k, ok);
         return static_cast<double>(ok);
       },
       1.0},
      {"cell_cnt, some cells fail", [](Records& rec) { store_design(rec, full_design(100.0)); },
       [](Records& rec, int k) {
         int ok = -1;
         cell_cnt(rec, k, ok);
         return static_cast<double>(ok);
       },
       0.0},
      {"sample", [](Records& rec) { store_design(rec, full_design(500.0)); },
       [&x](Records& rec, int k) {
         rec.cells.ncat = k;
         double ss = 0.0;
         sample(rec, 2, x, ss);
         return ss;
       },
       kUnchecked},
      // The second residual pools all categories; the first uses only two.
      {"func, gene residual",
       [](Records& rec) {
         rec = Records{};
         rec.altodr.beg = 0.01;
         rec.altodr.ore = 1.1;
         rec.altodr.org = 1.4;
         for (int e = 1; e <= kMaxCategories; ++e) {
           rec.altodr.joint(e, 1) = 0.7 / kMaxCategories;
           rec.altodr.joint(e, 2) = 0.3 / kMaxCategories;
         }
       },
       [](Records& rec, int k) {
         rec.altodr.ncat = k;
         const std::array<double, 2> xs{0.02, 0.3};
         std::array<double, 2> fvec{};
         func(&rec, 2, xs.data(), fvec.data(), 1);
         return fvec[1];
       },
       kUnchecked},
  };
  for (const Row& r : rows) {
    Records rec;
    r.prepare(rec);
    const double at_capacity = r.compute(rec, kMaxCategories);
    r.prepare(rec);
    EXPECT_EQ(r.compute(rec, kOverCapacity), at_capacity) << r.name;
    if (!std::isnan(r.at_capacity)) {
      EXPECT_EQ(at_capacity, r.at_capacity) << r.name;
    }
  }
}

// oreg with a k beyond the capacity reads no more prevalences than it is
// given and fills no more of the joint table than it holds.
TEST(CapacityTest, OregReadsNoMorePrevalencesThanItIsGiven) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  console::bind(in, out, err);
  Records rec;
  std::vector<double> pexp(kMaxCategories);  // on the heap: a read past it is caught
  for (int e = 0; e < kMaxCategories; ++e) pexp[e] = (1.0 + e % 4) / 250.0;
  std::array<double, 2> pgen{0.7, 0.3};
  double orgm = 1.5;
  double oretbm = 2.0;
  double ror = 2.0;
  int k = kOverCapacity;
  double oretbc = 0.0;
  double orgc = 0.0;
  oreg(rec, orgm, oretbm, ror, k, std::span<double>(pexp), std::span<double>(pgen), oretbc,
       orgc);
  console::bind_standard();
  EXPECT_EQ(rec.altodr.ncat, kOverCapacity);
  for (int e = 1; e <= kMaxCategories; ++e) {
    EXPECT_EQ(rec.altodr.joint(e, 1), pexp[e - 1] * 0.7) << e;
    EXPECT_EQ(rec.altodr.joint(e, 2), pexp[e - 1] * 0.3) << e;
  }
  EXPECT_TRUE(std::isfinite(oretbc));
  EXPECT_TRUE(std::isfinite(orgc));
  EXPECT_NE(out.str().find("Conditional odds ratio"), std::string::npos);
}

}  // namespace
}  // namespace gxe::model
