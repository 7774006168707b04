#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "cli/curve.h"
#include "plan/curve.h"
#include "plan/row.h"

namespace gxe::cli {
namespace {

// A simulated power whose fits failed too often is no measurement: the
// figure marks the other simulated powers and leaves it out.
TEST(CurveFigure, UnreliableSimulatedPowersGetNoMark) {
  CurveRequest request;
  plan::CurveQuery& q = request.query;
  q.base.design.quantiles = 4;
  q.base.design.gene_prevalence = 0.3;
  q.base.design.ror = 2;
  q.over = plan::Axis::cases;
  q.from = 200;
  q.to = 800;
  q.points = 2;
  const std::vector<plan::CurvePoint> points = plan::curve(q);
  ASSERT_EQ(points.size(), 2u);
  const plan::SimulatedPoint measured{0.4, 0.01, 3, 0.4};
  const plan::SimulatedPoint sparse{0.0, 0.0, 150, 0.05};  // 150 of 1000 fits failed
  const std::vector<std::optional<plan::Simulation>> simulations = {
      plan::Simulation{1000, measured, sparse}, plan::Simulation{1000, sparse, sparse}};

  const Figure f = curve_figure(request, points, simulations);
  ASSERT_EQ(f.curves.size(), 1u);
  ASSERT_EQ(f.curves[0].marks.size(), 1u);
  EXPECT_EQ(f.curves[0].marks[0].y, measured.power);
  EXPECT_LT(f.curves[0].marks[0].x, 200);  // the least favourable point's, shifted left
  EXPECT_FALSE(f.marks_label.empty());

  const std::vector<std::optional<plan::Simulation>> none_measured = {
      plan::Simulation{1000, sparse, sparse}, std::nullopt};
  const Figure g = curve_figure(request, points, none_measured);
  EXPECT_TRUE(g.curves[0].marks.empty());
  EXPECT_TRUE(g.marks_label.empty());
}

}  // namespace
}  // namespace gxe::cli
