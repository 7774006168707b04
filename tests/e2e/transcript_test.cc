// End-to-end transcripts: the real program run with answers on standard
// input, its standard output, the first line of its error stream and its
// exit status compared with checked-in files. A case <name> is the files
//   <name>.in      standard input
//   <name>.out     expected standard output, byte for byte
//   <name>.err     expected first line of the error stream (empty: nothing)
//   <name>.status  expected exit status
// in the directory GXE_TRANSCRIPTS. With GXE_UPDATE_TRANSCRIPTS=1 in the
// environment the expected files are rewritten from what the program did;
// read the resulting diff before committing it.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/expected_files.h"

namespace gxe::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kTranscripts = GXE_TRANSCRIPTS;

std::vector<std::string> transcript_names() { return case_names(kTranscripts, ".in"); }

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

class TranscriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TranscriptTest, MatchesExpected) {
  const fs::path base = kTranscripts / GetParam();
  const auto file = [&](const char* ext) {
    fs::path p = base;
    p += ext;
    return p;
  };

  Fd in(::open(file(".in").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_GE(in.get(), 0) << file(".in");
  CaptureFile out;
  CaptureFile err;
  ASSERT_TRUE(out.ok() && err.ok());
  const pid_t pid = spawn_child(GXE_BINARY, in.get(), out.fd(), err.fd());
  ASSERT_GT(pid, 0) << "cannot start " << GXE_BINARY;
  int wstatus = 0;
  ASSERT_TRUE(wait_for_child(pid, wstatus)) << "gxeplan did not end; killed";
  ASSERT_TRUE(WIFEXITED(wstatus)) << describe_wait_status(wstatus) << "\nerror stream:\n"
                                  << err.contents();

  Outcome actual{out.contents(), first_line(err.contents()), WEXITSTATUS(wstatus)};
  if (updating()) {
    write_file(file(".out"), actual.out);
    write_file(file(".err"), actual.err.empty() ? "" : actual.err + "\n");
    write_file(file(".status"), std::to_string(actual.status) + "\n");
    std::cout << "updated " << base.string() << "\n";
    return;
  }

  const std::string expected_out = read_file(file(".out"));
  const std::string expected_err = first_line(read_file(file(".err")));
  const std::string status_text = read_file(file(".status"));
  ASSERT_FALSE(status_text.empty()) << file(".status") << " is missing or empty";
  EXPECT_EQ(actual.status, std::stoi(status_text)) << "exit status";
  EXPECT_EQ(actual.err, expected_err) << "first line of the error stream";
  if (actual.out != expected_out) {
    ADD_FAILURE() << "standard output differs:\n" << line_diff(expected_out, actual.out);
  }
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Transcripts, TranscriptTest, ::testing::ValuesIn(transcript_names()),
                         test_name);

// An empty or mistyped directory would otherwise pass by running nothing.
TEST(TranscriptDirectory, HasCompleteCases) {
  const std::vector<std::string> names = transcript_names();
  EXPECT_GE(names.size(), 20u) << kTranscripts;
  if (updating()) return;  // new cases get their files in this run
  for (const std::string& name : names) {
    for (const char* ext : {".out", ".err", ".status"}) {
      EXPECT_TRUE(fs::exists(kTranscripts / (name + ext))) << name << ext;
    }
  }
}

}  // namespace
}  // namespace gxe::e2e
