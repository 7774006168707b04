#include "values/number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <fast_float/fast_float.h>
#include <fmt/format.h>
#include <limits>
#include <string>
#include <system_error>

namespace gxe::values {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the run of digits starting at `at`.
std::size_t digits_from(std::string_view text, std::size_t at) {
  std::size_t n = 0;
  while (at + n < text.size() && is_digit(text[at + n])) ++n;
  return n;
}

constexpr const char* kNotANumber = "is not a number";
constexpr const char* kLeadingZero = "has a superfluous leading zero";

// "1,500", "12,500" or "1,250,750": a first group of 1 or 2 digits (not
// starting with 0), then groups of exactly 3 digits after each comma. Read
// as a list, such a text starts with a value far below the next (1 case,
// then 500); read as one number, it is an ordinary count written with
// thousands separators. A first group of 3 digits ("100,200,500") is taken
// as a list: the number it could also be is at least 100 thousand.
bool looks_like_digit_groups(std::string_view text) {
  const std::size_t head = digits_from(text, 0);
  if (head < 1 || head > 2 || text[0] == '0') return false;
  std::size_t at = head;
  if (at == text.size()) return false;  // no comma: a plain number
  while (at < text.size()) {
    if (text[at] != ',' || digits_from(text, at + 1) != 3) return false;
    at += 4;
  }
  return true;
}

// Bytes that are not printable ASCII as escapes ("\n", "\t", "\x01"), and
// quotes and backslashes too when `quote_marks`.
std::string escaped(std::string_view text, bool quote_marks) {
  constexpr const char* kHex = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (quote_marks && (c == '"' || c == '\\')) {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

// Where the character starting at `at` ends: a UTF-8 sequence is one
// character, its lead byte and up to three continuation bytes (10xxxxxx);
// a stray continuation byte starts a character of its own.
std::size_t next_character(std::string_view text, std::size_t at) {
  std::size_t next = at + 1;
  while (next < text.size() && next - at < 4 &&
         (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
    ++next;
  }
  return next;
}

// `text` through `show`, or, when it has more than kShownWhole characters,
// its first and last kShownEnds characters each through `show`, with the
// number of characters between them. Cuts fall between characters, never
// inside a UTF-8 sequence.
template <class Show>
std::string elided(std::string_view text, Show show) {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < text.size(); at = next_character(text, at)) ++characters;
  if (characters <= kShownWhole) return show(text);
  std::size_t head_end = 0;
  std::size_t tail_start = 0;
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at = next_character(text, at), ++count) {
    if (count == kShownEnds) head_end = at;
    if (count == characters - kShownEnds) tail_start = at;
  }
  return show(text.substr(0, head_end)) + "...(" +
         std::to_string(characters - 2 * kShownEnds) + " characters left out)..." +
         show(text.substr(tail_start));
}

}  // namespace

NumberReading read_number(std::string_view text) {
  // The grammar first: from_chars alone would accept "inf", "nan" and a
  // number followed by anything.
  std::size_t at = 0;
  if (at < text.size() && text[at] == '-') ++at;
  const std::size_t whole = digits_from(text, at);
  const bool leading_zero = whole > 1 && text[at] == '0';
  at += whole;
  std::size_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    fraction = digits_from(text, at + 1);
    at += 1 + fraction;
  }
  if (whole + fraction == 0) return {0.0, kNotANumber};
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const std::size_t exponent = digits_from(text, at);
    if (exponent == 0) return {0.0, kNotANumber};
    at += exponent;
  }
  if (at != text.size()) return {0.0, kNotANumber};
  if (leading_zero) return {0.0, kLeadingZero};

  // Correctly rounded to the nearest double. A magnitude beyond the largest
  // double rounds to infinity and one below half the smallest subnormal to
  // zero; both are refused rather than read as a number the user never
  // wrote (subnormals themselves are kept).
  NumberReading reading;
  const auto [end, ec] =
      fast_float::from_chars(text.data(), text.data() + text.size(), reading.value);
  if (ec != std::errc() || end != text.data() + text.size()) return {0.0, kNotANumber};
  const std::size_t mantissa_end = text.find_first_of("eE");
  const bool nonzero_digit =
      text.substr(0, mantissa_end).find_first_of("123456789") != std::string_view::npos;
  if (std::isinf(reading.value) || (reading.value == 0.0 && nonzero_digit)) {
    return {0.0, "is too large or too small to be represented as a number"};
  }
  return reading;
}

NumberReading read_whole_number(std::string_view text, int low, int high) {
  const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  const std::size_t digits = digits_from(text, sign);
  if (digits == 0 || sign + digits != text.size()) {
    // "4.0", "4e0": a number, but not written as a whole number.
    return {0.0, read_number(text).ok() ? "is not a whole number" : kNotANumber};
  }
  if (digits > 1 && text[sign] == '0') return {0.0, kLeadingZero};
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  // Digits beyond an int, of either sign, are beyond [low, high] too.
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return {0.0, "must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high)};
  }
  return {static_cast<double>(value), {}};
}

NumberReading read_whole_number(std::string_view text) {
  return read_whole_number(text, std::numeric_limits<int>::min(),
                           std::numeric_limits<int>::max());
}

ListReading read_number_list(std::string_view text) {
  ListReading list;
  const bool has_comma = text.find(',') != std::string_view::npos;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (item.empty()) return {{}, {}, "is not a list of numbers: an item is empty"};
    const NumberReading number = read_number(item);
    if (!number.ok()) {
      if (!has_comma) return {{}, {}, number.problem};
      return {{}, {},
              "is not a list of numbers: " + quoted(item) + " " + number.problem +
                  "; a comma separates list items, so write 1000, not 1,000, and 0.05, not 0,05"};
    }
    list.values.push_back(number.value);
    list.items.push_back(item);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
    while (start < text.size() && text[start] == ' ') ++start;
  }
  if (looks_like_digit_groups(text)) {
    std::string number;
    std::string spaced;
    for (std::size_t i = 0; i < list.items.size(); ++i) {
      number += list.items[i];
      spaced += (i == 0 ? "" : ", ") + std::string(list.items[i]);
    }
    return {{}, {},
            "could be one number with thousands separators or a list: write " +
                elided(number, [](std::string_view part) { return std::string(part); }) +
                " for the number, or " + quoted(spaced) + " (with blanks) for the list"};
  }
  return list;
}

std::string format_number(double value) {
  const std::string shortest = fmt::to_string(value);
  if (!std::isfinite(value)) return shortest;
  // fmt gives the shortest digits that read back as `value`, but switches
  // between fixed and scientific form at fixed exponents (1e-05, 1e+16).
  // Take its digits d1 d2 ... dn and the exponent of d1, then write whichever
  // of the two forms is shorter, fixed on a tie: 1500, 0.3, 1e-05, 0.001,
  // but 1e-04 and 1e+15.
  const bool negative = shortest[0] == '-';
  const std::size_t e = shortest.find('e');
  const std::string_view mantissa =
      std::string_view(shortest).substr(negative ? 1 : 0, e - (negative ? 1 : 0));
  // The first digit of the mantissa's digits has the exponent of the point's
  // place less one, plus fmt's own exponent.
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  int exponent = static_cast<int>(point) - 1 +
                 (e == std::string::npos ? 0 : std::stoi(shortest.substr(e + 1)));
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') digits += c;
  }
  // Leading zeros ("0.003") move the first digit; trailing ones ("1500")
  // are not among the shortest digits. Zero keeps one digit.
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    digits = "0";
    exponent = 0;
  } else {
    exponent -= static_cast<int>(first);
    digits = digits.substr(first, digits.find_last_not_of('0') - first + 1);
  }

  const auto count = static_cast<int>(digits.size());
  const std::string sign = negative ? "-" : "";
  std::string fixed = sign;
  if (exponent >= count - 1) {
    // A whole number: its exact digits, as long as the shortest digits
    // padded with zeros and nearer the value (2053842343162516865024, not
    // 2053842343162516900000, above 2^53).
    fixed = fmt::format("{:.0f}", value);
  } else if (exponent >= 0) {
    fixed += digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
             digits.substr(static_cast<std::size_t>(exponent) + 1);
  } else {
    fixed += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const std::string scientific = sign + digits.substr(0, 1) +
                                 (count > 1 ? "." + digits.substr(1) : "") +
                                 (exponent < 0 ? "e-" : "e+") + (magnitude < 10 ? "0" : "") +
                                 std::to_string(magnitude);
  return fixed.size() <= scientific.size() ? fixed : scientific;
}

std::string printable(std::string_view text) { return escaped(text, false); }

std::string quoted(std::string_view text) {
  return elided(text, [](std::string_view part) { return "\"" + escaped(part, true) + "\""; });
}

std::string shown(std::string_view path) {
  const auto plain_character = [](char c) {
    return c > ' ' && c < 0x7f && c != '"' && c != '\\';
  };
  const bool plain = !path.empty() && path.size() <= kShownWhole &&
                     std::all_of(path.begin(), path.end(), plain_character);
  return plain ? std::string(path) : quoted(path);
}

}  // namespace gxe::values
