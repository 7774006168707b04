// The console writer: free-form message lines and fixed-layout lines, written
// into a string stream and compared character for character.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "console/console.h"

namespace gxe::console {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Binds the console to string streams for the life of the test.
class WriterTest : public ::testing::Test {
 protected:
  WriterTest() { console::bind(in_, out_, err_); }
  ~WriterTest() override { bind_standard(); }
  std::string written() const { return out_.str(); }

  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

struct RealCase {
  double value;
  const char* written;
};

TEST(FormatRealItem, NineSignificantDigitsWithForcedPoint) {
  const RealCase cases[] = {
      {2.0, "  2."},
      {0.00001, "  1.E-05"},
      {1.0 + 1e-9, "  1."},
      {-1.5, " -1.5"},
      {0.0, "  0."},
      {-0.0, "  0."},
      {0.95, "  0.95"},
      {0.0001, "  0.0001"},
      {123456789.0, "  123456789."},
      {1234567890.0, "  1.23456789E+09"},
      {1e20, "  1.E+20"},
      {-2.5e-7, " -2.5E-07"},
      {1.0 / 3.0, "  0.333333333"},
      {kInf, "  Infinity"},
      {-kInf, " -Infinity"},
      {kNaN, "  NaN"},
  };
  for (const RealCase& c : cases) {
    EXPECT_EQ(format_real_item(c.value), c.written) << "value " << c.value;
  }
}

TEST_F(WriterTest, MessageItemsFollowEachOther) {
  message({"Probabilities do not add to 1.0.", 0.95});
  message({"problem with solver: info = ", 4});
  message({"n =", -12, " and", 2.0});
  message({});
  EXPECT_EQ(written(),
            " Probabilities do not add to 1.0.  0.95\n"
            " problem with solver: info =  4\n"
            " n = -12 and  2.\n"
            "\n");
}

// Width rule: an item is moved to a new line when the line holds characters
// and its length plus the item's counted length reaches 80.
TEST_F(WriterTest, MessageWrapsAtEightyColumns) {
  const std::string t77(77, 'a');
  const std::string t79(79, 'b');
  const std::string t40(40, 'c');
  message({t77});                 // 78 columns, one item: never broken
  message({t79});                 // longer than the line, still one line
  message({t40, std::string(38, 'd')});  // 41 + 38 = 79: same line
  message({t40, std::string(39, 'e')});  // 41 + 39 = 80: new line, new blank
  message({std::string(76, 'f'), 12});   // 77 + 2 digits = 79: same line
  message({std::string(76, 'g'), 123});  // 77 + 3 digits = 80: new line
  message({std::string(75, 'h'), 2.0});  // 76 + 4 = 80: the real moves
  message({std::string(74, 'i'), 2.0});  // 75 + 4 = 79: stays
  EXPECT_EQ(written(),
            " " + t77 + "\n" +
            " " + t79 + "\n" +
            " " + t40 + std::string(38, 'd') + "\n" +
            " " + t40 + "\n " + std::string(39, 'e') + "\n" +
            " " + std::string(76, 'f') + " 12\n" +
            " " + std::string(76, 'g') + "\n 123\n" +
            " " + std::string(75, 'h') + "\n  2.\n" +
            " " + std::string(74, 'i') + "  2.\n");
}

TEST_F(WriterTest, TwoLongTextsGoOnTwoLines) {
  message({"the following conditional odds ratios under the",
           "alternative are implied. You can use  these values"});
  EXPECT_EQ(written(),
            " the following conditional odds ratios under the\n"
            " alternative are implied. You can use  these values\n");
}

struct FieldCase {
  std::string actual;
  const char* expected;
};

TEST(LayoutFields, IntegerFixedAndTextFields) {
  const FieldCase cases[] = {
      {format_integer_field(300, 8), "     300"},
      {format_integer_field(-5, 3), " -5"},
      {format_integer_field(1000, 3), "***"},
      {format_integer_field(-100, 3), "***"},
      {format_fixed_field(0.8, 12, 4), "      0.8000"},
      {format_fixed_field(1e7, 12, 4), "************"},
      {format_fixed_field(9999999.99994, 12, 4), "9999999.9999"},
      {format_fixed_field(-1.5, 5, 2), "-1.50"},
      {format_fixed_field(0.5, 5, 2), " 0.50"},
      {format_fixed_field(100.0, 5, 2), "*****"},
      {format_fixed_field(99.996, 6, 2), "100.00"},
      {format_fixed_field(99.996, 5, 2), "*****"},  // too wide only after rounding
      {format_fixed_field(-0.00004, 12, 4), "      0.0000"},  // all zeros: no sign
      {format_fixed_field(-0.0001, 12, 4), "     -0.0001"},
      {format_fixed_field(-0.0, 6, 2), "  0.00"},
      {format_fixed_field(3.0, 4, 0), "  3."},
      {format_fixed_field(kNaN, 5, 2), "  NaN"},
      {format_fixed_field(-kInf, 5, 2), " -Inf"},
      {format_fixed_field(kInf, 2, 0), "**"},
  };
  for (const FieldCase& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(LayoutFields, ExponentField) {
  const FieldCase cases[] = {
      {format_dexp_field(1.5, 11, 3), "  0.150D+01"},
      {format_dexp_field(-1.5, 11, 3), " -0.150D+01"},
      {format_dexp_field(0.0, 11, 3), "  0.000D+00"},
      {format_dexp_field(1e-5, 10, 2), "  0.10D-04"},
      {format_dexp_field(0.0001234, 9, 2), " 0.12D-03"},
      {format_dexp_field(9.9996, 11, 3), "  0.100D+02"},  // rounding carries into the exponent
      {format_dexp_field(123456.789, 17, 6), "     0.123457D+06"},
      {format_dexp_field(1e-300, 11, 3), "  0.100-299"},
      {format_dexp_field(1e300, 11, 3), "  0.100+301"},
      {format_dexp_field(1.5, 5, 3), "*****"},
      {format_dexp_field(kNaN, 11, 3), "        NaN"},
      {format_dexp_field(-kInf, 11, 3), "       -Inf"},
  };
  for (const FieldCase& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(WriterTest, LayoutLines) {
  Layout().newline().text("Size", 8).blanks(2).text("Min power", 12).end();
  Layout().text("abcdef", 3).text("ab", 4).text(" free").end();
  Layout().text("x").blanks(5).end();                 // trailing blanks dropped
  Layout().text("y").blanks(3).newline().text("z").end();
  Layout().text("a").newline().end();                 // ends with an empty line
  Layout().fixed(0.8, 12, 4).integer(300, 8).end();
  EXPECT_EQ(written(),
            "\n    Size     Min power\n"
            "abc  ab free\n"
            "x\n"
            "y\nz\n"
            "a\n\n"
            "      0.8000     300\n");
}

TEST_F(WriterTest, StayOnLineWritesNoNewlineAndDropsBlanks) {
  Layout().text("Enter k:   ").blanks(4).stay();
  message({"next"});
  EXPECT_EQ(written(), "Enter k:    next\n");
}

TEST_F(WriterTest, UnfinishedLayoutStillWritesItsLine) {
  { Layout().text("kept"); }
  EXPECT_EQ(written(), "kept\n");
}

TEST_F(WriterTest, EndProgramFlushesAndCarriesTheStatus) {
  try {
    end_program(7);
    FAIL() << "end_program returned";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.status, 7);
  }
}

}  // namespace
}  // namespace gxe::console
