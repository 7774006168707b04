#include "plan/row_reader.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "values/number.h"

namespace gxe::plan {
namespace {

constexpr std::size_t index_of(Input input) { return static_cast<std::size_t>(input); }
constexpr std::string_view name_of(Input input) { return kInputNames[index_of(input)]; }

static_assert(kInputNames[kInputColumns - 1] == kColumnNames[kInputColumns - 1]);
static_assert(kInputNames[index_of(Input::ror)] == column_name(Column::ror));

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

LayoutReading read_layout(std::span<const std::string> names) {
  LayoutReading reading;
  Layout& layout = reading.layout;
  layout.field.fill(Layout::kAbsent);
  layout.width = names.size();
  const auto refuse = [&](std::string problem) {
    reading.problem = std::move(problem);
    return reading;
  };

  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view name = names[i];
    if (!seen.insert(name).second) {
      return refuse("the column " + values::quoted(name) + " appears twice: give each column once");
    }
    const auto input = std::find(kInputNames.begin(), kInputNames.end(), name);
    if (input != kInputNames.end()) {
      const auto at = static_cast<std::size_t>(input - kInputNames.begin());
      layout.field[at] = i;
      if (at >= kInputColumns) {
        layout.carried.push_back(i);
        layout.carried_names.emplace_back(name);
      }
      continue;
    }
    if (name == kUnreadRowColumn) {
      layout.unread = i;
      continue;
    }
    if (name == column_name(Column::error)) layout.error = i;
    if (std::find(kColumnNames.begin(), kColumnNames.end(), name) != kColumnNames.end() ||
        std::find(kSimulationColumnNames.begin(), kSimulationColumnNames.end(), name) !=
            kSimulationColumnNames.end()) {
      continue;  // a result: computed afresh, or not at all
    }
    const std::string loosely = loose(name);
    for (std::string_view known : kInputNames) {
      if (loosely == known) {
        return refuse("the column " + values::quoted(name) + " would be read as " + std::string(known) +
                      ": write its name exactly so (lower case, with underscores)");
      }
    }
    if (loosely == "or_e_range" || loosely == "or_g_range") {
      const std::string side = loosely.substr(0, 4);
      return refuse("the column " + values::quoted(name) + " is not read: a range is two columns, " +
                    side + "_low and " + side + "_high");
    }
    layout.carried.push_back(i);
    layout.carried_names.emplace_back(name);
  }

  const auto has = [&](Input input) { return layout.field[index_of(input)] != Layout::kAbsent; };
  if (!has(Input::mode)) return refuse("no column mode (power or size, for each row)");
  if (!has(Input::cases) && !has(Input::power)) {
    return refuse("no column cases or power (the number of cases of a power row, the target "
                  "power of a size row)");
  }
  if (!has(Input::quantiles) && !has(Input::exposure_prevalences)) {
    return refuse("no column quantiles or exposure_prevalences (the exposure categories)");
  }
  if (!has(Input::gene_prevalence) && !has(Input::allele_frequency)) {
    return refuse("no column gene_prevalence (or allele_frequency with genetic_model)");
  }
  if (has(Input::allele_frequency) && !has(Input::genetic_model) &&
      !has(Input::gene_prevalence)) {
    return refuse("the column allele_frequency needs a column genetic_model "
                  "(dominant or recessive)");
  }
  if (!has(Input::ror)) return refuse("no column ror (ROR^tb under the alternative)");
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

  std::string_view text(Input input) const {
    const std::size_t at = layout_.field[index_of(input)];
    return at < fields_.size() ? std::string_view(fields_[at]) : std::string_view();
  }
  bool given(Input input) const { return !text(input).empty(); }

 private:
  const Layout& layout_;
  std::span<const std::string> fields_;
};

// Reads a row into a calculation, stopping at the first problem.
class DesignReader {
 public:
  explicit DesignReader(const Cells& cells) : cells_(cells) {}

  DesignReading read() {
    DesignReading reading;
    if (!read_into(reading.scenario)) reading.problem = std::move(problem_);
    return reading;
  }

 private:
  bool fail(Input input, std::string message) {
    problem_ = RowProblem{std::string(name_of(input)), std::move(message)};
    return false;
  }
  bool fail_value(Input input, std::string_view rule) {
    return fail(input, values::quoted(cells_.text(input)) + " " + std::string(rule));
  }

  // A number from its cell; an empty cell leaves `value` as it is (the
  // default) or, when `needed` is given, is refused with that reason.
  bool number(Input input, double& value, const char* needed = nullptr) {
    const std::string_view text = cells_.text(input);
    if (text.empty()) return needed == nullptr || fail(input, std::string("is empty: ") + needed);
    const values::NumberReading reading = values::read_number(text);
    if (!reading.ok()) return fail_value(input, number_problem(text));
    value = reading.value;
    return true;
  }

  bool mode(Scenario& s) {
    const std::string_view text = cells_.text(Input::mode);
    if (text.empty()) return fail(Input::mode, "is empty: give power or size");
    const std::optional<Mode> mode = parse_mode(text);
    if (!mode) return fail_value(Input::mode, "is not power or size");
    s.mode = *mode;
    const bool power = s.mode == Mode::power;
    const Input unused = power ? Input::power : Input::cases;
    if (cells_.given(unused)) {
      return fail_value(unused, power ? "is given in a power row, which finds the power for "
                                        "the cases given: leave it empty, or make the row a "
                                        "size row"
                                      : "is given in a size row, which finds the number of "
                                        "cases: leave it empty, or make the row a power row");
    }
    return power ? number(Input::cases, s.cases, "a power row needs the number of cases")
                 : number(Input::power, s.target_power, "a size row needs the target power");
  }

  bool exposure(Design& d) {
    const bool quantiles = cells_.given(Input::quantiles);
    const bool prevalences = cells_.given(Input::exposure_prevalences);
    if (quantiles == prevalences) {
      return fail(Input::quantiles,
                  quantiles ? values::quoted(cells_.text(Input::quantiles)) +
                                  " is given and so is exposure_prevalences: give one of the two"
                            : "is empty and so is exposure_prevalences: give the number of "
                              "quantiles or the prevalence of each exposure category");
    }
    if (quantiles) {
      const std::string_view text = cells_.text(Input::quantiles);
      const values::NumberReading k = values::read_whole_number(text, kMinCategories, kMaxCategories);
      if (!k.ok()) {
        const std::string hint = number_problem(text);
        return fail_value(Input::quantiles, hint.empty() ? k.problem : hint);
      }
      d.quantiles = static_cast<int>(k.value);
      return true;
    }
    // Items separated by ';', optionally followed by blanks, as the csv
    // output writes them ("0.2;0.3;0.5").
    const std::string_view text = cells_.text(Input::exposure_prevalences);
    constexpr std::size_t kMostItems = 1000;  // far above the 100 categories allowed
    std::size_t start = 0;
    for (;;) {
      const std::size_t semicolon = text.find(';', start);
      const std::string_view item = text.substr(
          start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start);
      if (item.empty()) {
        return fail_value(Input::exposure_prevalences,
                          "is not a list of numbers separated by ';': an item is empty");
      }
      std::string problem = number_problem(item);
      if (!problem.empty()) {
        if (item.find(',') != std::string_view::npos && problem.rfind("is not a number", 0) == 0) {
          problem = "is not a number: separate the prevalences with ';', as in 0.2;0.3;0.5";
        }
        // The item too, when the list has more than one.
        const std::string which = item.size() < text.size() ? values::quoted(item) + " " : "";
        return fail_value(Input::exposure_prevalences, which + problem);
      }
      if (d.exposure_prevalences.size() == kMostItems) {
        return fail_value(Input::exposure_prevalences,
                          "has more than 1000 items: give from 2 to 100 prevalences");
      }
      d.exposure_prevalences.push_back(values::read_number(item).value);
      if (semicolon == std::string_view::npos) return true;
      start = semicolon + 1;
      while (start < text.size() && text[start] == ' ') ++start;
    }
  }

  bool gene(Design& d) {
    const bool by_allele = cells_.given(Input::allele_frequency);
    if (!by_allele) {
      if (cells_.given(Input::genetic_model)) {
        return fail_value(Input::genetic_model,
                          "is given without allele_frequency: give both, or gene_prevalence");
      }
      return number(Input::gene_prevalence, d.gene_prevalence,
                    "give the carrier prevalence among controls, or allele_frequency with "
                    "genetic_model");
    }
    const std::string_view model_text = cells_.text(Input::genetic_model);
    if (model_text.empty()) {
      return fail(Input::genetic_model, "is empty: allele_frequency needs dominant or recessive");
    }
    const std::optional<GeneticModel> model = parse_genetic_model(model_text);
    if (!model) return fail_value(Input::genetic_model, "is not dominant or recessive");
    model_ = *model;
    double q = 0.0;
    if (!number(Input::allele_frequency, q)) return false;
    if (const std::optional<Error> e = check_allele_frequency(q)) {
      return fail_value(Input::allele_frequency, e->rule);
    }
    d.gene_prevalence = carrier_prevalence(q, *model);
    from_alleles_ = true;
    if (!cells_.given(Input::gene_prevalence)) return true;
    // Both, as in a row written from an allele frequency and read again: the
    // prevalence must be the one the frequency gives, to the last bit.
    double given = 0.0;
    if (!number(Input::gene_prevalence, given)) return false;
    if (given == d.gene_prevalence) return true;
    return fail_value(Input::gene_prevalence,
                      "is not the carrier prevalence " + values::format_number(d.gene_prevalence) +
                          " that allele_frequency " + std::string(cells_.text(Input::allele_frequency)) +
                          " gives (" + std::string(name(*model)) + "): give one of the two");
  }

  bool range(Input low, Input high, std::optional<Range>& range) {
    const bool has_low = cells_.given(low);
    if (has_low != cells_.given(high)) {
      const Input missing = has_low ? high : low;
      return fail(missing, "is empty while " + std::string(name_of(has_low ? low : high)) +
                               " is given: give both bounds of the range, or neither for the "
                               "one value of the conversion");
    }
    if (!has_low) return true;
    Range r;
    if (!number(low, r.low) || !number(high, r.high)) return false;
    range = r;
    return true;
  }

  bool search(Settings& settings) {
    const std::string_view text = cells_.text(Input::search);
    if (text.empty()) return true;
    const std::optional<SearchMethod> method = parse_search_method(text);
    if (!method) return fail_value(Input::search, "is not global or centre");
    settings.search = *method;
    return true;
  }

  // The planning library's own checks, reported against the cell they read.
  bool checked(const Scenario& s) {
    const std::optional<Error> e = check(s);
    if (!e) return true;
    if (from_alleles_ && e->input == name_of(Input::gene_prevalence)) {
      return fail_value(Input::allele_frequency,
                        "gives a carrier prevalence of " + e->value + " (" +
                            std::string(name(model_)) + "), which " + e->rule);
    }
    const auto known = std::find(kInputNames.begin(), kInputNames.end(), e->input);
    if (known == kInputNames.end()) {
      problem_ = RowProblem{std::string(), e->message()};
      return false;
    }
    const auto input = static_cast<Input>(known - kInputNames.begin());
    const std::string_view text = cells_.text(input);
    // A list is quoted whole, then the value the rule is about.
    if (input == Input::exposure_prevalences) return fail(input, values::quoted(text) + ": " + e->message());
    // An empty cell takes a default, and every default passes the checks.
    if (text.empty()) return fail(input, e->message());
    return fail_value(input, e->rule);
  }

  bool read_into(Scenario& s) {
    Design& d = s.design;
    return mode(s) && exposure(d) && gene(d) &&
           number(Input::controls_per_case, d.controls_per_case) &&
           number(Input::or_e, d.or_e) && number(Input::or_g, d.or_g) &&
           number(Input::ror, d.ror, "give ROR^tb under the alternative") &&
           range(Input::or_e_low, Input::or_e_high, s.ranges.or_e) &&
           range(Input::or_g_low, Input::or_g_high, s.ranges.or_g) &&
           number(Input::alpha, s.settings.alpha) && search(s.settings) && checked(s);
  }

  const Cells& cells_;
  RowProblem problem_;
  bool from_alleles_ = false;
  GeneticModel model_ = GeneticModel::dominant;
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
    const std::string_view text = cells.text(static_cast<Input>(i));
    if (!text.empty()) row.cells[i] = std::string(text);
  }
  return row;
}

}  // namespace gxe::plan
