#ifndef GXE_CLI_CURVE_H_
#define GXE_CLI_CURVE_H_

// `gxeplan curve`: power against the number of cases or against ROR^tb, or
// the study size needed against ROR^tb, one curve per value of a list, as
// numbers (table, csv, json) and optionally as a figure (SVG, PNG, PDF).

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/figure.h"
#include "cli/output.h"
#include "plan/curve.h"
#include "plan/row.h"

namespace gxe::cli {

// `gxeplan curve`: the curves to compute, and the figure to draw of them.
struct CurveRequest {
  plan::CurveQuery query;        // passes plan::check
  std::string plot;              // the figure's file, ending in .svg, .png or .pdf; empty: none
  std::optional<double> target;  // power drawn as a dashed line, in (0, 1)
};

// The figure of computed curves: bands from the least to the most favourable
// power (power curves) or a line of the size needed or of the detectable
// ROR^tb (size and detect curves, ROR^tb on a log scale). On power
// curves, the simulated powers at both extremes (`simulations`, one per point
// or empty) are marks with their 95 % intervals.
Figure curve_figure(const CurveRequest& request, const std::vector<plan::CurvePoint>& points,
                    const std::vector<std::optional<plan::Simulation>>& simulations);

// Writes curve points as rows: the columns `over`, `x` and `curve`, then the
// columns of a single calculation and, when the points are checked by
// simulation (`replicates` > 0), those of the check (csv, json); or a table
// for reading.
class CurveWriter {
 public:
  virtual ~CurveWriter() = default;
  virtual void begin() = 0;
  // `simulation`: the point's simulation check, or null.
  virtual void write(const plan::CurvePoint& point, const plan::Simulation* simulation) = 0;
  virtual void end() = 0;
};

std::unique_ptr<CurveWriter> make_curve_writer(Format format, std::ostream& out,
                                               const plan::CurveQuery& query, long replicates);

}  // namespace gxe::cli

#endif  // GXE_CLI_CURVE_H_
