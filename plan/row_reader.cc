#include "plan/row_reader.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "plan/request_text.h"
#include "values/number.h"

namespace gxe::plan {
namespace {

constexpr std::size_t index_of(Column c) { return static_cast<std::size_t>(c); }

bool is_input(const ColumnInfo& c) {
  return c.role == ColumnRole::input || c.role == ColumnRole::alias;
}

// --- Headers ------------------------------------------------------------------------

// A name as a careless hand might have written a column: lower case, blanks,
// dashes and dots as underscores, leading dashes (an option's name) dropped.
std::string loose(std::string_view name) {
  std::string text;
  for (const char c : name) {
    if (c == '-' && text.empty()) continue;
    if (c == ' ' || c == '-' || c == '.' || c == '\t') {
      if (!text.empty()) text += '_';
    } else if (c >= 'A' && c <= 'Z') {
      text += static_cast<char>(c - 'A' + 'a');
    } else {
      text += c;
    }
  }
  while (!text.empty() && text.back() == '_') text.pop_back();
  return text;
}

}  // namespace

namespace {

// Why a name that is not a column's would be misread, or "": a name that
// differs from an input's only in case, blanks, dashes or dots would be
// carried through unread while its values went unused, and a range is two
// columns.
std::string misnamed(std::string_view name) {
  const std::string loosely = loose(name);
  for (const ColumnInfo& c : kColumns) {
    if (is_input(c) && loosely == c.name) {
      return "the column " + values::quoted(name) + " would be read as " + std::string(c.name) +
             ": write its name exactly so (lower case, with underscores)";
    }
  }
  if (loosely == "or_e_range" || loosely == "or_g_range") {
    const std::string side = loosely.substr(0, 4);
    return "the column " + values::quoted(name) + " is not read: a range is two columns, " +
           side + "_low and " + side + "_high";
  }
  return {};
}

// Which column of a header holds what; false, with `problem`, for a name
// that would be misread.
bool place(std::string_view name, std::size_t i, Layout& layout, std::string& problem) {
  const std::optional<Column> known = find_column(name);
  if (known == Column::unread_row) {
    layout.unread = i;
    return true;
  }
  if (known == Column::error) layout.error = i;
  const ColumnRole role = known ? column(*known).role : ColumnRole::kept;
  if (known && is_input(column(*known))) layout.field[index_of(*known)] = i;
  if (role == ColumnRole::input || role == ColumnRole::result ||
      role == ColumnRole::simulation) {
    return true;  // an input read, or a result computed afresh (or not at all)
  }
  if (!known && !(problem = misnamed(name)).empty()) return false;
  // The other forms of the gene and the user's own columns go through.
  layout.carried.push_back(i);
  layout.carried_names.emplace_back(name);
  return true;
}

// Why a header lacks a column every row needs, or "".
std::string missing_column(const Layout& layout) {
  const auto has = [&](Column c) { return layout.field[index_of(c)] != Layout::kAbsent; };
  if (!has(Column::mode)) return "no column mode (power or size, for each row)";
  if (!has(Column::cases) && !has(Column::power)) {
    return "no column cases or power (the number of cases of a power row, the target power of "
           "a size row)";
  }
  if (!has(Column::quantiles) && !has(Column::exposure_prevalences)) {
    return "no column quantiles or exposure_prevalences (the exposure categories)";
  }
  if (!has(Column::gene_prevalence) && !has(Column::allele_frequency)) {
    return "no column gene_prevalence (or allele_frequency with genetic_model)";
  }
  if (has(Column::allele_frequency) && !has(Column::genetic_model) &&
      !has(Column::gene_prevalence)) {
    return "the column allele_frequency needs a column genetic_model (dominant or recessive)";
  }
  // Detect rows find ROR^tb from both the cases and the target power.
  if (!has(Column::ror) && !(has(Column::cases) && has(Column::power))) {
    return "no column ror (ROR^tb under the alternative; a file of detect rows only needs "
           "cases and power instead)";
  }
  return {};
}

}  // namespace

LayoutReading read_layout(std::span<const std::string> names) {
  LayoutReading reading;
  Layout& layout = reading.layout;
  layout.field.fill(Layout::kAbsent);
  layout.width = names.size();
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!seen.insert(names[i]).second) {
      reading.problem =
          "the column " + values::quoted(names[i]) + " appears twice: give each column once";
      return reading;
    }
    if (!place(names[i], i, layout, reading.problem)) return reading;
  }
  reading.problem = missing_column(layout);
  return reading;
}

namespace {

// --- Cells --------------------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Why `text` is not a number, "" when it is one, with a hint for the forms a
// spreadsheet produces: a decimal comma, a thousands separator, blanks.
std::string number_problem(std::string_view text) {
  const values::NumberReading number = values::read_number(text);
  if (number.ok()) return {};
  const std::size_t comma = text.find(',');
  if (comma != std::string_view::npos && text.find(',', comma + 1) == std::string_view::npos) {
    std::string dotted(text);
    dotted[comma] = '.';
    if (values::read_number(dotted).ok()) {
      const std::string_view after = text.substr(comma + 1);
      const bool three_digits = after.size() == 3 && text.find('.') == std::string_view::npos &&
                                std::all_of(after.begin(), after.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
      if (three_digits) {
        std::string joined(text);
        joined.erase(comma, 1);
        return "has a comma, a decimal comma or a thousands separator: write " + dotted + " or " +
               joined + ", whichever is meant";
      }
      return "is written with a decimal comma: write " + dotted;
    }
  }
  if (comma != std::string_view::npos) {
    return "is not a number: numbers take a decimal point and no thousands separators";
  }
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && is_blank(text[first])) ++first;
  while (last > first && is_blank(text[last - 1])) --last;
  if ((first > 0 || last < text.size()) && values::read_number(text.substr(first, last - first)).ok()) {
    return "has blanks around the number: write " + std::string(text.substr(first, last - first));
  }
  return number.problem;
}

// One row's fields by input.
class Cells {
 public:
  Cells(const Layout& layout, std::span<const std::string> fields)
      : layout_(layout), fields_(fields) {}

  std::string_view text(Column c) const {
    const std::size_t at = layout_.field[index_of(c)];
    return at < fields_.size() ? std::string_view(fields_[at]) : std::string_view();
  }
  bool given(Column c) const { return !text(c).empty(); }

 private:
  const Layout& layout_;
  std::span<const std::string> fields_;
};

// Reads a row into a request of one value per input, stopping at the first
// cell that is not a value of its kind; the request's own rules follow.
class DesignReader {
 public:
  explicit DesignReader(const Cells& cells) : cells_(cells) {}

  DesignReading read() {
    DesignReading reading;
    Request request;
    if (!read_into(request)) {
      reading.problem = std::move(problem_);
      return reading;
    }
    Expansion rows = expand(request);
    if (!rows.ok()) {
      reading.problem = problem_of(rows.error->error);
      return reading;
    }
    reading.scenario = std::move(rows.scenarios.front());
    return reading;
  }

 private:
  bool fail(Column c, std::string message) {
    problem_ = RowProblem{std::string(column_name(c)), std::move(message)};
    return false;
  }
  bool fail_value(Column c, std::string_view rule) {
    return fail(c, values::quoted(cells_.text(c)) + " " + std::string(rule));
  }

  // A number from its cell, when the cell is not empty.
  bool number(Column c, std::optional<double>& value) {
    const std::string_view text = cells_.text(c);
    if (text.empty()) return true;
    const values::NumberReading reading = values::read_number(text);
    if (!reading.ok()) return fail_value(c, number_problem(text));
    value = reading.value;
    return true;
  }
  bool number(Column c, std::vector<double>& list) {
    std::optional<double> value;
    if (!number(c, value)) return false;
    if (value) list = {*value};
    return true;
  }

  // A text column's choice, when the cell is not empty.
  template <class T, class Parse>
  bool choice(Column c, std::optional<T>& value, Parse parse) {
    const std::string_view text = cells_.text(c);
    if (text.empty()) return true;
    if (const std::optional<Error> e = choice_error(c, text)) return fail_value(c, e->rule);
    value = parse(text);
    return true;
  }

  bool mode(Request& r) {
    std::optional<Mode> mode;
    if (!choice(Column::mode, mode, parse_mode)) return false;
    if (!mode) return fail(Column::mode, "is empty: give power, size or detect");
    r.mode = *mode;
    return true;
  }

  // Items separated by ';', optionally followed by blanks, as the csv
  // output writes them ("0.2;0.3;0.5").
  bool prevalences(std::vector<double>& list) {
    const std::string_view text = cells_.text(Column::exposure_prevalences);
    constexpr std::size_t kMostItems = 1000;  // far above the 100 categories allowed
    std::size_t start = 0;
    while (!text.empty()) {
      const std::size_t semicolon = std::min(text.find(';', start), text.size());
      const std::string_view item = text.substr(start, semicolon - start);
      if (item.empty()) {
        return fail_value(Column::exposure_prevalences,
                          "is not a list of numbers separated by ';': an item is empty");
      }
      std::string problem = number_problem(item);
      if (!problem.empty()) {
        if (item.find(',') != std::string_view::npos && problem.rfind("is not a number", 0) == 0) {
          problem = "is not a number: separate the prevalences with ';', as in 0.2;0.3;0.5";
        }
        // The item too, when the list has more than one.
        const std::string which = item.size() < text.size() ? values::quoted(item) + " " : "";
        return fail_value(Column::exposure_prevalences, which + problem);
      }
      if (list.size() == kMostItems) {
        return fail_value(Column::exposure_prevalences,
                          "has more than 1000 items: give from 2 to 100 prevalences");
      }
      list.push_back(values::read_number(item).value);
      if (semicolon == text.size()) break;
      start = semicolon + 1;
      while (start < text.size() && text[start] == ' ') ++start;
    }
    return true;
  }

  // A range: both bounds or neither.
  bool range(Column low, Column high, std::optional<Range>& range) {
    const bool has_low = cells_.given(low);
    if (has_low != cells_.given(high)) return fail(has_low ? high : low, one_bound_rule(low, has_low));
    std::optional<double> bounds[2];
    if (!number(low, bounds[0]) || !number(high, bounds[1])) return false;
    if (has_low) range = Range{*bounds[0], *bounds[1]};
    return true;
  }

  bool read_into(Request& r) {
    return mode(r) && number(Column::cases, r.cases) && number(Column::power, r.power) &&
           number(Column::quantiles, r.quantiles) && prevalences(r.exposure_prevalences) &&
           number(Column::gene_prevalence, r.gene_prevalence) &&
           number(Column::allele_frequency, r.allele_frequency) &&
           choice(Column::genetic_model, r.genetic_model, parse_genetic_model) &&
           number(Column::controls_per_case, r.controls_per_case) &&
           number(Column::or_e, r.or_e) && number(Column::or_g, r.or_g) &&
           number(Column::ror, r.ror) && number(Column::or_ge, r.or_ge) &&
           range(Column::or_e_low, Column::or_e_high, r.ranges.or_e) &&
           range(Column::or_g_low, Column::or_g_high, r.ranges.or_g) &&
           range(Column::or_ge_low, Column::or_ge_high, r.ranges.or_ge) &&
           range(Column::gene_prevalence_low, Column::gene_prevalence_high,
                 r.ranges.gene_prevalence) &&
           range(Column::allele_frequency_low, Column::allele_frequency_high,
                 r.allele_frequency_range) &&
           number(Column::alpha, r.alpha) &&
           choice(Column::search, r.search, parse_search_method) &&
           choice(Column::test, r.test, parse_test) &&
           choice(Column::direction, r.direction, parse_direction);
  }

  // The request's error against the cell it read: the cell's text in
  // quotes, then the rule; a list quoted whole, then the value the rule is
  // about; the message alone for a cell left empty (its default, or an
  // input that is needed).
  RowProblem problem_of(const Error& e) {
    const std::optional<Column> c = find_column(e.input);
    if (!c) return RowProblem{std::string(), e.message()};
    const std::string_view text = cells_.text(*c);
    if (e.value.empty()) fail(*c, e.plain_rule());
    else if (text.empty()) fail(*c, e.message());
    else if (c == Column::exposure_prevalences) fail(*c, values::quoted(text) + ": " + e.message());
    else fail_value(*c, e.plain_rule());
    return problem_;
  }

  const Cells& cells_;
  RowProblem problem_;
};

}  // namespace

DesignReading read_design(const Layout& layout, std::span<const std::string> fields) {
  if (fields.size() != layout.width) {
    DesignReading reading;
    reading.problem = RowProblem{
        std::string(), "has " + std::to_string(fields.size()) + " fields where the header has " +
                           std::to_string(layout.width) +
                           ": is a delimiter missing or extra, or a field with a delimiter in it "
                           "not quoted?"};
    return reading;
  }
  const Cells cells(layout, fields);
  return DesignReader(cells).read();
}

Row row_as_read(const Layout& layout, std::span<const std::string> fields) {
  Row row;
  const Cells cells(layout, fields);
  for (std::size_t i = 0; i < kInputColumns; ++i) {
    const std::string_view text = cells.text(static_cast<Column>(i));
    if (!text.empty()) row.cells[i] = std::string(text);
  }
  for (std::size_t i = 0; i < kAssociationColumnCount; ++i) {
    const Column c = association_column(i);
    if (column(c).role != ColumnRole::input) continue;
    const std::string_view text = cells.text(c);
    if (!text.empty()) row[c] = std::string(text);
  }
  return row;
}

}  // namespace gxe::plan
