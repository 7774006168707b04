// Machine constants: IEEE 754 double values (reference values are the exact
// powers of two and their square roots, printed with 17 digits), the integer
// table, and the stop with its message for an index out of range.

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>

#include "console/console.h"
#include "minimizer/machine.h"

namespace gxe::minimizer {
namespace {

TEST(MachineConstants, IeeeDoubleValues) {
  EXPECT_EQ(d1mach(1), 2.2250738585072014e-308);
  EXPECT_EQ(d1mach(2), 1.7976931348623157e+308);
  EXPECT_EQ(d1mach(3), 1.1102230246251565e-16);
  EXPECT_EQ(d1mach(4), 2.220446049250313e-16);
  EXPECT_EQ(d1mach(5), 0.3010299956639812);

  // Derived values: sqrt(256 tiny)/16 and sqrt(big/256)*16 avoid the
  // underflow and overflow of sqrt(tiny) and sqrt(big) computed directly.
  const std::array<double, 7> derived{2.2250738585072014e-308, 1.4916681462400413e-154,
                                      2.220446049250313e-16,   1.4901161193847656e-08,
                                      1.3407807929942596e+154, 1.7976931348623157e+308,
                                      2.2250738585072014e-308};
  for (int k = 1; k <= 7; ++k)
    EXPECT_EQ(dr7mdc(k), derived[static_cast<std::size_t>(k) - 1]) << "k " << k;
  EXPECT_EQ(dr7mdc(0), d1mach(1));
}

TEST(MachineConstants, IntegerTable) {
  const std::array<int, 16> expected{5,          6, 7,  6,    32,  4,  2,     31,
                                     2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int i = 1; i <= 16; ++i)
    EXPECT_EQ(i1mach(i), expected[static_cast<std::size_t>(i) - 1]) << "i " << i;
  EXPECT_EQ(i7mdcn(1), 6);  // default output unit
}

struct BadIndex {
  int which;  // 0: d1mach, 1: i1mach
  int index;
  const char* line;
};

TEST(MachineConstants, IndexOutOfBoundsStopsWithMessage) {
  const BadIndex cases[] = {
      {0, 0, " D1MACH(I): I = 0 is out of bounds.\n"},
      {0, 6, " D1MACH(I): I = 6 is out of bounds.\n"},
      {1, 0, " I1MACH(I): I = 0 is out of bounds.\n"},
      {1, 17, " I1MACH(I): I = 17 is out of bounds.\n"},
      {1, -3, " I1MACH(I): I = -3 is out of bounds.\n"},
  };
  for (const BadIndex& c : cases) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    console::bind(in, out, err);
    int status = 0;
    try {
      if (c.which == 0) {
        d1mach(c.index);
      } else {
        i1mach(c.index);
      }
      ADD_FAILURE() << "no stop for index " << c.index;
    } catch (const console::ProgramEnd& end) {
      status = end.status;
    }
    console::bind_standard();
    EXPECT_NE(status, 0);
    EXPECT_EQ(out.str(), c.line);
  }
}

}  // namespace
}  // namespace gxe::minimizer
