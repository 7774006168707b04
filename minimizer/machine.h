#ifndef GXE_MINIMIZER_MACHINE_H_
#define GXE_MINIMIZER_MACHINE_H_

// Machine constants of the minimizer: the limits of the floating-point
// format, the integer and unit constants, and the derived values that the
// settings and the numerics of the minimizer are expressed in. Each table is
// filled on first use and never changes afterwards. An index out of range
// writes a message and ends the program.

namespace gxe::minimizer {

// Indices k of dr7mdc(k). eta is the smallest positive normalised double,
// machep the relative machine precision, big the largest finite double.
enum MachineConstant : int {
  kTiny = 1,        // eta, 2^-1022
  kSqrtTiny = 2,    // sqrt(256 eta) / 16: numbers below it square to underflow
  kMachep = 3,      // machep, 2^-52
  kSqrtMachep = 4,  // sqrt(machep)
  kSqrtBig = 5,     // sqrt(big / 256) * 16: numbers above it square to overflow
  kBig = 6,         // big
};

// Floating-point constant i of IEEE 754 double precision: 1 smallest
// positive normalised, 2 largest finite, 3 2^-53, 4 2^-52 (the relative
// machine precision), 5 log10(2). The word order is identified on first use.
double d1mach(int i);
// Integer constant i: 1 to 4 the input, output, punch and error units, 5 to
// 9 bits, characters, base, digits and largest value of an integer, 10 the
// floating base, 11 to 13 and 14 to 16 digits, least and greatest exponent
// of single and double precision.
int i1mach(int i);
// i1mach(2), the standard output unit, for k = 1 (the only k in use); k = 2
// and 3 give i1mach(4) and i1mach(1).
int i7mdcn(int k);
// The derived constant k (MachineConstant); any other k gives eta.
double dr7mdc(int k);

}  // namespace gxe::minimizer

#endif  // GXE_MINIMIZER_MACHINE_H_
