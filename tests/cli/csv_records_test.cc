#include "cli/csv_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace gxe::cli {
namespace {

// The records as text: "row:[field][field]", a '!' after the row when the
// record is malformed, one record per line.
class Transcript : public RecordSink {
 public:
  void record(const Record& r) override {
    text += std::to_string(r.row) + (r.malformed.empty() ? ":" : "!:");
    for (const std::string& f : r.fields) text += "[" + f + "]";
    if (r.field_count != r.fields.size()) text += "+" + std::to_string(r.field_count);
    text += "\n";
  }
  std::string text;
};

struct Read {
  std::string records;
  bool whole = true;
  std::string problem;
};

// Reads `input` handed over in pieces of `piece` bytes.
Read read_in_pieces(const std::string& input, std::size_t piece, char delimiter = ',') {
  CsvRecords csv(delimiter);
  Transcript t;
  Read r;
  for (std::size_t at = 0; r.whole && at < input.size(); at += piece) {
    r.whole = csv.feed(input.data() + at, std::min(piece, input.size() - at), t);
  }
  if (r.whole) r.whole = csv.finish(t);
  r.records = t.text;
  r.problem = csv.problem();
  return r;
}

struct CsvCase {
  const char* name;
  std::string input;
  std::string records;
  bool whole = true;
};

const CsvCase kCases[] = {
    {"plain lines, the last without a line end", "a,b\nc,d", "1:[a][b]\n2:[c][d]\n"},
    {"CR LF and lone CR", "a,b\r\nc\rd\r\n", "1:[a][b]\n2:[c]\n3:[d]\n"},
    {"blank lines count as rows", "h\n\r\n\nx\n,,\ny\n", "1:[h]\n4:[x]\n6:[y]\n"},
    {"byte-order mark dropped", "\xEF\xBB\xBFmode,x\n", "1:[mode][x]\n"},
    {"quotes: delimiter, doubled quote, line breaks in one row",
     "\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"\nnext\n",
     "1:[a,b][say \"hi\"][two\r\nlines]\n2:[next]\n"},
    {"blanks are kept", " a , b \n", "1:[ a ][ b ]\n"},
    {"quote inside an unquoted field: the rest of the line skipped",
     "a,b\"c,d\r\ne,f\n", "1!:[a]\n2:[e][f]\n"},
    {"text after a closing quote", "x,\"a\"b,c\n\"d\"\n", "1!:[x]\n2:[d]\n"},
    {"quoted field never closed", "a\n\"b,c\nd\n", "1:[a]\n2!:\n", false},
    {"UTF-16 refused", std::string("\xFF\xFEm\0o\0", 6), "", false},
    {"empty input", "", ""},
    {"NUL bytes are data", std::string("a\0b,c\n", 6), std::string("1:[a\0b][c]\n", 11)},
};

TEST(CsvRecords, RowsAsASpreadsheetNumbersThemWhateverThePieces) {
  for (const CsvCase& c : kCases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{1000}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Read r = read_in_pieces(c.input, piece);
      EXPECT_EQ(r.records, c.records);
      EXPECT_EQ(r.whole, c.whole) << r.problem;
    }
  }
}

TEST(CsvRecords, SemicolonDelimiterLeavesCommasInFields) {
  EXPECT_EQ(read_in_pieces("a;0,3;\"x;y\"\n", 1000, ';').records, "1:[a][0,3][x;y]\n");
}

TEST(CsvRecords, LimitsKeepMemoryBounded) {
  // A field longer than the limit (an unclosed quote eating the file) stops
  // the reading.
  const std::string long_field = "h\n\"" + std::string(CsvRecords::kMaxFieldBytes + 10, 'x');
  const Read stopped = read_in_pieces(long_field, 1 << 16);
  EXPECT_FALSE(stopped.whole);
  EXPECT_EQ(stopped.problem.substr(0, 39), "row 2 has a field longer than 1 MiB: is");

  // Too many fields: the first kMaxFields are kept, all are counted.
  const Read wide =
      read_in_pieces("x" + std::string(CsvRecords::kMaxFields + 1, ',') + "\nnext\n", 4096);
  EXPECT_TRUE(wide.whole);
  EXPECT_NE(wide.records.find("+" + std::to_string(CsvRecords::kMaxFields + 2) + "\n2:[next]\n"),
            std::string::npos);

  // A record longer than its limit in all is passed on, malformed, and the
  // next one is read as usual.
  const std::string field(CsvRecords::kMaxFieldBytes - 1, 'y');
  std::string many;
  for (int i = 0; i < 5; ++i) many += field + ",";
  const Read tall = read_in_pieces(many + "\nnext\n", 1 << 16);
  EXPECT_TRUE(tall.whole);
  EXPECT_EQ(tall.records.substr(0, 3), "1!:");
  EXPECT_NE(tall.records.find("\n2:[next]\n"), std::string::npos);
}

}  // namespace
}  // namespace gxe::cli
