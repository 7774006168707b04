// The console unit when its output stream fails: the program ends at the
// next flush with a diagnostic, and a normal end is turned into a failure.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <streambuf>
#include <string>

#include "console/console.h"

namespace gxe::console {
namespace {

// A stream buffer that accepts `room` characters and then refuses, like a
// full device.
class FullBuffer : public std::streambuf {
 public:
  explicit FullBuffer(int room) : room_(room) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (room_ <= 0) return traits_type::eof();
    --room_;
    return c;
  }

 private:
  int room_;
};

class OutputFailureTest : public ::testing::Test {
 protected:
  OutputFailureTest() : out_(&full_) { console::bind(in_, out_, err_); }
  ~OutputFailureTest() override { bind_standard(); }

  // Runs `step`, which must end the program; gives the status.
  template <class Step>
  int status_of(Step step) {
    try {
      step();
    } catch (const ProgramEnd& end) {
      return end.status;
    }
    ADD_FAILURE() << "the program did not end";
    return 0;
  }

  FullBuffer full_{10};
  std::istringstream in_{"4\n"};
  std::ostream out_;
  std::ostringstream err_;
};

TEST_F(OutputFailureTest, QuestionThatCannotBeWrittenEndsBeforeReading) {
  const int status = status_of([] {
    Layout().text("Enter the number of quantiles (k: integer).......:   ").stay();
  });
  EXPECT_NE(status, 0);
  EXPECT_EQ(err_.str(), "write error on standard output\n");
  // The answer was never read.
  EXPECT_EQ(in_.tellg(), 0);
}

TEST_F(OutputFailureTest, RequestAfterLostMessageEndsBeforeReading) {
  message({"This text is longer than the ten characters the device takes."});
  const int status = status_of([] {
    std::int64_t k = 0;
    read_whole(k);
  });
  EXPECT_NE(status, 0);
  EXPECT_EQ(err_.str(), "write error on standard output\n");
  EXPECT_EQ(in_.tellg(), 0);
}

TEST_F(OutputFailureTest, NormalEndBecomesFailure) {
  message({"This text is longer than the ten characters the device takes."});
  EXPECT_NE(status_of([] { end_program(0); }), 0);
  EXPECT_EQ(err_.str(), "write error on standard output\n");
}

TEST_F(OutputFailureTest, FailureStatusIsKept) {
  message({"This text is longer than the ten characters the device takes."});
  EXPECT_EQ(status_of([] { end_program(7); }), 7);
}

TEST_F(OutputFailureTest, OutputThatFitsIsNoFailure) {
  Layout().text("y/n: ").stay();
  EXPECT_EQ(read_char(), '4');
  EXPECT_EQ(err_.str(), "");
}

}  // namespace
}  // namespace gxe::console
