#ifndef GXE_VALUES_NUMBER_H_
#define GXE_VALUES_NUMBER_H_

// Numbers as the front ends read and write them.
//
// Reading is strict, so that a value is either read as the number the user
// meant or refused: a number is an optional minus sign, decimal digits with
// at most one decimal point, and an optional exponent (e or E, an optional
// sign, digits). Refused are blanks, a plus sign, inf, nan, hexadecimal,
// digit-group separators, trailing text ("0.3o", "1.5-2.5"), values beyond
// the range of a double, and a superfluous leading zero ("05", "000"): in a
// comma list "1,000" would otherwise quietly become the two numbers 1 and 0.
//
// Writing uses the shortest form that reads back as the same double, so a
// value written by one front end and read by another is the same value.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gxe::values {

// A number read from text, or why the text is not one. `problem` completes a
// sentence that starts with the quoted text: "\"5OO\" is not a number".
struct NumberReading {
  double value = 0.0;
  std::string problem;  // empty when the text is a number
  bool ok() const { return problem.empty(); }
};

NumberReading read_number(std::string_view text);

// A whole number (digits with an optional minus sign, no point or
// exponent) from `low` to `high`; `value` holds it exactly. Any other whole
// number, however many digits it has, is refused with the range: "must be a
// whole number from 0 to 2147483647".
NumberReading read_whole_number(std::string_view text, int low, int high);
// The same from the least to the greatest int.
NumberReading read_whole_number(std::string_view text);

// A comma-separated list of numbers, or why the text is not one.
struct ListReading {
  std::vector<double> values;
  std::vector<std::string_view> items;  // the text of each value, into the input
  std::string problem;                  // as in NumberReading
  bool ok() const { return problem.empty(); }
};

// Items are separated by a comma, optionally followed by blanks; no item may
// be empty. A list that reads just as well as one count written with
// thousands separators ("1,500", "12,500": 1 or 2 digits, then groups of
// exactly 3) is refused as ambiguous; "1, 500" (with a blank) is a list.
// Groups of "000" or "050" are refused anyway, for their leading zero.
ListReading read_number_list(std::string_view text);

// The shortest text that reads back as `value` ("0.3", "1e-08", "1500").
std::string format_number(double value);

// `text` in double quotes for a message, with quotes, backslashes and bytes
// that are not printable ASCII escaped ("\n", "\x01"), so the message stays
// one line whatever the input held. A text of more than kShownWhole
// characters (UTF-8 sequences count once) is shown by its start and its end,
// each quoted, with the number of characters left out between them:
// "1111111111111111111111111"...(99950 characters left out)..."1111111111111111111111111".
std::string quoted(std::string_view text);

// `text` kept to one line of printable ASCII, for a message that already
// quotes what it echoes: line breaks, tabs and other bytes outside printable
// ASCII as escapes ("\n", "\t", "\x01"), the rest as it is.
std::string printable(std::string_view text);

// A file name as messages show it: as it is when it is printable ASCII
// without blanks, quotes or backslashes and no longer than kShownWhole,
// quoted (and so shortened) otherwise.
std::string shown(std::string_view path);

// The longest text a message echoes whole, and the characters kept from
// each end of a longer one.
inline constexpr std::size_t kShownWhole = 60;
inline constexpr std::size_t kShownEnds = 25;

}  // namespace gxe::values

#endif  // GXE_VALUES_NUMBER_H_
