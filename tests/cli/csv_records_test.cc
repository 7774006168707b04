#include "cli/csv_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace gxe::cli {
namespace {

// The records as text, one per line: "row:[field][field]", or "row!{text}"
// for a record that could not be split into fields; and, apart, each
// record's text as it was in the file, between braces.
class Transcript : public RecordSink {
 public:
  void record(const Record& r) override {
    text += std::to_string(r.row) + (r.malformed.empty() ? ":" : "!");
    for (const std::string& f : r.fields) text += "[" + f + "]";
    if (!r.malformed.empty()) text += "{" + std::string(r.text) + "}";
    text += "\n";
    texts += "{" + std::string(r.text) + "}";
  }
  std::string text;
  std::string texts;
};

struct Read {
  std::string records;
  std::string texts;
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
  r.texts = t.texts;
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
    {"quote inside an unquoted field: the record ends with the line, kept whole",
     "a,b\"c,d\r\ne,f\n", "1!{a,b\"c,d}\n2:[e][f]\n"},
    {"text after a closing quote", "x,\"a\"b,c\n\"d\"\n", "1!{x,\"a\"b,c}\n2:[d]\n"},
    {"a quote out of place after a quoted line break",
     "\"a\nb\"c,d\ne\n", "1!{\"a\nb\"c,d}\n2:[e]\n"},
    {"a quote out of place in the last line, without a line end", "a\nb\"c", "1:[a]\n2!{b\"c}\n"},
    {"quoted field never closed", "a\n\"b,c\nd\n", "1:[a]\n2!{\"b,c\nd\n}\n", false},
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

TEST(CsvRecords, TextIsTheRecordAsWrittenWithoutItsLineEnd) {
  const std::string input = "a,\"b,\"\"c\"\"\"\r\n\"two\r\nlines\",x\rlast";
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
    EXPECT_EQ(read_in_pieces(input, piece).texts,
              "{a,\"b,\"\"c\"\"\"}{\"two\r\nlines\",x}{last}");
  }
}

TEST(CsvRecords, LimitsKeepMemoryBounded) {
  struct Case {
    const char* name;
    std::string input;
    std::string problem_start;
  };
  const std::size_t over = CsvRecords::kMaxRecordBytes + 10;
  const Case cases[] = {
      {"an unclosed quote eating the file", "h\n\"" + std::string(over, 'x'),
       "row 2 has a quoted field longer than 4 MiB: is a closing quote missing?"},
      {"one unquoted field", "h\n" + std::string(over, 'x'),
       "row 2 is longer than 4 MiB, too long to be a row of designs"},
      {"many fields", "h\n" + std::string(over, ','), "row 2 is longer than 4 MiB"},
      {"a line with a quote out of place", "h\na\"" + std::string(over, 'x'),
       "row 2 is longer than 4 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = read_in_pieces(c.input, 1 << 16);
    EXPECT_FALSE(r.whole);
    EXPECT_EQ(r.records, "1:[h]\n");
    EXPECT_EQ(r.problem.substr(0, c.problem_start.size()), c.problem_start);
  }

  // More fields than a spreadsheet has columns: kept whole as text, and the
  // next record is read as usual.
  const std::string wide = "x" + std::string(CsvRecords::kMaxFields + 1, ',') + "y";
  const Read r = read_in_pieces(wide + "\nnext\n", 4096);
  EXPECT_TRUE(r.whole);
  EXPECT_EQ(r.records, "1!{" + wide + "}\n2:[next]\n");
}

}  // namespace
}  // namespace gxe::cli
