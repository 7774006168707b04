// The engine of the web page: the planning library behind four functions that
// take and give JSON text, compiled to WebAssembly and run in a Web Worker.
//
//   columns()                   every column: name, kind, role, help, choices,
//                               default and command-line option
//   check(request)              {"errors": [{"input", "message"}...]}
//   calculate(request[, progress])
//   curve(request[, progress])  {"header", "rows", "notes", "csv", "error"}
//
// A request holds the texts a user typed, keyed by column name (a range as
// its two columns), with "mode" and the simulation's settings. The texts are
// read and checked as the command line reads its options, and the rows are
// written by the same code, so a calculation here gives the csv of the same
// command, byte for byte. Every count of threads is 1: the module has none.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/columns.h"
#include "plan/curve.h"
#include "plan/report.h"
#include "plan/request.h"
#include "plan/request_text.h"
#include "plan/row.h"
#include "plan/simulation.h"
#include "values/number.h"

namespace gxe::web {
namespace {

using Json = nlohmann::ordered_json;
using plan::Column;

constexpr std::string_view kKindNames[] = {"number", "whole_number", "text", "flag", "numbers"};
constexpr std::string_view kRoleNames[] = {"input", "alias", "result", "simulation", "curve",
                                           "kept"};

// The request's keys that are not columns: the simulation's settings, and a
// curve's axis and quantity (read by curve() only, allowed everywhere so that
// one page state serves both).
constexpr std::array<std::string_view, 3> kSettingKeys = {"simulate", "seed", "size_by"};
constexpr std::array<std::string_view, 5> kCurveKeys = {"over", "from", "to", "points",
                                                       "quantity"};

// An input at fault and the command line's words for it, without the option.
struct Problem {
  std::string input;
  std::string message;
};

Json problem_json(const Problem& p) { return {{"input", p.input}, {"message", p.message}}; }

// The texts of a request, each read and checked, or the problems found.
struct Texts {
  std::map<std::string, std::string, std::less<>> given;  // key -> text, not empty
  std::map<Column, std::string> columns;  // a range's text as LO:HI under its low column
  std::vector<Problem> problems;

  const std::string* of(std::string_view key) const {
    const auto at = given.find(key);
    return at == given.end() ? nullptr : &at->second;
  }
  const std::string* column(Column c) const {
    const auto at = columns.find(c);
    return at == columns.end() ? nullptr : &at->second;
  }
  plan::TextOf text_of() const {
    return [this](Column c) { return column(c); };
  }
};

// Whether `c` is one end of a range (the low end is typed as the range, the
// high end follows it), and `low` its low end.
bool is_range_end(Column c, Column& low) {
  if (plan::text_form(c) == plan::TextForm::range) {
    low = c;
    return true;
  }
  const auto i = static_cast<std::size_t>(c);
  if (i > 0 && plan::text_form(static_cast<Column>(i - 1)) == plan::TextForm::range) {
    low = static_cast<Column>(i - 1);
    return true;
  }
  return false;
}

// Why a text of `key` is not a value of its kind (as the command line's
// option checks say it), or "".
std::string key_problem(std::string_view key, std::string_view text) {
  if (key == "mode" || key == "quantity") {
    return plan::is_choice(Column::mode, text) ? "" : plan::choice_rule(Column::mode);
  }
  if (key == "over") {
    return plan::is_choice(Column::over, text) ? "" : plan::choice_rule(Column::over);
  }
  if (key == "simulate") {
    return plan::setting_problem(&plan::SimulationSettings::replicates, text);
  }
  if (key == "seed") return plan::setting_problem(&plan::SimulationSettings::seed, text);
  if (key == "size_by") {
    return plan::parse_size_by(text) ? "" : plan::choice_rule(plan::kSizeByNames);
  }
  if (key == "from" || key == "to") return values::read_number(text).problem;
  if (key == "points") {
    return values::read_whole_number(text, plan::kMinCurvePoints, plan::kMaxCurvePoints).problem;
  }
  const Column c = *plan::find_column(key);
  Column low{};
  if (is_range_end(c, low)) return values::read_number(text).problem;
  return plan::text_problem(*plan::text_form(c), c, text);
}

bool known_key(std::string_view key) {
  if (key == "mode") return true;
  if (std::find(kSettingKeys.begin(), kSettingKeys.end(), key) != kSettingKeys.end()) return true;
  if (std::find(kCurveKeys.begin(), kCurveKeys.end(), key) != kCurveKeys.end()) return true;
  const std::optional<Column> c = plan::find_column(key);
  Column low{};
  return c && (plan::text_form(*c) || is_range_end(*c, low));
}

// The request's texts: every key known, every value text (empty: not
// given) and of its kind; a range with both bounds or neither.
Texts read_texts(const std::string& request) {
  Texts texts;
  const Json json = Json::parse(request, nullptr, false);
  if (!json.is_object()) {
    texts.problems.push_back({"", "the request is not a JSON object of texts"});
    return texts;
  }
  for (const auto& [key, value] : json.items()) {
    if (!known_key(key)) {
      texts.problems.push_back({key, values::quoted(key) + " is not an input"});
      continue;
    }
    if (!value.is_string()) {
      texts.problems.push_back({key, "must be given as text"});
      continue;
    }
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty()) continue;
    if (const std::string problem = key_problem(key, text); !problem.empty()) {
      texts.problems.push_back({key, values::quoted(text) + " " + problem});
      continue;
    }
    texts.given.emplace(key, text);
  }
  for (const auto& [key, text] : texts.given) {
    const std::optional<Column> c = plan::find_column(key);
    if (!c || key == "mode") continue;
    Column low{};
    if (!is_range_end(*c, low)) {
      texts.columns.emplace(*c, text);
      continue;
    }
    if (*c != low) continue;  // the high end, with its low end
    const auto high = static_cast<Column>(static_cast<std::size_t>(low) + 1);
    const std::string* high_text = texts.of(plan::column_name(high));
    if (!high_text) continue;
    texts.columns.emplace(low, text + ":" + *high_text);
  }
  for (std::size_t i = 0; i < plan::kColumnTotal; ++i) {
    const auto c = static_cast<Column>(i);
    if (plan::text_form(c) != plan::TextForm::range) continue;
    const auto high = static_cast<Column>(i + 1);
    const bool has_low = texts.of(plan::column_name(c)) != nullptr;
    const bool has_high = texts.of(plan::column_name(high)) != nullptr;
    if (has_low != has_high) {
      texts.problems.push_back(
          {std::string(plan::column_name(has_low ? high : c)), plan::one_bound_rule(c, has_low)});
    }
  }
  return texts;
}

// A request's error in the command line's words after its option's name.
Problem request_problem(const plan::RequestError& error, const Texts& texts) {
  const plan::Error& e = error.error;
  if (e.input.empty() || e.value.empty()) return {e.input, plan::option_rule(e)};
  const std::optional<Column> c = plan::find_column(e.input);
  Column low{};
  std::string typed;
  if (c && is_range_end(*c, low)) {
    if (const std::string* t = texts.column(low)) typed = *t;
  } else if (const std::string* t = c ? texts.column(*c) : texts.of(e.input)) {
    typed = *t;
  }
  return {e.input, plan::typed_value_message(error, typed)};
}

plan::Mode mode_of(const Texts& texts, std::string_view key = "mode") {
  const std::string* text = texts.of(key);
  return text ? plan::parse_mode(*text).value_or(plan::Mode::power) : plan::Mode::power;
}

plan::SimulationSettings settings_of(const Texts& texts) {
  plan::SimulationSettings s;
  if (const std::string* t = texts.of("simulate")) s.replicates = values::read_number(*t).value;
  if (const std::string* t = texts.of("seed")) s.seed = values::read_number(*t).value;
  if (const std::string* t = texts.of("size_by")) s.size_by = *plan::parse_size_by(*t);
  s.threads = 1;
  return s;
}

// What a request asks for: the rows of a calculation or the points of a
// curve, with their settings, or the first problem.
struct Prepared {
  std::vector<plan::Scenario> scenarios;
  std::optional<plan::CurveQuery> curve;
  plan::SimulationSettings settings;
  std::optional<Problem> problem;
};

Prepared prepare(const Texts& texts, bool curve) {
  Prepared p;
  if (!texts.problems.empty()) {
    p.problem = texts.problems.front();
    return p;
  }
  p.settings = settings_of(texts);
  plan::Mode mode = mode_of(texts);
  if (!curve) {
    plan::Expansion rows = plan::expand(plan::request_from_texts(mode, texts.text_of()));
    if (!rows.ok()) {
      p.problem = request_problem(*rows.error, texts);
      return p;
    }
    p.scenarios = std::move(rows.scenarios);
  } else {
    // The curve's own inputs, required as on the command line.
    for (const std::string_view key : {"over", "from", "to"}) {
      if (!texts.of(key)) {
        p.problem = Problem{std::string(key), "is required for a curve"};
        return p;
      }
    }
    const std::string* points = texts.of("points");
    const plan::Axis over =
        *texts.of("over") == plan::column(Column::over).choices[0] ? plan::Axis::cases
                                                                   : plan::Axis::ror;
    std::optional<plan::Mode> quantity;
    if (texts.of("quantity")) quantity = mode_of(texts, "quantity");
    plan::CurveExpansion curves = plan::expand_curve(
        plan::request_from_texts(plan::Mode::power, texts.text_of()), over,
        values::read_number(*texts.of("from")).value, values::read_number(*texts.of("to")).value,
        points ? values::read_number(*points).value : plan::CurveQuery{}.points, quantity);
    if (!curves.ok()) {
      p.problem = request_problem(*curves.error, texts);
      return p;
    }
    mode = curves.query.base.mode;
    p.curve = std::move(curves.query);
  }
  const std::string* size_by = texts.of("size_by");
  if (std::string problem =
          plan::size_by_problem(p.settings, size_by ? *size_by : std::string_view(), mode);
      !problem.empty()) {
    p.problem = Problem{"size_by", std::move(problem)};
  }
  return p;
}

Json note_texts(const std::vector<plan::Note>& notes) {
  Json list = Json::array();
  for (const plan::Note& n : notes) list.push_back(n.text);
  return list;
}

Json failure(const Problem& problem) {
  return {{"header", Json::array()}, {"rows", Json::array()}, {"notes", Json::array()},
          {"csv", ""}, {"error", problem_json(problem)}};
}

// Reports a simulation's progress to the page's function, when it gave one.
plan::Progress progress_of(const emscripten::val& progress) {
  if (progress.isUndefined() || progress.isNull()) return {};
  return [progress](long done, long total) {
    progress(static_cast<double>(done), static_cast<double>(total));
  };
}

// The rows of the prepared calculations or curve points, as the command
// line's csv has them.
std::string answer(const Prepared& p, const emscripten::val& progress) {
  const bool simulated = p.settings.replicates > 0;
  std::vector<plan::CurvePoint> points;
  if (p.curve) points = plan::curve_points(*p.curve);
  const std::vector<std::string> leading = p.curve ? plan::curve_leading_names()
                                                   : std::vector<std::string>();
  const std::vector<std::string> header = plan::row_names(simulated, leading);
  std::string csv = plan::csv_record(header);
  Json rows = Json::array();
  Json notes = Json::array();
  plan::SharedSearches shared;  // the rows of a design share its search
  // A calculation reports its simulated studies; a curve, whose points may
  // be many (each a search of the box, or a root search for detect), its
  // points done.
  const plan::Progress report = p.curve ? plan::Progress() : progress_of(progress);
  const plan::Progress points_done = p.curve ? progress_of(progress) : plan::Progress();
  const std::size_t count = p.curve ? points.size() : p.scenarios.size();
  for (std::size_t i = 0; i < count; ++i) {
    const plan::Scenario& scenario = p.curve ? points[i].scenario : p.scenarios[i];
    const plan::Answer a = plan::answer(scenario, p.settings, report, &shared);
    if (points_done) points_done(static_cast<long>(i + 1), static_cast<long>(count));
    const plan::Simulation* simulation = a.simulation ? &*a.simulation : nullptr;
    std::vector<plan::Cell> leading_cells;
    if (p.curve) {
      points[i].outcome = a.outcome;
      const auto cells = plan::curve_leading_cells(p.curve->over, points[i]);
      leading_cells.assign(cells.begin(), cells.end());
    }
    const std::vector<std::string> texts = plan::row_texts(
        plan::make_row(scenario, a.outcome), simulation, simulated, leading_cells);
    csv += plan::csv_record(texts);
    rows.push_back(texts);
    notes.push_back(note_texts(p.curve ? plan::curve_point_notes(scenario, a.outcome, simulation)
                                       : plan::notes(scenario, a.outcome, simulation)));
  }
  const Json result = {{"header", header}, {"rows", rows},   {"notes", notes},
                       {"csv", csv},       {"error", nullptr}};
  return result.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string run(const std::string& request, const emscripten::val& progress, bool curve) {
  const Prepared p = prepare(read_texts(request), curve);
  if (p.problem) return failure(*p.problem).dump(-1, ' ', false, Json::error_handler_t::replace);
  return answer(p, progress);
}

}  // namespace

std::string columns() {
  Json list = Json::array();
  for (std::size_t i = 0; i < plan::kColumnTotal; ++i) {
    const auto c = static_cast<Column>(i);
    const plan::ColumnInfo& info = plan::column(c);
    Json choices = Json::array();
    for (const std::string_view choice : info.choices) {
      if (!choice.empty()) choices.push_back(choice);
    }
    list.push_back({{"name", info.name},
                    {"kind", kKindNames[static_cast<std::size_t>(info.kind)]},
                    {"role", kRoleNames[static_cast<std::size_t>(info.role)]},
                    {"help", info.help},
                    {"choices", choices},
                    {"default", info.default_text},
                    {"option", plan::option_name(c)}});
  }
  return list.dump();
}

std::string check(const std::string& request) {
  const Texts texts = read_texts(request);
  Json errors = Json::array();
  for (const Problem& p : texts.problems) errors.push_back(problem_json(p));
  if (texts.problems.empty()) {
    // A request that reads asks for rows, or for a curve when it gives an
    // axis from one value to another.
    const bool curve = texts.of("over") && texts.of("from") && texts.of("to");
    const Prepared p = prepare(texts, curve);
    if (p.problem) errors.push_back(problem_json(*p.problem));
  }
  return Json{{"errors", errors}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string calculate(const std::string& request, const emscripten::val& progress) {
  return run(request, progress, false);
}

std::string curve(const std::string& request, const emscripten::val& progress) {
  return run(request, progress, true);
}

}  // namespace gxe::web

EMSCRIPTEN_BINDINGS(gxeplan_engine) {
  using namespace gxe::web;
  emscripten::function("columns", &columns);
  emscripten::function("check", &check);
  emscripten::function("calculate", &calculate);
  emscripten::function("calculate", +[](const std::string& request) {
    return calculate(request, emscripten::val::undefined());
  });
  emscripten::function("curve", &curve);
  emscripten::function("curve", +[](const std::string& request) {
    return curve(request, emscripten::val::undefined());
  });
}
