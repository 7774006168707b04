#ifndef GXE_CONSOLE_CONSOLE_H_
#define GXE_CONSOLE_CONSOLE_H_

// The console unit. Every question, message, report line and answer of the
// program passes through here, so that the texts of the other units come out
// exactly as written and every way the program ends goes through one place.
//
// Three kinds of operation:
//   * free-form message lines (`message`): texts, integers and reals, with a
//     leading blank, reals as "%.9G" with a forced decimal point, wrapped at
//     80 columns, ended by a newline;
//   * fixed-layout lines (`Layout`): fields of given widths, blanks, new-line
//     marks, ending either in a newline or in stay-on-line (prompt + flush);
//   * answer requests (`read_reals`, `read_whole`, `read_char`): list-style
//     reading of one or more values, with r*v repetition, null values, slash
//     termination and the rest of the line discarded.
//
// The unit reads and writes through the streams it is bound to (`bind`):
// programs bind the standard streams, tests and embedding libraries their
// own. Until then it reads an empty input and discards what it writes.
// The program ends only through `end_program`, which throws `ProgramEnd`; the
// real main maps it to the process exit status, tests and the fuzz target
// catch it.

#include <cstdint>
#include <iosfwd>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace gxe::console {

// ---------------------------------------------------------------------------
// Streams and the end of the program.

// Redirects the unit to other streams (tests, fuzzing). Also resets the
// reader's state (pending repetition, buffered line).
void bind(std::istream& in, std::ostream& out, std::ostream& err);
// Back to std::cin, std::cout and std::cerr (standard.cc, with the signal
// handlers: the part of the unit that only programs link).
void bind_standard();

std::ostream& out();
std::ostream& err();

// Thrown by `end_program`; carries the exit status. Caught at the top of the
// program (or of a test harness).
struct ProgramEnd {
  int status;
};

// Flushes the output and ends the program with `status`.
[[noreturn]] void end_program(int status);

// Exit status after a fatal input diagnostic.
inline constexpr int kFatalInputStatus = 2;

// Writes the four-line input diagnostic whose first line is `first_line` to
// the error stream, then ends the program with kFatalInputStatus.
[[noreturn]] void fatal_input(std::string_view first_line);

// Installs the handlers for SIGINT ("Interrupt", status 1), SIGTERM
// ("Killed", status 1), SIGFPE ("Floating Exception") and SIGABRT
// ("IOT Trap"). The handlers are async-signal-safe (write(2), _exit).
void install_signal_handlers();

// ---------------------------------------------------------------------------
// Free-form message lines.

// One item of a free-form line: a text, an integer or a real.
class Item {
 public:
  enum class Kind { kText, kInteger, kReal };
  Item(const char* text) : kind_(Kind::kText), text_(text) {}  // NOLINT: implicit by design
  Item(std::string_view text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  Item(const std::string& text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  Item(int value) : kind_(Kind::kInteger), integer_(value) {}  // NOLINT
  Item(long value) : kind_(Kind::kInteger), integer_(value) {}  // NOLINT
  Item(long long value) : kind_(Kind::kInteger), integer_(value) {}  // NOLINT
  Item(double value) : kind_(Kind::kReal), real_(value) {}  // NOLINT

  Kind kind() const { return kind_; }
  std::string_view text() const { return text_; }
  long long integer() const { return integer_; }
  double real() const { return real_; }

 private:
  Kind kind_;
  std::string_view text_;
  long long integer_ = 0;
  double real_ = 0.0;
};

// Writes one free-form message line made of `items` (see the rules above).
void message(std::initializer_list<Item> items);

// The written form of a real item: a blank or minus sign, then "%.9G" of the
// magnitude with a decimal point forced in ("  2.", " -1.5", "  1.E-05").
// Includes the item's leading blank.
std::string format_real_item(double value);

// ---------------------------------------------------------------------------
// Fixed-layout lines.
//
//   Layout().newline().text("Size", 8).blanks(2).text("Min power", 12).end();
//   Layout().text(question).stay();
//
// Blanks are written only when a field follows on the same line. Every layout
// must be finished with `end()` (newline) or `stay()` (no newline, flush).
class Layout {
 public:
  Layout();
  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;
  ~Layout();

  // Text field; width < 0 writes the text unchanged, otherwise right-aligned
  // in `width` columns (cut to its first `width` characters when longer).
  Layout& text(std::string_view s, int width = -1);
  // Integer field of `width` columns (Iw); asterisks when it does not fit.
  Layout& integer(long long value, int width);
  // Fixed-point field (Fw.d): "%#.*f", leading "0" below 1, no minus sign on
  // an all-zero result, asterisks when it does not fit.
  Layout& fixed(double value, int width, int decimals);
  // Exponent field (Dw.d): "0.", `decimals` significant digits, "D", sign and
  // two exponent digits, right-aligned in `width` columns.
  Layout& dexp(double value, int width, int decimals);
  // n blanks before the next field on this line.
  Layout& blanks(int n);
  // New-line mark: ends the current line.
  Layout& newline();
  // End of layout with a newline.
  void end();
  // End of layout in stay-on-line: no newline, output flushed.
  void stay();

 private:
  void put(std::string_view field);
  std::string line_;
  int pending_blanks_ = 0;
  bool finished_ = false;
};

// Field formatting, exposed for the report code and the tests.
std::string format_integer_field(long long value, int width);
std::string format_fixed_field(double value, int width, int decimals);
std::string format_dexp_field(double value, int width, int decimals);

// ---------------------------------------------------------------------------
// Answer requests. Each call is one request: the output is flushed first,
// blanks, tabs and line ends are skipped before each value, and once the
// request has its values the rest of the current line is discarded. A comma
// where a value is expected leaves that value unchanged; a slash leaves it and
// all later values unchanged. Malformed input and the end of input end the
// program through `fatal_input`.

// A request for values.size() reals.
void read_reals(std::span<double> values);
inline void read_real(double& value) { read_reals(std::span<double>(&value, 1)); }

// A request for one whole number (no decimal point, no exponent). A value that
// does not fit in 64 bits saturates at the nearest representable limit; the
// caller decides what range it accepts.
void read_whole(std::int64_t& value);

// A request for a one-character answer: the first character of the first item
// (a quoted string with doubled quotes, or the characters up to the next
// separator). A request that supplies no value (a lone comma or slash) gives
// a blank.
char read_char();

}  // namespace gxe::console

#endif  // GXE_CONSOLE_CONSOLE_H_
