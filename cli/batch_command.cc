#include "cli/batch_command.h"

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/batch.h"
#include "cli/csv_records.h"
#include "cli/option_checks.h"
#include "cli/progress.h"
#include "cli/rows.h"
#include "cli/status.h"
#include "cli/whole_file.h"
#include "plan/columns.h"
#include "plan/ordered_work.h"
#include "values/number.h"

namespace gxe::cli {
namespace {

constexpr const char* kFileHelp =
    "The file: a header row naming the columns, then one calculation per row,\n"
    "columns in any order. Names are those of gxeplan power --format csv:\n"
    "\n";

constexpr const char* kRowsHelp =
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

// --- Files and the terminal ------------------------------------------------------------------

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  bool ready() override {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) != 0;  // data, its end, or an error: read() returns at once
  }
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

BatchCommand::BatchCommand(CLI::App& top) {
  CLI::App* app = top.add_subcommand(
      "batch", "Many calculations from a CSV file of designs, one per row");
  app->add_option("FILE", input_,
                  "CSV file of designs, one per row after a header\n"
                  "row; - reads standard input.")
      ->type_name("")
      ->required();
  app->add_option("--output", output_,
                  "Write the results to this file, replaced only\n"
                  "once every row is done (never left half\n"
                  "written). Default, or -: standard output,\n"
                  "each row as it is computed.")
      ->type_name("FILE")
      ->check(file_name_check());
  app->add_option("--format", format_,
                  "csv: a header row, then one row per design;\n"
                  "json: an array of objects with the csv's\n"
                  "column names; jsonl: one such object per line.")
      ->type_name("csv|json|jsonl")
      ->capture_default_str()
      ->check(choice_check({"csv", "json", "jsonl"}));
  app->add_option("--delimiter", delimiter_,
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
  simulation_.add_simulation(*app);
  app->footer(kFileHelp + plan::input_column_help() + kRowsHelp);
}


namespace {

// The input, open: a file, or standard input for "-".
struct Input {
  int fd = STDIN_FILENO;
  bool from_stdin = true;
  bool regular = false;  // a regular file, whose rows can be counted first
  std::string name;      // as messages name it
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() {
    if (!from_stdin && fd >= 0) ::close(fd);
  }
};

// Opens `path`; "" when it can be read, or why it cannot.
std::string open_input(const std::string& path, Input& in) {
  in.from_stdin = path == "-";
  in.name = in.from_stdin ? "standard input" : shown(path);
  if (!in.from_stdin) {
    in.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) return in.name + ": cannot be read: " + std::strerror(errno);
  }
  struct stat input_stat {};
  const bool known = ::fstat(in.fd, &input_stat) == 0;
  in.regular = known && S_ISREG(input_stat.st_mode) && !in.from_stdin;
  if (known && S_ISDIR(input_stat.st_mode)) return in.name + ": is a folder, not a file";
  return {};
}

// The exit status of a finished batch, with its messages; an output file is
// committed, or discarded when the batch did not end well.
int finish(const BatchSummary& summary, const Input& in, std::optional<WholeFile>& file,
           const std::string& output_name, std::ostream& err) {
  int status = summary.failed > 0 ? kSomeUnanswered : kAllAnswered;
  switch (summary.end) {
    case BatchSummary::End::done:
      if (file && !file->commit()) {
        err << "gxeplan: --output " << output_name << ": " << file->problem() << '\n';
        status = kOutputFailure;
      }
      break;
    case BatchSummary::End::unreadable:
      err << "gxeplan: " << in.name << ": " << summary.problem << '\n';
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

}  // namespace

int BatchCommand::run(std::ostream& out, std::ostream& err) {
  // "-" is standard output, as FILE "-" is standard input.
  const std::string output = output_ == "-" ? std::string() : output_;
  if (const std::string problem = simulation_.simulation_problem(std::nullopt);
      !problem.empty()) {
    return wrong_use(err, problem);
  }
  Input in;
  if (const std::string problem = open_input(input_, in); !problem.empty()) {
    return wrong_use(err, problem);
  }
  std::optional<WholeFile> file;
  const std::string output_name = shown(output);
  // The handler first: a signal between the temporary file's creation and
  // the handler's would leave that file behind.
  stop_on_signal(output.empty() ? std::string("gxeplan: interrupted\n")
                                : "gxeplan: interrupted; " + output_name + " was not written\n");
  if (!output.empty()) {
    file.emplace(output);
    if (!file->open()) {
      err << "gxeplan: --output " << output_name << ": " << file->problem() << '\n';
      return kOutputFailure;
    }
  }
  const plan::SimulationSettings simulation = simulation_.simulation();
  BatchSettings settings;
  settings.delimiter = delimiter_of(delimiter_);
  settings.format = format_of(format_);
  settings.simulated = simulation.replicates > 0;
  settings.flush_each_row = !file.has_value();
  settings.threads = plan::row_threads(simulation);
  ProgressLine line(err, ProgressLine::error_stream_is_terminal());
  RowsProgress progress(line, in.regular ? input_ : std::string(), settings.delimiter);
  plan::SharedSearches shared;  // consecutive rows of one design share its search
  const Calculator calculate = [&](const plan::Scenario& scenario, std::size_t row) {
    const std::string what = "simulating row " + std::to_string(row);
    return plan::answer(scenario, simulation, [&](long done, long total) {
      line.update(what, static_cast<double>(done), static_cast<double>(total));
    }, &shared);
  };
  FdSource source(in.fd);
  const BatchSummary summary =
      run_batch(source, settings, calculate, file ? file->stream() : out, err, &progress);
  return finish(summary, in, file, output_name, err);
}

}  // namespace gxe::cli
