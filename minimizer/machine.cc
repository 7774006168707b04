// Machine constants of the minimizer: the limits of the floating-point format
// (d1mach), the integer and unit constants (i1mach), and the derived values
// the minimizer works with (dr7mdc, i7mdcn). Each table is filled once, on
// first use, and never changes afterwards.

#include "minimizer/machine.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>

#include "console/console.h"
#include "minimizer/slots.h"

namespace gxe::minimizer {

namespace {

// The stored bits of `from` read as a `To` of the same size (std::bit_cast,
// which the WebAssembly build's C++ library lacks).
template <class To, class From>
To bits_as(const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

// Exit status of the stops of this unit (unknown number format, impossible
// precision, constant index out of range). They cannot occur with IEEE 754
// doubles and the indices the minimizer uses; nonzero marks a failure.
constexpr int kMachineStopStatus = 3;

using Halves = std::array<std::uint32_t, 2>;

// A double given by its IEEE 754 bit pattern, split into the high and low 32
// bits so that it can be assembled in either word order.
struct BitPattern {
  std::uint32_t high;
  std::uint32_t low;
};

// 1e13 is exactly representable; its two 32-bit halves differ, so their order
// in memory tells the word order of the format.
constexpr BitPattern kProbePattern{0x42A2309Cu, 0xE5400000u};

// d1mach(1..5) in IEEE 754 double precision.
constexpr std::array<BitPattern, 5> kIeeeConstants{{
    {0x00100000u, 0x00000000u},  // 2^-1022, smallest positive normalised
    {0x7FEFFFFFu, 0xFFFFFFFFu},  // (2 - 2^-52) 2^1023, largest finite
    {0x3CA00000u, 0x00000000u},  // 2^-53, smallest relative spacing
    {0x3CB00000u, 0x00000000u},  // 2^-52, largest relative spacing
    {0x3FD34413u, 0x509F79FFu},  // log10(2)
}};

[[noreturn]] void stop_with_code(const char* code) {
  console::err() << "STOP " << code << '\n';
  console::end_program(kMachineStopStatus);
}

[[noreturn]] void out_of_bounds(const char* routine, int index) {
  console::message({routine, index, " is out of bounds."});
  console::end_program(kMachineStopStatus);
}

// Identifies the number format by the stored form of 1e13 and returns the
// five constants assembled in that word order.
std::array<double, 5> identify_format() {
  volatile double stored = 1e13;
  const double probe = stored;
  const auto halves = bits_as<Halves>(probe);
  bool high_first = false;
  if (halves[0] == kProbePattern.high && halves[1] == kProbePattern.low) {
    high_first = true;  // big-endian IEEE
  } else if (halves[0] == kProbePattern.low && halves[1] == kProbePattern.high) {
    high_first = false;  // little-endian IEEE
  } else {
    console::Layout()
        .newline()
        .text(" Adjust D1MACH by uncommenting data statements")
        .newline()
        .text(" appropriate for your machine.")
        .end();
    stop_with_code("779");
  }
  std::array<double, 5> c{};
  for (std::size_t k = 0; k < c.size(); ++k) {
    const BitPattern& b = kIeeeConstants[k];
    const Halves h = high_first ? Halves{b.high, b.low} : Halves{b.low, b.high};
    c[k] = bits_as<double>(h);
  }
  if (!(c[3] < 1.0)) stop_with_code("778");
  return c;
}

struct DerivedConstants {
  double big;     // largest finite
  double eta;     // smallest positive normalised
  double machep;  // relative machine precision
};

}  // namespace

double d1mach(int i) {
  static const std::array<double, 5> constants = identify_format();
  if (i < 1 || i > 5) out_of_bounds("D1MACH(I): I =", i);
  return constants[at0(i)];
}

int i1mach(int i) {
  static constexpr std::array<int, 16> kConstants{
      5,           // standard input unit
      6,           // standard output unit
      7,           // punch unit
      6,           // error-message unit
      32,          // bits per integer
      4,           // characters per integer
      2,           // integer base
      31,          // integer digits
      2147483647,  // largest integer
      2,           // floating-point base
      24,   -125, 128,   // single precision: digits, minimum and maximum exponent
      53,   -1021, 1024, // double precision: digits, minimum and maximum exponent
  };
  if (i < 1 || i > 16) out_of_bounds("I1MACH(I): I =", i);
  return kConstants[at0(i)];
}

// Only K = 1 (the default output unit) is used by the minimizer.
int i7mdcn(int k) {
  static constexpr std::array<int, 3> kPerm{2, 4, 1};
  if (k < 1 || k > 3) out_of_bounds("I7MDCN(K): K =", k);
  return i1mach(kPerm[at0(k)]);
}

// Constants derived from the format: the square roots keep products and
// squares of numbers between them away from underflow and overflow.
double dr7mdc(int k) {
  static const DerivedConstants c{d1mach(2), d1mach(1), d1mach(4)};
  switch (k) {
    case kTiny: return c.eta;
    case kSqrtTiny: return std::sqrt(256.0 * c.eta) / 16.0;
    case kMachep: return c.machep;
    case kSqrtMachep: return std::sqrt(c.machep);
    case kSqrtBig: return std::sqrt(c.big / 256.0) * 16.0;
    case kBig: return c.big;
    default: return c.eta;
  }
}

}  // namespace gxe::minimizer
