// Settings and their checks: the storage codes at the exact minimum lengths,
// the range check of every real setting, the scale check, the continuation
// checks, and the messages (exact text with an output unit, nothing without).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "console/console.h"
#include "minimizer/params.h"
#include "tests/support/test_util.h"

namespace gxe::minimizer {
namespace {

constexpr int kN = 2;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Arrays of 100 slots each, as the range searches use them, with
// `liv`/`lv` the lengths claimed to the routines.
struct Arrays {
  std::array<int, 100> ivs{};
  std::array<double, 100> vs{};
  std::array<double, kN> d{1.0, 1.0};
  int liv = 100;
  int lv = 100;
  IvView iv{std::span<int>(ivs)};
  VView v{std::span<double>(vs)};

  Arrays(int liv_, int lv_) : liv(liv_), lv(lv_) {}
  Arrays(const Arrays&) = delete;

  // The defaults, then the storage the solver and its entry routine ask for
  // with N = 2 variables (N(N+19)/2 + N reals behind the fixed part, N
  // integers for the permutation), as the driver adds them on a fresh start.
  void fresh_start() {
    divset(2, iv, liv, lv, v);
    iv(OUTPUT_UNIT) = 0;
    iv(EXTRA_V) += kN * (kN + 19) / 2 + kN;
    iv(EXTRA_IV) += kN;
  }
  int check(int n = kN) {
    dparck(2, d, iv, liv, lv, n, v);
    return iv(RETURN_CODE);
  }
};

// Captures standard output for the lifetime of the object.
class CapturedOutput {
 public:
  CapturedOutput() { console::bind(in_, out_, err_); }
  ~CapturedOutput() { console::bind_standard(); }
  std::string text() const { return out_.str(); }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  std::ostringstream err_;
};

struct DivsetCase {
  int alg, liv, lv, code;
};

TEST(Divset, StorageAndFamilyCodes) {
  const DivsetCase cases[] = {
      {2, 58, 100, 15}, {2, 59, 70, 16}, {2, 59, 71, 12}, {5, 100, 100, 67}, {0, 100, 100, 67},
      {1, 81, 100, 15}, {1, 82, 97, 16}, {1, 82, 98, 12}, {4, 103, 84, 16},
  };
  for (const DivsetCase& c : cases) {
    std::array<int, 110> ivs{};
    std::array<double, 110> vs{};
    divset(c.alg, IvView(ivs), c.liv, c.lv, VView(vs));
    EXPECT_EQ(ivs[0], c.code) << "alg " << c.alg << " liv " << c.liv << " lv " << c.lv;
    EXPECT_EQ(ivs[ALG - 1], c.alg) << "the family is recorded even when it is rejected";
    EXPECT_EQ(ivs[OUTPUT_UNIT - 1], 6);
  }
}

// A claimed length beyond the array actually passed is not trusted.
TEST(Divset, ClaimedLengthBeyondArrayIsNotUsed) {
  std::array<int, 40> ivs{};
  std::array<double, 100> vs{};
  divset(2, IvView(ivs), 100, 100, VView(vs));
  EXPECT_EQ(ivs[0], 15);
}

// The tolerances derived from machep = 2^-52: AFCTOL = 1e-20 (machep^2
// only when machep > 1e-10), RFCTOL = SCTOL = max(1e-10, machep^(2/3)),
// XCTOL = sqrt(machep), XFTOL = 100 machep, ETA0 = 1000 machep.
TEST(Divset, MachineDependentDefaults) {
  Arrays a(100, 100);
  divset(2, a.iv, a.liv, a.lv, a.v);
  EXPECT_EQ(a.v(AFCTOL), 1e-20);
  EXPECT_EQ(a.v(RFCTOL), 1e-10);
  EXPECT_EQ(a.v(SCTOL), 1e-10);
  EXPECT_EQ(a.v(XCTOL), 1.4901161193847656e-08);
  EXPECT_CLOSE(a.v(XFTOL), 2.220446049250313e-14, 1e-15);
  EXPECT_CLOSE(a.v(ETA0), 2.220446049250313e-13, 1e-15);
  EXPECT_EQ(a.iv(FACTOR_AT), 72);
  EXPECT_EQ(a.iv(PERM_AT), 60);
  EXPECT_EQ(a.iv(SAVE_AT), 47);
}

struct StorageCase {
  int liv, lv, code;
};

// With N = 2 the solver needs LIV >= 61 and LV >= 94.
TEST(Dparck, StorageLimitsForTwoVariables) {
  const StorageCase cases[] = {
      {100, 100, 12}, {61, 94, 12}, {100, 93, 16}, {60, 100, 15}, {60, 93, 16},
  };
  for (const StorageCase& c : cases) {
    Arrays a(c.liv, c.lv);
    a.fresh_start();
    EXPECT_EQ(a.check(), c.code) << "liv " << c.liv << " lv " << c.lv;
    if (c.code == 12) {
      EXPECT_EQ(a.iv(LAST_V), 94);
      EXPECT_EQ(a.iv(LAST_IV), 61);
      EXPECT_EQ(a.iv(LAST_N), kN);
      EXPECT_EQ(a.iv(NEXT_V), 72);
      EXPECT_EQ(a.iv(NEXT_IV), 60);
    }
  }
}

// Every real setting is checked at its own slot: a NaN there is reported by
// that slot's number (this also checks the jump of the name table from
// position 23 to 33 at slot 42).
TEST(Dparck, NaNInAnySettingGivesItsSlot) {
  for (int k = EPSLON; k <= BIAS; ++k) {
    Arrays a(100, 100);
    a.fresh_start();
    a.v.at(k) = kNaN;
    EXPECT_EQ(a.check(), k) << "slot " << k;
  }
}

// Every family: its defaults pass its own range check, and a NaN in any of
// its real settings (slots 19 to 50 for the least-squares set of ALG = 1
// and 3, which has its own settings behind slot 41) is reported by that slot.
TEST(Dparck, EachFamilyChecksItsOwnSettings) {
  struct Case {
    int alg, last_setting;
  };
  for (const Case& c : {Case{1, 50}, Case{2, BIAS}, Case{3, 50}, Case{4, BIAS}}) {
    for (int k = EPSLON - 1; k <= c.last_setting; ++k) {
      std::array<int, 130> ivs{};
      std::array<double, 130> vs{};
      const std::array<double, kN> d{1.0, 1.0};
      divset(c.alg, IvView(ivs), 130, 130, VView(vs));
      ivs[OUTPUT_UNIT - 1] = 0;
      if (k >= EPSLON) vs[static_cast<std::size_t>(k) - 1] = kNaN;  // k = 18: defaults only
      dparck(c.alg, d, IvView(ivs), 130, 130, kN, VView(vs));
      EXPECT_EQ(ivs[0], k >= EPSLON ? k : 12) << "alg " << c.alg << " slot " << k;
    }
  }
}

struct RangeCase {
  VSlot slot;
  double value;
  int code;
};

TEST(Dparck, RangeLimits) {
  const RangeCase cases[] = {
      {RFCTOL, 0.2, 32},    {RFCTOL, 1e-6, 12}, {RFCTOL, 1e-17, 32},  // [machep, 0.1]
      {DFAC, 1.1, 41},      {DFAC, 1.0, 12},                          // [0, 1]
      {ETA0, 0.0, 42},      {ETA0, 1.0, 12},                          // [machep, 1]
      {BIAS, 1.5, 43},      {BIAS, 0.0, 12},                          // [0, 1]
      {LMAX0, 0.0, 35},     {LMAX0, 1e300, 12},                       // [tiny, big]
      {DINIT, -11.0, 38},   {DINIT, -10.0, 12},                       // [-10, big]
      {AFCTOL, -1e-30, 31}, {TUNER4, -1.0, 12},
  };
  for (const RangeCase& c : cases) {
    Arrays a(100, 100);
    a.fresh_start();
    a.v(c.slot) = c.value;
    EXPECT_EQ(a.check(), c.code) << "slot " << c.slot << " value " << c.value;
  }
}

struct ScaleCase {
  double d1, d2;
  VSlot bad_setting;  // 0: none
  double dinit;
  int code;
};

TEST(Dparck, ScaleEntries) {
  const ScaleCase cases[] = {
      {1.0, 0.0, VSlot{}, -1.0, 18},  {-2.0, 1.0, VSlot{}, -1.0, 18},
      {1.0, kNaN, VSlot{}, -1.0, 18},  // a NaN scale is not positive
      {0.0, 1.0, RFCTOL, -1.0, 18},    // the scale failure wins over a bad setting
      {0.0, 1.0, VSlot{}, 1.0, 12},    // D will be replaced by DINIT: not checked
      {1.0, 1.0, VSlot{}, 0.0, 18},    // ... but DINIT = 0 would replace it by zeros
  };
  for (const ScaleCase& c : cases) {
    Arrays a(100, 100);
    a.fresh_start();
    a.d = {c.d1, c.d2};
    a.v(DINIT) = c.dinit;
    if (c.bad_setting != VSlot{}) a.v(c.bad_setting) = 0.2;
    EXPECT_EQ(a.check(), c.code) << c.d1 << " " << c.d2;
  }
}

// On a continuation the scale is always checked.
TEST(Dparck, ContinuationChecks) {
  struct Case {
    const char* what;
    std::function<void(Arrays&)> change;
    int n;
    int code;
  };
  const Case cases[] = {
      {"unchanged", [](Arrays&) {}, kN, 4},
      {"negative code", [](Arrays& a) { a.iv(RETURN_CODE) = -1; }, kN, 80},
      {"zero scale",
       [](Arrays& a) {
         a.d[0] = 0.0;
         a.v(DINIT) = 1.0;
       },
       kN, 18},
      {"save area outside V",
       [](Arrays& a) {
         a.iv(SAVE_AT) = 90;
         a.iv(OUTPUT_UNIT) = 6;
       },
       kN, 16},
  };
  for (const Case& c : cases) {
    Arrays a(100, 100);
    a.fresh_start();
    ASSERT_EQ(a.check(), 12);
    a.iv(RETURN_CODE) = 4;
    c.change(a);
    CapturedOutput out;
    EXPECT_EQ(a.check(c.n), c.code) << c.what;
  }
}

TEST(Dparck, FreshStartChecks) {
  {
    Arrays a(100, 100);  // IV(1) = 0 asks for the defaults again
    a.fresh_start();
    a.v(RFCTOL) = 0.2;
    a.iv(RETURN_CODE) = 0;
    EXPECT_EQ(a.check(), 12);
    EXPECT_EQ(a.v(RFCTOL), 1e-10);
  }
  {
    Arrays a(100, 100);  // sizing only
    a.fresh_start();
    a.iv(RETURN_CODE) = 13;
    EXPECT_EQ(a.check(), 13);
    EXPECT_EQ(a.iv(LAST_V), 94);
  }
  {
    Arrays a(100, 100);  // IV too short for even the sizing, seen before
    a.fresh_start();
    a.iv(RETURN_CODE) = 15;
    EXPECT_EQ(a.check(), 15);
    EXPECT_EQ(a.iv(LAST_IV), 59);
    EXPECT_EQ(a.iv(LAST_V), 0);
  }
  {
    Arrays a(40, 100);  // divset fails; its code survives the check
    EXPECT_EQ(a.check(), 15);
  }
}

// The messages, exactly, with an output unit; nothing without one.
struct MessageCase {
  const char* what;
  int liv, lv;
  std::function<void(Arrays&)> setup;
  int n;
  int code;
  const char* text;
};

TEST(Dparck, Messages) {
  const MessageCase cases[] = {
      {"setting out of range", 100, 100, [](Arrays& a) { a.v(RFCTOL) = 0.2; }, kN, 32,
       " ///  RFCTOL.... V(32) =  0.200D+00 SHOULD BE BETWEEN  0.222D-15 AND  0.100D+00\n"},
      {"scale entry", 100, 100, [](Arrays& a) { a.d[1] = -0.5; }, kN, 18,
       " ///  D(  2) = -0.500D+00 SHOULD BE POSITIVE\n"},
      {"zero DINIT", 100, 100, [](Arrays& a) { a.v(DINIT) = 0.0; }, kN, 18,
       " ///  D(  1) =  0.000D+00 SHOULD BE POSITIVE\n ///  D(  2) =  0.000D+00 SHOULD BE POSITIVE\n"},
      {"LV short", 100, 93, [](Arrays&) {}, kN, 16, " /// LV =   93 MUST BE AT LEAST   94\n"},
      {"LIV short", 60, 100, [](Arrays&) {}, kN, 15, " /// LIV =   60 MUST BE AT LEAST   61\n"},
      {"bad N", 100, 100, [](Arrays&) {}, 0, 81, " /// BADP =    0\n"},
      {"N changed", 100, 100,
       [](Arrays& a) {
         a.iv(LAST_N) = 3;
         a.iv(RETURN_CODE) = 4;
       },
       kN, 17, " /// P CHANGED FROM     3 TO     2\n"},
      {"bad code", 100, 100,
       [](Arrays& a) {
         a.iv(LAST_N) = kN;
         a.iv(RETURN_CODE) = 31;
       },
       kN, 80, " ///  IV(1) =   31 SHOULD BE BETWEEN 0 AND 14.\n"},
      {"NVDFLT", 100, 100, [](Arrays& a) { a.iv(NVDFLT) = 7; }, kN, 51,
       " IV(NVDFLT) =    7 RATHER THAN    25\n"},
      {"family", 100, 100, [](Arrays& a) { a.iv(ALG) = 3; }, kN, 67,
       " THE FIRST PARAMETER TO DIVSET SHOULD BE  2 RATHER THAN  3\n"},
      {"sizing", 100, 100, [](Arrays& a) { a.iv(RETURN_CODE) = 15; }, kN, 15,
       " /// LIV =  100 MUST BE AT LEAST   59 TO COMPUTE TRUE MIN. LIV AND MIN. LV\n"},
      {"changed settings", 100, 100,
       [](Arrays& a) {
         a.v(RFCTOL) = 1e-6;
         a.iv(INITH) = 0;
         a.iv(DTYPE) = 1;
       },
       kN, 12,
       " NONDEFAULT VALUES....\n INITH..... IV(25) =  0\n\n NONDEFAULT VALUES....\n\n"
       " DTYPE..... IV(16) =  1\n RFCTOL.... V(32) =  0.1000000D-05\n"},
      {"defaults", 100, 100, [](Arrays&) {}, kN, 12, ""},
  };
  for (const MessageCase& c : cases) {
    for (int unit : {6, 0}) {
      Arrays a(c.liv, c.lv);
      a.fresh_start();
      c.setup(a);
      a.iv(OUTPUT_UNIT) = unit;
      CapturedOutput out;
      EXPECT_EQ(a.check(c.n), c.code) << c.what;
      EXPECT_EQ(out.text(), unit != 0 ? c.text : "") << c.what << ", unit " << unit;
    }
  }
}

// After a report the settings are remembered: a continuation lists only what
// changed since, under its own heading, and nothing when PRINT_SETTINGS = 0.
TEST(Dparck, ContinuationListsOnlyChanges) {
  Arrays a(100, 100);
  a.fresh_start();
  a.iv(OUTPUT_UNIT) = 6;
  a.v(RFCTOL) = 1e-6;
  {
    CapturedOutput out;
    ASSERT_EQ(a.check(), 12);
  }
  a.iv(RETURN_CODE) = 4;
  a.v(XCTOL) = 1e-4;
  {
    CapturedOutput out;
    EXPECT_EQ(a.check(), 4);
    EXPECT_EQ(out.text(), "\n ---CHANGED VALUES....\n\n XCTOL..... V(33) =  0.1000000D-03\n");
  }
  a.v(XCTOL) = 1e-3;
  a.iv(PRINT_SETTINGS) = 0;
  {
    CapturedOutput out;
    EXPECT_EQ(a.check(), 4);
    EXPECT_EQ(out.text(), "");
  }
}

}  // namespace
}  // namespace gxe::minimizer
