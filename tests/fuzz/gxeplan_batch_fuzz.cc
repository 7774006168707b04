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

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/batch.h"
#include "cli/csv_records.h"
#include "plan/plan.h"
#include "plan/row.h"

namespace {

void require(bool holds) {
  if (!holds) std::abort();
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

gxe::cli::RowAnswer calculate(const gxe::plan::Scenario& s, bool simulated) {
  require(!gxe::plan::check(s).has_value());
  constexpr int kCalculated = 2;
  constexpr int kCheapCategories = 10;
  gxe::cli::RowAnswer answer;
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

// Every output row, read back with the same CSV reader.
class OutputRows : public gxe::cli::RecordSink {
 public:
  void record(const gxe::cli::Record& r) override {
    require(r.malformed.empty());
    if (rows == 0) {
      width = r.field_count;
      require(width >= gxe::plan::kColumnCount);
      require(r.fields[gxe::plan::kColumnCount - 1] == "error");
    } else {
      require(r.field_count == width);
      if (!r.fields[gxe::plan::kColumnCount - 1].empty()) ++with_error;
    }
    ++rows;
  }
  std::size_t rows = 0;
  std::size_t width = 0;
  std::size_t with_error = 0;
};

bool printable_line(std::string_view line) {
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
  }
  return true;
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

  calculated = 0;
  std::ostringstream out;
  std::ostringstream err;
  const gxe::cli::BatchSummary summary = gxe::cli::run_batch(
      source, settings,
      [&](const gxe::plan::Scenario& s, std::size_t) { return calculate(s, settings.simulated); },
      out, err);

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
      gxe::cli::CsvRecords records(',');
      OutputRows rows;
      require(records.feed(text.data(), text.size(), rows) && records.finish(rows));
      require(rows.rows == summary.rows + 1 && rows.with_error == summary.failed);
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
