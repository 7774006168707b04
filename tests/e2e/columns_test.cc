// The one table of columns against what the real binary writes and lists:
// the csv headers of power, size and curve rows (with and without the
// simulation check), and the input columns of `gxeplan batch --help`.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan/columns.h"
#include "tests/e2e/child_process.h"

namespace gxe::e2e {
namespace {

using plan::ColumnRole;

std::string header_of(const std::vector<std::string>& args) {
  const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  Finished run;
  EXPECT_TRUE(run_to_end(args, in.get(), run));
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out.substr(0, run.out.find("\r\n"));
}

// The names of the columns of the given roles, in table order, joined by
// commas: those before the simulation check's (`later` false) or those after.
std::string names_of(std::initializer_list<ColumnRole> roles, bool later = false) {
  std::string names;
  for (std::size_t i = 0; i < plan::kColumns.size(); ++i) {
    const plan::ColumnInfo& c = plan::kColumns[i];
    const std::size_t first_later = static_cast<std::size_t>(plan::Column::or_ge);
    if ((i >= first_later && i < first_later + plan::kAssociationColumnCount) != later) continue;
    for (const ColumnRole role : roles) {
      if (c.role == role) names += (names.empty() ? "" : ",") + std::string(c.name);
    }
  }
  return names;
}

TEST(Columns, CsvHeadersAreTheTablesColumns) {
  // The inputs and results, the simulation check's columns when there are
  // any, then the columns added after it.
  const std::string first = names_of({ColumnRole::input, ColumnRole::result});
  const std::string after = names_of({ColumnRole::input, ColumnRole::result}, true);
  const std::string row = first + "," + after;
  const std::string simulated = first + "," + names_of({ColumnRole::simulation}) + "," + after;
  const std::vector<std::string> design = {"--quantiles", "4", "--gene-prevalence", "0.3",
                                           "--format", "csv"};
  const struct {
    std::vector<std::string> args;
    std::string header;
  } cases[] = {
      {{"power", "--cases", "500", "--ror", "2"}, row},
      {{"size", "--power", "0.8", "--ror", "2"}, row},
      {{"power", "--cases", "500", "--ror", "2", "--simulate", "20"}, simulated},
      {{"curve", "--over", "cases", "--from", "100", "--to", "200", "--points", "2", "--ror", "2"},
       names_of({ColumnRole::curve}) + "," + row},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), design.begin(), design.end());
    EXPECT_EQ(header_of(args), c.header) << args[0];
  }
}

TEST(Columns, BatchHelpListsEveryInputColumn) {
  const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  Finished run;
  ASSERT_TRUE(run_to_end({"batch", "--help"}, in.get(), run));
  for (const plan::ColumnInfo& c : plan::kColumns) {
    if (c.role != ColumnRole::input && c.role != ColumnRole::alias) continue;
    // Each at the start of a line, the upper end of a range after its lower end.
    const std::string name(c.name);
    const std::string listed = name.ends_with("_high") ? ", " + name + " "
                               : name.ends_with("_low") ? "\n  " + name + ","
                                                        : "\n  " + name + " ";
    EXPECT_NE(run.out.find(listed), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace gxe::e2e
