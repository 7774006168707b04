#ifndef GXE_CLI_CSV_RECORDS_H_
#define GXE_CLI_CSV_RECORDS_H_

// The records of a CSV file, read with libcsv as the bytes arrive, so that
// a file of any length is read in constant memory.
//
// RFC 4180 with what spreadsheets add: fields in double quotes may hold the
// delimiter, line breaks and doubled quotes; lines end in LF, CR LF or CR; a
// UTF-8 byte-order mark at the start is dropped; fields are kept exactly,
// blanks included. Each record carries the number a spreadsheet shows for
// its row: every line outside quotes counts, blank ones too, and a record
// whose quoted field holds line breaks is one row. Blank records (no field,
// or only empty ones) are counted but not passed on.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct csv_parser;

namespace gxe::cli {

struct Record {
  std::size_t row = 0;  // 1 for the first line of the file
  // The fields read; at most kMaxFields, each empty once the record is
  // longer than kMaxRecordBytes.
  std::span<const std::string> fields;
  std::size_t field_count = 0;  // fields in the record, kept or not
  // Empty, or why the record was not read whole: quotes out of place (the
  // rest of its line is skipped) or a record too long to be a design.
  std::string_view malformed;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void record(const Record& record) = 0;
};

class CsvRecords {
 public:
  static constexpr std::size_t kMaxFields = 16384;           // a spreadsheet's column limit
  static constexpr std::size_t kMaxRecordBytes = 4 << 20;    // 4 MiB of fields in one record
  static constexpr std::size_t kMaxFieldBytes = 1 << 20;     // 1 MiB in one field

  explicit CsvRecords(char delimiter);
  ~CsvRecords();
  CsvRecords(const CsvRecords&) = delete;
  CsvRecords& operator=(const CsvRecords&) = delete;

  // Reads the next `size` bytes, passing each record they complete to
  // `sink`. False, with `problem()` saying why, when the rest of the input
  // cannot be read: a field longer than kMaxFieldBytes (a closing quote
  // missing?) or a file in UTF-16.
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
  void end_record(std::string_view malformed);

  char delimiter_;
  csv_parser* parser_ = nullptr;
  RecordSink* sink_ = nullptr;
  std::string head_;           // the first bytes, until the byte-order mark is known
  bool head_done_ = false;
  bool skipping_line_ = false;  // after quotes out of place, up to the line end
  int last_terminator_ = 0;    // of the previous record: CR LF is one line end
  std::size_t row_ = 0;
  std::vector<std::string> fields_;
  std::size_t count_ = 0;         // fields of the current record
  std::size_t record_bytes_ = 0;  // their length
  std::string problem_;
};

}  // namespace gxe::cli

#endif  // GXE_CLI_CSV_RECORDS_H_
