#include "plan/request.h"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>

namespace gxe::plan {
namespace {

Request base() {
  Request r;
  r.cases = {500};
  r.ror = {2};
  r.gene_prevalence = {0.3};
  r.quantiles = 4;
  return r;
}

// Each rule names its input, and the list item at fault when the input is a
// list of more than one; the expansion then has no rows.
TEST(Expand, NamesTheInputAndTheItem) {
  const struct {
    const char* what;
    void (*change)(Request&);
    const char* input;
    std::optional<std::size_t> item;
  } cases[] = {
      {"a list item out of range", [](Request& r) { r.cases = {500, 0, 700}; }, "cases", 1},
      {"a single value out of range", [](Request& r) { r.controls_per_case = {0}; },
       "controls_per_case", std::nullopt},
      {"a level in the slowest list", [](Request& r) { r.alpha = {0.05, 2}; }, "alpha", 1},
      {"a target power in a power request", [](Request& r) { r.power = {0.8}; }, "power",
       std::nullopt},
      {"both forms of the exposure", [](Request& r) { r.exposure_prevalences = {0.5, 0.5}; },
       "quantiles", std::nullopt},
      {"no exposure", [](Request& r) { r.quantiles.reset(); }, "quantiles", std::nullopt},
      {"quantiles not whole", [](Request& r) { r.quantiles = 4.5; }, "quantiles", std::nullopt},
      {"an allele without its model",
       [](Request& r) { r.gene_prevalence.clear(), r.allele_frequency = {0.2}; },
       "allele_frequency", std::nullopt},
      {"an allele whose carriers round to 0",
       [](Request& r) {
         r.gene_prevalence.clear(), r.allele_frequency = {0.2, 1e-200};
         r.genetic_model = GeneticModel::recessive;
       },
       "allele_frequency", 1},
      {"a prevalence that is not its allele's",
       [](Request& r) { r.allele_frequency = {0.2}, r.genetic_model = GeneticModel::dominant; },
       "gene_prevalence", std::nullopt},
      {"a direction outside a detect request",
       [](Request& r) { r.direction = Direction::protective; }, "direction", std::nullopt},
      {"ror in a detect request",
       [](Request& r) { r.mode = Mode::detect, r.power = {0.8}; }, "ror", std::nullopt},
      {"a target power of a detect request, in the place of ror",
       [](Request& r) { r.mode = Mode::detect, r.ror.clear(), r.power = {0.8, 1.5}; }, "power",
       1},
  };
  for (const auto& c : cases) {
    Request r = base();
    c.change(r);
    const Expansion e = expand(r);
    ASSERT_FALSE(e.ok()) << c.what;
    EXPECT_EQ(e.error->error.input, c.input) << c.what << ": " << e.error->error.message();
    EXPECT_EQ(e.error->item, c.item) << c.what;
    EXPECT_TRUE(e.scenarios.empty()) << c.what;
  }
}

// A row read back with both forms of the gene, the prevalence exactly the
// one its allele gives, is the calculation of the allele; inputs not given
// take their columns' defaults.
TEST(Expand, BothFormsOfTheGeneThatAgreeAndTheDefaults) {
  Request r = base();
  r.allele_frequency = {0.2};
  r.genetic_model = GeneticModel::dominant;
  r.gene_prevalence = {carrier_prevalence(0.2, GeneticModel::dominant)};
  const Expansion e = expand(r);
  ASSERT_TRUE(e.ok()) << e.error->error.message();
  ASSERT_EQ(e.scenarios.size(), 1u);
  const Scenario& s = e.scenarios[0];
  EXPECT_EQ(s.design.gene_prevalence, 0.2 * 1.8);
  EXPECT_EQ(s.design.controls_per_case, 1.0);
  EXPECT_EQ(s.design.or_e, 1.0);
  EXPECT_EQ(s.settings.alpha, 0.05);
  EXPECT_EQ(s.settings.search, SearchMethod::global);
}

// A detect request's target powers take the place of ror: the cases still
// change fastest.
TEST(Expand, DetectRowsHaveTheTargetPowersInThePlaceOfRor) {
  Request r = base();
  r.mode = Mode::detect;
  r.ror.clear();
  r.cases = {500, 1000};
  r.power = {0.8, 0.9};
  r.direction = Direction::protective;
  const Expansion e = expand(r);
  ASSERT_TRUE(e.ok()) << e.error->error.message();
  const double expected[][2] = {{0.8, 500}, {0.8, 1000}, {0.9, 500}, {0.9, 1000}};
  ASSERT_EQ(e.scenarios.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(e.scenarios[i].target_power, expected[i][0]) << i;
    EXPECT_EQ(e.scenarios[i].cases, expected[i][1]) << i;
    EXPECT_EQ(e.scenarios[i].direction, Direction::protective) << i;
  }
}

}  // namespace
}  // namespace gxe::plan
