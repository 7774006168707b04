// The command line end to end: the real binary with arguments, its standard
// output, error stream and exit status compared with checked-in files in
// GXE_CLI_CASES:
//   <name>.args      the arguments, one per line
//   <name>.in        standard input, when there is one (a batch file read
//                    from "-"); empty otherwise
//   <name>.expected  "status N", "stderr:", the error stream, "stdout:", then
//                    standard output byte for byte
//   wrong_use.txt    one case of wrong use per line: the arguments separated
//                    by blanks, a tab, the one line expected on the error
//                    stream (status 2, nothing on standard output)
// GXE_UPDATE_TRANSCRIPTS=1 rewrites the .expected files (not wrong_use.txt).

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/expected_files.h"

namespace gxe::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kCases = GXE_CLI_CASES;

// Runs gxeplan with `args`, standard input empty or the file `input`;
// standard output to `out_fd` when given, captured otherwise.
::testing::AssertionResult run_gxeplan(const std::vector<std::string>& args, Finished& run,
                                       int out_fd = -1, const fs::path& input = "/dev/null") {
  const Fd in(::open(input.c_str(), O_RDONLY | O_CLOEXEC));
  return run_to_end(args, in.get(), run, out_fd);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string expected_text(const Finished& run) {
  return "status " + std::to_string(run.status) + "\nstderr:\n" + run.err + "stdout:\n" + run.out;
}

std::vector<std::string> cli_case_names() { return case_names(kCases, ".args"); }

class CliCaseTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CliCaseTest, MatchesExpected) {
  const fs::path base = kCases / GetParam();
  const fs::path input = fs::path(base).concat(".in");
  Finished run;
  ASSERT_TRUE(run_gxeplan(lines_of(read_file(fs::path(base).concat(".args"))), run, -1,
                          fs::exists(input) ? input : fs::path("/dev/null")));
  const fs::path expected_path = fs::path(base).concat(".expected");
  if (updating()) {
    write_file(expected_path, expected_text(run));
    std::cout << "updated " << expected_path.string() << "\n";
    return;
  }
  const std::string expected = read_file(expected_path);
  ASSERT_FALSE(expected.empty()) << expected_path << " is missing or empty";
  if (expected_text(run) != expected) {
    ADD_FAILURE() << "output differs:\n" << line_diff(expected, expected_text(run));
  }
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cli, CliCaseTest, ::testing::ValuesIn(cli_case_names()), test_name);

struct WrongUse {
  std::vector<std::string> args;
  std::string message;
};

std::vector<WrongUse> wrong_uses() {
  std::vector<WrongUse> cases;
  for (const std::string& line : lines_of(read_file(kCases / "wrong_use.txt"))) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    WrongUse c;
    std::istringstream words(line.substr(0, tab));
    for (std::string w; words >> w;) c.args.push_back(w);
    c.message = line.substr(tab + 1);
    cases.push_back(c);
  }
  return cases;
}

TEST(CliWrongUse, OneLineNothingOnStandardOutputStatus2) {
  const std::vector<WrongUse> cases = wrong_uses();
  EXPECT_GE(cases.size(), 8u);
  for (const WrongUse& c : cases) {
    SCOPED_TRACE(c.message);
    Finished run;
    ASSERT_TRUE(run_gxeplan(c.args, run));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, c.message + "\n");
    EXPECT_EQ(run.out, "");
  }
}

// A value of 100,000 characters is echoed by its first and last 25, with
// the number left out between them, wherever a message quotes it.
TEST(CliWrongUse, LongValuesAreShortened) {
  const std::string ones(100000, '1');
  const std::string dees(100000, 'd');
  const auto shortened = [](const std::string& text) {
    return "\"" + text.substr(0, 25) + "\"...(99950 characters left out)...\"" +
           text.substr(text.size() - 25) + "\"";
  };
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"power", "--quantiles", "4", "--gene-prevalence", "0.3", "--ror", "2", "--cases", ones},
       "gxeplan: --cases: " + shortened(ones) +
           " is too large or too small to be represented as a number"},
      {{"power", "--quantiles", "4", "--gene-prevalence", "0.3", "--ror", "2", "--cases", "500",
        dees},
       "gxeplan: " + shortened(dees) +
           " is not the value of an option: a value goes right after its option, and a list is "
           "one argument, such as 500,1000"},
      {{"batch", dees}, "gxeplan: " + shortened(dees) + ": cannot be read: File name too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    Finished run;
    ASSERT_TRUE(run_gxeplan(c.args, run));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, c.message + "\n");
    EXPECT_EQ(run.out, "");
  }
}

// Output that cannot be written ends the calculations with a diagnostic and
// status 4, never a success.
TEST(CliOutput, FullDeviceIsAWriteError) {
  Fd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  ASSERT_GE(full.get(), 0);
  Finished run;
  ASSERT_TRUE(run_gxeplan({"power", "--quantiles", "4", "--gene-prevalence", "0.3", "--ror", "2",
                           "--cases", "500,1000", "--format", "csv"},
                          run, full.get()));
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.err, "gxeplan: write error on standard output\n");
}

TEST(CliCases, DirectoryHasCases) { EXPECT_GE(cli_case_names().size(), 6u) << kCases; }

}  // namespace
}  // namespace gxe::e2e
