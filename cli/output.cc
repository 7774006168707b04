#include "cli/output.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plan/report.h"
#include "plan/row.h"

namespace gxe::cli {
namespace {

// --- table ---------------------------------------------------------------------------

// The table of plan::TableReport, written block by block as the calculations
// finish.
class TableWriter : public RowWriter {
 public:
  // `scenarios` is not empty: the reader gives at least one calculation.
  TableWriter(std::ostream& out, const std::vector<plan::Scenario>& scenarios)
      : out_(out), table_(scenarios) {}

  void begin() override { out_ << table_.head(); }

  void write(const plan::Scenario& s, const plan::Outcome& outcome,
             const plan::Simulation* simulation) override {
    out_ << table_.block(s, outcome, simulation);
  }

  void end() override {}

 private:
  std::ostream& out_;
  plan::TableReport table_;
};

// --- csv and json ------------------------------------------------------------------------

using Json = nlohmann::ordered_json;  // keys in column order

// Whole numbers as integers (1000, not 1000.0), within the doubles' exact range.
Json json_number(double x) {
  constexpr double kExactIntegers = 9007199254740992.0;  // 2^53
  if (std::isfinite(x) && x == std::trunc(x) && std::fabs(x) < kExactIntegers) {
    return static_cast<std::int64_t>(x);
  }
  return x;
}

// A cell as json: numbers as numbers (whole ones within 2^53 as integers),
// flags as booleans, lists as arrays, empty cells as null.
Json json_cell(const plan::Cell& cell) {
  struct ToJson {
    Json operator()(std::monostate) const { return nullptr; }
    Json operator()(double x) const { return json_number(x); }
    Json operator()(bool b) const { return b; }
    Json operator()(const std::string& s) const { return s; }
    Json operator()(const std::vector<double>& v) const {
      Json list = Json::array();
      for (double x : v) list.push_back(json_number(x));
      return list;
    }
  };
  return std::visit(ToJson{}, cell);
}

// The row writers of the command line: its csv and json, through RowStream.
class StreamWriter : public RowWriter {
 public:
  StreamWriter(RowFormat format, std::ostream& out, bool simulated)
      : stream_(format, out, simulated) {}
  void begin() override { stream_.begin(); }
  void write(const plan::Scenario& s, const plan::Outcome& outcome,
             const plan::Simulation* simulation) override {
    stream_.write(plan::make_row(s, outcome), simulation);
  }
  void end() override { stream_.end(); }

 private:
  RowStream stream_;
};

}  // namespace

std::unique_ptr<RowWriter> make_writer(Format format, std::ostream& out,
                                       const std::vector<plan::Scenario>& scenarios,
                                       bool simulated) {
  switch (format) {
    case Format::csv:
      return std::make_unique<StreamWriter>(RowFormat::csv, out, simulated);
    case Format::json:
      return std::make_unique<StreamWriter>(RowFormat::json, out, simulated);
    case Format::table:
      break;
  }
  return std::make_unique<TableWriter>(out, scenarios);
}

bool flushed(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return true;
  err << "gxeplan: write error on standard output\n";
  return false;
}

RowStream::RowStream(RowFormat format, std::ostream& out, bool simulated,
                     std::vector<std::string> carried_names,
                     std::vector<std::string> leading_names)
    : format_(format),
      out_(out),
      simulated_(simulated),
      carried_names_(std::move(carried_names)),
      leading_names_(std::move(leading_names)) {}

void RowStream::begin() {
  switch (format_) {
    case RowFormat::csv:
      out_ << plan::csv_record(plan::row_names(simulated_, leading_names_, carried_names_));
      return;
    case RowFormat::json:
      out_ << '[';
      return;
    case RowFormat::jsonl:
      return;
  }
}

void RowStream::blank_rows(std::size_t count) {
  if (format_ != RowFormat::csv) return;
  for (std::size_t i = 0; i < count; ++i) out_ << "\r\n";
}

void RowStream::write(const plan::Row& row, const plan::Simulation* simulation,
                      std::span<const std::string_view> carried,
                      std::span<const plan::Cell> leading) {
  const auto carried_text = [&](std::size_t i) {
    return i < carried.size() ? carried[i] : std::string_view();
  };
  const auto leading_cell = [&](std::size_t i) {
    return i < leading.size() ? leading[i] : plan::Cell();
  };
  if (format_ == RowFormat::csv) {
    std::vector<plan::Cell> leading_cells(leading_names_.size());
    for (std::size_t i = 0; i < leading_cells.size(); ++i) leading_cells[i] = leading_cell(i);
    std::vector<std::string_view> carried_texts(carried_names_.size());
    for (std::size_t i = 0; i < carried_texts.size(); ++i) carried_texts[i] = carried_text(i);
    out_ << plan::csv_record(
        plan::row_texts(row, simulation, simulated_, leading_cells, carried_texts));
    return;
  }
  Json object = Json::object();
  for (std::size_t i = 0; i < leading_names_.size(); ++i) {
    object[leading_names_[i]] = json_cell(leading_cell(i));
  }
  for (std::size_t i = 0; i < plan::kColumnCount; ++i) {
    object[std::string(plan::row_column_name(i))] = json_cell(row.cells[i]);
  }
  if (simulated_) {
    const auto cells = plan::simulation_cells(simulation);
    for (std::size_t i = 0; i < plan::kSimulationColumnCount; ++i) {
      object[std::string(plan::simulation_column_name(i))] = json_cell(cells[i]);
    }
  }
  for (std::size_t i = 0; i < plan::kAssociationColumnCount; ++i) {
    object[std::string(plan::association_column_name(i))] = json_cell(row.association[i]);
  }
  for (std::size_t i = 0; i < carried_names_.size(); ++i) {
    object[carried_names_[i]] = std::string(carried_text(i));
  }
  // Bytes that are not UTF-8 (a carried note in another encoding) become
  // U+FFFD: JSON text is UTF-8.
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (format_ == RowFormat::jsonl) {
    out_ << text << '\n';
  } else {
    out_ << (first_ ? "\n" : ",\n") << text;
  }
  first_ = false;
}

void RowStream::end() {
  if (format_ == RowFormat::json) out_ << "\n]\n";
}

}  // namespace gxe::cli
