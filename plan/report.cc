#include "plan/report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fmt/format.h>
#include <optional>
#include <string>
#include <variant>

#include "values/number.h"

namespace gxe::plan {
namespace {

using values::format_number;

// --- Text ----------------------------------------------------------------------

// `x` with `decimals` decimals, rounded correctly and in the same way
// whatever the locale.
std::string fixed(double x, int decimals) { return fmt::format("{:.{}f}", x, decimals); }

// `text` in `width` columns, blanks after it (left) or before it (right).
std::string left(std::string_view text, std::size_t width) {
  std::string padded(text);
  if (padded.size() < width) padded.append(width - padded.size(), ' ');
  return padded;
}

std::string right(std::string_view text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + std::string(text);
}

// Numbers of subjects: those of a power calculation need not be whole (500.5
// cases, 1.5 controls per case: 750.75 controls).
std::string count_text(double x) { return trimmed(x, 2); }

// An odds ratio found by the engine, to 4 decimals.
std::string ratio_text(double x) { return trimmed(x, 4); }

// --- Notes -----------------------------------------------------------------------

// The words of a sentence that say where it holds.
std::string_view place_words(Place place) {
  switch (place) {
    case Place::one_point: return "at the one point of the box";
    case Place::both: return "at both points";
    case Place::least: return "at the least favourable point";
    case Place::most: return "at the most favourable point";
    case Place::there: return "there";
    case Place::whole: break;
  }
  return "";
}

std::string sentence(NoteKind kind, Place place, const Result& r, Test test) {
  const std::string where(place_words(place));
  switch (kind) {
    case NoteKind::not_converged:
      return "the conversion to conditional odds ratios did not converge (solver info " +
             std::to_string(r.solver_info) + ")";
    case NoteKind::small_cells:
      return "some expected case counts are below 5 " + where +
             ", where the large-sample power is less reliable";
    case NoteKind::flat:
      // In decimals, as the powers are shown (0.0001, not 1e-04).
      return "the power varies by less than " + trimmed(kFlatPower, 15) +
             " over the box, so where the extremes lie means nothing";
    case NoteKind::unreliable:
      return "the fit fails (separated tables) in more than " +
             format_number(100 * kMaxFailedShare) + " % of the simulated studies " + where +
             ": the design is too sparse for the Wald test, and the simulated power there is "
             "unreliable";
    case NoteKind::disagrees:
      return std::string(test == Test::lr ? "the simulated power of the likelihood-ratio test"
                                          : "the simulated power") +
             " differs from the formula's by more than three standard errors " + where +
             ": the large-sample formula is off for this design, and the simulated power is "
             "the better guide";
    case NoteKind::failed_fits:
      return "some simulated studies could not be analysed (a separated table or a fit that "
             "did not converge); they count as not rejecting";
    case NoteKind::sparse_size:
      return "the fit fails (separated tables) in more than " +
             format_number(100 * kMaxFailedShare) +
             " % of the simulated studies at the simulated size: the design is too sparse "
             "there, and the simulated size is unreliable";
  }
  return "";
}

// Where a judgement made at each extreme holds, when it holds at one or both.
Place place_of(bool least, bool most, bool one_point) {
  if (one_point) return Place::one_point;
  if (least && most) return Place::both;
  return least ? Place::least : Place::most;
}

// A box of more than one point: only there can the extremes lie apart.
bool has_extent(const Result& r) {
  return r.or_e_range.low < r.or_e_range.high || r.or_g_range.low < r.or_g_range.high;
}

// The conversion ran, so that its odds ratios are shown: when the row
// reports them.
bool conversion_shown(const Scenario& s, const Outcome& outcome) {
  return !std::holds_alternative<std::monostate>(make_row(s, outcome)[Column::or_e_conditional]);
}

// The notes of a calculation; at a point of a curve every note that holds at
// a point holds "there".
std::vector<Note> collect(const Scenario& s, const Outcome& outcome, const Simulation* sim,
                          bool at_curve_point) {
  std::vector<Note> found;
  const Result& r = outcome.result;
  const auto add = [&](NoteKind kind, Place place) {
    if (at_curve_point && place != Place::whole) place = Place::there;
    found.push_back({kind, place, sentence(kind, place, r, s.settings.test)});
  };
  if (conversion_shown(s, outcome) && r.solver_info != 1) {
    add(NoteKind::not_converged, Place::whole);
  }
  if (!outcome.ok()) return found;
  if (r.least.small_cells || r.most.small_cells) {
    add(NoteKind::small_cells, place_of(r.least.small_cells, r.most.small_cells, false));
  }
  if (r.flat && has_extent(r)) add(NoteKind::flat, Place::whole);
  if (sim == nullptr) return found;
  // The two extremes of a box of one point are the same point, simulated twice.
  const bool one_point = r.least.or_g == r.most.or_g && r.least.or_e == r.most.or_e;
  const bool least_sparse = unreliable(sim->least, sim->replicates);
  const bool most_sparse = unreliable(sim->most, sim->replicates);
  if (least_sparse || most_sparse) {
    add(NoteKind::unreliable, place_of(least_sparse, most_sparse, one_point));
  }
  const Test test = s.settings.test;
  const bool least_off = disagrees(r.least.power, as_tested(sim->least, test), sim->replicates);
  const bool most_off = disagrees(r.most.power, as_tested(sim->most, test), sim->replicates);
  if (least_off || most_off) add(NoteKind::disagrees, place_of(least_off, most_off, one_point));
  const bool least_failed = !least_sparse && sim->least.failed > 0;
  const bool most_failed = !most_sparse && sim->most.failed > 0;
  if (least_failed || most_failed) {
    add(NoteKind::failed_fits, place_of(least_failed, most_failed, one_point));
  }
  if (sim->size && sim->size->failed > kMaxFailedShare * sim->replicates) {
    add(NoteKind::sparse_size, Place::whole);
  }
  return found;
}

// --- The table -------------------------------------------------------------------

// An input as a line of the table.
struct InputLine {
  const char* label;
  std::string (*text)(const Scenario&);
};

constexpr std::size_t kInputLineCount = 13;

// The lines of every mode; a line whose text is empty is not shown (the
// cases in a size calculation, ROR^tb in a detect calculation, ...).
std::array<InputLine, kInputLineCount> input_lines() {
  return {
      InputLine{"Cases",
                [](const Scenario& s) {
                  return s.mode == Mode::size ? std::string() : format_number(s.cases);
                }},
      InputLine{"Target power",
                [](const Scenario& s) {
                  return s.mode == Mode::power ? std::string() : format_number(s.target_power);
                }},
      InputLine{"Exposure", [](const Scenario& s) { return exposure_text(s.design); }},
      InputLine{"Gene prevalence",
                [](const Scenario& s) {
                  if (s.ranges.gene_prevalence) {
                    return range_text(*s.ranges.gene_prevalence) +
                           " (carriers among controls, searched)";
                  }
                  return format_number(s.design.gene_prevalence) + " (carriers among controls)";
                }},
      InputLine{"Controls per case",
                [](const Scenario& s) { return format_number(s.design.controls_per_case); }},
      InputLine{"Null OR^tb(E|G=0)",
                [](const Scenario& s) { return format_number(s.design.or_e); }},
      InputLine{"Null OR(G|E=0)", [](const Scenario& s) { return format_number(s.design.or_g); }},
      InputLine{"ROR^tb",
                [](const Scenario& s) {
                  return s.mode == Mode::detect ? std::string() : format_number(s.design.ror);
                }},
      InputLine{"Direction",
                [](const Scenario& s) {
                  if (s.mode != Mode::detect) return std::string();
                  return std::string(name(s.direction)) +
                         (s.direction == Direction::risk ? ": ROR^tb above 1"
                                                         : ": ROR^tb below 1");
                }},
      // Shown only when gene and exposure are associated among controls.
      InputLine{"OR^tb(G,E)",
                [](const Scenario& s) {
                  if (s.ranges.or_ge) {
                    return range_text(*s.ranges.or_ge) + " (among controls, searched)";
                  }
                  return s.design.or_ge == 1.0
                             ? std::string()
                             : format_number(s.design.or_ge) + " (among controls)";
                }},
      InputLine{"Level alpha",
                [](const Scenario& s) { return format_number(s.settings.alpha) + " (two-sided)"; }},
      InputLine{"Search",
                [](const Scenario& s) { return std::string(name(s.settings.search)); }},
      // Shown only for a test other than the classical formula's.
      InputLine{"Test",
                [](const Scenario& s) {
                  switch (s.settings.test) {
                    case Test::wald:
                      return std::string("wald (the Wald test, its variance at the fitted "
                                         "values)");
                    case Test::lr:
                      return std::string("lr (the likelihood-ratio test)");
                    case Test::null_variance:
                      break;
                  }
                  return std::string();
                }},
  };
}

// The box searched: the ranges as given; a range not given is the
// conversion's point, rounded.
std::string box_text(const Scenario& s, const Result& r) {
  const auto side = [](const std::optional<Range>& given, const Range& searched) {
    return given ? range_text(*given) : ratio_text(searched.low) + " (conditional)";
  };
  std::string text = "OR^tb(E|G=0) " + side(s.ranges.or_e, r.or_e_range) + ", OR(G|E=0) " +
                     side(s.ranges.or_g, r.or_g_range);
  if (s.ranges.gene_prevalence) text += ", carriers " + range_text(*s.ranges.gene_prevalence);
  if (s.ranges.or_ge) text += ", OR^tb(G,E) " + range_text(*s.ranges.or_ge);
  return text;
}

// The "Note" lines of the notes of kinds `from` to `to`.
std::string note_lines(const std::vector<Note>& found, NoteKind from, NoteKind to) {
  std::string text;
  for (const Note& note : found) {
    if (note.kind >= from && note.kind <= to) text += labelled("Note", note.text);
  }
  return text;
}

// The least and the most favourable point: power and where it occurs, with
// the carrier prevalence and OR^tb(G,E) there when they were searched.
std::string extreme_lines(const Scenario& s, const Result& r) {
  const bool carriers = s.ranges.gene_prevalence.has_value();
  const bool association = s.ranges.or_ge.has_value();
  const auto line = [&](const char* label, const Extreme& x) {
    std::string text = left(label, kTableLabelWidth) + right(fixed(x.power, 4), 8) +
                       right(fixed(x.or_g, 4), 12) + right(fixed(x.or_e, 4), 15);
    if (carriers) text += right(fixed(x.gene_prevalence, 4), 10);
    if (association) text += right(fixed(x.or_ge, 4), 12);
    return text + '\n';
  };
  std::string head = left("", kTableLabelWidth) + right("Power", 8) + right("OR(G|E=0)", 12) +
                     right("OR^tb(E|G=0)", 15);
  if (carriers) head += right("Carriers", 10);
  if (association) head += right("OR^tb(G,E)", 12);
  return '\n' + head + '\n' + line("Least favourable", r.least) + line("Most favourable", r.most);
}

// The simulated powers of the Wald test, with its standard error, and of the
// likelihood-ratio test beside the formula's at both points, or that they
// are unreliable there.
std::string simulation_lines(const Result& r, const Simulation& sim) {
  const auto point = [&](const char* label, double formula, const SimulatedPoint& p) {
    const bool sparse = unreliable(p, sim.replicates);
    const std::string simulated = sparse ? ' ' + left("unreliable", 17)
                                         : right(fixed(p.power, 4), 10) + right(fixed(p.se, 4), 8);
    std::string line = left(label, kTableLabelWidth) + right(fixed(formula, 4), 10) + simulated +
                       right(fixed(p.wald_power, 4), 12) + right(format_number(p.failed), 8);
    if (!sparse) line += right(fixed(p.lr_power, 4), 9);
    return line + '\n';
  };
  return '\n' +
         labelled("Simulation", format_number(sim.replicates) +
                                    " studies of this size at each point, each analysed with "
                                    "the Wald test (Simulated) and the likelihood-ratio test "
                                    "(LR)") +
         left("", kTableLabelWidth) + right("Formula", 10) + right("Simulated", 10) +
         right("+/-", 8) + right("Wald(var1)", 12) + right("Failed", 8) + right("LR", 9) + '\n' +
         point("Least favourable", r.least.power, sim.least) +
         point("Most favourable", r.most.power, sim.most);
}

// The simulated size, in one sentence.
std::string simulated_size_line(const Scenario& s, const SimulatedSize& z) {
  return labelled("Simulated size",
                  count_text(z.cases) + " cases (95 % interval " + count_text(z.low) + " to " +
                      count_text(z.high) + ") and " +
                      count_text(whole_controls(z.cases, s.design.controls_per_case)) +
                      " controls: the fewest cases whose simulated power of the " +
                      (z.lr ? "likelihood-ratio" : "Wald") +
                      " test at the least favourable point reaches " +
                      format_number(s.target_power) + " (" + fixed(z.power, 4) + " +/- " +
                      fixed(z.se, 4) + "; " + std::to_string(z.trials) +
                      " numbers of cases simulated)");
}

}  // namespace

std::vector<Note> notes(const Scenario& scenario, const Outcome& outcome,
                        const Simulation* simulation) {
  return collect(scenario, outcome, simulation, false);
}

std::vector<Note> curve_point_notes(const Scenario& scenario, const Outcome& outcome,
                                    const Simulation* simulation) {
  return collect(scenario, outcome, simulation, true);
}

std::string_view search_description(SearchMethod method) {
  switch (method) {
    case SearchMethod::global:
      return "from the best points of a grid over the box, each refined by a local search: "
             "the true extremes, even where the power has more than one local extreme";
    case SearchMethod::centre:
      return "one local search from the centre of the box, as the question-by-question "
             "dialogue does it: faster, but it can stop at an extreme that is only local";
  }
  return "";
}

TableReport::TableReport(std::span<const Scenario> scenarios)
    : mode_(scenarios.front().mode), count_(scenarios.size()) {
  // An input is shown once at the top when every calculation has the same,
  // and in each calculation's block otherwise.
  for (const InputLine& line : input_lines()) {
    const std::string first = line.text(scenarios.front());
    const bool same = std::all_of(scenarios.begin(), scenarios.end(),
                                  [&](const Scenario& s) { return line.text(s) == first; });
    varies_.push_back(!same);
    if (same && !first.empty()) shared_ += labelled(line.label, first);
  }
}

std::string TableReport::head() const {
  switch (mode_) {
    case Mode::power: return "Least and most favourable power over the box\n\n" + shared_;
    case Mode::size: break;
    case Mode::detect:
      return "Detectable ROR^tb for the target power at the least favourable point of the "
             "box\n\n" + shared_;
  }
  return "Study size for the target power at the least favourable point of the box\n\n" +
         shared_;
}

std::string TableReport::block(const Scenario& s, const Outcome& outcome,
                               const Simulation* simulation) {
  ++index_;
  std::string text = "\n";
  if (count_ > 1) {
    text += "Scenario " + std::to_string(index_) + " of " + std::to_string(count_) + "\n";
    const auto lines = input_lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string value = lines[i].text(s);
      if (varies_[i] && !value.empty()) text += labelled(lines[i].label, value);
    }
  }
  const Result& r = outcome.result;
  const std::vector<Note> found = notes(s, outcome, simulation);
  if (s.mode == Mode::detect && outcome.ok()) {
    text += labelled("Detectable ROR^tb", ratio_text(r.ror_detectable) +
                                              " (the lines below are at this ROR^tb)");
  }
  if (conversion_shown(s, outcome)) {
    text += labelled("Conditional ORs", "OR^tb(E|G=0) " + ratio_text(r.or_e_conditional) +
                                            ", OR(G|E=0) " + ratio_text(r.or_g_conditional));
    text += note_lines(found, NoteKind::not_converged, NoteKind::not_converged);
  }
  if (!outcome.ok()) return text + labelled("No answer", outcome.error->message());
  text += labelled("Box searched", box_text(s, r));
  text += labelled("Study size", count_text(r.size) + " subjects: " + count_text(r.n_cases) +
                                     " cases and " + count_text(r.n_controls) + " controls");
  text += extreme_lines(s, r) + note_lines(found, NoteKind::small_cells, NoteKind::flat);
  if (simulation != nullptr) {
    text += simulation_lines(r, *simulation) +
            note_lines(found, NoteKind::unreliable, NoteKind::failed_fits);
    if (simulation->size) {
      text += simulated_size_line(s, *simulation->size) +
              note_lines(found, NoteKind::sparse_size, NoteKind::sparse_size);
    }
  }
  return text;
}

std::string report(const Scenario& scenario, const Outcome& outcome,
                   const Simulation* simulation) {
  TableReport table(std::span<const Scenario>(&scenario, 1));
  return table.head() + table.block(scenario, outcome, simulation);
}

std::string exposure_text(const Design& d) {
  if (d.quantiles != 0) return std::to_string(d.quantiles) + " quantiles";
  std::string text = "prevalences";
  for (std::size_t i = 0; i < d.exposure_prevalences.size(); ++i) {
    text += (i == 0 ? " " : ", ") + format_number(d.exposure_prevalences[i]);
  }
  return text;
}

std::string range_text(const Range& r) {
  if (r.low == r.high) return format_number(r.low);
  return format_number(r.low) + " to " + format_number(r.high);
}

std::string trimmed(double x, int decimals) {
  constexpr double kFixedLimit = 1e15;  // beyond, fixed notation is all digits and no sense
  if (!std::isfinite(x) || std::fabs(x) >= kFixedLimit) return format_number(x);
  std::string text = fixed(x, decimals);
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

std::string hanging(std::string_view lead, std::size_t indent, std::string_view text,
                    std::size_t width) {
  std::string out = left(lead, indent);
  std::size_t column = out.size();
  bool line_start = true;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t blank = std::min(text.find(' ', at), text.size());
    const std::string_view word = text.substr(at, blank - at);
    at = blank + 1;
    if (word.empty()) continue;
    if (!line_start && column + 1 + word.size() > width) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
      line_start = true;
    }
    if (!line_start) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line_start = false;
  }
  return out + '\n';
}

std::string labelled(std::string_view label, std::string_view value) {
  return hanging(label, kTableLabelWidth, value);
}

}  // namespace gxe::plan
