#include "cli/batch.h"

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/csv_records.h"
#include "cli/design_options.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/simulation.h"
#include "cli/whole_file.h"
#include "values/number.h"
#include "plan/row_reader.h"

namespace gxe::cli {
namespace {

// --- Options --------------------------------------------------------------------------

constexpr const char* kFooter =
    "The file: a header row naming the columns, then one calculation per row,\n"
    "columns in any order. Names are those of gxeplan power --format csv:\n"
    "\n"
    "  mode                  power or size (required)\n"
    "  cases                 number of cases, each with C controls (power rows\n"
    "                        only)\n"
    "  power                 target power, between 0 and 1 (size rows only)\n"
    "  quantiles             K exposure categories of equal frequency among\n"
    "                        controls, K from 2 to 100, or:\n"
    "  exposure_prevalences  the K frequencies among controls, separated by ;\n"
    "                        (0.2;0.3;0.5), summing to 1\n"
    "  gene_prevalence       proportion of carriers among controls, or:\n"
    "  allele_frequency      frequency of the risk allele, with genetic_model\n"
    "  genetic_model         dominant or recessive\n"
    "  controls_per_case     C, default 1\n"
    "  or_e                  OR^tb(E|G=0) under the null, default 1\n"
    "  or_g                  OR(G|E=0) under the null, default 1\n"
    "  ror                   ROR^tb under the alternative (required)\n"
    "  or_e_low, or_e_high   range of OR^tb(E|G=0) to search; both or neither,\n"
    "                        default the one value that keeps or_e and or_g as\n"
    "                        the marginal odds ratios\n"
    "  or_g_low, or_g_high   range of OR(G|E=0) to search, likewise\n"
    "  alpha                 two-sided level, default 0.05\n"
    "  search                global or centre, default global\n"
    "\n"
    "An empty cell takes the default. Numbers take a decimal point and no\n"
    "thousands separators (0.3, 1500). Result columns in the file (size,\n"
    "power_min, ..., error) are ignored, so an output file can be edited and run\n"
    "again; any other column (an identifier, a note) is copied to the output.\n"
    "Quoted fields, CR LF line ends and a UTF-8 byte-order mark are read; a row\n"
    "may hold up to 4 MiB.\n"
    "\n"
    "The output: one row per input row, in order, with the columns of gxeplan\n"
    "power --format csv (with --simulate, those of the simulation check too),\n"
    "then the copied columns, then unread_row. A row that cannot be calculated\n"
    "keeps its inputs as read and empty results, and its error column says why,\n"
    "as in: row 5, column cases: \"5OO\" is not a number. Rows are numbered as\n"
    "a spreadsheet shows them: the header is row 1, and blank rows, which stay\n"
    "blank in a csv output, count. A row that cannot be read into the header's\n"
    "columns (a quote out of place, more or fewer fields than the header) is\n"
    "also kept whole, as it was written, in unread_row; a row whose unread_row\n"
    "holds text is not calculated: put its cells in their columns and empty\n"
    "unread_row, then run the file again.\n"
    "\n"
    "Exit status: 0 every row answered; 1 some rows without an answer (listed on\n"
    "the error stream, which ends with \"N rows, M failed\"); 2 the file cannot be\n"
    "read, or its header lacks a required column; 4 output not written.";

char delimiter_of(const std::string& text) { return text == "tab" ? '\t' : text.front(); }

RowFormat format_of(const std::string& text) {
  return text == "json" ? RowFormat::json : text == "jsonl" ? RowFormat::jsonl : RowFormat::csv;
}

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

  void row(const Record& record) {
    // Blank rows stay in a csv output, so that every row keeps the number
    // its error names when the output is run again.
    stream_->blank_rows(record.row - last_row_ - 1);
    last_row_ = record.row;
    ++summary_.rows;
    const std::string where = "row " + std::to_string(record.row);

    std::string message;
    plan::Row row;
    std::optional<plan::Simulation> simulation;
    const std::optional<Unread> kept = unread(record);
    if (kept) {
      row = plan::row_as_read(layout_, record.fields);
      message = where + kept->reason;
    } else if (plan::DesignReading reading = plan::read_design(layout_, record.fields);
               !reading.ok()) {
      row = plan::row_as_read(layout_, record.fields);
      const plan::RowProblem& p = *reading.problem;
      message = where + (p.column.empty() ? ": " : ", column " + p.column + ": ") + p.message;
    } else {
      RowAnswer answer = calculate_(reading.scenario, record.row);
      row = plan::make_row(reading.scenario, answer.outcome);
      simulation = std::move(answer.simulation);
      if (!answer.outcome.ok()) message = where + ": " + answer.outcome.error->message();
    }
    if (!message.empty()) {
      ++summary_.failed;
      row[plan::Column::error] = message;
      if (progress_ != nullptr) progress_->clear();
      err_ << "gxeplan: " << message << '\n';
    }

    for (std::size_t i = 0; i < layout_.carried.size(); ++i) {
      carried_[i] = field(record, layout_.carried[i]);
    }
    carried_.back() = kept ? kept->text : std::string_view();
    stream_->write(row, simulation ? &*simulation : nullptr, carried_);
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
};

// --- Files and the terminal ------------------------------------------------------------------

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  long read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
  }

 private:
  int fd_;
};

class CountingSink : public RecordSink {
 public:
  void record(const Record&) override { ++records; }
  std::size_t records = 0;
};

// Data rows of a regular file, read once more in full; nothing when it
// cannot be read.
std::optional<std::size_t> count_rows(const std::string& path, char delimiter) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FdSource source(fd);
  CsvRecords records(delimiter);
  CountingSink sink;
  std::vector<char> buffer(1 << 16);
  bool whole = true;
  for (;;) {
    const long n = source.read(buffer.data(), buffer.size());
    if (n <= 0) {
      whole = n == 0 && records.finish(sink);
      break;
    }
    if (!records.feed(buffer.data(), static_cast<std::size_t>(n), sink)) {
      whole = false;
      break;
    }
  }
  ::close(fd);
  if (!whole || sink.records == 0) return std::nullopt;
  return sink.records - 1;  // the header
}

// The rows done on the progress line: of how many, when the input is a
// regular file, counted once the line appears (so a short batch, or one whose
// error stream is not a terminal, never reads its file twice).
class RowsProgress : public BatchProgress {
 public:
  RowsProgress(ProgressLine& line, std::string counted_path, char delimiter)
      : line_(line), counted_path_(std::move(counted_path)), delimiter_(delimiter) {}

  void row_done(std::size_t rows) override {
    if (!counted_ && line_.showing()) {
      counted_ = true;
      if (!counted_path_.empty()) total_ = count_rows(counted_path_, delimiter_);
    }
    const double total = total_ && *total_ >= rows ? static_cast<double>(*total_) : 0.0;
    line_.update("rows done", static_cast<double>(rows), total);
  }
  void clear() override { line_.clear(); }

 private:
  ProgressLine& line_;
  std::string counted_path_;  // empty: the total is not known
  char delimiter_;
  bool counted_ = false;
  std::optional<std::size_t> total_;
};

using values::shown;  // a path as messages show it

}  // namespace

CLI::App* add_batch_command(CLI::App& top, BatchRequest& request) {
  CLI::App* app = top.add_subcommand(
      "batch", "Many calculations from a CSV file of designs, one per row");
  app->add_option("FILE", request.input,
                  "CSV file of designs, one per row after a header\n"
                  "row; - reads standard input.")
      ->type_name("")
      ->required();
  app->add_option("--output", request.output,
                  "Write the results to this file, replaced only\n"
                  "once every row is done (never left half\n"
                  "written). Default, or -: standard output,\n"
                  "each row as it is computed.")
      ->type_name("FILE")
      ->check(file_name_check());
  app->add_option("--format", request.format,
                  "csv: a header row, then one row per design;\n"
                  "json: an array of objects with the csv's\n"
                  "column names; jsonl: one such object per line.")
      ->type_name("csv|json|jsonl")
      ->capture_default_str()
      ->check(choice_check({"csv", "json", "jsonl"}));
  app->add_option("--delimiter", request.delimiter,
                  "Field delimiter of FILE: ';' for files saved by\n"
                  "a spreadsheet set to a decimal-comma locale\n"
                  "(the numbers still need decimal points), tab\n"
                  "or |. The output is comma-separated.")
      ->type_name("CHAR")
      ->capture_default_str()
      ->check(check_with([](std::string_view text) -> std::string {
        // A tab character is taken as well as the word.
        if (text == "," || text == ";" || text == "|" || text == "tab" || text == "\t") return {};
        return "is not one of , ; | tab";
      }));
  app->footer(kFooter);
  return app;
}

BatchSummary run_batch(ByteSource& input, const BatchSettings& settings, const Calculator& calculate,
                       std::ostream& out, std::ostream& err, BatchProgress* progress) {
  BatchRun run(settings, calculate, out, err, progress);
  CsvRecords records(settings.delimiter);
  std::vector<char> buffer(1 << 16);
  while (!run.stopped()) {
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

int run_batch_command(const BatchRequest& request, std::ostream& out, std::ostream& err) {
  const bool from_stdin = request.input == "-";
  const std::string name = from_stdin ? "standard input" : shown(request.input);
  int fd = STDIN_FILENO;
  if (!from_stdin) {
    fd = ::open(request.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      err << "gxeplan: " << name << ": cannot be read: " << std::strerror(errno) << '\n';
      return kWrongUse;
    }
  }
  struct stat input_stat {};
  const bool known = ::fstat(fd, &input_stat) == 0;
  const bool regular = known && S_ISREG(input_stat.st_mode);
  if (known && S_ISDIR(input_stat.st_mode)) {
    err << "gxeplan: " << name << ": is a folder, not a file\n";
    if (!from_stdin) ::close(fd);
    return kWrongUse;
  }

  std::optional<WholeFile> file;
  const std::string output_name = shown(request.output);
  // The handler first: a signal between the temporary file's creation and
  // the handler's would leave that file behind.
  stop_on_signal(request.output.empty()
                     ? std::string("gxeplan: interrupted\n")
                     : "gxeplan: interrupted; " + output_name + " was not written\n");
  if (!request.output.empty()) {
    file.emplace(request.output);
    if (!file->open()) {
      err << "gxeplan: --output " << output_name << ": " << file->problem() << '\n';
      if (!from_stdin) ::close(fd);
      return kOutputFailure;
    }
  }

  const SimulationSettings& simulation = request.simulation;
  BatchSettings settings;
  settings.delimiter = delimiter_of(request.delimiter);
  settings.format = format_of(request.format);
  settings.simulated = simulation.replicates > 0;
  settings.flush_each_row = !file.has_value();
  ProgressLine line(err, ProgressLine::error_stream_is_terminal());
  RowsProgress progress(line, regular && !from_stdin ? request.input : std::string(),
                        settings.delimiter);
  const Calculator calculate = [&](const plan::Scenario& scenario, std::size_t row) {
    return answer(scenario, simulation, line, "row " + std::to_string(row));
  };
  FdSource source(fd);
  const BatchSummary summary =
      run_batch(source, settings, calculate, file ? file->stream() : out, err, &progress);
  if (!from_stdin) ::close(fd);

  int status = summary.failed > 0 ? kSomeUnanswered : kAllAnswered;
  switch (summary.end) {
    case BatchSummary::End::done:
      if (file && !file->commit()) {
        err << "gxeplan: --output " << output_name << ": " << file->problem() << '\n';
        status = kOutputFailure;
      }
      break;
    case BatchSummary::End::unreadable:
      err << "gxeplan: " << name << ": " << summary.problem << '\n';
      status = kWrongUse;
      break;
    case BatchSummary::End::output_failed:
      err << "gxeplan: write error on "
          << (file ? "--output " + output_name : std::string("standard output")) << '\n';
      status = kOutputFailure;
      break;
  }
  if (file && status != kAllAnswered && status != kSomeUnanswered) {
    file->discard();
    err << "gxeplan: " << output_name << " was not written\n";
  }
  if (summary.header_read) {
    err << "gxeplan: " << summary.rows << (summary.rows == 1 ? " row, " : " rows, ")
        << summary.failed << " failed\n";
  }
  return status;
}

}  // namespace gxe::cli
