// The gradient chains on a category count above the capacity of the tables
// (never accepted by the dialogue): they work on the first 100 categories,
// exactly as with k = 100, and write nothing past the tables.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "derivatives/derivatives.h"
#include "derivatives/records.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::derivatives {
namespace {

using X = std::array<double, 2>;

struct Row {
  const char* name;
  std::function<void(model::Records&, Records&, const X&, X&)> gradient;
  CellTableGradient Records::*cells;
};

TEST(CapacityTest, GradientChainsTreatKAboveTheCapacityAsTheCapacity) {
  const std::vector<Row> rows = {
      {"dsample",
       [](model::Records& rec, Records& grad, const X& x, X& g) { dsample(rec, grad, 2, x, g); },
       &Records::g_cells},
      {"dpower3",
       [](model::Records& rec, Records& grad, const X& x, X& g) { dpower3(rec, grad, 2, x, g); },
       &Records::p_cells},
  };
  const gxe::testing::Design design{.k = model::kMaxCategories, .ror_tb = 0.6, .cases = 800.0};
  const X x{0.3, 0.004};
  for (const Row& r : rows) {
    std::array<X, 2> g{};
    std::array<CellTableGradient, 2> companions{};
    for (int i = 0; i < 2; ++i) {
      model::Records rec;
      Records grad;
      gxe::testing::store_design(rec, design);
      rec.cells.ncat = i == 0 ? model::kMaxCategories : 1000;
      r.gradient(rec, grad, x, g[i]);
      companions[i] = grad.*r.cells;
      EXPECT_EQ(rec.cells.ncat, i == 0 ? model::kMaxCategories : 1000) << r.name;
    }
    EXPECT_EQ(g[1], g[0]) << r.name;
    EXPECT_NE(g[0], (X{0.0, 0.0})) << r.name;
    EXPECT_EQ(companions[1].cell, companions[0].cell) << r.name;
  }
}

}  // namespace
}  // namespace gxe::derivatives
