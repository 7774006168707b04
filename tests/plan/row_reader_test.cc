#include "plan/row_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace gxe::plan {
namespace {

std::vector<std::string> split(const std::string& text, char delimiter = '|') {
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string f; std::getline(in, f, delimiter);) fields.push_back(f);
  if (!text.empty() && text.back() == delimiter) fields.emplace_back();
  return fields;
}

// Headers and what they give: the carried columns, or the start of the
// problem.
struct HeaderCase {
  const char* names;
  const char* carried;  // joined by '|'
  const char* problem;  // start of the message; "" when the header is used
};

const HeaderCase kHeaders[] = {
    {"mode|cases|quantiles|gene_prevalence|ror", "", ""},
    // Result columns are dropped; the allele frequency and any other column
    // are carried, in the header's order.
    {"id|mode|power|exposure_prevalences|allele_frequency|genetic_model|ror|size|error|"
     "sim_power_min|note",
     "id|allele_frequency|genetic_model|note", ""},
    {"mode|cases|quantiles|gene_prevalence|ror|ror", "", "the column \"ror\" appears twice"},
    {"mode|cases|quantiles|gene_prevalence|ror|Alpha", "",
     "the column \"Alpha\" would be read as alpha"},
    {"mode|cases|quantiles|gene-prevalence|ror", "",
     "the column \"gene-prevalence\" would be read as gene_prevalence"},
    {"mode|cases|quantiles|gene_prevalence|ror|or_e_range", "",
     "the column \"or_e_range\" is not read: a range is two columns, or_e_low and or_e_high"},
    {"cases|quantiles|gene_prevalence|ror", "", "no column mode"},
    {"mode|quantiles|gene_prevalence|ror", "", "no column cases or power"},
    {"mode|cases|gene_prevalence|ror", "", "no column quantiles or exposure_prevalences"},
    {"mode|cases|quantiles|ror", "", "no column gene_prevalence"},
    {"mode|cases|quantiles|allele_frequency|ror", "", "the column allele_frequency needs"},
    {"mode|cases|quantiles|gene_prevalence", "", "no column ror"},
};

TEST(ReadLayout, CarriesUnknownColumnsAndRefusesAmbiguousHeaders) {
  for (const HeaderCase& c : kHeaders) {
    SCOPED_TRACE(c.names);
    const LayoutReading r = read_layout(split(c.names));
    EXPECT_EQ(r.problem.substr(0, std::string(c.problem).size()), c.problem);
    if (r.ok()) {
      EXPECT_EQ(r.layout.carried_names, split(c.carried));
    }
  }
}

constexpr const char* kHeader =
    "mode|cases|power|quantiles|exposure_prevalences|gene_prevalence|allele_frequency|"
    "genetic_model|controls_per_case|or_e|or_g|ror|or_e_low|or_e_high|or_g_low|or_g_high|"
    "alpha|search|note";

// A row under kHeader: a valid power row (500 cases, 4 quantiles, gene
// prevalence 0.3, ROR^tb 2) with the cells `changes` sets ("name=text|...").
std::vector<std::string> row_with(const std::string& changes) {
  const std::vector<std::string> names = split(kHeader);
  std::vector<std::string> fields(names.size());
  const auto set = [&](const std::string& name, const std::string& text) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) fields[i] = text;
    }
  };
  set("mode", "power");
  set("cases", "500");
  set("quantiles", "4");
  set("gene_prevalence", "0.3");
  set("ror", "2");
  for (const std::string& change : split(changes)) {
    const std::size_t eq = change.find('=');
    set(change.substr(0, eq), change.substr(eq + 1));
  }
  return fields;
}

// Rows and the column and start of the message of their problem.
struct RowCase {
  const char* changes;
  const char* column;
  const char* message;
};

const RowCase kRefused[] = {
    {"mode=", "mode", "is empty: give power, size or detect"},
    {"mode=Power", "mode", "\"Power\" is not one of power, size"},
    {"cases=", "cases", "is required: a power calculation needs the number of cases"},
    {"power=0.8", "power", "\"0.8\" is given in a power calculation"},
    {"mode=size|power=0.8", "cases", "\"500\" is given in a size calculation"},
    {"mode=size|cases=", "power", "is required: a size calculation needs the target power"},
    {"cases=5OO", "cases", "\"5OO\" is not a number"},
    {"cases=1,500", "cases",
     "\"1,500\" has a comma, a decimal comma or a thousands separator: write 1.500 or 1500, "
     "whichever is meant"},
    {"gene_prevalence=0,3", "gene_prevalence", "\"0,3\" is written with a decimal comma: write 0.3"},
    {"ror=2 ", "ror", "\"2 \" has blanks around the number: write 2"},
    {"ror=inf", "ror", "\"inf\" is not a number"},
    {"cases=-500", "cases", "\"-500\" must be greater than 0"},
    {"quantiles=", "quantiles", "is required, or exposure_prevalences"},
    {"exposure_prevalences=0.5;0.5", "quantiles", "\"4\" is given and so is exposure_prevalences"},
    {"quantiles=4.5", "quantiles", "\"4.5\" must be a whole number from 2 to 100"},
    {"quantiles=101", "quantiles", "\"101\" must be a whole number from 2 to 100"},
    {"quantiles=|exposure_prevalences=0.5;;0.5", "exposure_prevalences",
     "\"0.5;;0.5\" is not a list of numbers separated by ';': an item is empty"},
    {"quantiles=|exposure_prevalences=0.5,0.5", "exposure_prevalences",
     "\"0.5,0.5\" is not a number: separate the prevalences with ';'"},
    {"quantiles=|exposure_prevalences=0,5;0,5", "exposure_prevalences",
     "\"0,5;0,5\" \"0,5\" is written with a decimal comma: write 0.5"},
    {"quantiles=|exposure_prevalences=0.5;0.4", "exposure_prevalences",
     "\"0.5;0.4\": exposure_prevalences = 0.9: must sum to 1"},
    {"gene_prevalence=1.5", "gene_prevalence", "\"1.5\" must be greater than 0 and less than 1"},
    {"gene_prevalence=", "gene_prevalence", "is required: give the carrier prevalence"},
    {"genetic_model=dominant", "genetic_model", "\"dominant\" goes with allele_frequency"},
    {"gene_prevalence=|allele_frequency=0.2", "allele_frequency",
     "\"0.2\" needs genetic_model: dominant or recessive"},
    {"gene_prevalence=|allele_frequency=0.2|genetic_model=dom", "genetic_model",
     "\"dom\" is not one of dominant, recessive"},
    {"gene_prevalence=|allele_frequency=1|genetic_model=dominant", "allele_frequency",
     "\"1\" must be greater than 0 and less than 1"},
    {"gene_prevalence=|allele_frequency=1e-200|genetic_model=recessive", "allele_frequency",
     "\"1e-200\" gives a carrier prevalence of 0 (recessive), which must be greater than 0"},
    {"gene_prevalence=0.36|allele_frequency=0.2|genetic_model=recessive", "gene_prevalence",
     "\"0.36\" is not the carrier prevalence 0.04000000000000001 that allele_frequency 0.2 "
     "gives (recessive): give one of the two"},
    {"ror=", "ror", "is required: give ROR^tb"},
    {"or_e_low=1.5", "or_e_high", "is empty while or_e_low is given"},
    {"or_g_high=2", "or_g_low", "is empty while or_g_high is given"},
    {"or_e_low=2.5|or_e_high=1.5", "or_e_low", "\"2.5\" must not exceed the upper bound 1.5"},
    {"controls_per_case=0", "controls_per_case", "\"0\" must be greater than 0"},
    {"alpha=1e-300", "alpha", "\"1e-300\" is too small"},
    {"search=local", "search", "\"local\" is not one of global, centre"},
};

TEST(ReadDesign, NamesTheCellAndTheRule) {
  const LayoutReading layout = read_layout(split(kHeader));
  ASSERT_TRUE(layout.ok()) << layout.problem;
  for (const RowCase& c : kRefused) {
    SCOPED_TRACE(c.changes);
    const DesignReading r = read_design(layout.layout, row_with(c.changes));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.problem->column, c.column);
    EXPECT_EQ(r.problem->message.substr(0, std::string(c.message).size()), c.message);
  }
  // A field too many: no single column is at fault.
  std::vector<std::string> ragged = row_with("");
  ragged.emplace_back();
  const DesignReading r = read_design(layout.layout, ragged);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.problem->column, "");
  EXPECT_EQ(r.problem->message.substr(0, 37), "has 20 fields where the header has 19");
}

TEST(ReadDesign, DefaultsAndBothFormsOfEachInput) {
  const LayoutReading layout = read_layout(split(kHeader));
  ASSERT_TRUE(layout.ok());

  // Only what is required: the command line's defaults.
  DesignReading r = read_design(layout.layout, row_with(""));
  ASSERT_TRUE(r.ok()) << r.problem->message;
  Scenario s = r.scenario;
  EXPECT_EQ(s.mode, Mode::power);
  EXPECT_EQ(s.cases, 500.0);
  EXPECT_EQ(s.design.quantiles, 4);
  EXPECT_EQ(s.design.controls_per_case, 1.0);
  EXPECT_EQ(s.design.or_e, 1.0);
  EXPECT_EQ(s.design.or_g, 1.0);
  EXPECT_EQ(s.settings.alpha, 0.05);
  EXPECT_EQ(s.settings.search, SearchMethod::global);
  EXPECT_FALSE(s.ranges.or_e.has_value());
  EXPECT_FALSE(s.ranges.or_g.has_value());

  // Everything given, the gene by its allele frequency, and the carrier
  // prevalence it gives written next to it (a row written and read again).
  r = read_design(layout.layout,
                  row_with("mode=size|cases=|power=0.9|quantiles=|"
                           "exposure_prevalences=0.2; 0.3;0.5|gene_prevalence=0.04000000000000001|"
                           "allele_frequency=0.2|genetic_model=recessive|controls_per_case=2|"
                           "or_e=1.5|or_g=1.2|ror=2.5|or_e_low=1|or_e_high=3|or_g_low=0.5|"
                           "or_g_high=2|alpha=5e-8|search=centre|note=a note"));
  ASSERT_TRUE(r.ok()) << r.problem->message;
  s = r.scenario;
  EXPECT_EQ(s.mode, Mode::size);
  EXPECT_EQ(s.target_power, 0.9);
  EXPECT_EQ(s.design.exposure_prevalences, (std::vector<double>{0.2, 0.3, 0.5}));
  EXPECT_EQ(s.design.gene_prevalence, carrier_prevalence(0.2, GeneticModel::recessive));
  EXPECT_EQ(s.design.controls_per_case, 2.0);
  EXPECT_EQ(s.design.ror, 2.5);
  ASSERT_TRUE(s.ranges.or_e && s.ranges.or_g);
  EXPECT_EQ(s.ranges.or_e->high, 3.0);
  EXPECT_EQ(s.ranges.or_g->low, 0.5);
  EXPECT_EQ(s.settings.alpha, 5e-8);
  EXPECT_EQ(s.settings.search, SearchMethod::centre);
}

TEST(RowAsRead, KeepsTheInputTextAndNothingElse) {
  const LayoutReading layout = read_layout(split("note|ror|mode|cases|quantiles|gene_prevalence|size"));
  ASSERT_TRUE(layout.ok());
  const Row row = row_as_read(layout.layout, split("x|2.0|power|5OO|04|0,3|1000"));
  EXPECT_EQ(cell_text(row[Column::cases]), "5OO");
  EXPECT_EQ(cell_text(row[Column::quantiles]), "04");
  EXPECT_EQ(cell_text(row[Column::ror]), "2.0");
  EXPECT_EQ(cell_text(row[Column::gene_prevalence]), "0,3");
  EXPECT_EQ(cell_text(row[Column::size]), "");  // a result: never taken from the input
  EXPECT_EQ(cell_text(row[Column::power]), "");
}

}  // namespace
}  // namespace gxe::plan
