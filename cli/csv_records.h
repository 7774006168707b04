#ifndef GXE_CLI_CSV_RECORDS_H_
#define GXE_CLI_CSV_RECORDS_H_

// The records of a CSV file, read with libcsv as the bytes arrive, so that
// a file of any length is read in bounded memory.
//
// RFC 4180 with what spreadsheets add: fields in double quotes may hold the
// delimiter, line breaks and doubled quotes; lines end in LF, CR LF or CR; a
// UTF-8 byte-order mark at the start is dropped; fields are kept exactly,
// blanks included. Each record carries the number a spreadsheet shows for
// its row: every line outside quotes counts, blank ones too, and a record
// whose quoted field holds line breaks is one row. Blank records (no field,
// or only empty ones) are counted but not passed on.
//
// Each record also carries its text exactly as it was in the file, so that a
// record that cannot be split into fields (a quote out of place) is still
// there, whole, for whoever reads it.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct csv_parser;

namespace gxe::cli {

struct Record {
  std::size_t row = 0;  // 1 for the first line of the file
  // The fields, when the record could be split into them; none when it is
  // malformed.
  std::span<const std::string> fields;
  // The record's bytes as they were in the file, quotes and delimiters
  // included, without its line end.
  std::string_view text;
  // Empty, or why the record could not be split into fields: quotes out of
  // place (the record then ends at the end of that line), or more fields
  // than any spreadsheet has.
  std::string_view malformed;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void record(const Record& record) = 0;
};

class CsvRecords {
 public:
  static constexpr std::size_t kMaxFields = 16384;         // a spreadsheet's column limit
  static constexpr std::size_t kMaxRecordBytes = 4 << 20;  // 4 MiB in one record

  explicit CsvRecords(char delimiter);
  ~CsvRecords();
  CsvRecords(const CsvRecords&) = delete;
  CsvRecords& operator=(const CsvRecords&) = delete;

  // Reads the next `size` bytes, passing each record they complete to
  // `sink`. False, with `problem()` saying why, when the rest of the input
  // cannot be read: a record longer than kMaxRecordBytes (a closing quote
  // missing, or not a file of designs) or a file in UTF-16.
  bool feed(const char* data, std::size_t size, RecordSink& sink);
  // The end of the input: the last record, if it has no line end. False when
  // the input ends inside a quoted field.
  bool finish(RecordSink& sink);

  const std::string& problem() const { return problem_; }
  // Rows seen so far, blank ones included.
  std::size_t rows() const { return row_; }

 private:
  static void on_field(void* text, std::size_t size, void* self);
  static void on_record_end(int terminator, void* self);
  void start_parser();
  bool parse(const char* data, std::size_t size);
  bool parse_line(const char* data, std::size_t size);
  void end_record(std::string_view malformed);

  char delimiter_;
  csv_parser* parser_ = nullptr;
  RecordSink* sink_ = nullptr;
  std::string head_;            // the first bytes, until the byte-order mark is known
  bool head_done_ = false;
  bool skipping_line_ = false;  // after quotes out of place, up to the line end
  int last_terminator_ = 0;     // of the previous record: CR LF is one line end
  std::size_t row_ = 0;
  std::vector<std::string> fields_;
  std::size_t count_ = 0;         // fields of the current record
  std::size_t field_bytes_ = 0;   // their length
  std::string text_;              // the current record's bytes so far, its line end included
  std::string problem_;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_CSV_RECORDS_H_
