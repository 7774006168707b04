#ifndef GXE_PLAN_ROW_READER_H_
#define GXE_PLAN_ROW_READER_H_

// Calculations read back from rows of text, as a spreadsheet keeps them: a
// header naming the columns, then one calculation per row. The input columns
// are the ones make_row writes first (so a row written by one front end reads
// back as the same calculation), plus the gene given by its allele frequency.
// The result columns (the simulation check's too) are ignored, so an output
// can be edited and run again; any other column is carried through unread.
//
// Cells are read as the command line reads its options: numbers strictly
// (read_number), then into a Request of one value each, expanded as every
// front end expands one (the same rules and messages); an empty cell is an
// input not given, which takes its column's default.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plan/columns.h"
#include "plan/plan.h"
#include "plan/request.h"
#include "plan/row.h"

namespace gxe::plan {

// The column that keeps a row whole, as text, when its cells could not be
// read under the header (quotes out of place, more or fewer fields than the
// header): written by a batch, and read again as a row that still waits to
// be put right.
inline constexpr std::string_view kUnreadRowColumn = column_name(Column::unread_row);

// Where each input sits in a row, as the header says.
struct Layout {
  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
  std::array<std::size_t, kColumnTotal> field{};  // the field of each input, or kAbsent
  std::size_t unread = kAbsent;  // the column unread_row, or kAbsent
  std::size_t error = kAbsent;   // the column error (why a row kept whole was not read)
  // Fields that are not output columns, in the order of the header: the
  // allele frequency and genetic model, and any column of the user's own
  // (not unread_row).
  std::vector<std::size_t> carried;
  std::vector<std::string> carried_names;
  std::size_t width = 0;  // fields in the header
};

struct LayoutReading {
  Layout layout;
  std::string problem;  // empty when the header can be used
  bool ok() const { return problem.empty(); }
};

// The layout of a header. Refused: a name given twice; a name that differs
// from an input column's only in case, blanks, dashes or dots ("Cases",
// "gene-prevalence"), which would otherwise be carried through unread while
// its values went unused; a range as one column; and a header without the
// columns every row needs (mode, ror, cases or power, quantiles or
// exposure_prevalences, gene_prevalence or allele_frequency; ror may be left
// out when both cases and power are there, for detect rows).
LayoutReading read_layout(std::span<const std::string> names);

// Why a row has no calculation.
struct RowProblem {
  std::string column;   // the input at fault, or empty when no single one is
  std::string message;  // the value in quotes and the rule: "\"5OO\" is not a number"
};

struct DesignReading {
  Scenario scenario;
  std::optional<RowProblem> problem;
  bool ok() const { return !problem.has_value(); }
};

// The calculation a row asks for, or the first input that keeps it from
// being one. A row needs as many fields as the header; its mode (power,
// size or detect), the number of cases (power) or the target power (size)
// and not the other, or both and no ror (detect), one form of the exposure,
// one form of the gene (a gene_prevalence next to an allele_frequency must
// be the carrier prevalence it gives), and ror (power and size). A range needs both of its bounds, or neither.
DesignReading read_design(const Layout& layout, std::span<const std::string> fields);

// The row of a calculation whose inputs were refused: the input columns hold
// their text exactly as read, the results are empty.
Row row_as_read(const Layout& layout, std::span<const std::string> fields);

}  // namespace gxe::plan

#endif  // GXE_PLAN_ROW_READER_H_
