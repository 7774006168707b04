// Settings of the minimizer: the defaults that divset and dv7dfl write into
// the caller's IV and V arrays, and dparck, which checks both arrays and the
// scale vector on every fresh start or continuation and reports what is wrong
// through IV(1) (and, when an output unit is set, in words).

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "console/console.h"
#include "minimizer/minimizer.h"

namespace gxe::minimizer {

namespace {

// Per-family tables, indexed by ALG - 1: the fixed part of IV and V before
// the storage a solver allocates for its variables.
constexpr std::array<int, 4> kMinIv{82, 59, 103, 103};
constexpr std::array<int, 4> kMinV{98, 71, 101, 85};

// Per-set tables, indexed by ALG1 - 1 (ALG1 = 1 for families 1 and 3, 2 for
// 2 and 4): number of real settings under range check, the table position at
// which the walk over the settings jumps to kJumpPosition, the letter naming
// the number of variables, and the last letter of the INIT setting's name.
constexpr std::array<int, 2> kNdflt{32, 25};
constexpr std::array<int, 2> kJumpAt{0, 24};
constexpr int kJumpPosition = 33;
constexpr std::array<std::string_view, 2> kVarName{"P", "P"};
constexpr std::array<std::string_view, 2> kInitLetter{"S", "H"};

constexpr int kFirstSetting = 19;  // V slot of the first real setting

// Names of the real settings, by table position 1..34.
constexpr std::array<std::string_view, 34> kNames{
    "EPSLON..", "PHMNFC..", "PHMXFC..", "DECFAC..", "INCFAC..", "RDFCMN..", "RDFCMX..",
    "TUNER1..", "TUNER2..", "TUNER3..", "TUNER4..", "TUNER5..", "AFCTOL..", "RFCTOL..",
    "XCTOL...", "XFTOL...", "LMAX0...", "LMAXS...", "SCTOL...", "DINIT...", "DTINIT..",
    "D0INIT..", "DFAC....", "DLTFDC..", "DLTFDJ..", "DELTA0..", "FUZZ....", "RLIMIT..",
    "COSMIN..", "HUBERC..", "RSPTOL..", "SIGMIN..", "ETA0....", "BIAS....",
};

// Lower and upper limits of the real settings, by table position. The
// machine-dependent entries (0 here) are filled from the machine constants
// on first use.
struct Range {
  double lower;
  double upper;
};
using Limits = std::array<Range, 34>;

Limits make_limits() {
  Limits t{{
      {0.001, 0.9},     // EPSLON
      {-0.99, -0.001},  // PHMNFC
      {0.001, 10.0},    // PHMXFC
      {0.01, 0.8},      // DECFAC
      {1.2, 100.0},     // INCFAC
      {0.01, 0.8},      // RDFCMN
      {1.2, 100.0},     // RDFCMX
      {0.0, 0.5},       // TUNER1
      {0.0, 0.5},       // TUNER2
      {0.001, 1.0},     // TUNER3
      {-1.0, 1.0},      // TUNER4
      {0.0, 0.0},       // TUNER5   [machep, big]
      {0.0, 0.0},       // AFCTOL   [0, big]
      {0.0, 0.1},       // RFCTOL   [machep, 0.1]
      {0.0, 1.0},       // XCTOL
      {0.0, 1.0},       // XFTOL
      {0.0, 0.0},       // LMAX0    [tiny, big]
      {0.0, 0.0},       // LMAXS    [tiny, big]
      {0.0, 1.0},       // SCTOL
      {-10.0, 0.0},     // DINIT    [-10, big]
      {0.0, 0.0},       // DTINIT   [0, big]
      {0.0, 0.0},       // D0INIT   [0, big]
      {0.0, 1.0},       // DFAC
      {0.0, 1.0},       // DLTFDC   [machep, 1]
      {0.0, 1.0},       // DLTFDJ   [machep, 1]
      {0.0, 1.0},       // DELTA0   [machep, 1]
      {1.01, 1e10},     // FUZZ
      {1e10, 0.0},      // RLIMIT   [1e10, dr7mdc(5)]
      {0.0, 1.0},       // COSMIN   [machep, 1]
      {0.0, 0.0},       // HUBERC   [0, big]
      {0.0, 1.0},       // RSPTOL
      {0.0, 1.0},       // SIGMIN
      {0.0, 1.0},       // ETA0     [machep, 1]
      {0.0, 1.0},       // BIAS
  }};
  const double tiny = dr7mdc(1);
  const double machep = dr7mdc(3);
  const double big = dr7mdc(6);
  const auto at = [&t](int p) -> Range& { return t[static_cast<std::size_t>(p) - 1]; };
  for (int p : {12, 14, 24, 25, 26, 29, 33}) at(p).lower = machep;
  for (int p : {17, 18}) at(p).lower = tiny;
  for (int p : {12, 13, 17, 18, 20, 21, 22, 30}) at(p).upper = big;
  at(28).upper = dr7mdc(5);
  return t;
}

const Limits& limits() {
  static const Limits t = make_limits();
  return t;
}

// Walks the real settings of set alg1 as (slot, table position) pairs.
template <class Visit>
void for_each_setting(int alg1, Visit visit) {
  const int count = kNdflt[static_cast<std::size_t>(alg1) - 1];
  const int jump_at = kJumpAt[static_cast<std::size_t>(alg1) - 1];
  int p = 1;
  for (int k = kFirstSetting; k < kFirstSetting + count; ++k) {
    visit(k, p);
    ++p;
    if (p == jump_at) p = kJumpPosition;
  }
}

int saturate(long long x) {
  return static_cast<int>(std::clamp<long long>(x, INT_MIN, INT_MAX));
}

std::string_view name_at(int p) { return kNames[static_cast<std::size_t>(p) - 1]; }

// ---- Messages of dparck -------------------------------------------------

using console::Layout;

void say_wrong_family(int alg, int given) {
  Layout().text(" THE FIRST PARAMETER TO DIVSET SHOULD BE").integer(alg, 3)
      .text(" RATHER THAN").integer(given, 3).end();
}
void say_bad_family(int alg) {
  Layout().text(" /// ALG =").integer(alg, 5).text(" MUST BE 1 2, 3, OR 4").end();
}
void say_liv_for_sizing(int liv, long long need) {
  Layout().text(" /// LIV =").integer(liv, 5).text(" MUST BE AT LEAST").integer(need, 5)
      .text(" TO COMPUTE TRUE MIN. LIV AND MIN. LV").end();
}
void say_liv_short(int liv, long long need) {
  Layout().text(" /// LIV =").integer(liv, 5).text(" MUST BE AT LEAST").integer(need, 5).end();
}
void say_lv_short(int lv, long long need) {
  Layout().text(" /// LV =").integer(lv, 5).text(" MUST BE AT LEAST").integer(need, 5).end();
}
void say_n_changed(int alg1, int last_n, int n) {
  Layout().text(" /// ").text(kVarName[static_cast<std::size_t>(alg1) - 1])
      .text(" CHANGED FROM ").integer(last_n, 5).text(" TO ").integer(n, 5).end();
}
void say_bad_code(int iv1) {
  Layout().text(" ///  IV(1) =").integer(iv1, 5).text(" SHOULD BE BETWEEN 0 AND 14.").end();
}
void say_bad_n(int alg1, int n) {
  Layout().text(" /// BAD").text(kVarName[static_cast<std::size_t>(alg1) - 1]).text(" =")
      .integer(n, 5).end();
}
void say_out_of_range(int p, int k, double value, double lower, double upper) {
  Layout().text(" ///  ").text(name_at(p)).text(".. V(").integer(k, 2).text(") =")
      .dexp(value, 11, 3).text(" SHOULD BE BETWEEN").dexp(lower, 11, 3).text(" AND")
      .dexp(upper, 11, 3).end();
}
void say_bad_nvdflt(int nvdflt, int ndflt) {
  Layout().text(" IV(NVDFLT) =").integer(nvdflt, 5).text(" RATHER THAN ").integer(ndflt, 5).end();
}
void say_bad_scale(int i, double di) {
  Layout().text(" ///  D(").integer(i, 3).text(") =").dexp(di, 11, 3)
      .text(" SHOULD BE POSITIVE").end();
}
void say_init(int alg1, int inith) {
  Layout().text(" NONDEFAULT VALUES....").newline()
      .text(" INIT").text(kInitLetter[static_cast<std::size_t>(alg1) - 1])
      .text("..... IV(25) =").integer(inith, 3).end();
}
void say_heading(std::string_view word) {
  Layout().newline().text(" ").text(word).text("ALUES....").newline().end();
}
void say_dtype(int dtype) {
  Layout().text(" DTYPE..... IV(16) =").integer(dtype, 3).end();
}
void say_setting(int p, int k, double value) {
  Layout().text(" ").text(name_at(p)).text(".. V(").integer(k, 2).text(") =")
      .dexp(value, 15, 7).end();
}

}  // namespace

void divset(int alg, IvView iv, int liv, int lv, VView v) {
  // Never write past the arrays actually passed, whatever lengths are claimed.
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv >= OUTPUT_UNIT) iv(OUTPUT_UNIT) = i7mdcn(1);
  if (liv >= ALG) iv(ALG) = alg;
  if (liv < RETURN_CODE) return;
  if (alg < 1 || alg > 4) {
    iv(RETURN_CODE) = 67;
    return;
  }
  const int miv = kMinIv[static_cast<std::size_t>(alg) - 1];
  const int mv = kMinV[static_cast<std::size_t>(alg) - 1];
  if (liv < miv) {
    iv(RETURN_CODE) = 15;
    return;
  }
  if (lv < mv) {
    iv(RETURN_CODE) = 16;
    return;
  }
  const int alg1 = (alg - 1) % 2 + 1;
  dv7dfl(alg1, lv, v);

  iv(RETURN_CODE) = 12;
  if (alg > 2) iv.at(101) = 1;
  iv(EXTRA_IV) = 0;
  iv(LAST_IV) = miv;
  iv(LAST_V) = mv;
  iv(FACTOR_AT) = mv + 1;
  iv(EVAL_LIMIT) = 200;
  iv(ITER_LIMIT) = 150;
  iv(PRINT_LEVEL) = 1;
  iv(PRINT_SETTINGS) = 1;
  iv(PERM_AT) = miv + 1;
  iv(PRINT_SOLUTION) = 1;
  iv(PRINT_STATISTICS) = 1;
  iv(EXTRA_V) = 0;
  iv(PRINT_START) = 1;

  if (alg1 == 2) {
    iv(DTYPE) = 0;
    iv(INITH) = 1;
    iv(FEVAL_EXTRA) = 0;
    iv(GEVAL_EXTRA) = 0;
    iv(NVDFLT) = 25;
    iv(SAVE_AT) = alg >= 3 ? 61 : 47;
  } else {
    // Slots of the least-squares family; no solver of that family exists
    // here, but its arrays are laid out consistently.
    iv.at(14) = 3;
    iv.at(15) = 1;
    iv(DTYPE) = 1;
    iv.at(71) = 0;
    iv.at(75) = 0;
    iv(INITH) = 0;
    iv.at(76) = 0;
    iv(NVDFLT) = 32;
    iv.at(60) = alg > 2 ? 61 : 58;
    iv(SAVE_AT) = iv.at(60) + 9;
    iv.at(80) = 1;
    iv.at(57) = 3;
    iv.at(78) = 0;
  }
}

// Default real settings. The tolerances are tied to the relative machine
// precision machep: the x-convergence tolerance is sqrt(machep) because a
// minimum is only located to about half the digits of f; the relative
// function tolerance max(1e-10, machep^(2/3)).
void dv7dfl(int alg1, int /*lv*/, VView v) {
  const auto set = [&v](int k, double value) {
    if (k <= v.length()) v.at(k) = value;
  };
  const double machep = dr7mdc(3);
  set(AFCTOL, machep > 1e-10 ? machep * machep : 1e-20);
  set(DECFAC, 0.5);
  const double sqteps = dr7mdc(4);
  set(DFAC, 0.6);
  set(DTINIT, 1e-6);
  const double mepcrt = std::pow(machep, 1.0 / 3.0);
  set(D0INIT, 1.0);
  set(EPSLON, 0.1);
  set(INCFAC, 2.0);
  set(LMAX0, 1.0);
  set(LMAXS, 1.0);
  set(PHMNFC, -0.1);
  set(PHMXFC, 0.1);
  set(RDFCMN, 0.1);
  set(RDFCMX, 4.0);
  const double square = mepcrt * mepcrt;
  const double rfctol = square > 1e-10 ? square : 1e-10;  // a NaN square gives 1e-10
  set(RFCTOL, rfctol);
  set(SCTOL, rfctol);
  set(TUNER1, 0.1);
  set(TUNER2, 1e-4);
  set(TUNER3, 0.75);
  set(TUNER4, 0.5);
  set(TUNER5, 0.75);
  set(XCTOL, sqteps);
  set(XFTOL, 100.0 * machep);
  if (alg1 >= 2) {
    set(BIAS, 0.8);
    set(DINIT, -1.0);
    set(ETA0, 1000.0 * machep);
  } else {
    // Least-squares family: finite-difference and model-switch settings.
    set(DINIT, 0.0);
    set(42, mepcrt);                             // DLTFDC
    set(43, sqteps);                             // DLTFDJ
    set(44, sqteps);                             // DELTA0
    set(45, 1.5);                                // FUZZ
    set(46, dr7mdc(5));                          // RLIMIT
    set(47, std::max(1e-6, 100.0 * machep));     // COSMIN
    set(48, 0.7);                                // HUBERC
    set(49, 0.001);                              // RSPTOL
    set(50, 1e-4);                               // SIGMIN
  }
}

void dparck(int alg, CVec d, IvView iv, int liv, int lv, int n, VView v) {
  // 1. Output unit; never touch slots beyond the arrays actually passed.
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv < RETURN_CODE) return;
  const bool print = liv >= OUTPUT_UNIT && iv(OUTPUT_UNIT) != 0;
  const auto iv_or_zero = [&](IvSlot s) { return liv >= s ? iv(s) : 0; };

  // 2-3. The family must be the one the arrays were set up for.
  if (liv >= ALG && alg != iv(ALG)) {
    if (print) say_wrong_family(alg, iv(ALG));
    iv(RETURN_CODE) = 67;
    return;
  }
  if (alg < 1 || alg > 4) {
    iv(RETURN_CODE) = 67;
    if (print) say_bad_family(alg);
    return;
  }
  const int alg1 = (alg - 1) % 2 + 1;
  const int min_iv = kMinIv[static_cast<std::size_t>(alg) - 1];
  const int min_v = kMinV[static_cast<std::size_t>(alg) - 1];
  long long miv1 = min_iv;

  // 4. A previous sizing call found IV too short for even the sizing.
  if (iv(RETURN_CODE) == 15) {
    if (print) say_liv_for_sizing(liv, miv1);
    if (liv >= LAST_IV) iv(LAST_IV) = saturate(miv1);
    if (liv >= LAST_V) iv(LAST_V) = 0;
    return;
  }

  // 5. A zero code asks for the defaults first.
  if (iv(RETURN_CODE) == 0) divset(alg, iv, liv, lv, v);
  int iv1 = iv(RETURN_CODE);

  // 6. Storage check on a fresh start or a sizing call. Sums of slot values
  // are formed in 64 bits so that no setting can overflow them.
  if (iv1 == 12 || iv1 == 13) {
    if (liv >= PERM_AT) {
      miv1 = std::max<long long>(miv1, static_cast<long long>(iv(PERM_AT)) - 1);
    }
    const long long miv2 = miv1 + std::max(iv_or_zero(EXTRA_IV), 0);
    if (liv >= LAST_IV) iv(LAST_IV) = saturate(miv2);
    if (liv < miv1) {
      iv(RETURN_CODE) = 15;
      if (print) say_liv_short(liv, miv2);
      return;
    }
    iv(EXTRA_IV) = 0;
    const long long last_v = static_cast<long long>(std::max(iv(EXTRA_V), 0)) +
                             static_cast<long long>(iv(FACTOR_AT)) - 1;
    iv(LAST_V) = saturate(last_v);
    iv(EXTRA_V) = 0;
    if (liv < miv2) {
      iv(RETURN_CODE) = 15;
      if (print) say_liv_short(liv, miv2);
      if (lv < last_v) {
        iv(RETURN_CODE) = 16;
        if (print) say_lv_short(lv, last_v);
      }
      return;
    }
    if (lv < last_v) {
      iv(RETURN_CODE) = 16;
      if (print) say_lv_short(lv, last_v);
      return;
    }
  }

  // Whatever the code, the fixed layout must fit before any slot behind
  // IV(1) is trusted (this also keeps a failed divset's 15 or 16).
  if (liv < min_iv) {
    iv(RETURN_CODE) = 15;
    if (print) say_liv_short(liv, min_iv);
    return;
  }
  if (lv < min_v) {
    iv(RETURN_CODE) = 16;
    if (print) say_lv_short(lv, min_v);
    return;
  }

  // The copy of the settings kept for the settings printout must lie in V.
  const int ndflt = kNdflt[static_cast<std::size_t>(alg1) - 1];
  const auto save_area_fits = [&]() {
    const long long first = iv(SAVE_AT);
    const long long last = first + ndflt - 1;
    if (first >= 1 && last <= lv) return true;
    iv(RETURN_CODE) = 16;
    if (print) say_lv_short(lv, std::max(first, 1LL) + ndflt - 1);
    return false;
  };

  // 7. Continuation or (re)start.
  std::string_view heading_word;
  if (iv1 < 12 || iv1 > 14) {
    if (n != iv(LAST_N)) {
      iv(RETURN_CODE) = 17;
      if (print) say_n_changed(alg1, iv(LAST_N), n);
      return;
    }
    if (iv1 < 1 || iv1 > 11) {
      iv(RETURN_CODE) = 80;
      if (print) say_bad_code(iv1);
      return;
    }
    heading_word = "---CHANGED V";
  } else {
    if (n < 1) {
      iv(RETURN_CODE) = 81;
      if (print) say_bad_n(alg1, n);
      return;
    }
    if (iv1 != 14) {
      iv(NEXT_IV) = iv(PERM_AT);
      iv(NEXT_V) = iv(FACTOR_AT);
    }
    if (iv1 == 13) return;
    if (!save_area_fits()) return;
    // The defaults go to the save area: slot 19's value lands in SAVE_AT.
    std::array<double, kFirstSetting - 1 + 32> defaults{};
    dv7dfl(alg1, lv, VView(std::span<double>(defaults)));
    for (int j = 0; j < ndflt; ++j) {
      v.at(iv(SAVE_AT) + j) = defaults[static_cast<std::size_t>(kFirstSetting - 1 + j)];
    }
    iv(DTYPE_SEEN) = 2 - alg1;
    iv(LAST_N) = n;
    heading_word = "NONDEFAULT V";
  }

  // 8. A resumed start is checked like a fresh one.
  if (iv1 == 14) iv1 = 12;

  // 9-10. Range check of the real settings; NaN is out of every range.
  const Limits& lim = limits();
  int m = 0;
  for_each_setting(alg1, [&](int k, int p) {
    const double x = v.at(k);
    const double lo = lim[static_cast<std::size_t>(p) - 1].lower;
    const double hi = lim[static_cast<std::size_t>(p) - 1].upper;
    if (!(lo <= x && x <= hi)) {
      m = k;
      if (print) say_out_of_range(p, k, x, lo, hi);
    }
  });

  // 11.
  if (iv(NVDFLT) != ndflt) {
    iv(RETURN_CODE) = 51;
    if (print) say_bad_nvdflt(iv(NVDFLT), ndflt);
    return;
  }

  // 12. Scale check when D is used as given. A NaN entry is not positive.
  // A fresh start with DINIT >= 0 replaces every D(i) by DINIT, so what is
  // checked then is the scale that will be used: DINIT = 0 would give zero
  // scales, which divide the gradient.
  if ((iv(DTYPE) < 1 && v(DINIT) <= 0.0) || iv1 != 12) {
    const bool replaced = iv1 == 12 && v(DINIT) >= 0.0;
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(n, 0)), d.size());
    for (std::size_t i = 0; i < count; ++i) {
      const double di = replaced ? v(DINIT) : d[i];
      if (!(di > 0.0)) {
        m = 18;
        if (print) say_bad_scale(static_cast<int>(i) + 1, di);
      }
    }
  }

  // 13.
  if (m != 0) {
    iv(RETURN_CODE) = m;
    return;
  }

  // 14. Report the settings that differ from the saved copy.
  if (!print || iv(PRINT_SETTINGS) == 0) return;
  if (!save_area_fits()) return;
  const int save = iv(SAVE_AT);
  if (iv1 == 12 && iv(INITH) != alg1 - 1) say_init(alg1, iv(INITH));
  bool headed = false;
  const auto heading_once = [&]() {
    if (!headed) say_heading(heading_word);
    headed = true;
  };
  if (iv(DTYPE) != iv(DTYPE_SEEN)) {
    heading_once();
    say_dtype(iv(DTYPE));
  }
  for_each_setting(alg1, [&](int k, int p) {
    if (v.at(k) != v.at(save + k - kFirstSetting)) {
      heading_once();
      say_setting(p, k, v.at(k));
    }
  });
  iv(DTYPE_SEEN) = iv(DTYPE);
  for (int j = 0; j < iv(NVDFLT); ++j) v.at(save + j) = v.at(kFirstSetting + j);
}

}  // namespace gxe::minimizer
