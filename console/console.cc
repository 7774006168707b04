#include "console/console.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <limits>
#include <ostream>
#include <streambuf>
#include <string>

// Output failures: standard output may be closed, a pipe whose reader has gone
// (EPIPE; main ignores SIGPIPE so that the write fails instead of killing the
// process silently) or a full device. The console looks at the output stream
// after every flush -- before each read, at every stay-on-line and at the end
// of the program -- and ends the program there with one diagnostic line on
// the error stream and a failure status. The dialogue never waits for input it
// could not have asked for, and a calculation between two flushes is bounded.

namespace gxe::console {
namespace {

// ---------------------------------------------------------------------------
// Streams.

// Until a program binds its streams, the console reads an empty input and
// writes into a sink that accepts everything and keeps nothing. The unit
// itself names no process-wide stream: programs bind the standard ones
// (standard.cc), a library that embeds the engine binds its own.
class Sink : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

Sink sink;
std::istream unbound_in(nullptr);  // no buffer: every read meets the end of input
std::ostream unbound_out(&sink);

struct Streams {
  std::istream* in = &unbound_in;
  std::ostream* out = &unbound_out;
  std::ostream* err = &unbound_out;
};

Streams streams;

// The three lines that follow the first line of a fatal input diagnostic.
constexpr const char* kDiagnosticTail[] = {
    "apparent state: unit 5 (unnamed)",
    "last format: list io",
    "lately reading sequential formatted external IO",
};

constexpr const char* kEndOfFile = "list in: end of file";
constexpr const char* kInvalidNumber = "invalid number: incomprehensible list input";
constexpr const char* kInvalidInteger = "invalid integer: read unexpected character";
constexpr const char* kBadExponent = "exponent field: incomprehensible list input";
constexpr const char* kBadRepetition = "bad repetition count: incomprehensible list input";

// Free-form lines are broken before an item that would take them to 80
// columns or more.
constexpr std::size_t kLineWidth = 80;

// Exit status and diagnostic when standard output cannot be written.
constexpr int kOutputFailureStatus = 4;
constexpr const char* kWriteError = "write error on standard output";

// Flushes the output; a stream that has failed ends the program.
void flush_output() {
  streams.out->flush();
  if (!*streams.out) end_program(kOutputFailureStatus);
}

// ---------------------------------------------------------------------------
// The reader: the current input line and a position in it. Lines are fetched
// only when a request needs another character, so discarding "the rest of the
// line" is dropping the buffer.

constexpr int kLineEnd = '\n';

class LineReader {
 public:
  void reset() {
    line_.clear();
    pos_ = 0;
    loaded_ = false;
  }

  // The current character, or kLineEnd past the last one. Fetches a line
  // when none is loaded; the end of input is fatal.
  int peek() {
    if (!loaded_) fetch();
    return pos_ < line_.size() ? static_cast<unsigned char>(line_[pos_]) : kLineEnd;
  }

  // Moves past the current character; past the line end, to the next line.
  void advance() {
    if (pos_ < line_.size()) {
      ++pos_;
    } else {
      loaded_ = false;
    }
  }

  void discard_line() { loaded_ = false; }

  // Skips blanks, tabs and line ends before a value.
  void skip_space() {
    for (int c = peek(); c == ' ' || c == '\t' || c == kLineEnd; c = peek()) advance();
  }

 private:
  void fetch() {
    flush_output();  // the question is on the screen before we wait
    if (!std::getline(*streams.in, line_)) fatal_input(kEndOfFile);
    // A line ended by CR LF ends at the CR.
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    pos_ = 0;
    loaded_ = true;
  }

  std::string line_;
  std::size_t pos_ = 0;
  bool loaded_ = false;
};

LineReader reader;

bool is_separator(int c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/' || c == kLineEnd;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The characters of one value, up to (not including) the next separator.
std::string take_item() {
  std::string item;
  for (int c = reader.peek(); !is_separator(c); c = reader.peek()) {
    item.push_back(static_cast<char>(c));
    reader.advance();
  }
  return item;
}

// Decimal digits as a non-negative number, saturating at the int64 limit.
std::int64_t saturating_digits(std::string_view digits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : digits) {
    const int d = c - '0';
    if (value > (kMax - d) / 10) return kMax;
    value = value * 10 + d;
  }
  return value;
}

std::size_t count_digits(std::string_view s, std::size_t from) {
  std::size_t i = from;
  while (i < s.size() && is_digit(s[i])) ++i;
  return i - from;
}

// A real value: optional sign, digits with an optional point (one digit at
// least), optional exponent: E, e, D or d with an optional sign, or a sign
// alone, followed by digits. Overflow gives an infinity, underflow zero.
double parse_real(std::string_view item) {
  std::size_t i = 0;
  if (i < item.size() && (item[i] == '+' || item[i] == '-')) ++i;
  const std::size_t int_digits = count_digits(item, i);
  i += int_digits;
  std::size_t frac_digits = 0;
  if (i < item.size() && item[i] == '.') {
    ++i;
    frac_digits = count_digits(item, i);
    i += frac_digits;
  }
  if (int_digits + frac_digits == 0) fatal_input(kInvalidNumber);
  std::string normal(item.substr(0, i));
  if (i < item.size()) {
    const char c = item[i];
    const bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd';
    if (!letter && c != '+' && c != '-') fatal_input(kInvalidNumber);
    if (letter) ++i;
    normal.push_back('e');
    if (i < item.size() && (item[i] == '+' || item[i] == '-')) normal.push_back(item[i++]);
    const std::size_t exp_digits = count_digits(item, i);
    if (exp_digits == 0) fatal_input(kBadExponent);
    normal.append(item.substr(i, exp_digits));
    i += exp_digits;
    if (i < item.size()) fatal_input(kInvalidNumber);
  }
  return std::strtod(normal.c_str(), nullptr);
}

// A whole-number value: optional sign and digits only. Saturates at the
// int64 limits.
std::int64_t parse_whole(std::string_view item) {
  std::size_t i = 0;
  const bool negative = !item.empty() && item[0] == '-';
  if (!item.empty() && (item[0] == '+' || item[0] == '-')) ++i;
  const std::size_t digits = count_digits(item, i);
  if (digits == 0) fatal_input(kInvalidNumber);
  if (i + digits != item.size()) fatal_input(kInvalidInteger);
  const std::int64_t magnitude = saturating_digits(item.substr(i));
  // Symmetric saturation: a huge negative value gives -INT64_MAX.
  return negative ? -magnitude : magnitude;
}

// One list-style request for `count` values. `assign(i, item)` converts item
// into value i. A comma where a value is expected and the empty value of "r*"
// leave their values alone; a slash ends the request. The rest of the line
// is discarded at the end.
template <class Assign>
void list_request(int count, Assign assign) {
  flush_output();
  int i = 0;
  bool after_value = false;  // a value was read and its separator not yet
  while (i < count) {
    reader.skip_space();
    if (after_value && reader.peek() == ',') {
      // The comma that separates this value from the last one.
      reader.advance();
      reader.skip_space();
    }
    after_value = false;
    const int c = reader.peek();
    if (c == '/') break;
    if (c == ',') {  // null value
      reader.advance();
      ++i;
      continue;
    }
    const std::string item = take_item();
    after_value = true;
    const std::size_t star = item.find('*');
    if (star == std::string::npos) {
      assign(i++, std::string_view(item));
      continue;
    }
    // Repetition r*v: r a positive whole number; an empty v is r null values.
    const std::string_view repeat = std::string_view(item).substr(0, star);
    const std::string_view value = std::string_view(item).substr(star + 1);
    if (repeat.empty() || count_digits(repeat, 0) != repeat.size()) fatal_input(kBadRepetition);
    const std::int64_t r = saturating_digits(repeat);
    if (r == 0) fatal_input(kBadRepetition);
    const int n = static_cast<int>(std::min<std::int64_t>(r, count - i));
    for (int j = 0; j < n; ++j, ++i) {
      if (!value.empty()) assign(i, value);
    }
  }
  reader.discard_line();
}

// The first character of a quoted item whose opening quote has been read.
// Line ends inside the quotes are not part of the string; an empty string
// gives a blank, a doubled quote stands for one.
char first_quoted_char(int quote) {
  int c = reader.peek();
  while (c == kLineEnd) {
    reader.advance();
    c = reader.peek();
  }
  if (c != quote) return static_cast<char>(c);
  reader.advance();
  return reader.peek() == quote ? static_cast<char>(quote) : ' ';
}

bool is_quote(int c) { return c == '\'' || c == '"'; }

// The first character of the value that starts at the reader's position
// (after any "r*"): a blank when there is none.
char first_char_of_value() {
  const int c = reader.peek();
  if (is_quote(c)) {
    reader.advance();
    return first_quoted_char(c);
  }
  return is_separator(c) ? ' ' : static_cast<char>(c);
}

// ---------------------------------------------------------------------------
// Number formatting.

std::string printf_string(const char* format, int precision, double value) {
  const int n = std::snprintf(nullptr, 0, format, precision, value);
  std::string s(static_cast<std::size_t>(n), '\0');
  std::snprintf(s.data(), s.size() + 1, format, precision, value);
  return s;
}

std::string right_aligned(const std::string& s, int width) {
  if (width < 0) return s;
  const auto w = static_cast<std::size_t>(width);
  if (s.size() > w) return std::string(w, '*');
  return std::string(w - s.size(), ' ') + s;
}

// How a fixed-layout field spells a non-finite value.
std::string non_finite_field(double value) {
  if (std::isnan(value)) return "NaN";
  return value > 0 ? "Inf" : "-Inf";
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams and the end of the program.

void bind(std::istream& in, std::ostream& out, std::ostream& err) {
  streams = Streams{&in, &out, &err};
  reader.reset();
}

std::ostream& out() { return *streams.out; }
std::ostream& err() { return *streams.err; }

void end_program(int status) {
  // Output that never reached its reader turns even a normal end into a
  // failure: the user did not see the report.
  streams.out->flush();
  if (!*streams.out) {
    *streams.err << kWriteError << '\n';
    streams.err->flush();
    if (status == 0) status = kOutputFailureStatus;
  }
  throw ProgramEnd{status};
}

void fatal_input(std::string_view first_line) {
  std::ostream& e = *streams.err;
  e << first_line << '\n';
  for (const char* line : kDiagnosticTail) e << line << '\n';
  e.flush();
  end_program(kFatalInputStatus);
}

// ---------------------------------------------------------------------------
// Free-form message lines.

std::string format_real_item(double value) {
  if (std::isnan(value)) return "  NaN";
  if (std::isinf(value)) return value > 0 ? "  Infinity" : " -Infinity";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9G", std::fabs(value));
  std::string magnitude = buf;
  if (magnitude.find('.') == std::string::npos) {
    const std::size_t e = std::min(magnitude.find('E'), magnitude.size());
    magnitude = magnitude.substr(0, e) + '.' + magnitude.substr(e);
  }
  return std::string(" ") + (value < 0 ? "-" : " ") + magnitude;
}

void message(std::initializer_list<Item> items) {
  std::string line;
  for (const Item& item : items) {
    std::string written;
    std::size_t counted = 0;
    switch (item.kind()) {
      case Item::Kind::kText:
        written = item.text();
        counted = written.size();
        break;
      case Item::Kind::kInteger: {
        const std::string digits = std::to_string(item.integer());
        written = " " + digits;
        counted = digits.size() - (item.integer() < 0 ? 1 : 0);
        break;
      }
      case Item::Kind::kReal:
        written = format_real_item(item.real());
        counted = written.size();
        break;
    }
    if (!line.empty() && line.size() + counted >= kLineWidth) {
      *streams.out << line << '\n';
      line.clear();
    }
    if (line.empty() && item.kind() == Item::Kind::kText) line.push_back(' ');
    line += written;
  }
  *streams.out << line << '\n';
}

// ---------------------------------------------------------------------------
// Fixed-layout lines.

Layout::Layout() = default;

// An unfinished layout still gets its line out rather than losing it.
Layout::~Layout() {
  if (!finished_) end();
}

Layout& Layout::text(std::string_view s, int width) {
  if (width < 0) {
    put(s);
  } else {
    const auto w = static_cast<std::size_t>(width);
    put(s.size() >= w ? std::string(s.substr(0, w)) : std::string(w - s.size(), ' ') + std::string(s));
  }
  return *this;
}

Layout& Layout::integer(long long value, int width) {
  put(format_integer_field(value, width));
  return *this;
}

Layout& Layout::fixed(double value, int width, int decimals) {
  put(format_fixed_field(value, width, decimals));
  return *this;
}

Layout& Layout::dexp(double value, int width, int decimals) {
  put(format_dexp_field(value, width, decimals));
  return *this;
}

Layout& Layout::blanks(int n) {
  if (n > 0) pending_blanks_ += n;
  return *this;
}

Layout& Layout::newline() {
  *streams.out << line_ << '\n';
  line_.clear();
  pending_blanks_ = 0;
  return *this;
}

void Layout::end() {
  finished_ = true;
  newline();
}

void Layout::stay() {
  finished_ = true;
  *streams.out << line_;
  line_.clear();
  pending_blanks_ = 0;
  flush_output();
}

void Layout::put(std::string_view field) {
  line_.append(static_cast<std::size_t>(pending_blanks_), ' ');
  pending_blanks_ = 0;
  line_.append(field);
}

std::string format_integer_field(long long value, int width) {
  return right_aligned(std::to_string(value), width);
}

std::string format_fixed_field(double value, int width, int decimals) {
  if (!std::isfinite(value)) return right_aligned(non_finite_field(value), width);
  std::string s = printf_string("%#.*f", decimals < 0 ? 0 : decimals, std::fabs(value));
  // A negative value that rounds to all zeros is written without its sign.
  const bool all_zero = s.find_first_not_of("0.") == std::string::npos;
  if (value < 0 && !all_zero) s = '-' + s;
  return right_aligned(s, width);
}

// Dw.d: "0.", d significant digits, "D", the exponent sign and two digits. An
// exponent of three digits takes the place of the letter.
std::string format_dexp_field(double value, int width, int decimals) {
  if (!std::isfinite(value)) return right_aligned(non_finite_field(value), width);
  if (decimals < 1) return std::string(static_cast<std::size_t>(width < 0 ? 0 : width), '*');
  std::string digits(static_cast<std::size_t>(decimals), '0');
  int exponent = 0;
  if (value != 0) {
    // "%.*E" gives d.ddddE+xx; moving the point one place left adds one to
    // the exponent.
    const std::string e = printf_string("%.*E", decimals - 1, std::fabs(value));
    const std::size_t at = e.find('E');
    digits = e.substr(0, 1) + (decimals > 1 ? e.substr(2, at - 2) : "");
    exponent = std::atoi(e.c_str() + at + 1) + 1;
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  char tail[16];
  if (magnitude <= 99) {
    std::snprintf(tail, sizeof tail, "D%c%02d", exponent < 0 ? '-' : '+', magnitude);
  } else {
    std::snprintf(tail, sizeof tail, "%c%03d", exponent < 0 ? '-' : '+', magnitude);
  }
  const std::string s = std::string(value < 0 ? "-" : "") + "0." + digits + tail;
  return right_aligned(s, width);
}

// ---------------------------------------------------------------------------
// Answer requests.

void read_reals(std::span<double> values) {
  list_request(static_cast<int>(values.size()),
               [&](int i, std::string_view item) { values[static_cast<std::size_t>(i)] = parse_real(item); });
}

void read_whole(std::int64_t& value) {
  list_request(1, [&](int, std::string_view item) { value = parse_whole(item); });
}

char read_char() {
  flush_output();
  reader.skip_space();
  char answer = ' ';
  const int c = reader.peek();
  if (c != ',' && c != '/') {
    // A leading "r*" with r a positive whole number repeats the value; any
    // other item is taken as it stands.
    std::string repeat;
    for (int d = reader.peek(); d >= '0' && d <= '9'; d = reader.peek()) {
      repeat.push_back(static_cast<char>(d));
      reader.advance();
    }
    if (!repeat.empty() && reader.peek() == '*' && saturating_digits(repeat) > 0) {
      reader.advance();
      answer = first_char_of_value();
    } else {
      answer = repeat.empty() ? first_char_of_value() : repeat[0];
    }
  }
  reader.discard_line();
  return answer;
}

}  // namespace gxe::console
