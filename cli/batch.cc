#include "cli/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/csv_records.h"
#include "plan/ordered_work.h"
#include "plan/row_reader.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

// --- The rows -----------------------------------------------------------------------------

class BatchRun : public RecordSink {
 public:
  BatchRun(const BatchSettings& settings, const Calculator& calculate, std::ostream& out,
           std::ostream& err, BatchProgress* progress)
      : settings_(settings), calculate_(calculate), out_(out), err_(err), progress_(progress) {}

  void record(const Record& record) override {
    if (stopped_) return;
    if (!summary_.header_read) {
      header(record);
    } else {
      row(record);
    }
  }

  bool stopped() const { return stopped_; }
  BatchSummary& summary() { return summary_; }

  // Writes the rows still in flight.
  void finish_rows() { work_.finish_all(); }

  void finish() {
    if (!summary_.header_read || summary_.end == BatchSummary::End::output_failed) return;
    stream_->end();
    out_.flush();
    if (!out_) summary_.end = BatchSummary::End::output_failed;
  }

 private:
  void stop(BatchSummary::End end, std::string problem) {
    summary_.end = end;
    summary_.problem = std::move(problem);
    stopped_ = true;
  }

  void header(const Record& record) {
    const std::string where = "header (row " + std::to_string(record.row) + "): ";
    if (!record.malformed.empty()) {
      return stop(BatchSummary::End::unreadable, where + std::string(record.malformed));
    }
    plan::LayoutReading reading = plan::read_layout(record.fields);
    if (!reading.ok()) {
      // One column whose name holds another delimiter: the file was saved
      // with that one.
      if (record.fields.size() == 1) {
        for (const char other : {',', ';', '\t', '|'}) {
          if (other == settings_.delimiter ||
              record.fields[0].find(other) == std::string::npos) {
            continue;
          }
          const std::string name = other == '\t' ? "tab" : std::string(1, other);
          return stop(BatchSummary::End::unreadable,
                      where + "one column, " + values::quoted(record.fields[0]) +
                          ": the file seems to be separated by " + name +
                          " (give --delimiter '" + name + "')");
        }
      }
      return stop(BatchSummary::End::unreadable, where + reading.problem);
    }
    layout_ = std::move(reading.layout);
    // The row kept whole, when it cannot be read, after every other column.
    std::vector<std::string> names = layout_.carried_names;
    names.emplace_back(plan::kUnreadRowColumn);
    carried_.resize(names.size());
    stream_.emplace(settings_.format, out_, settings_.simulated, std::move(names));
    summary_.header_read = true;
    stream_->blank_rows(record.row - 1);
    stream_->begin();
    last_row_ = record.row;
  }

  // A row that cannot be calculated as it stands and is kept whole: its
  // text, and why, as the error names it after "row N" (": has a quote out
  // of place ...").
  struct Unread {
    std::string_view text;
    std::string reason;
  };

  std::optional<Unread> unread(const Record& record) const {
    constexpr std::string_view kKeptWhole = " (the row is kept whole in column unread_row)";
    if (!record.malformed.empty()) {
      return Unread{record.text, ": " + std::string(record.malformed) + std::string(kKeptWhole)};
    }
    if (record.fields.size() != layout_.width) {
      const plan::DesignReading reading = plan::read_design(layout_, record.fields);
      return Unread{record.text, ": " + reading.problem->message + std::string(kKeptWhole)};
    }
    const std::string_view kept = field(record, layout_.unread);
    if (kept.empty()) return std::nullopt;
    return Unread{kept, std::string(earlier_reason(field(record, layout_.error)))};
  }

  static std::string_view field(const Record& record, std::size_t at) {
    return at < record.fields.size() ? std::string_view(record.fields[at]) : std::string_view();
  }

  // Why a row kept whole by an earlier batch was not read: its error cell
  // without the row number it had then ("row 3: has a quote out of place"),
  // so that a file run again says the same; a reason of its own when the
  // cell does not say, or says it in more than one plain line (the message
  // goes to the error stream as one).
  static std::string_view earlier_reason(std::string_view error) {
    constexpr std::string_view kRow = "row ";
    const bool plain =
        std::all_of(error.begin(), error.end(), [](char c) { return c >= ' ' && c < 0x7f; });
    if (plain && error.starts_with(kRow)) {
      std::size_t at = kRow.size();
      while (at < error.size() && error[at] >= '0' && error[at] <= '9') ++at;
      if (at > kRow.size() && at + 1 < error.size() && (error[at] == ':' || error[at] == ',') &&
          error[at + 1] == ' ') {
        return error.substr(at);
      }
    }
    return ": is kept whole in column unread_row, as a row whose cells could not be read: put "
           "its cells in their columns and empty unread_row to calculate it";
  }

  // One row: what is read of it now, what is calculated of it on any
  // thread, what is written of it in its turn.
  struct RowJob {
    std::size_t number = 0;  // as a spreadsheet numbers it
    std::size_t blanks = 0;  // blank rows just before it
    std::string message;     // why it has no calculation, or no answer
    std::vector<std::string> fields;  // its cells, to be read (not when kept whole)
    plan::Row row;
    plan::Answer answer;
    std::vector<std::string> carried;  // the carried cells, then unread_row
  };

  void row(const Record& record) {
    auto job = std::make_shared<RowJob>();
    job->number = record.row;
    // Blank rows stay in a csv output, so that every row keeps the number
    // its error names when the output is run again.
    job->blanks = record.row - last_row_ - 1;
    last_row_ = record.row;
    const std::optional<Unread> kept = unread(record);
    if (kept) {
      job->row = plan::row_as_read(layout_, record.fields);
      job->message = "row " + std::to_string(record.row) + kept->reason;
    } else {
      job->fields.assign(record.fields.begin(), record.fields.end());
    }
    for (const std::size_t at : layout_.carried) job->carried.emplace_back(field(record, at));
    job->carried.emplace_back(kept ? kept->text : std::string_view());
    // The row is read and calculated on any thread (the layout no longer
    // changes), and written in its turn.
    work_.add([this, job] { calculate_row(*job); }, [this, job] { write_row(*job); });
  }

  // Reads the row's design and calculates it: its output row and, when it
  // has no answer, why.
  void calculate_row(RowJob& job) const {
    if (!job.message.empty()) return;  // kept whole
    const std::string where = "row " + std::to_string(job.number);
    plan::DesignReading reading = plan::read_design(layout_, job.fields);
    if (!reading.ok()) {
      job.row = plan::row_as_read(layout_, job.fields);
      const plan::RowProblem& p = *reading.problem;
      job.message = where + (p.column.empty() ? ": " : ", column " + p.column + ": ") + p.message;
      return;
    }
    job.answer = calculate_(reading.scenario, job.number);
    job.row = plan::make_row(reading.scenario, job.answer.outcome);
    if (!job.answer.outcome.ok()) job.message = where + ": " + job.answer.outcome.error->message();
  }

  // Writes a row in its turn, with its message on the error stream.
  void write_row(RowJob& job) {
    if (stopped_) return;
    stream_->blank_rows(job.blanks);
    ++summary_.rows;
    if (!job.message.empty()) {
      ++summary_.failed;
      job.row[plan::Column::error] = job.message;
      if (progress_ != nullptr) progress_->clear();
      err_ << "gxeplan: " << job.message << '\n';
    }
    for (std::size_t i = 0; i < job.carried.size(); ++i) carried_[i] = job.carried[i];
    const std::optional<plan::Simulation>& simulation = job.answer.simulation;
    stream_->write(job.row, simulation ? &*simulation : nullptr, carried_);
    if (settings_.flush_each_row) out_.flush();
    if (!out_) return stop(BatchSummary::End::output_failed, "");
    if (progress_ != nullptr) progress_->row_done(summary_.rows);
  }

  const BatchSettings& settings_;
  const Calculator& calculate_;
  std::ostream& out_;
  std::ostream& err_;
  BatchProgress* progress_;
  plan::Layout layout_;
  std::optional<RowStream> stream_;
  std::vector<std::string_view> carried_;
  std::size_t last_row_ = 0;  // the row number of the last record
  BatchSummary summary_;
  bool stopped_ = false;
  // Last: its destructor finishes the rows still in flight while the rest
  // is there.
  plan::OrderedWork work_{settings_.threads};
};

}  // namespace

BatchSummary run_batch(ByteSource& input, const BatchSettings& settings, const Calculator& calculate,
                       std::ostream& out, std::ostream& err, BatchProgress* progress) {
  BatchRun run(settings, calculate, out, err, progress);
  CsvRecords records(settings.delimiter);
  std::vector<char> buffer(1 << 16);
  while (!run.stopped()) {
    if (!input.ready()) run.finish_rows();
    const long n = input.read(buffer.data(), buffer.size());
    if (n < 0) {
      run.summary().end = BatchSummary::End::unreadable;
      run.summary().problem = std::string("cannot be read: ") + std::strerror(errno);
      break;
    }
    const bool read = n == 0 ? records.finish(run)
                             : records.feed(buffer.data(), static_cast<std::size_t>(n), run);
    if (!read && !run.stopped()) {
      run.summary().end = BatchSummary::End::unreadable;
      run.summary().problem = records.problem();
    }
    if (n == 0 || !read) break;
  }
  run.finish_rows();
  BatchSummary& summary = run.summary();
  if (summary.end == BatchSummary::End::done && !summary.header_read) {
    summary.end = BatchSummary::End::unreadable;
    summary.problem = "the file is empty: it needs a header row naming the columns, then one "
                      "row per calculation (gxeplan batch --help)";
  }
  run.finish();
  if (progress != nullptr) progress->clear();
  return summary;
}

}  // namespace gxe::cli
