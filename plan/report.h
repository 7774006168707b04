#ifndef GXE_PLAN_REPORT_H_
#define GXE_PLAN_REPORT_H_

// Calculations as text for reading: the notes that qualify an answer, as
// sentences, and the table of one or several calculations for an 80-column
// terminal. The command line prints these texts; the R package's print
// method shows the same ones, so both say the same thing in the same words.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plan/plan.h"
#include "plan/row.h"

namespace gxe::plan {

// --- Notes ---------------------------------------------------------------------

// What a note says about an answer.
enum class NoteKind {
  not_converged,  // the conversion to conditional odds ratios did not converge
  small_cells,    // some expected case count is below 5 at an extreme
  flat,           // the power varies by less than kFlatPower over a box of more than one point
  unreliable,     // too many simulated fits failed for the simulated power to be a guide
  disagrees,      // the simulated power differs from the formula's (plan::disagrees)
  failed_fits,    // some simulated fits failed, too few to make the simulation unreliable
  sparse_size,    // too many simulated fits failed at the simulated size
};

// Where a note holds.
enum class Place {
  whole,      // the calculation as a whole: the conversion, or the whole box
  one_point,  // the one point of a box of one point
  both,       // both the least and the most favourable point
  least,      // the least favourable point
  most,       // the most favourable point
  there,      // the point of a curve that the curve's row marks
};

struct Note {
  NoteKind kind;
  Place place;
  std::string text;  // a sentence, without a capital or a full stop
};

// The notes of an answered calculation in the order the table shows them:
// the conversion's, the small cells and the flat box, then those of the
// simulation check (`simulation`, when one was made). A calculation whose
// inputs were refused has none; one without an answer has at most the
// conversion's. The simulation's judgements name the one point of a box of
// one point as such; the small cells name the extremes (both of them in a
// box of one point).
std::vector<Note> notes(const Scenario& scenario, const Outcome& outcome,
                        const Simulation* simulation = nullptr);

// The same notes at a point of a curve: each one that holds at a point
// says "there", as the curve's row marks the extreme it holds at.
std::vector<Note> curve_point_notes(const Scenario& scenario, const Outcome& outcome,
                                    const Simulation* simulation = nullptr);

// How the box is searched, in one sentence for a reader of the table's
// "Search" line (which shows the method's name).
std::string_view search_description(SearchMethod method);

// --- The table -------------------------------------------------------------------

inline constexpr std::size_t kTableWidth = 80;       // terminal columns
inline constexpr std::size_t kTableLabelWidth = 21;  // the labels of "label  value" lines

// The table of calculations as the command line prints it, written as the
// calculations finish: the heading and the inputs they all share once, then
// one block per calculation with the inputs that vary (when there are
// several), the conversion, the box, the study size, the least and most
// favourable points, the notes and the simulation check.
class TableReport {
 public:
  // `scenarios`: every calculation the table will show, at least one, all of
  // the mode of the first.
  explicit TableReport(std::span<const Scenario> scenarios);

  // The heading and the inputs every calculation shares, one line each.
  std::string head() const;

  // The block of the next calculation, starting with a blank line.
  // `simulation`: the simulation check of its answer, when one was made.
  std::string block(const Scenario& scenario, const Outcome& outcome,
                    const Simulation* simulation = nullptr);

 private:
  Mode mode_;
  std::size_t count_;
  std::string shared_;        // the lines of the inputs every calculation shares
  std::vector<bool> varies_;  // per input line: shown in each block instead
  std::size_t index_ = 0;     // blocks written so far
};

// The table of one calculation: head() and block() of a TableReport of it.
std::string report(const Scenario& scenario, const Outcome& outcome,
                   const Simulation* simulation = nullptr);

// --- Text helpers ------------------------------------------------------------------

// The exposure as a table shows it: "4 quantiles" or "prevalences 0.2, 0.8".
std::string exposure_text(const Design& d);

// A range as given: one value when it is a point, else "LO to HI".
std::string range_text(const Range& r);

// Up to `decimals` decimals without trailing zeros (123.08, 1.5, 2); a value
// too large or not finite in shortest round-trip form.
std::string trimmed(double x, int decimals);

// `text` behind `lead`, which takes at least `indent` columns, wrapped at
// blanks to `width` columns with each continuation line indented by
// `indent`; ends in a newline. A word longer than a line stays whole.
std::string hanging(std::string_view lead, std::size_t indent, std::string_view text,
                    std::size_t width = kTableWidth);

// A "label  value" line of the table: the value behind a label of
// kTableLabelWidth columns, wrapped under its own start.
std::string labelled(std::string_view label, std::string_view value);

}  // namespace gxe::plan

#endif  // GXE_PLAN_REPORT_H_
