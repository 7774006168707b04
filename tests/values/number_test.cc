#include "values/number.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace gxe::values {
namespace {

// Texts a front end receives, and what each must read as: a number, or the
// problem reported. Every refused text is one a looser reader (strtod,
// from_chars alone, stream extraction) would turn into some number.
struct NumberCase {
  const char* text;
  double value;         // when `problem` is empty
  const char* problem;  // "" for a number
};

const NumberCase kNumbers[] = {
    {"0.3", 0.3, ""},
    {"500", 500.0, ""},
    {"5e-8", 5e-8, ""},
    {"5E-08", 5e-8, ""},
    {"-1.5", -1.5, ""},  // a number; the range check refuses it with its rule
    {".5", 0.5, ""},
    {"5.", 5.0, ""},
    {"0", 0.0, ""},
    {"0.05", 0.05, ""},
    {"5OO", 0, "is not a number"},
    {"0.3o", 0, "is not a number"},
    {"1.5-2.5", 0, "is not a number"},
    {"1,000", 0, "is not a number"},
    {"inf", 0, "is not a number"},
    {"nan", 0, "is not a number"},
    {"0x1p3", 0, "is not a number"},
    {"+5", 0, "is not a number"},
    {" 5", 0, "is not a number"},
    {"5 ", 0, "is not a number"},
    {"1.5e", 0, "is not a number"},
    {"1d3", 0, "is not a number"},
    {"", 0, "is not a number"},
    {"-", 0, "is not a number"},
    {".", 0, "is not a number"},
    {"05", 0, "has a superfluous leading zero"},
    {"000", 0, "has a superfluous leading zero"},
    {"-00.5", 0, "has a superfluous leading zero"},
    {"1e999", 0, "is too large or too small to be represented as a number"},
    {"1e-999", 0, "is too large or too small to be represented as a number"},
    // The edges of the range, as the C++ library's own reader draws them:
    // the largest double, the least subnormal, and just beyond each.
    {"1.7976931348623157e308", std::numeric_limits<double>::max(), ""},
    {"1.7976931348623159e308", 0, "is too large or too small to be represented as a number"},
    {"3e-324", std::numeric_limits<double>::denorm_min(), ""},
    {"2e-324", 0, "is too large or too small to be represented as a number"},
    {"0e-999", 0.0, ""},
};

TEST(ReadNumber, AcceptsDecimalsAndRefusesEverythingElse) {
  for (const NumberCase& c : kNumbers) {
    SCOPED_TRACE(c.text);
    const NumberReading r = read_number(c.text);
    EXPECT_EQ(r.problem, c.problem);
    if (r.ok()) {
      EXPECT_EQ(r.value, c.value);
    }
  }
}

TEST(ReadWholeNumber, DigitsOnlyWithinTheRange) {
  const struct {
    const char* text;
    int low, high;
    double value;
    const char* problem;
  } cases[] = {
      {"4", 2, 100, 4, ""},
      {"-3", -5, 5, -3, ""},
      {"2147483647", 0, 2147483647, 2147483647, ""},
      {"4.0", 2, 100, 0, "is not a whole number"},
      {"4e0", 2, 100, 0, "is not a whole number"},
      {"04", 2, 100, 0, "has a superfluous leading zero"},
      {"four", 2, 100, 0, "is not a number"},
      // Out of the range, within an int or beyond it, of either sign.
      {"0", 2, 100, 0, "must be a whole number from 2 to 100"},
      {"101", 2, 100, 0, "must be a whole number from 2 to 100"},
      {"-1", 0, 2147483647, 0, "must be a whole number from 0 to 2147483647"},
      {"2147483648", 0, 2147483647, 0, "must be a whole number from 0 to 2147483647"},
      {"-9223372036854775808", 0, 2147483647, 0, "must be a whole number from 0 to 2147483647"},
      {"99999999999999999999999", 2, 100, 0, "must be a whole number from 2 to 100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const NumberReading r = read_whole_number(c.text, c.low, c.high);
    EXPECT_EQ(r.problem, c.problem);
    if (r.ok()) {
      EXPECT_EQ(r.value, c.value);
    }
  }
  EXPECT_EQ(read_whole_number("-99999999999").problem,
            "must be a whole number from -2147483648 to 2147483647");
}

struct ListCase {
  const char* text;
  std::vector<double> values;
  std::string problem;
};

TEST(ReadNumberList, ItemsOrTheReasonThereAreNone) {
  const char* kCommaHint =
      "; a comma separates list items, so write 1000, not 1,000, and 0.05, not 0,05";
  const ListCase cases[] = {
      {"500", {500}, ""},
      {"500,1000,2000", {500, 1000, 2000}, ""},
      {"0.1,0.2", {0.1, 0.2}, ""},
      {"1, 500", {1, 500}, ""},  // the blank makes it a list
      {"1,5", {1, 5}, ""},       // two values; a decimal comma cannot be told apart
      {"5OO", {}, "is not a number"},
      {"1,000", {}, std::string("is not a list of numbers: \"000\" has a superfluous leading zero") + kCommaHint},
      {"1,500", {}, "could be one number with thousands separators or a list: write 1500 for "
                    "the number, or \"1, 500\" (with blanks) for the list"},
      {"12,500,750", {}, "could be one number with thousands separators or a list: write "
                         "12500750 for the number, or \"12, 500, 750\" (with blanks) for the list"},
      {"100,200,500", {100, 200, 500}, ""},  // as one number, over 100 million
      {"1,,2", {}, "is not a list of numbers: an item is empty"},
      {"1,", {}, "is not a list of numbers: an item is empty"},
      {",1", {}, "is not a list of numbers: an item is empty"},
      {"", {}, "is not a list of numbers: an item is empty"},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.text);
    const ListReading r = read_number_list(c.text);
    EXPECT_EQ(r.problem, c.problem);
    EXPECT_EQ(r.values, c.values);
    EXPECT_EQ(r.items.size(), r.values.size());
  }
}

// The shortest form reads back as the same double, for values with long
// expansions, the extremes of the range and subnormals.
TEST(FormatNumber, ShortestFormRoundTrips) {
  EXPECT_EQ(format_number(0.3), "0.3");
  EXPECT_EQ(format_number(1500), "1500");
  EXPECT_EQ(format_number(5e-8), "5e-08");
  for (double x : {0.1 + 0.2, 1.0 / 3.0, 0.47569741940813703, std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                   -2.5e-300}) {
    const NumberReading back = read_number(format_number(x));
    ASSERT_TRUE(back.ok()) << format_number(x) << " " << back.problem;
    EXPECT_EQ(back.value, x) << format_number(x);
  }
}

// The shortest form is the C++ library's own (std::to_chars with no format:
// the shorter of fixed and scientific, fixed on a tie), over the exponent
// thresholds where the two forms trade places and over random bit patterns
// of every magnitude.
TEST(FormatNumber, EqualsTheLibraryShortestForm) {
  const auto library = [](double x) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x);
    return std::string(buffer, ec == std::errc() ? end : buffer);
  };
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 1e-4, 1.5e-4, 1e-5, 0.001, 1e15, 1e16,
                                1.5e16, 123456789012345680.0, 1e21, 1e22, 1e-7, 12345e-10,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  for (int e = -30; e <= 30; ++e) {
    for (double m : {1.0, 1.25, 9.999, 3.0}) values.push_back(m * std::pow(10.0, e));
  }
  std::mt19937_64 bits(20261208);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t b = bits();
    double x = 0;
    std::memcpy(&x, &b, sizeof x);
    if (std::isnan(x)) continue;
    values.push_back(x);
    values.push_back(std::ldexp(static_cast<double>(b >> 11), -53 - static_cast<int>(b % 40)));
  }
  for (double x : values) ASSERT_EQ(format_number(x), library(x)) << std::hexfloat << x;
}

TEST(Quoted, KeepsAMessageOnOneLine) {
  EXPECT_EQ(quoted("5OO"), "\"5OO\"");
  EXPECT_EQ(quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted("1\n2\t3\r\x01\xff"), "\"1\\n2\\t3\\x0d\\x01\\xff\"");
}

// Long values keep their first and last 25 characters; a UTF-8 sequence
// counts once and is never cut; escapes are made after the cut.
TEST(Quoted, LongValuesShowTheirStartAndEnd) {
  const std::string a25(25, 'a');
  const std::string z25(25, 'z');
  const std::string tick = "\u2713";  // 3 bytes, shown as 3 escapes
  const std::string tick_shown = "\\xe2\\x9c\\x93";
  std::string sixty_e;  // 60 characters of 2 bytes each
  std::string sixty_e_shown;
  for (int i = 0; i < 60; ++i) {
    sixty_e += "\u00e9";
    sixty_e_shown += "\\xc3\\xa9";
  }
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {std::string(60, 'x'), "\"" + std::string(60, 'x') + "\""},
      {sixty_e, "\"" + sixty_e_shown + "\""},
      {a25 + std::string(11, 'm') + z25,
       "\"" + a25 + "\"...(11 characters left out)...\"" + z25 + "\""},
      {a25 + std::string(99950, '1') + z25,
       "\"" + a25 + "\"...(99950 characters left out)...\"" + z25 + "\""},
      // Multibyte characters at both cuts stay whole.
      {std::string(24, 'a') + tick + std::string(20, 'm') + tick + std::string(24, 'z'),
       "\"" + std::string(24, 'a') + tick_shown + "\"...(20 characters left out)...\"" +
           tick_shown + std::string(24, 'z') + "\""},
      // What is left out is not escaped: the message stays short.
      {a25 + std::string(20, '"') + "\n" + z25,
       "\"" + a25 + "\"...(21 characters left out)...\"" + z25 + "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    EXPECT_EQ(values::quoted(c.text), c.expected);  // not std::quoted, found by ADL
  }
  // The same rule for a file name, shown unquoted when plain and short.
  EXPECT_EQ(shown("results.csv"), "results.csv");
  EXPECT_EQ(shown("my results.csv"), "\"my results.csv\"");
  EXPECT_EQ(shown(a25 + std::string(40, 'm') + z25), values::quoted(a25 + std::string(40, 'm') + z25));
}

}  // namespace
}  // namespace gxe::values
