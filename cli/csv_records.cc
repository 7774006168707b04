#include "cli/csv_records.h"

#include <csv.h>

#include <algorithm>
#include <cstdlib>

namespace gxe::cli {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kGrowth = 4096;       // bytes a field's buffer grows by
constexpr std::size_t kKeptCapacity = 4096;  // a field buffer larger than this is freed

// Blanks are data: a field is kept exactly as written, so a number with
// blanks around it is refused rather than trimmed, and a carried note is
// written back unchanged.
int no_blanks(unsigned char) { return 0; }

// libcsv's buffer for the field being read; refusing to grow it beyond
// kMaxFieldBytes makes the parser stop with CSV_ENOMEM.
void* limited_realloc(void* buffer, std::size_t size) {
  if (size > CsvRecords::kMaxFieldBytes) return nullptr;
  return std::realloc(buffer, size);
}

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
  self.record_bytes_ += size;
  if (self.count_ < kMaxFields) {
    if (self.count_ == self.fields_.size()) self.fields_.emplace_back();
    std::string& field = self.fields_[self.count_];
    if (size > 0 && self.record_bytes_ <= kMaxRecordBytes) {
      field.assign(static_cast<const char*>(text), size);
    } else {
      field.clear();
    }
  }
  ++self.count_;
}

void CsvRecords::on_record_end(int terminator, void* self_pointer) {
  auto& self = *static_cast<CsvRecords*>(self_pointer);
  // The LF of a CR LF: the CR already ended the line.
  if (terminator == '\n' && self.last_terminator_ == '\r' && self.count_ == 0) {
    self.last_terminator_ = '\n';
    return;
  }
  self.last_terminator_ = terminator;
  self.end_record({});
}

void CsvRecords::end_record(std::string_view malformed) {
  ++row_;
  if (record_bytes_ > 0 || !malformed.empty()) {
    if (malformed.empty() && record_bytes_ > kMaxRecordBytes) {
      malformed = "is longer than 4 MiB, too long to be a row of a design";
    }
    const std::size_t kept = std::min(count_, kMaxFields);
    sink_->record({row_, std::span<const std::string>(fields_.data(), kept), count_, malformed});
  }
  for (std::size_t i = 0; i < std::min(count_, fields_.size()); ++i) {
    if (fields_[i].capacity() > kKeptCapacity) std::string().swap(fields_[i]);
  }
  count_ = 0;
  record_bytes_ = 0;
}

bool CsvRecords::parse(const char* data, std::size_t size) {
  while (size > 0) {
    if (skipping_line_) {
      const char* end = std::find_if(data, data + size, [](char c) { return c == '\n' || c == '\r'; });
      if (end == data + size) return true;
      last_terminator_ = *end;
      skipping_line_ = false;
      start_parser();
      size -= static_cast<std::size_t>(end + 1 - data);
      data = end + 1;
      continue;
    }
    const std::size_t done = csv_parse(parser_, data, size, on_field, on_record_end, this);
    if (done >= size) return true;
    if (csv_error(parser_) == CSV_EPARSE) {
      // Resume at the next line: the record's fields so far go out with the
      // reason, and the rest of its line is not guessed at.
      end_record("has a quote out of place (inside a field not in quotes, or text after a "
                 "closing quote): put the whole field in quotes and double each quote in it; "
                 "the rest of the line was skipped");
      skipping_line_ = true;
      data += done;
      size -= done;
      continue;
    }
    problem_ = "row " + std::to_string(row_ + 1) +
               " has a field longer than 1 MiB: is a closing quote missing? The file was not "
               "read beyond it";
    return false;
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
  if (skipping_line_) return true;
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
