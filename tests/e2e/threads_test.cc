// Rows calculated on several threads come out as on one: the same output,
// error stream and exit status for a batch (rows with and without answers),
// a curve and a list of power rows.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/child_process.h"

namespace gxe::e2e {
namespace {

TEST(Threads, SameRowsWhateverTheNumberOfThreads) {
  const std::vector<std::vector<std::string>> commands = {
      {"batch", GXE_CLI_CASES "/batch_mixed.in", "--format", "csv"},
      {"curve", "--over", "cases", "--from", "100", "--to", "2000", "--points", "25", "--ror",
       "1.5,2", "--quantiles", "4", "--gene-prevalence", "0.3", "--or-e-range", "1.5:2.5",
       "--or-g-range", "1:2", "--format", "csv"},
      {"size", "--power", "0.8,0.9", "--ror", "1,1.5,2,3", "--quantiles", "4",
       "--gene-prevalence", "0.1,0.3", "--or-e-range", "1:3", "--format", "json"},
  };
  for (std::vector<std::string> args : commands) {
    const Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Finished one;
    Finished two;
    std::vector<std::string> with_one = args;
    with_one.insert(with_one.end(), {"--threads", "1"});
    std::vector<std::string> with_two = args;
    with_two.insert(with_two.end(), {"--threads", "2"});
    ASSERT_TRUE(run_to_end(with_one, in.get(), one)) << args[0];
    ASSERT_TRUE(run_to_end(with_two, in.get(), two)) << args[0];
    EXPECT_FALSE(one.out.empty()) << args[0];
    EXPECT_EQ(two.out, one.out) << args[0];
    EXPECT_EQ(two.err, one.err) << args[0];
    EXPECT_EQ(two.status, one.status) << args[0];
  }
}

}  // namespace
}  // namespace gxe::e2e
