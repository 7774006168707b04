// libFuzzer target: a whole batch file in process, from the bytes to the
// written rows. The first byte chooses the output format, the delimiter and
// the size of the pieces the bytes arrive in (so that a byte-order mark, a
// CR LF or a quoted field split between two reads is exercised); the rest is
// the file. The first two valid rows of an input are calculated by the
// planning library; the others get a made-up outcome, so a long file does not
// run long searches.
//
// Besides the sanitizers, the target checks the batch's promises: one output
// row per data row, each with every column of the header; the rows with an
// error are exactly the rows counted as failed, each listed by one printable
// line on the error stream; nothing is written when the header is refused.
// In csv, no text of a row is lost: a row that could not be read into cells
// comes back whole in unread_row, a row without an answer keeps every cell
// as it was, and every row keeps the columns carried through; and the output
// run again as a batch gives itself back, byte for byte.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch.h"
#include "cli/csv_records.h"
#include "plan/columns.h"
#include "plan/plan.h"
#include "plan/row.h"
#include "plan/row_reader.h"

namespace {

// A broken promise ends the run, naming the line of the check.
void require(bool holds, int line = __builtin_LINE()) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: gxeplan_batch_fuzz.cc:%d\n", line);
  std::abort();
}

class PiecesSource : public gxe::cli::ByteSource {
 public:
  PiecesSource(const std::uint8_t* data, std::size_t size, std::size_t piece)
      : data_(data), size_(size), piece_(piece) {}
  long read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, piece_, size_ - at_});
    for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(data_[at_ + i]);
    at_ += n;
    return static_cast<long>(n);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

int calculated = 0;  // real calculations in the current input

gxe::plan::Outcome made_up(const gxe::plan::Scenario& s);

// A simulation check of the right shape, without simulating.
gxe::plan::Simulation made_up_simulation(const gxe::plan::Outcome& o) {
  gxe::plan::Simulation sim;
  sim.replicates = 100;
  sim.least = {o.result.least.power, 0.01, 1, o.result.least.power};
  sim.most = {o.result.most.power, 0.01, 0, o.result.most.power};
  return sim;
}

gxe::plan::Answer calculate(const gxe::plan::Scenario& s, bool simulated) {
  require(!gxe::plan::check(s).has_value());
  constexpr int kCalculated = 2;
  constexpr int kCheapCategories = 10;
  gxe::plan::Answer answer;
  if (calculated < kCalculated && s.design.categories() <= kCheapCategories) {
    ++calculated;
    answer.outcome = gxe::plan::run(s);
  } else {
    answer.outcome = made_up(s);
  }
  if (simulated && answer.outcome.ok()) answer.simulation = made_up_simulation(answer.outcome);
  return answer;
}

gxe::plan::Outcome made_up(const gxe::plan::Scenario& s) {
  gxe::plan::Outcome o;
  o.result.or_e_range = s.ranges.or_e.value_or(gxe::plan::Range{s.design.or_e, s.design.or_e});
  o.result.or_g_range = s.ranges.or_g.value_or(gxe::plan::Range{s.design.or_g, s.design.or_g});
  o.result.solver_info = 1;
  o.result.least = {s.settings.alpha, o.result.or_g_range.low, o.result.or_e_range.low, false};
  o.result.most = {s.settings.alpha, o.result.or_g_range.high, o.result.or_e_range.high, true};
  return o;
}

// Every record of a csv text, as the batch's own reader splits it.
struct Records : public gxe::cli::RecordSink {
  struct Kept {
    std::vector<std::string> fields;
    std::string text;
    bool malformed = false;
  };
  void record(const gxe::cli::Record& r) override {
    rows.push_back({std::vector<std::string>(r.fields.begin(), r.fields.end()), std::string(r.text),
                    !r.malformed.empty()});
  }
  std::vector<Kept> rows;
};

Records read_csv(std::string_view text, char delimiter, bool& whole) {
  gxe::cli::CsvRecords csv(delimiter);
  Records records;
  whole = csv.feed(text.data(), text.size(), records) && csv.finish(records);
  return records;
}

// The column of `name` in a header, or -1.
long column_of(const std::vector<std::string>& header, std::string_view name) {
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] == name) return static_cast<long>(i);
  }
  return -1;
}

bool is_input(std::string_view name) {
  const auto c = gxe::plan::find_column(name);
  return c && (gxe::plan::column(*c).role == gxe::plan::ColumnRole::input ||
               gxe::plan::column(*c).role == gxe::plan::ColumnRole::alias);
}

bool is_result(std::string_view name) {
  const auto c = gxe::plan::find_column(name);
  return c && (gxe::plan::column(*c).role == gxe::plan::ColumnRole::result ||
               gxe::plan::column(*c).role == gxe::plan::ColumnRole::simulation);
}

// The csv output of a batch that read every row of `input`: one row per
// input row, each with every column, the failed ones counted, and no text of
// any row lost.
void check_nothing_lost(std::string_view input, char delimiter, std::string_view output,
                        std::size_t failed) {
  bool whole = false;
  const Records in = read_csv(input, delimiter, whole);
  const Records out = read_csv(output, ',', whole);
  require(whole && !in.rows.empty() && out.rows.size() == in.rows.size());
  const std::vector<std::string>& in_header = in.rows[0].fields;
  const std::vector<std::string>& out_header = out.rows[0].fields;
  require(out_header.size() >= gxe::plan::kColumnCount && out_header.back() == "unread_row");
  const long error = column_of(out_header, "error");
  const long solver_info = column_of(out_header, "solver_info");
  const long unread = static_cast<long>(out_header.size()) - 1;
  const long in_unread = column_of(in_header, "unread_row");
  std::size_t with_error = 0;
  for (std::size_t r = 1; r < in.rows.size(); ++r) {
    const Records::Kept& row = in.rows[r];
    const std::vector<std::string>& cells = out.rows[r].fields;
    require(!out.rows[r].malformed && cells.size() == out_header.size());
    const bool failed_row = !cells[static_cast<std::size_t>(error)].empty();
    const bool calculated_row = !cells[static_cast<std::size_t>(solver_info)].empty();
    with_error += failed_row ? 1 : 0;
    const std::string& kept = cells[static_cast<std::size_t>(unread)];
    if (row.malformed || row.fields.size() != in_header.size()) {
      require(failed_row && kept == row.text);
    } else if (in_unread >= 0 && !row.fields[static_cast<std::size_t>(in_unread)].empty()) {
      require(failed_row && kept == row.fields[static_cast<std::size_t>(in_unread)]);
    } else {
      require(kept.empty());
    }
    if (row.malformed) continue;
    for (std::size_t i = 0; i < in_header.size() && i < row.fields.size(); ++i) {
      const std::string& name = in_header[i];
      if (is_result(name) || name == "unread_row" || row.fields[i].empty()) continue;
      const long at = column_of(out_header, name);
      require(at >= 0);
      // A row that was calculated (answered or not: the conversion ran)
      // restates its inputs as the numbers it used; any other keeps them as
      // they were written.
      const std::string& written = cells[static_cast<std::size_t>(at)];
      require(!calculated_row || !is_input(name) || name == "allele_frequency" ||
                      name == "genetic_model"
                  ? written == row.fields[i]
                  : !written.empty());
    }
  }
  require(with_error == failed);
}

bool printable_line(std::string_view line) {
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
  }
  return true;
}

gxe::cli::BatchSummary batch(gxe::cli::ByteSource& source, const gxe::cli::BatchSettings& settings,
                             std::ostream& out, std::ostream& err) {
  calculated = 0;
  return gxe::cli::run_batch(
      source, settings,
      [&](const gxe::plan::Scenario& s, std::size_t) { return calculate(s, settings.simulated); },
      out, err);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned choice = data[0];
  constexpr gxe::cli::RowFormat kFormats[] = {gxe::cli::RowFormat::csv, gxe::cli::RowFormat::json,
                                              gxe::cli::RowFormat::jsonl};
  constexpr char kDelimiters[] = {',', ';', '\t', '|'};
  constexpr std::size_t kPieces[] = {1 << 16, 1, 2, 3, 5, 17};
  gxe::cli::BatchSettings settings;
  settings.format = kFormats[choice % 3];
  settings.delimiter = kDelimiters[choice / 3 % 4];
  settings.simulated = choice / 72 % 2 == 1;
  PiecesSource source(data + 1, size - 1, kPieces[choice / 12 % 6]);

  std::ostringstream out;
  std::ostringstream err;
  const gxe::cli::BatchSummary summary = batch(source, settings, out, err);

  require(summary.failed <= summary.rows);
  require(printable_line(summary.problem));
  require((summary.end == gxe::cli::BatchSummary::End::done) == summary.problem.empty());
  if (!summary.header_read) {
    require(out.str().empty() && err.str().empty() && summary.rows == 0);
    return 0;
  }

  // The error stream: one printable line per failed row.
  std::size_t lines = 0;
  std::istringstream err_lines(err.str());
  for (std::string line; std::getline(err_lines, line); ++lines) {
    require(line.rfind("gxeplan: row ", 0) == 0 && printable_line(line));
  }
  require(lines == summary.failed);

  const std::string text = out.str();
  switch (settings.format) {
    case gxe::cli::RowFormat::csv: {
      if (summary.end != gxe::cli::BatchSummary::End::done) break;
      const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
      check_nothing_lost(input, settings.delimiter, text, summary.failed);
      // The output run again: the same rows, byte for byte.
      gxe::cli::BatchSettings again = settings;
      again.delimiter = ',';
      PiecesSource output(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), 1 << 16);
      std::ostringstream rerun;
      std::ostringstream rerun_err;
      const gxe::cli::BatchSummary second = batch(output, again, rerun, rerun_err);
      require(second.end == gxe::cli::BatchSummary::End::done && second.failed == summary.failed);
      require(rerun.str() == text && rerun_err.str() == err.str());
      break;
    }
    case gxe::cli::RowFormat::json: {
      const nlohmann::json array = nlohmann::json::parse(text);
      require(array.is_array() && array.size() == summary.rows);
      std::size_t with_error = 0;
      for (const nlohmann::json& row : array) with_error += row.at("error").is_null() ? 0 : 1;
      require(with_error == summary.failed);
      break;
    }
    case gxe::cli::RowFormat::jsonl: {
      std::istringstream objects(text);
      std::size_t n = 0;
      for (std::string line; std::getline(objects, line); ++n) {
        require(nlohmann::json::parse(line).is_object());
      }
      require(n == summary.rows);
      break;
    }
  }
  return 0;
}
