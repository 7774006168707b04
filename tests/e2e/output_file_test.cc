// The files the command line writes whole, batch --output and curve --plot,
// through the real binary: what a symbolic link, the permissions of the file
// replaced and the length of the name do, and what "-" and "" mean.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/expected_files.h"
#include "tests/e2e/temp_folder.h"

namespace gxe::e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRows = "mode,cases,quantiles,gene_prevalence,ror\npower,500,4,0.3,2\n";

// A writer of a file: the command, and where its file name goes.
struct Writer {
  const char* name;
  std::vector<std::string> args;  // the file's option comes last, its value after it
  const char* ending;
  const char* starts;  // what the written file begins with
};

const Writer kWriters[] = {
    {"batch", {"batch", "-", "--output"}, ".csv", "mode,cases"},
    {"curve",
     {"curve", "--over", "cases", "--from", "100", "--to", "1000", "--points", "2", "--quantiles",
      "2", "--gene-prevalence", "0.3", "--ror", "2", "--search", "centre", "--plot"},
     ".svg", "<?xml"},
};

// Runs `args` with `file` after them, the batch rows on standard input.
::testing::AssertionResult run(std::vector<std::string> args, const std::string& file,
                               Finished& result) {
  CaptureFile in;
  const std::string rows = kRows;
  if (!in.ok() || ::pwrite(in.fd(), rows.data(), rows.size(), 0) <= 0) {
    return ::testing::AssertionFailure() << "cannot write the input";
  }
  args.push_back(file);
  return run_to_end(args, in.fd(), result);
}

std::vector<std::string> sorted_names(const TempFolder& folder) {
  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  return names;
}

// A link to a file that does not exist yet is written through: the file it
// names is made, and the link stays a link.
TEST(OutputFile, DanglingLinkIsWrittenThrough) {
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    const TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const fs::path link = folder.path() / (std::string("latest") + w.ending);
    const std::string target = std::string("results") + w.ending;
    fs::create_symlink(target, link);  // relative to the link's folder
    Finished r;
    ASSERT_TRUE(run(w.args, link.string(), r));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(folder.path() / target).rfind(w.starts, 0), 0u);
    EXPECT_EQ(sorted_names(folder), (std::vector<std::string>{"latest" + std::string(w.ending),
                                                              target}));
  }
}

// The file replaced keeps its permissions, but a new file of this user does
// not take its set-user-ID, set-group-ID or sticky bit.
TEST(OutputFile, SpecialPermissionBitsAreNotCopied) {
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    const TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const fs::path file = folder.path() / (std::string("results") + w.ending);
    write_file(file, "old results\n");
    ASSERT_EQ(::chmod(file.c_str(), 07750), 0);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    ASSERT_EQ(before.st_mode & 07777, 07750u) << "the bits could not be set";
    Finished r;
    ASSERT_TRUE(run(w.args, file.string(), r));
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0750u);
    EXPECT_EQ(read_file(file).rfind(w.starts, 0), 0u);
  }
}

// A name that fits the file system but not with the temporary name's suffix
// is wrong use, found before anything is calculated: no rows, no file.
TEST(OutputFile, NameTooLongForTheTemporaryNameIsRefusedFirst) {
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    const TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const long longest = ::pathconf(folder.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 20);
    const std::string name = std::string(static_cast<std::size_t>(longest) - 8, 'a') + w.ending;
    const std::string path = (folder.path() / name).string();
    Finished r;
    ASSERT_TRUE(run(w.args, path, r));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    // The name's start and end, with what is left out between them counted.
    const std::string shown = "\"" + path.substr(0, 25) + "\"...(" +
                              std::to_string(path.size() - 50) + " characters left out)...\"" +
                              path.substr(path.size() - 25) + "\"";
    EXPECT_EQ(r.err, "gxeplan: " + w.args.back() + ": " + shown +
                         " is too long a file name: it is written first under a temporary name "
                         "11 bytes longer, and its folder takes names of at most " +
                         std::to_string(longest) + " bytes (its name has " +
                         std::to_string(name.size()) + ")\n");
    EXPECT_EQ(folder.names(), std::vector<std::string>{});
  }
}

// "-" is standard output, as FILE "-" is standard input; an empty name is
// wrong use.
TEST(OutputFile, DashIsStandardOutputAndEmptyIsWrongUse) {
  Finished plain;
  ASSERT_TRUE(run({"batch"}, "-", plain));
  ASSERT_EQ(plain.status, 0) << plain.err;
  Finished dash;
  ASSERT_TRUE(run({"batch", "-", "--output"}, "-", dash));
  EXPECT_EQ(dash.status, 0) << dash.err;
  EXPECT_EQ(dash.out, plain.out);
  EXPECT_EQ(dash.err, plain.err);
  Finished empty;
  ASSERT_TRUE(run({"batch", "-", "--output"}, "", empty));
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "gxeplan: --output: \"\" is not a file name\n");
}

}  // namespace
}  // namespace gxe::e2e
