// Marginal-to-conditional odds ratios: the solve and the printed report.

#include "model/oreg.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "model/records.h"
#include "tests/support/test_util.h"

namespace gxe::model {
namespace {

struct Conversion {
  int k = 4;
  double probg = 0.3;
  double orgm = 1.5;              // marginal OR(G)
  double oretbm = 2.0;            // marginal OR^tb(E)
  double ror = 2.0;               // ROR^tb
  std::vector<double> pexp = {};  // empty: quantiles
};

struct Result {
  double oretbc = 0.0;
  double orgc = 0.0;
  std::string out;
};

class OregTest : public ::testing::Test {
 protected:
  void SetUp() override { console::bind(in_, out_, err_); }
  void TearDown() override { console::bind_standard(); }

  Result run(const Conversion& c) {
    std::array<double, kMaxCategories> pexp{};
    for (int e = 0; e < c.k; ++e) pexp[e] = c.pexp.empty() ? 1.0 / c.k : c.pexp[e];
    std::array<double, 2> pgen{1.0 - c.probg, c.probg};
    double orgm = c.orgm;
    double oretbm = c.oretbm;
    double ror = c.ror;
    int k = c.k;
    Result r;
    Records rec;
    out_.str("");
    oreg(rec, orgm, oretbm, ror, k, pexp, pgen, r.oretbc, r.orgc);
    r.out = out_.str();
    EXPECT_EQ(err_.str(), "");
    return r;
  }

  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

std::string report(const std::string& numbers) {
  return "\n"
         " Assuming that the alternative hypothesis is true, that Pr(E,G)=Pr(E)Pr(G),  \n"
         " and these values of OR(E) and OR(G) for the marginal odds ratios, \n"
         " the following conditional odds ratios under the\n"
         " alternative are implied. You can use  these values\n"
         " as  an indicator of the center of the range of possible values \n"
         " for OR^tb(E|G=0) and OR(G|E=0).\n"
         "\n"
         "Marginal odds ratio     Conditional odds ratio\n"
         "\n"
         " OR^tb(E)  OR(G)        OR^tb(E|G=0) OR(G|E=0)\n"
         "\n" +
         numbers + "\n";
}

// The last line of the report: the four 5-column numbers.
std::string last_line(const std::string& out) {
  const std::string body = out.substr(0, out.size() - 1);
  return body.substr(body.rfind('\n') + 1);
}

// Marginal odds ratios implied by conditional ones, computed directly from
// the case distribution r(s, g) pexp(e) pgen(g): the exposure odds ratio
// between categories 2 and 1 and the gene odds ratio, genotypes or
// categories pooled.
struct Marginal {
  double or_e_step;
  double or_g;
};
Marginal marginal(const Conversion& c, double oretbc, double orgc) {
  const double be = std::log(oretbc) / (c.k - 1);
  const double bg = std::log(orgc);
  const double beg = std::log(c.ror) / (c.k - 1);
  const auto pe = [&](int e) { return c.pexp.empty() ? 1.0 / c.k : c.pexp[e - 1]; };
  const double pg[2] = {1.0 - c.probg, c.probg};
  const auto cases = [&](int e, int g) {
    const int s = e - 1;
    return std::exp(be * s + bg * g + beg * s * g) * pe(e) * pg[g];
  };
  const double or_e = (cases(2, 0) + cases(2, 1)) / (pe(2)) / ((cases(1, 0) + cases(1, 1)) / pe(1));
  double carriers = 0.0;
  double non_carriers = 0.0;
  for (int e = 1; e <= c.k; ++e) {
    carriers += cases(e, 1);
    non_carriers += cases(e, 0);
  }
  return {or_e, (carriers / pg[1]) / (non_carriers / pg[0])};
}

TEST_F(OregTest, WorkedExamplePrintsTheReport) {
  const Result r = run(Conversion{});
  EXPECT_EQ(r.out, report(" 2.00      1.50              1.60      0.98"));
  EXPECT_CLOSE(r.oretbc, 1.600957, 1e-6);
  EXPECT_CLOSE(r.orgc, 0.982259, 1e-6);
}

// The solution reproduces the marginal targets, checked from the case
// distribution directly; only categories 1 and 2 fix the exposure step.
TEST_F(OregTest, ConditionalOddsRatiosReproduceTheMarginalTargets) {
  const std::vector<Conversion> rows = {
      Conversion{},
      {.k = 2, .probg = 0.5, .orgm = 0.6, .oretbm = 3.0, .ror = 0.5},
      {.k = 3, .probg = 0.1, .orgm = 2.5, .oretbm = 0.4, .ror = 4.0},
      {.k = 5,
       .probg = 0.4,
       .orgm = 1.2,
       .oretbm = 1.8,
       .ror = 1.5,
       .pexp = {0.3, 0.25, 0.2, 0.15, 0.1}},
      {.k = 10, .probg = 0.2, .orgm = 1.5, .oretbm = 2.0, .ror = 0.7},
  };
  for (const Conversion& c : rows) {
    const Result r = run(c);
    EXPECT_EQ(r.out.find("problem with solver"), std::string::npos) << "k = " << c.k;
    const Marginal m = marginal(c, r.oretbc, r.orgc);
    EXPECT_CLOSE(m.or_e_step, std::pow(c.oretbm, 1.0 / (c.k - 1)), 1e-8) << "k = " << c.k;
    EXPECT_CLOSE(m.or_g, c.orgm, 1e-8) << "k = " << c.k;
  }
}

// Without interaction conditional and marginal odds ratios coincide.
TEST_F(OregTest, NoInteractionGivesConditionalEqualToMarginal) {
  for (const int k : {2, 3, 4, 7, 20, 100}) {
    for (const double probg : {0.05, 0.5}) {
      const Conversion c{.k = k, .probg = probg, .orgm = 1.7, .oretbm = 0.6, .ror = 1.0};
      const Result r = run(c);
      EXPECT_CLOSE(r.oretbc, 0.6, 1e-8) << "k = " << k;
      EXPECT_CLOSE(r.orgc, 1.7, 1e-8) << "k = " << k;
      EXPECT_EQ(last_line(r.out), " 0.60      1.70              0.60      1.70") << "k = " << k;
    }
  }
}

TEST_F(OregTest, OddsRatiosOfOneAreSolvedByTheStartingPoint) {
  const Result r = run({.orgm = 1.0, .oretbm = 1.0, .ror = 1.0});
  EXPECT_EQ(r.oretbc, 1.0);
  EXPECT_EQ(r.orgc, 1.0);
  EXPECT_EQ(r.out, report(" 1.00      1.00              1.00      1.00"));
}

// A strong negative interaction needs a conditional OR^tb(E|G=0) of about 249
// to keep the marginal one at 20; 5 columns cannot hold it.
TEST_F(OregTest, ConditionalOddsRatioOfAHundredOrMoreIsPrintedAsAsterisks) {
  const Result r = run({.orgm = 1.5, .oretbm = 20.0, .ror = 0.05});
  EXPECT_GT(r.oretbc, 100.0);
  EXPECT_EQ(last_line(r.out), "20.00      1.50             *****     20.99");
}

// A target that no odds ratio can reach (a negative marginal OR(G)): the
// solver's report comes first, the rest of the report follows with the last
// iterate.
TEST_F(OregTest, SolverFailureIsReportedAndTheReportStillFollows) {
  const Result r = run({.orgm = -1.0});
  const std::string prefix = " problem with solver: info = ";
  ASSERT_EQ(r.out.substr(0, prefix.size()), prefix);
  const std::string first = r.out.substr(0, r.out.find('\n'));
  EXPECT_NE(first, prefix + " 1");
  EXPECT_NE(r.out.find("Marginal odds ratio"), std::string::npos);
  EXPECT_EQ(last_line(r.out).substr(0, 15), " 2.00     -1.00");
}

}  // namespace
}  // namespace gxe::model

namespace gxe::model {
namespace {

// The solver's answers against those of the solver it replaced, recorded on
// random designs (conversion_fixture.csv says how): the same verdict, and the
// same conditional odds ratios to 1e-9 relative.
TEST(ConversionFixture, SameAnswersAsTheRecordedSolver) {
  constexpr double kRelative = 1e-9;
  const auto rows =
      gxe::testing::fixture_rows(GXE_MODEL_FIXTURES "/conversion_fixture.csv", "orgm");
  ASSERT_EQ(rows.size(), 300u) << "fixture missing or cut short";
  for (const std::vector<std::string>& f : rows) {
    const std::string line = ::testing::PrintToString(f);
    ASSERT_EQ(f.size(), 9u) << line;
    const int k = std::stoi(f[3]);
    const double carriers = std::stod(f[4]);
    std::vector<int> weights;
    std::stringstream items(f[5]);
    for (std::string w; std::getline(items, w, ';');) weights.push_back(std::stoi(w));
    ASSERT_EQ(static_cast<int>(weights.size()), k) << line;
    double sum = 0.0;
    for (const int w : weights) sum += w;
    std::vector<double> pexp;
    for (const int w : weights) pexp.push_back(w / sum);
    const std::array<double, 2> pgen{1.0 - carriers, carriers};
    double oretbc = 0.0;
    double orgc = 0.0;
    Records rec;
    const int info = convert_odds_ratios(rec, std::stod(f[0]), std::stod(f[1]), std::stod(f[2]),
                                         k, pexp, pgen, oretbc, orgc);
    EXPECT_EQ(info, std::stoi(f[8])) << line;
    EXPECT_CLOSE(oretbc, std::stod(f[6]), kRelative) << line;
    EXPECT_CLOSE(orgc, std::stod(f[7]), kRelative) << line;
  }
}

}  // namespace
}  // namespace gxe::model
