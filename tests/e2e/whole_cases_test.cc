// `gxeplan size` answers whole numbers of cases and controls, and its cases
// fed back to `gxeplan power` reach the target power while one case fewer
// does not, over a random sample of designs, through the real binary.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"

namespace gxe::e2e {
namespace {

// The csv's one data row as fields, by the header's names (no field of an
// answered row holds a comma or a quote).
struct CsvRow {
  std::vector<std::string> names;
  std::vector<std::string> fields;

  double number(const std::string& name) const {
    for (std::size_t i = 0; i < names.size() && i < fields.size(); ++i) {
      if (names[i] == name) return fields[i].empty() ? NAN : std::stod(fields[i]);
    }
    return NAN;
  }
};

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  for (std::size_t a = 0, b; a <= line.size(); a = b + 1) {
    b = line.find(',', a);
    if (b == std::string::npos) b = line.size();
    fields.push_back(line.substr(a, b - a));
  }
  return fields;
}

::testing::AssertionResult run_csv(const std::vector<std::string>& args, CsvRow& row) {
  const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--format", "csv"});
  Finished run;
  if (auto started = run_to_end(all, in.get(), run); !started) return started;
  const std::size_t header_end = run.out.find("\r\n");
  if (run.status != 0 || header_end == std::string::npos) {
    return ::testing::AssertionFailure() << "status " << run.status << ": " << run.err;
  }
  row.names = split(run.out.substr(0, header_end));
  const std::size_t row_end = run.out.find("\r\n", header_end + 2);
  row.fields = split(run.out.substr(header_end + 2, row_end - header_end - 2));
  return ::testing::AssertionSuccess();
}

std::string text(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", x);
  return buf;
}

TEST(WholeCases, ReportedCasesFedBackReachTheTargetAndOneFewerDoNot) {
  std::mt19937 rng(20261209);
  const auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(rng);
  };
  const char* ratios[] = {"1", "0.3", "2", "1.1", "0.7", "3"};
  const char* alphas[] = {"0.05", "0.01", "5e-8"};
  for (int trial = 0; trial < 24; ++trial) {
    const double e0 = std::exp(uniform(-1, 1));
    const double g0 = std::exp(uniform(-1, 1));
    const std::vector<std::string> design = {
        "--quantiles", std::to_string(2 + trial % 7),
        "--gene-prevalence", text(uniform(0.05, 0.6)),
        "--controls-per-case", ratios[trial % 6],
        "--or-e", text(std::exp(uniform(-1, 1.5))),
        "--or-g", text(std::exp(uniform(-1, 1.5))),
        "--ror", text(std::exp(uniform(0.3, 1.5) * (trial % 3 == 0 ? -1 : 1))),
        "--or-e-range", text(e0) + ":" + text(e0 * uniform(1, 3)),
        "--or-g-range", text(g0) + ":" + text(g0 * uniform(1, 3)),
        "--alpha", alphas[trial % 3],
        "--search", trial % 4 == 0 ? "centre" : "global"};
    const double target = std::round(uniform(0.5, 0.95) * 1000) / 1000;
    SCOPED_TRACE("trial " + std::to_string(trial));

    CsvRow size;
    std::vector<std::string> args = {"size", "--power", text(target)};
    args.insert(args.end(), design.begin(), design.end());
    ASSERT_TRUE(run_csv(args, size));
    const double cases = size.number("n_cases");
    const double controls = size.number("n_controls");
    ASSERT_TRUE(cases > 1) << cases;
    EXPECT_EQ(cases, std::round(cases));
    EXPECT_EQ(controls, std::round(controls));
    EXPECT_EQ(size.number("size"), cases + controls);

    for (const double fed : {cases, cases - 1}) {
      CsvRow power;
      std::vector<std::string> back = {"power", "--cases",
                                       std::to_string(static_cast<long long>(fed))};
      back.insert(back.end(), design.begin(), design.end());
      ASSERT_TRUE(run_csv(back, power));
      if (fed == cases) {
        EXPECT_GE(power.number("power_min"), target);
        EXPECT_EQ(power.number("power_min"), size.number("power_min"));
      } else {
        EXPECT_LT(power.number("power_min"), target) << fed << " cases";
      }
    }
  }
}

}  // namespace
}  // namespace gxe::e2e
