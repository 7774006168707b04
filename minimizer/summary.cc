// Iteration summary of the bounded minimizer: the initial printout, one line
// per iteration (or every |PRINT_LEVEL| iterations), the final message with
// statistics, and the final point with its scale and gradient.
//
// All output goes through the console unit in fixed layouts: Iw integers and
// Dw.d reals ("0.", d significant digits, "D", sign, two exponent digits).
// With OUTPUT_UNIT = 0 nothing is printed and no slot is touched, which is
// how the range searches run the minimizer.

#include "minimizer/summary.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <string_view>

#include "console/console.h"

namespace gxe::minimizer {

namespace {

using console::Layout;

// The summary numbers its cases by the code, except that the failure codes
// from kInitialFFailed on follow kInterrupted directly (kInitialFFailed is
// case kInterrupted + 1). The case number also decides how negative
// PRINT_STATISTICS must be to silence a final message. A code whose number
// falls among the failure cases (kFreshStart to kIvTooShort among them) is
// reported as that failure.
constexpr int kFailureShift = kInitialFFailed - (kInterrupted + 1);
constexpr int kLastCase = kInconsistentDimensions - kFailureShift;

int case_number(int code) { return code >= kInitialFFailed ? code - kFailureShift : code; }

// Largest IV and V slots the summary reads.
constexpr int kSummaryLastIv = GEVAL_EXTRA;
constexpr int kSummaryLastV = RELDX;

// Final messages for the codes kXConvergence to kInterrupted, each printed
// after an empty line.
constexpr std::string_view kFinalMessages[] = {
    " ***** X-CONVERGENCE *****",
    " ***** RELATIVE FUNCTION CONVERGENCE *****",
    " ***** X- AND RELATIVE FUNCTION CONVERGENCE *****",
    " ***** ABSOLUTE FUNCTION CONVERGENCE *****",
    " ***** SINGULAR CONVERGENCE *****",
    " ***** FALSE CONVERGENCE *****",
    " ***** FUNCTION EVALUATION LIMIT *****",
    " ***** ITERATION LIMIT *****",
    " ***** STOPX *****",
};

// Relative decreases of one iteration: actual, predicted for the step taken
// and predicted for the full Newton step, each divided by the larger of
// |f| at the start and at the end of the iteration (0 when both are 0).
struct RelativeDecreases {
  double reldf = 0.0;
  double preldf = 0.0;
  double npreldf = 0.0;
};

RelativeDecreases relative_decreases(VView v) {
  RelativeDecreases r;
  const double oldf = std::max(std::fabs(v(F_START)), std::fabs(v(F)));
  if (oldf > 0.0) {
    r.reldf = v(F_DIFF) / oldf;
    r.preldf = v(PRED_DECREASE) / oldf;
    r.npreldf = v(NEWTON_DECREASE) / oldf;
  }
  return r;
}

// Column heading of the iteration lines; the long form (PRINT_LEVEL > 0)
// adds the step length and the Newton step's predicted decrease.
void print_heading(bool long_form) {
  Layout line;
  line.text("    IT   NF").blanks(7).text("F").blanks(8).text("RELDF").blanks(4).text("PRELDF");
  line.blanks(4).text("RELDX").blanks(3).text("STPPAR");
  if (long_form) line.blanks(3).text("D*STEP").blanks(3).text("NPRELDF");
  line.end();
}

void print_iteration_line(IvView iv, VView v, long long nf, const RelativeDecreases& r,
                          bool long_form) {
  Layout line;
  line.integer(iv(ITER_COUNT), 6).integer(nf, 5).dexp(v(F), 11, 3);
  line.dexp(r.reldf, 10, 2).dexp(r.preldf, 10, 2);
  line.dexp(v(RELDX), 9, 1).dexp(v(STPPAR), 9, 1);
  if (long_form) line.dexp(v(STEP_NORM), 9, 1).dexp(r.npreldf, 10, 2);
  line.end();
}

// Number of rows a listing can show: n, cut to the shortest vector supplied.
int rows_available(int n, std::initializer_list<std::size_t> sizes) {
  long long rows = n;
  for (const std::size_t size : sizes) rows = std::min(rows, static_cast<long long>(size));
  return static_cast<int>(std::max(rows, 0LL));
}

// Initial x and D, then (for an iteration start) the heading and the line of
// iteration 0. The quantities of a step are cleared since none has been taken.
void initial_printout(CVec d, IvView iv, int n, VView v, CVec x, bool iteration_start) {
  if (iv(PRINT_START) != 0) {
    Layout().text("     I     INITIAL X(I)").blanks(8).text("D(I)").newline().end();
    const int rows = rows_available(n, {x.size(), d.size()});
    for (int i = 0; i < rows; ++i) {
      Layout().blanks(1).integer(i + 1, 5).dexp(x[i], 17, 6).dexp(d[i], 14, 3).end();
    }
  }
  v(STEP_NORM) = 0.0;
  v(F_DIFF) = 0.0;
  v(NEWTON_DECREASE) = 0.0;
  v(PRED_DECREASE) = 0.0;
  v(RELDX) = 0.0;
  if (!iteration_start) return;
  iv(HEADER_DUE) = 0;
  iv(SUMMARY_SKIP) = 0;
  if (iv(PRINT_LEVEL) == 0) return;
  print_heading(iv(PRINT_LEVEL) > 0);
  Layout().text("     0").integer(iv(FEVAL_COUNT), 5).dexp(v(F), 11, 3).end();
}

// Final x, D and g.
void final_printout(CVec d, CVec g, IvView iv, int n, CVec x) {
  if (iv(PRINT_SOLUTION) == 0) return;
  iv(HEADER_DUE) = 1;
  if (iv(ALG) > 2) return;
  Layout()
      .text("     I      FINAL X(I)")
      .blanks(8)
      .text("D(I)")
      .blanks(10)
      .text("G(I)")
      .newline()
      .end();
  const int rows = rows_available(n, {x.size(), d.size(), g.size()});
  for (int i = 0; i < rows; ++i) {
    Layout()
        .blanks(1)
        .integer(i + 1, 5)
        .dexp(x[i], 16, 6)
        .dexp(d[i], 14, 3)
        .dexp(g[i], 14, 3)
        .end();
  }
}

// The iteration line of a new iterate (every |PRINT_LEVEL| iterations) and,
// before a final message, of the last iterate: always for the convergence
// codes, for the limit and interrupt codes only when iterations were skipped
// since the last line.
void iteration_summary(IvView iv, VView v, const RelativeDecreases& r, int i1) {
  const int level = iv(PRINT_LEVEL);
  if (level == 0 || !(i1 < kIterLimitReached || iv(SUMMARY_SKIP) != 0)) return;
  if (i1 == kNeedGradient) {
    if (iv(SUMMARY_SKIP) < INT_MAX) ++iv(SUMMARY_SKIP);
    if (iv(SUMMARY_SKIP) < std::llabs(static_cast<long long>(level))) return;
  }
  iv(SUMMARY_SKIP) = 0;
  const long long nf = static_cast<long long>(iv(FEVAL_COUNT)) -
                       std::llabs(static_cast<long long>(iv(FEVAL_EXTRA)));
  if (iv(HEADER_DUE) == 1) {
    print_heading(level > 0);
    iv(HEADER_DUE) = 0;
  }
  print_iteration_line(iv, v, nf, r, level > 0);
}

// Final message of a run that ended normally, its statistics when
// PRINT_STATISTICS > 0, then the final x, D and g.
void final_report(CVec d, CVec g, IvView iv, int n, VView v, CVec x, const RelativeDecreases& r,
                  int code, bool message) {
  if (message) Layout().newline().text(kFinalMessages[code - kXConvergence]).end();
  iv(HEADER_DUE) = 1;
  if (iv(PRINT_STATISTICS) > 0) {
    const long long nf = static_cast<long long>(iv(FEVAL_COUNT)) - iv(FEVAL_EXTRA);
    const long long ng = static_cast<long long>(iv(GEVAL_COUNT)) - iv(GEVAL_EXTRA);
    Layout()
        .text(" FUNCTION")
        .dexp(v(F), 17, 6)
        .text("   RELDX")
        .dexp(v(RELDX), 17, 3)
        .newline()
        .text(" FUNC. EVALS")
        .integer(nf, 8)
        .blanks(9)
        .text("GRAD. EVALS")
        .integer(ng, 8)
        .newline()
        .text(" PRELDF")
        .dexp(r.preldf, 16, 3)
        .blanks(6)
        .text("NPRELDF")
        .dexp(r.npreldf, 15, 3)
        .end();
  }
  final_printout(d, g, iv, n, x);
}

// Message of a run that failed, with the points that help to see why.
void failure_report(CVec d, CVec g, IvView iv, int n, VView v, CVec x, int code, bool message) {
  switch (code) {
    case kInitialFFailed:
      if (message) Layout().text(" ***** INITIAL F(X) CANNOT BE COMPUTED *****").end();
      initial_printout(d, iv, n, v, x, false);
      return;
    case kBadAssessInput:
      if (message) Layout().text(" ***** BAD PARAMETERS TO ASSESS *****").end();
      return;
    case kGradientFailed:
      if (message) Layout().text(" ***** GRADIENT COULD NOT BE COMPUTED *****").end();
      if (iv(ITER_COUNT) > 0) {
        final_printout(d, g, iv, n, x);
      } else {
        initial_printout(d, iv, n, v, x, false);
      }
      return;
    default:  // kInconsistentDimensions
      if (message) Layout().text(" INCONSISTENT DIMENSIONS").end();
      return;
  }
}

}  // namespace

void ditsum(CVec d, CVec g, IvView iv, int liv, int lv, int n, VView v, CVec x) {
  // No output unit (or arrays too short to hold one): nothing at all.
  if (std::min(liv, iv.length()) < kSummaryLastIv || std::min(lv, v.length()) < kSummaryLastV)
    return;
  if (iv(OUTPUT_UNIT) == 0) return;

  const int i1 = case_number(iv(RETURN_CODE));
  if (i1 < kNeedGradient || i1 > kLastCase) {
    Layout().text(" ***** IV(1) =").integer(iv(RETURN_CODE), 5).text(" *****").end();
    return;
  }
  const RelativeDecreases r = relative_decreases(v);
  if (i1 <= kInterrupted) {
    if (i1 == kNeedGradient && iv(ITER_COUNT) == 0) {
      initial_printout(d, iv, n, v, x, true);
      return;
    }
    iteration_summary(iv, v, r, i1);
    if (i1 == kNeedGradient) return;
  }

  // PRINT_STATISTICS = -1 (or very negative) silences the final message.
  const int stats = iv(PRINT_STATISTICS);
  const bool message = !(stats == -1 || stats + i1 < 0);
  if (i1 <= kInterrupted) {
    final_report(d, g, iv, n, v, x, r, i1, message);
  } else {
    failure_report(d, g, iv, n, v, x, i1 + kFailureShift, message);
  }
}

}  // namespace gxe::minimizer
