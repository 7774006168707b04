#include "plan/columns.h"

#include <algorithm>

#include "plan/report.h"

namespace gxe::plan {
namespace {

// The enumeration and the table must list the columns in the same order:
// a column out of place shifts every name after it.
static_assert(column_name(Column::mode) == "mode");
static_assert(column_name(Column::search) == "search");
static_assert(column_name(Column::error) == "error");
static_assert(column_name(Column::sim_replicates) == "sim_replicates");
static_assert(column_name(Column::sim_unreliable_max) == "sim_unreliable_max");
static_assert(column_name(Column::or_ge) == "or_ge");
static_assert(column_name(Column::gene_prevalence_at_max) == "gene_prevalence_at_max");
static_assert(column_name(Column::allele_frequency) == "allele_frequency");
static_assert(column_name(Column::over) == "over");
static_assert(column_name(Column::unread_row) == "unread_row");

constexpr std::size_t kHelpWidth = 76;   // the longest line of a help list
constexpr std::size_t kNameWidth = 22;   // the name's column, after two blanks

constexpr std::string_view kLowEnd = "_low";
constexpr std::string_view kHighEnd = "_high";

}  // namespace

std::optional<Column> find_column(std::string_view name) {
  const auto at = std::find_if(kColumns.begin(), kColumns.end(),
                               [&](const ColumnInfo& c) { return c.name == name; });
  if (at == kColumns.end()) return std::nullopt;
  return static_cast<Column>(at - kColumns.begin());
}

std::string option_name(Column c) {
  std::string_view name = column_name(c);
  std::string option = "--";
  bool range = false;
  for (const std::string_view end : {kLowEnd, kHighEnd}) {
    const ColumnRole role = column(c).role;
    if (name.ends_with(end) && (role == ColumnRole::input || role == ColumnRole::alias)) {
      name.remove_suffix(end.size());
      range = true;
    }
  }
  for (const char ch : name) option += ch == '_' ? '-' : ch;
  return range ? option + "-range" : option;
}

std::string choice_rule(std::span<const std::string_view> choices) {
  std::string rule = "is not one of ";
  for (const std::string_view choice : choices) {
    if (choice.empty()) break;
    if (rule.back() != ' ') rule += ", ";
    rule += choice;
  }
  return rule;
}

std::string choice_rule(Column c) { return choice_rule(column(c).choices); }

bool is_choice(Column c, std::string_view text) {
  const auto& choices = column(c).choices;
  return !text.empty() && std::find(choices.begin(), choices.end(), text) != choices.end();
}

namespace {

// One input's line of the help list.
std::string help_line(const ColumnInfo& c) {
  std::string name(c.name);
  if (name.ends_with(kHighEnd)) return {};  // listed with its low end
  if (name.ends_with(kLowEnd)) {
    name += ", " + name.substr(0, name.size() - kLowEnd.size()) + std::string(kHighEnd);
  }
  std::string help(c.help);
  if (!c.default_text.empty()) help += ", default " + std::string(c.default_text);
  return hanging("  " + name + " ", kNameWidth + 2, help, kHelpWidth);
}

}  // namespace

std::string input_column_help() {
  std::string out;
  for (std::size_t i = 0; i < kInputColumns; ++i) {
    out += help_line(kColumns[i]);
    if (static_cast<Column>(i) != Column::gene_prevalence) continue;
    for (const ColumnInfo& c : kColumns) {
      if (c.role == ColumnRole::alias) out += help_line(c);
    }
  }
  for (std::size_t i = 0; i < kAssociationColumnCount; ++i) {
    const ColumnInfo& c = column(association_column(i));
    if (c.role == ColumnRole::input) out += help_line(c);
  }
  return out;
}

}  // namespace gxe::plan
