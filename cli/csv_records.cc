#include "cli/csv_records.h"

#include <csv.h>

#include <algorithm>
#include <cstdlib>

namespace gxe::cli {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kGrowth = 4096;        // bytes a field's buffer grows by
constexpr std::size_t kKeptCapacity = 4096;  // a buffer larger than this is freed after its record

// Blanks are data: a field is kept exactly as written, so a number with
// blanks around it is refused rather than trimmed, and a carried note is
// written back unchanged.
int no_blanks(unsigned char) { return 0; }

// libcsv's buffer for the field being read. A field lies inside its record,
// whose length is checked before its bytes are parsed, so only a failed
// allocation can stop the parser (CSV_ENOMEM); the bound is a second guard.
void* limited_realloc(void* buffer, std::size_t size) {
  if (size > CsvRecords::kMaxRecordBytes + 2 * kGrowth) return nullptr;
  return std::realloc(buffer, size);
}

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

void release_if_large(std::string& s) {
  if (s.capacity() > kKeptCapacity) std::string().swap(s);
}

constexpr std::string_view kQuoteOutOfPlace =
    "has a quote out of place (inside a field not in quotes, or text after a closing quote): put "
    "the whole field in quotes and double each quote in it";
constexpr std::string_view kTooManyFields =
    "has more than 16384 fields, more than a spreadsheet has columns";

}  // namespace

CsvRecords::CsvRecords(char delimiter) : delimiter_(delimiter) { start_parser(); }

CsvRecords::~CsvRecords() {
  csv_free(parser_);
  delete parser_;
}

void CsvRecords::start_parser() {
  if (parser_ != nullptr) {
    csv_free(parser_);
  } else {
    parser_ = new csv_parser;
  }
  // Strict: a quote inside an unquoted field, text after a closing quote and
  // an unclosed quote at the end are errors, not guesses. Every unquoted line
  // end is reported, so that blank lines count as rows.
  csv_init(parser_, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL);
  csv_set_delim(parser_, static_cast<unsigned char>(delimiter_));
  csv_set_space_func(parser_, no_blanks);
  csv_set_realloc_func(parser_, limited_realloc);
  csv_set_blk_size(parser_, kGrowth);
}

void CsvRecords::on_field(void* text, std::size_t size, void* self_pointer) {
  auto& self = *static_cast<CsvRecords*>(self_pointer);
  self.field_bytes_ += size;
  if (self.count_ < kMaxFields) {
    if (self.count_ == self.fields_.size()) self.fields_.emplace_back();
    self.fields_[self.count_].assign(static_cast<const char*>(text), size);
  }
  ++self.count_;
}

void CsvRecords::on_record_end(int terminator, void* self_pointer) {
  auto& self = *static_cast<CsvRecords*>(self_pointer);
  // The LF of a CR LF: the CR already ended the line.
  if (terminator == '\n' && self.last_terminator_ == '\r' && self.count_ == 0) {
    self.last_terminator_ = '\n';
    self.text_.clear();
    return;
  }
  self.last_terminator_ = terminator;
  // The line end is the last byte of the text (the bytes are parsed one
  // line at a time); the end of the input (-1) has none.
  if (terminator != -1 && !self.text_.empty()) self.text_.pop_back();
  self.end_record({});
}

void CsvRecords::end_record(std::string_view malformed) {
  ++row_;
  if (field_bytes_ > 0 || !malformed.empty()) {
    if (malformed.empty() && count_ > kMaxFields) malformed = kTooManyFields;
    const std::span<const std::string> fields =
        malformed.empty() ? std::span<const std::string>(fields_.data(), count_)
                          : std::span<const std::string>();
    sink_->record({row_, fields, text_, malformed});
  }
  for (std::size_t i = 0; i < std::min(count_, fields_.size()); ++i) release_if_large(fields_[i]);
  count_ = 0;
  field_bytes_ = 0;
  text_.clear();
  release_if_large(text_);
}

// One line's bytes, its line end (if any) the last of them. libcsv reports
// a record's end as soon as it reads the line end, so the record's text is
// exactly the bytes kept since the previous record ended.
bool CsvRecords::parse_line(const char* data, std::size_t size) {
  const bool ends_line = is_line_end(data[size - 1]);
  const std::size_t body = size - (ends_line ? 1 : 0);
  if (text_.size() + body > kMaxRecordBytes) {
    const bool in_quotes = !skipping_line_ && parser_->quoted != 0;
    problem_ = "row " + std::to_string(row_ + 1) +
               (in_quotes ? " has a quoted field longer than 4 MiB: is a closing quote missing? The"
                          : " is longer than 4 MiB, too long to be a row of designs: the") +
               " file was not read beyond it";
    return false;
  }
  text_.append(data, size);
  if (!skipping_line_) {
    csv_parse(parser_, data, size, on_field, on_record_end, this);
    switch (csv_error(parser_)) {
      case CSV_SUCCESS:
        return true;
      case CSV_EPARSE:
        // The record ends with its line: its fields are not guessed at, and
        // its text is passed on whole.
        skipping_line_ = true;
        break;
      default:
        problem_ = "row " + std::to_string(row_ + 1) +
                   " cannot be read: there is not enough memory. The file was not read beyond it";
        return false;
    }
  }
  if (ends_line) {
    last_terminator_ = data[size - 1];
    text_.pop_back();
    end_record(kQuoteOutOfPlace);
    skipping_line_ = false;
    start_parser();
  }
  return true;
}

bool CsvRecords::parse(const char* data, std::size_t size) {
  while (size > 0) {
    const char* end = std::find_if(data, data + size, is_line_end);
    const std::size_t line = end == data + size ? size : static_cast<std::size_t>(end - data) + 1;
    if (!parse_line(data, line)) return false;
    data += line;
    size -= line;
  }
  return true;
}

bool CsvRecords::feed(const char* data, std::size_t size, RecordSink& sink) {
  sink_ = &sink;
  if (!head_done_) {
    const std::size_t take = std::min(size, kByteOrderMark.size() - head_.size());
    head_.append(data, take);
    data += take;
    size -= take;
    if (head_.size() < kByteOrderMark.size()) return true;
    head_done_ = true;
    if (head_.starts_with("\xFF\xFE") || head_.starts_with("\xFE\xFF")) {
      problem_ = "the file is UTF-16 text: save it as CSV in UTF-8";
      return false;
    }
    if (head_ != kByteOrderMark && !parse(head_.data(), head_.size())) return false;
  }
  return parse(data, size);
}

bool CsvRecords::finish(RecordSink& sink) {
  sink_ = &sink;
  if (!head_done_) {
    head_done_ = true;
    if (!parse(head_.data(), head_.size())) return false;
  }
  if (skipping_line_) {
    skipping_line_ = false;
    end_record(kQuoteOutOfPlace);
    return true;
  }
  if (csv_fini(parser_, on_field, on_record_end, this) != 0) {
    const std::size_t start = row_ + 1;
    end_record("has a quoted field that is not closed by the end of the file");
    problem_ = "the file ends inside a quoted field that starts in row " + std::to_string(start) +
               ": is a closing quote missing? The rows after it could not be read";
    return false;
  }
  return true;
}

}  // namespace gxe::cli
