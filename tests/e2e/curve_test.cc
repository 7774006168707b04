// gxeplan curve end to end: the real binary's points against single power
// and size calculations, the shape of the power curves, and the figure files
// (whole, of their kind, and no file at all when one cannot be written).

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <utility>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/temp_folder.h"
#include "tests/e2e/expected_files.h"

namespace gxe::e2e {
namespace {

namespace fs = std::filesystem;

::testing::AssertionResult run_gxeplan(const std::vector<std::string>& args, Finished& result) {
  const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  return run_to_end(args, in.get(), result);
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The csv's data rows as fields (no field of these rows holds a comma).
std::vector<std::vector<std::string>> csv_rows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::size_t start = csv.find("\r\n");  // past the header
  while (start != std::string::npos && start + 2 < csv.size()) {
    start += 2;
    const std::size_t end = csv.find("\r\n", start);
    const std::string line = csv.substr(start, end - start);
    std::vector<std::string> fields;
    for (std::size_t a = 0, b; a <= line.size(); a = b + 1) {
      b = line.find(',', a);
      if (b == std::string::npos) b = line.size();
      fields.push_back(line.substr(a, b - a));
    }
    rows.push_back(fields);
    start = end;
  }
  return rows;
}

const std::vector<std::string> kDesign = {
    "--quantiles", "4",     "--gene-prevalence", "0.3",     "--or-e",        "2",
    "--or-g",      "1.5",   "--or-e-range",      "1.5:2.5", "--or-g-range",  "1:2",
    "--format",    "csv"};

// Columns of a curve's csv: over, x, curve, then those of a single run.
constexpr std::size_t kLeading = 3;
constexpr std::size_t kPowerMin = kLeading + 19;
constexpr std::size_t kPowerMax = kLeading + 23;

// A point of a curve is the calculation gxeplan power or size makes at the
// same values, to the last digit of every column, the simulation check's
// included (the same seed draws the same studies).
TEST(CurveEndToEnd, PointsAreSingleCalculations) {
  struct Case {
    std::vector<std::string> curve;  // after "curve"
    std::string command;             // the single calculation
    std::string axis_option;         // gets x
    std::string series_option;       // gets the curve's value
    std::vector<std::string> both;   // options of both
  } const cases[] = {
      {{"--over", "cases", "--from", "100", "--to", "2000", "--points", "4", "--ror", "1.5,2.5"},
       "power", "--cases", "--ror", {}},
      {{"--over", "ror", "--from", "1.2", "--to", "3", "--points", "4", "--cases", "300,900"},
       "power", "--ror", "--cases", {}},
      {{"--over", "ror", "--from", "1.2", "--to", "3", "--points", "4", "--power", "0.8,0.95"},
       "size", "--ror", "--power", {}},
      {{"--over", "ror", "--from", "1.2", "--to", "3", "--points", "4", "--cases", "300,900"},
       "power", "--ror", "--cases", {"--simulate", "200", "--seed", "7", "--threads", "2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.curve[1] + " " + c.command + (c.both.empty() ? "" : " simulated"));
    Finished curve;
    ASSERT_TRUE(run_gxeplan(concat(concat(concat({"curve"}, c.curve), kDesign), c.both), curve));
    ASSERT_EQ(curve.status, 0) << curve.err;
    const auto rows = csv_rows(curve.out);
    ASSERT_EQ(rows.size(), 8u);
    for (const std::size_t i : {0u, 2u, 5u, 7u}) {
      Finished single;
      ASSERT_TRUE(run_gxeplan(
          concat(concat({c.command, c.axis_option, rows[i][1], c.series_option, rows[i][2]},
                        kDesign),
                 c.both),
          single));
      ASSERT_EQ(single.status, 0) << single.err;
      const auto single_rows = csv_rows(single.out);
      ASSERT_EQ(single_rows.size(), 1u);
      const std::vector<std::string> tail(rows[i].begin() + kLeading, rows[i].end());
      EXPECT_EQ(tail, single_rows[0]) << "row " << i;
    }
  }
}

// The least favourable power never exceeds the most favourable one, and
// both grow with the number of cases.
TEST(CurveEndToEnd, PowerBandOrderedAndGrowingWithCases) {
  Finished curve;
  ASSERT_TRUE(run_gxeplan(concat({"curve", "--over", "cases", "--from", "50", "--to", "5000", "--points",
                          "30", "--ror", "1.3,2"},
                         kDesign),
                  curve));
  ASSERT_EQ(curve.status, 0) << curve.err;
  const auto rows = csv_rows(curve.out);
  ASSERT_EQ(rows.size(), 60u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double low = std::stod(rows[i][kPowerMin]);
    const double high = std::stod(rows[i][kPowerMax]);
    EXPECT_LE(low, high) << "row " << i;
    if (i % 30 != 0) {
      EXPECT_GT(low, std::stod(rows[i - 1][kPowerMin])) << "row " << i;
      EXPECT_GT(high, std::stod(rows[i - 1][kPowerMax])) << "row " << i;
    }
  }
}

// Whether `text` is well-formed XML as far as its markup goes: one root
// element, every start tag closed in order, attribute values quoted,
// comments, processing instructions and CDATA sections closed.
bool well_formed_xml(const std::string& text, std::string& root) {
  // Markup that is not an element, by its opening and closing marks.
  const std::pair<std::string, std::string> others[] = {
      {"<!--", "-->"}, {"<?", "?>"}, {"<![CDATA[", "]]>"}, {"<!", ">"}};
  std::vector<std::string> open;
  std::size_t i = 0;
  while ((i = text.find('<', i)) != std::string::npos) {
    const auto other = std::find_if(std::begin(others), std::end(others), [&](const auto& o) {
      return text.compare(i, o.first.size(), o.first) == 0;
    });
    if (other != std::end(others)) {
      const std::size_t close = text.find(other->second, i + other->first.size());
      if (close == std::string::npos) return false;
      i = close + other->second.size();
      continue;
    }
    std::size_t j = i + 1;
    for (char quote = 0; j < text.size(); ++j) {
      const char c = text[j];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      } else if (c == '<') {
        return false;
      }
    }
    if (j == text.size()) return false;
    const std::string tag = text.substr(i + 1, j - i - 1);
    const bool closing = !tag.empty() && tag[0] == '/';
    const std::size_t name_start = closing ? 1 : 0;
    const std::size_t name_end = std::min(tag.size(), tag.find_first_of(" \t\r\n/", 1));
    const std::string name = tag.substr(name_start, name_end - std::min(name_end, name_start));
    if (name.empty()) return false;
    if (closing) {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    } else {
      if (open.empty() && !root.empty()) return false;  // a second root
      if (root.empty()) root = name;
      if (tag.back() != '/') open.push_back(name);
    }
    i = j + 1;
  }
  return !root.empty() && open.empty();
}

// Width and height from a PNG's header chunk, which follows the signature.
std::pair<unsigned, unsigned> png_size(const std::string& bytes) {
  const auto be32 = [&](std::size_t at) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(bytes[at + k]);
    return v;
  };
  if (bytes.size() < 24 || bytes.compare(12, 4, "IHDR") != 0) return {0, 0};
  return {be32(16), be32(20)};
}


// Each kind of figure is a whole file of its kind; standard output carries
// the same numbers with or without the figure, and nothing else is left in
// the folder.
TEST(CurveEndToEnd, FiguresAreWholeFilesAndLeaveOutputClean) {
  TempFolder dir;
  ASSERT_FALSE(dir.path().empty());
  struct Case {
    std::vector<std::string> curve;
    std::string file;
    std::vector<std::string> figure_only;  // options that go with --plot
    int status;
  } const cases[] = {
      {{"--over", "cases", "--from", "100", "--to", "3000", "--ror", "1.5,2,2.5"},
       "cases.svg", {"--target", "0.8"}, 0},
      {{"--over", "ror", "--from", "1.2", "--to", "4", "--cases", "250,500,1000"}, "ror.png", {},
       0},
      // Through ROR^tb = 1, where no size exists: the curve breaks there.
      {{"--over", "ror", "--from", "0.5", "--to", "4", "--points", "7", "--power", "0.8,0.9"},
       "size.PDF", {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<std::string> args = concat(concat({"curve"}, c.curve), kDesign);
    Finished plain;
    ASSERT_TRUE(run_gxeplan(args, plain));
    Finished drawn;
    const std::string file = (dir.path() / c.file).string();
    ASSERT_TRUE(run_gxeplan(concat(concat(args, {"--plot", file}), c.figure_only), drawn));
    EXPECT_EQ(drawn.status, c.status) << drawn.err;
    EXPECT_EQ(drawn.out, plain.out);
    EXPECT_EQ(drawn.err, plain.err);

    const std::string bytes = read_file(file);
    EXPECT_GT(bytes.size(), 5000u);
    const std::string kind = fs::path(c.file).extension();
    if (kind == ".svg") {
      std::string root;
      EXPECT_TRUE(well_formed_xml(bytes, root));
      EXPECT_EQ(root, "svg");
    } else if (kind == ".png") {
      EXPECT_EQ(bytes.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
      EXPECT_EQ(png_size(bytes), (std::pair<unsigned, unsigned>{1200, 900}));
    } else {
      EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
      EXPECT_NE(bytes.find("%%EOF", bytes.size() - 32), std::string::npos);
    }
  }
  auto names = dir.names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"cases.svg", "ror.png", "size.PDF"}));
}

// A figure that cannot be written is found before any calculation: status
// 4, one line saying why, nothing on standard output and no file.
TEST(CurveEndToEnd, UnwritableFigureIsReportedAndNothingWritten) {
  TempFolder dir;
  ASSERT_FALSE(dir.path().empty());
  fs::create_directory(dir.path() / "taken.svg");
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {(dir.path() / "missing" / "f.svg").string(),
       "cannot write \"" + (dir.path() / "missing" / "f.svg").string() + "\": the folder \"" +
           (dir.path() / "missing").string() + "\" does not exist"},
      {(dir.path() / "taken.svg").string(),
       "cannot write \"" + (dir.path() / "taken.svg").string() + "\": it is a folder"},
  };
  for (const auto& c : cases) {
    Finished r;
    ASSERT_TRUE(run_gxeplan(concat({"curve", "--over", "ror", "--from", "1.5", "--to", "3", "--cases",
                            "500", "--plot", c.file},
                           kDesign),
                    r));
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "gxeplan: --plot: " + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"taken.svg"});
}

}  // namespace
}  // namespace gxe::e2e
