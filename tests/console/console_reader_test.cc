// The console reader: answer requests over string streams. Each case feeds a
// whole input, makes one request and, where the rest of the line matters, a
// second request that shows what the first one left.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "console/console.h"

namespace gxe::console {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUntouched = -777.0;  // what a variable held before the request

// Binds the console to string streams for the life of the object.
class Session {
 public:
  explicit Session(const std::string& input) : in_(input) { console::bind(in_, out_, err_); }
  ~Session() { bind_standard(); }
  std::string err() const { return err_.str(); }
  std::string out() const { return out_.str(); }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

struct RealsCase {
  const char* input;
  std::vector<double> expected;  // kUntouched: the request left the value alone
  std::optional<double> next;    // value of a following one-value request
};

TEST(ReadReals, ListInputRules) {
  const RealsCase cases[] = {
      {"1.5\n", {1.5}, {}},
      {"  \t1.5  \n", {1.5}, {}},
      {"\n\n \t\n2\n", {2.0}, {}},                 // empty lines are no answer
      {"1 2\n3\n", {1.0}, 3.0},                     // the rest of the line is lost
      {"0.5\n2\n", {0.5, 2.0}, {}},                 // one request over two lines
      {"0.5,2\n", {0.5, 2.0}, {}},
      {"0.5 , 2\n", {0.5, 2.0}, {}},
      {"1.5\t2\n", {1.5, 2.0}, {}},
      {"2*1.5\n", {1.5, 1.5}, {}},
      {"3*1.5\n9\n", {1.5, 1.5}, 9.0},              // unused repetitions are lost too
      {"1 2*4\n", {1.0, 4.0, 4.0}, {}},
      {",2\n", {kUntouched, 2.0}, {}},              // comma: a null value
      {"1,,3\n", {1.0, kUntouched, 3.0}, {}},
      {"1 ,, 3\n", {1.0, kUntouched, 3.0}, {}},
      {",,\n", {kUntouched, kUntouched}, {}},
      {"1\n,2\n", {1.0, 2.0}, {}},                  // that comma only separates
      {",\n5\n", {kUntouched}, 5.0},
      {"1/\n", {1.0, kUntouched}, {}},              // slash ends the request
      {"1 / 2\n", {1.0, kUntouched}, {}},
      {"/ 2\n5\n", {kUntouched, kUntouched}, 5.0},
      {"2*\n", {kUntouched, kUntouched}, {}},       // r* alone: r null values
      {"2*,3\n", {kUntouched, kUntouched, 3.0}, {}},
      {"2* 3\n", {kUntouched, kUntouched, 3.0}, {}},
      {"2*/\n", {kUntouched, kUntouched, kUntouched}, {}},
      {"1.5-3\n", {0.0015}, {}},                    // sign-only exponent
      {"1.5+3\n", {1500.0}, {}},
      {"-1.5-3\n", {-0.0015}, {}},
      {"1.5D2 1.5d-2\n", {150.0, 0.015}, {}},
      {"1e2 1E+2\n", {100.0, 100.0}, {}},
      {"-.5 +5. .5e1\n", {-0.5, 5.0, 5.0}, {}},
      {"1e999 -1D999\n", {kInf, -kInf}, {}},        // overflow gives infinities
      {"1e-999\n", {0.0}, {}},
      {"1.5\r\n2\r\n", {1.5}, 2.0},                 // CR LF line ends
      {"1.5", {1.5}, {}},                           // last line without a newline
      {"99999999999999999999*2\n", {2.0}, {}},     // huge count, no overflow
  };
  for (const RealsCase& c : cases) {
    SCOPED_TRACE(c.input);
    Session session(c.input);
    std::vector<double> values(c.expected.size(), kUntouched);
    read_reals(values);
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], c.expected[i]) << i;
    if (c.next) {
      double next = kUntouched;
      read_real(next);
      EXPECT_EQ(next, *c.next);
    }
    EXPECT_EQ(session.err(), "");
  }
}

struct WholeCase {
  const char* input;
  std::int64_t expected;
};

TEST(ReadWhole, SignAndDigitsOnly) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const WholeCase cases[] = {
      {"2\n", 2},
      {"-3\n", -3},
      {"+4\n", 4},
      {"007\n", 7},
      {"2*7\n", 7},
      {",\n", -1},  // null value: unchanged
      {"/\n", -1},
      {"99999999999999999999999\n", kMax},    // saturates
      {"-99999999999999999999999\n", -kMax},
  };
  for (const WholeCase& c : cases) {
    SCOPED_TRACE(c.input);
    Session session(c.input);
    std::int64_t value = -1;
    read_whole(value);
    EXPECT_EQ(value, c.expected);
  }
}

struct CharCase {
  const char* input;
  char expected;
};

TEST(ReadChar, FirstCharacterOfFirstItem) {
  const CharCase cases[] = {
      {"y\n", 'y'},
      {"yes\n", 'y'},
      {"  \t\n\n  Yes\n", 'Y'},
      {"'y'\n", 'y'},
      {"\"Y\"\n", 'Y'},
      {"''''\n", '\''},  // a doubled quote stands for one
      {"\"\"\"\"\n", '"'},
      {"''\n", ' '},     // an empty string
      {"' y'\n", ' '},
      {"'\ny'\n", 'y'},  // a line end inside quotes is not part of the string
      {",y\n", ' '},     // no value: a blank
      {"/\n", ' '},
      {"3*yes\n", 'y'},
      {"2*'n'\n", 'n'},
      {"2*\n", ' '},
      {"0*y\n", '0'},    // no repetition: the item as it stands
      {"12\n", '1'},
      {"*y\n", '*'},
      {"x,y\n", 'x'},
  };
  for (const CharCase& c : cases) {
    SCOPED_TRACE(c.input);
    Session session(c.input);
    EXPECT_EQ(read_char(), c.expected);
  }
}

TEST(ReadChar, DiscardsTheRestOfTheLine) {
  Session session("yes please\n'n' y\nz\n");
  EXPECT_EQ(read_char(), 'y');
  EXPECT_EQ(read_char(), 'n');
  EXPECT_EQ(read_char(), 'z');
}

enum class Request { kReal, kTwoReals, kWhole, kChar };

struct FatalCase {
  const char* input;
  Request request;
  const char* first_line;
};

constexpr const char* kInvalidNumber = "invalid number: incomprehensible list input";
constexpr const char* kInvalidInteger = "invalid integer: read unexpected character";
constexpr const char* kBadExponent = "exponent field: incomprehensible list input";
constexpr const char* kBadRepetition = "bad repetition count: incomprehensible list input";
constexpr const char* kEndOfFile = "list in: end of file";

void make_request(Request request) {
  double a = 0.0;
  std::array<double, 2> pair{};
  std::int64_t k = 0;
  switch (request) {
    case Request::kReal: read_real(a); break;
    case Request::kTwoReals: read_reals(pair); break;
    case Request::kWhole: read_whole(k); break;
    case Request::kChar: read_char(); break;
  }
}

TEST(ReadFatal, DiagnosticsAndStatus) {
  const FatalCase cases[] = {
      {"x\n", Request::kReal, kInvalidNumber},
      {"+\n", Request::kReal, kInvalidNumber},
      {".\n", Request::kReal, kInvalidNumber},
      {"1.5x\n", Request::kReal, kInvalidNumber},
      {"1..5\n", Request::kReal, kInvalidNumber},
      {"1e5e\n", Request::kReal, kInvalidNumber},
      {"'1'\n", Request::kReal, kInvalidNumber},
      {"1.5e\n", Request::kReal, kBadExponent},
      {"1.5e+\n", Request::kReal, kBadExponent},
      {"1.5-\n", Request::kReal, kBadExponent},
      {"1.5d/\n", Request::kReal, kBadExponent},
      {"*5\n", Request::kReal, kBadRepetition},
      {"0*5\n", Request::kReal, kBadRepetition},
      {"-2*5\n", Request::kReal, kBadRepetition},
      {"1.5*2\n", Request::kReal, kBadRepetition},
      {"2*x\n", Request::kReal, kInvalidNumber},
      {"1 x\n", Request::kTwoReals, kInvalidNumber},
      {"", Request::kReal, kEndOfFile},
      {"\n \n\t\n", Request::kReal, kEndOfFile},
      {"1\n", Request::kTwoReals, kEndOfFile},
      {"1,", Request::kTwoReals, kEndOfFile},
      {"2.0\n", Request::kWhole, kInvalidInteger},
      {"2e1\n", Request::kWhole, kInvalidInteger},
      {"4x\n", Request::kWhole, kInvalidInteger},
      {"-4.\n", Request::kWhole, kInvalidInteger},
      {"x\n", Request::kWhole, kInvalidNumber},
      {"+\n", Request::kWhole, kInvalidNumber},
      {".5\n", Request::kWhole, kInvalidNumber},
      {"2*3.0\n", Request::kWhole, kInvalidInteger},
      {"2.5*3\n", Request::kWhole, kBadRepetition},
      {"", Request::kChar, kEndOfFile},
      {"\n\n", Request::kChar, kEndOfFile},
      {"'\n", Request::kChar, kEndOfFile},  // the quoted item never starts
  };
  for (const FatalCase& c : cases) {
    SCOPED_TRACE(c.input);
    Session session(c.input);
    try {
      make_request(c.request);
      ADD_FAILURE() << "request returned";
    } catch (const ProgramEnd& end) {
      EXPECT_EQ(end.status, kFatalInputStatus);
      EXPECT_EQ(session.err(), std::string(c.first_line) +
                                   "\napparent state: unit 5 (unnamed)\n"
                                   "last format: list io\n"
                                   "lately reading sequential formatted external IO\n");
    }
  }
}

// An output buffer that remembers what had been flushed, and an input buffer
// that looks at it the moment the reader first asks for input.
class FlushRecorder : public std::stringbuf {
 public:
  std::string flushed;

 protected:
  int sync() override {
    flushed = str();
    return 0;
  }
};

class WatchingInput : public std::streambuf {
 public:
  WatchingInput(std::string text, const FlushRecorder& out) : text_(std::move(text)), out_(out) {}
  std::optional<std::string> flushed_at_first_read;

 protected:
  int_type underflow() override {
    if (!flushed_at_first_read) flushed_at_first_read = out_.flushed;
    if (done_) return traits_type::eof();
    done_ = true;
    setg(text_.data(), text_.data(), text_.data() + text_.size());
    return traits_type::to_int_type(text_[0]);
  }

 private:
  std::string text_;
  const FlushRecorder& out_;
  bool done_ = false;
};

TEST(ReadFlush, OutputIsFlushedBeforeTheRead) {
  FlushRecorder out_buf;
  WatchingInput in_buf("0.5\n", out_buf);
  std::ostream out(&out_buf);
  std::istream in(&in_buf);
  std::ostringstream err;
  console::bind(in, out, err);
  out << "Enter p: ";  // written, not flushed
  double p = 0.0;
  read_real(p);
  bind_standard();
  EXPECT_EQ(p, 0.5);
  ASSERT_TRUE(in_buf.flushed_at_first_read.has_value());
  EXPECT_EQ(*in_buf.flushed_at_first_read, "Enter p: ");
}

// A fatal diagnostic leaves the reader in the middle of a line; a new binding
// must not read the rest of it.
TEST(ReadBind, BindDropsTheBufferedLine) {
  {
    Session first("x 5\n");
    EXPECT_THROW(make_request(Request::kReal), ProgramEnd);
  }
  Session second("3\n");
  double x = 0.0;
  read_real(x);
  EXPECT_EQ(x, 3.0);
}

}  // namespace
}  // namespace gxe::console
