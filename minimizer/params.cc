// Settings of the minimizer: the defaults that divset and dv7dfl write into
// the caller's IV and V arrays, and dparck, which checks both arrays and the
// scale vector on every fresh start or continuation and reports what is wrong
// through IV(1) (and, when an output unit is set, in words).

#include "minimizer/params.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "console/console.h"
#include "minimizer/machine.h"

namespace gxe::minimizer {

namespace {

constexpr int kFamilyCount = 4;  // ALG runs from 1 to 4

// Per-family tables, indexed by ALG - 1: the fixed part of IV and V before
// the storage a solver allocates for its variables.
constexpr std::array<int, kFamilyCount> kMinIv{82, 59, 103, 103};
constexpr std::array<int, kFamilyCount> kMinV{98, 71, 101, 85};

// Per-set tables, indexed by ALG1 - 1: the letter naming the number of
// variables, and the last letter of the INIT setting's name.
constexpr std::array<std::string_view, 2> kVarName{"P", "P"};
constexpr std::array<std::string_view, 2> kInitLetter{"S", "H"};

constexpr int kFirstSetting = EPSLON;  // V slot of the first real setting

// The least-squares set (ALG1 = 1) shares the settings of kRealSettings up to
// DFAC and has these behind them instead of ETA0 and BIAS. No solver of that
// family exists here; its arrays are defaulted and checked consistently.
constexpr std::array<RealSetting, 9> kLeastSquaresSettings{{
    // slot name      default                  lower                upper
    {42, "DLTFDC", {1.0, Q::kCbrtMachep},  {1.0, Q::kMachep},   {1.0}},
    {43, "DLTFDJ", {1.0, Q::kSqrtMachep},  {1.0, Q::kMachep},   {1.0}},
    {44, "DELTA0", {1.0, Q::kSqrtMachep},  {1.0, Q::kMachep},   {1.0}},
    {45, "FUZZ",   {1.5},                  {1.01},              {1e10}},
    {46, "RLIMIT", {1.0, Q::kSqrtBig},     {1e10},              {1.0, Q::kSqrtBig}},
    {47, "COSMIN", {1.0, Q::kCosminRule},  {1.0, Q::kMachep},   {1.0}},
    {48, "HUBERC", {0.7},                  {0.0},               {1.0, Q::kBig}},
    {49, "RSPTOL", {0.001},                {0.0},               {1.0}},
    {50, "SIGMIN", {1e-4},                 {0.0},               {1.0}},
}};

// Number of real settings of each set: those of this solver, and the
// least-squares set's (the shared ones up to DFAC, then its own).
constexpr int kBoundedSetCount = static_cast<int>(kRealSettings.size());
constexpr int kLeastSquaresSetCount =
    DFAC - kFirstSetting + 1 + static_cast<int>(kLeastSquaresSettings.size());

int setting_count(int alg1) { return alg1 >= 2 ? kBoundedSetCount : kLeastSquaresSetCount; }

// The value of quantity q on this machine.
double quantity(Quantity q) {
  const double machep = dr7mdc(kMachep);
  switch (q) {
    case Quantity::kOne: return 1.0;
    case Quantity::kMachep: return machep;
    case Quantity::kSqrtMachep: return dr7mdc(kSqrtMachep);
    case Quantity::kCbrtMachep: return std::pow(machep, 1.0 / 3.0);
    case Quantity::kTiny: return dr7mdc(kTiny);
    case Quantity::kBig: return dr7mdc(kBig);
    case Quantity::kSqrtBig: return dr7mdc(kSqrtBig);
    case Quantity::kAfctolRule: return machep > 1e-10 ? machep * machep : 1e-20;
    case Quantity::kRfctolRule: {
      const double cbrt = std::pow(machep, 1.0 / 3.0);
      const double square = cbrt * cbrt;
      return square > 1e-10 ? square : 1e-10;  // a NaN square gives 1e-10
    }
    case Quantity::kCosminRule: return std::max(1e-6, 100.0 * machep);
  }
  return 1.0;
}

double amount(const Amount& a) {
  return a.of == Quantity::kOne ? a.factor : a.factor * quantity(a.of);
}

// A setting's default and range as numbers. They depend only on the machine
// constants, so each table is evaluated once.
struct Values {
  double default_value;
  double lower;
  double upper;
};

template <std::size_t N>
std::array<Values, N> evaluate(const std::array<RealSetting, N>& table) {
  std::array<Values, N> values{};
  for (std::size_t i = 0; i < N; ++i) {
    values[i] = {amount(table[i].default_value), amount(table[i].lower), amount(table[i].upper)};
  }
  return values;
}

const auto& bounded_values() {
  static const auto values = evaluate(kRealSettings);
  return values;
}

const auto& least_squares_values() {
  static const auto values = evaluate(kLeastSquaresSettings);
  return values;
}

// Walks the real settings of set alg1 in slot order, with their values.
template <class Visit>
void for_each_setting(int alg1, Visit visit) {
  const auto& bounded = bounded_values();
  for (std::size_t i = 0; i < kRealSettings.size(); ++i) {
    if (alg1 >= 2 || kRealSettings[i].slot <= DFAC) visit(kRealSettings[i], bounded[i]);
  }
  if (alg1 >= 2) return;
  const auto& least_squares = least_squares_values();
  for (std::size_t i = 0; i < kLeastSquaresSettings.size(); ++i) {
    visit(kLeastSquaresSettings[i], least_squares[i]);
  }
}

int saturate(long long x) {
  return static_cast<int>(std::clamp<long long>(x, INT_MIN, INT_MAX));
}

// The dots that pad a setting's name to 8 characters in messages.
std::string_view name_padding(const RealSetting& s) {
  constexpr std::string_view kDots = "........";
  return kDots.substr(std::min(s.name.size(), kDots.size()));
}

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
  Layout().text(" /// ").text(kVarName[at0(alg1)])
      .text(" CHANGED FROM ").integer(last_n, 5).text(" TO ").integer(n, 5).end();
}
void say_bad_code(int iv1) {
  Layout().text(" ///  IV(1) =").integer(iv1, 5).text(" SHOULD BE BETWEEN 0 AND 14.").end();
}
void say_bad_n(int alg1, int n) {
  Layout().text(" /// BAD").text(kVarName[at0(alg1)]).text(" =").integer(n, 5).end();
}
void say_out_of_range(const RealSetting& s, double value, const Values& range) {
  Layout().text(" ///  ").text(s.name).text(name_padding(s)).text(".. V(").integer(s.slot, 2)
      .text(") =").dexp(value, 11, 3).text(" SHOULD BE BETWEEN").dexp(range.lower, 11, 3)
      .text(" AND").dexp(range.upper, 11, 3).end();
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
      .text(" INIT").text(kInitLetter[at0(alg1)])
      .text("..... IV(25) =").integer(inith, 3).end();
}
void say_heading(std::string_view word) {
  Layout().newline().text(" ").text(word).text("ALUES....").newline().end();
}
void say_dtype(int dtype) {
  Layout().text(" DTYPE..... IV(16) =").integer(dtype, 3).end();
}
void say_setting(const RealSetting& s, double value) {
  Layout().text(" ").text(s.name).text(name_padding(s)).text(".. V(").integer(s.slot, 2).text(") =")
      .dexp(value, 15, 7).end();
}

// Slots of the least-squares family (ALG1 = 1) that divset fills; no solver
// of that family exists here, but its arrays are laid out consistently.
void lay_out_least_squares(int alg, IvView iv) {
  iv.at(14) = 3;
  iv.at(15) = 1;
  iv(DTYPE) = 1;
  iv.at(71) = 0;
  iv.at(75) = 0;
  iv(INITH) = 0;
  iv.at(76) = 0;
  iv(NVDFLT) = kLeastSquaresSetCount;
  iv.at(60) = alg > 2 ? 61 : 58;
  iv(SAVE_AT) = iv.at(60) + 9;
  iv.at(80) = 1;
  iv.at(57) = 3;
  iv.at(78) = 0;
}

// The family must exist and be the one the arrays were set up for.
bool family_valid(int alg, IvView iv, int liv, bool print) {
  if (liv >= ALG && alg != iv(ALG)) {
    if (print) say_wrong_family(alg, iv(ALG));
    iv(RETURN_CODE) = kBadFamily;
    return false;
  }
  if (alg < 1 || alg > kFamilyCount) {
    iv(RETURN_CODE) = kBadFamily;
    if (print) say_bad_family(alg);
    return false;
  }
  return true;
}

// The checks of dparck for a family known to exist. Each check that fails
// sets IV(1), reports itself when printing, and answers false.
class SettingsCheck {
 public:
  SettingsCheck(int alg, CVec d, IvView iv, int liv, int lv, int n, VView v, bool print)
      : alg_(alg), alg1_((alg - 1) % 2 + 1), min_iv_(kMinIv[at0(alg)]), min_v_(kMinV[at0(alg)]),
        ndflt_(setting_count(alg1_)), d_(d), iv_(iv), v_(v), liv_(liv), lv_(lv), n_(n),
        print_(print) {}

  void run();

 private:
  void report_sizing_failure();
  bool storage_fits();
  bool fixed_layout_fits();
  bool save_area_fits();
  bool start(int iv1);
  bool continuation_valid(int iv1);
  int out_of_range_slot();
  bool setting_count_matches();
  bool scale_positive(int iv1);
  void report_changed_settings(int iv1);

  const int alg_, alg1_, min_iv_, min_v_, ndflt_;
  CVec d_;
  IvView iv_;
  VView v_;
  const int liv_, lv_, n_;
  const bool print_;
  std::string_view heading_word_;  // of the settings report: fresh start or continuation
};

void SettingsCheck::run() {
  if (iv_(RETURN_CODE) == kIvTooShort) {
    report_sizing_failure();
    return;
  }
  if (iv_(RETURN_CODE) == kDefaultsFirst) divset(alg_, iv_, liv_, lv_, v_);
  int iv1 = iv_(RETURN_CODE);
  if ((iv1 == kFreshStart || iv1 == kSizeOnly) && !storage_fits()) return;
  if (!fixed_layout_fits()) return;
  const bool starting = iv1 >= kFreshStart && iv1 <= kStorageReady;
  if (starting ? !start(iv1) : !continuation_valid(iv1)) return;
  if (iv1 == kStorageReady) iv1 = kFreshStart;  // a resumed start is checked like a fresh one

  // Every failure below is reported before the code is chosen: a wrong
  // setting count wins, then a bad scale entry, then the last bad setting.
  int failure = out_of_range_slot();
  if (!setting_count_matches()) return;
  if (!scale_positive(iv1)) failure = kBadScale;
  if (failure != 0) {
    iv_(RETURN_CODE) = failure;
    return;
  }
  report_changed_settings(iv1);
}

// A previous sizing call found IV too short for even the sizing.
void SettingsCheck::report_sizing_failure() {
  if (print_) say_liv_for_sizing(liv_, min_iv_);
  if (liv_ >= LAST_IV) iv_(LAST_IV) = min_iv_;
  if (liv_ >= LAST_V) iv_(LAST_V) = 0;
}

// Storage for a fresh start or a sizing call: IV must reach the permutation's
// start plus the extra integers asked for, V the factor's start plus the
// extra reals. Sums of slot values are formed in 64 bits so that no setting
// can overflow them.
bool SettingsCheck::storage_fits() {
  long long miv1 = min_iv_;
  if (liv_ >= PERM_AT) miv1 = std::max<long long>(miv1, static_cast<long long>(iv_(PERM_AT)) - 1);
  const long long extra_iv = liv_ >= EXTRA_IV ? iv_(EXTRA_IV) : 0;
  const long long miv2 = miv1 + std::max(extra_iv, 0LL);
  if (liv_ >= LAST_IV) iv_(LAST_IV) = saturate(miv2);
  if (liv_ < miv1) {
    iv_(RETURN_CODE) = kIvTooShort;
    if (print_) say_liv_short(liv_, miv2);
    return false;
  }
  iv_(EXTRA_IV) = 0;
  const long long last_v = static_cast<long long>(std::max(iv_(EXTRA_V), 0)) +
                           static_cast<long long>(iv_(FACTOR_AT)) - 1;
  iv_(LAST_V) = saturate(last_v);
  iv_(EXTRA_V) = 0;
  const bool iv_short = liv_ < miv2;
  if (iv_short) {
    iv_(RETURN_CODE) = kIvTooShort;
    if (print_) say_liv_short(liv_, miv2);
  }
  if (lv_ < last_v) {
    iv_(RETURN_CODE) = kVTooShort;
    if (print_) say_lv_short(lv_, last_v);
    return false;
  }
  return !iv_short;
}

// Whatever the code, the fixed layout must fit before any slot behind IV(1)
// is trusted (this also keeps a failed divset's kIvTooShort or kVTooShort).
bool SettingsCheck::fixed_layout_fits() {
  if (liv_ < min_iv_) {
    iv_(RETURN_CODE) = kIvTooShort;
    if (print_) say_liv_short(liv_, min_iv_);
    return false;
  }
  if (lv_ < min_v_) {
    iv_(RETURN_CODE) = kVTooShort;
    if (print_) say_lv_short(lv_, min_v_);
    return false;
  }
  return true;
}

// The copy of the settings kept for the settings report must lie in V.
bool SettingsCheck::save_area_fits() {
  const long long first = iv_(SAVE_AT);
  const long long last = first + ndflt_ - 1;
  if (first >= 1 && last <= lv_) return true;
  iv_(RETURN_CODE) = kVTooShort;
  if (print_) say_lv_short(lv_, std::max(first, 1LL) + ndflt_ - 1);
  return false;
}

// A fresh start, a sizing call or a resumed start: n must be positive and the
// allocation starts over unless storage is already laid out. Except for a
// sizing call (which ends here, answering false without a failure) the
// defaults go to the save area, which the settings report compares against.
bool SettingsCheck::start(int iv1) {
  if (n_ < 1) {
    iv_(RETURN_CODE) = kBadVariableCount;
    if (print_) say_bad_n(alg1_, n_);
    return false;
  }
  if (iv1 != kStorageReady) {
    iv_(NEXT_IV) = iv_(PERM_AT);
    iv_(NEXT_V) = iv_(FACTOR_AT);
  }
  if (iv1 == kSizeOnly) return false;
  if (!save_area_fits()) return false;
  // dv7dfl writes from slot kFirstSetting on, so that slot's default lands in SAVE_AT.
  std::array<double, kFirstSetting - 1 + kLeastSquaresSetCount> defaults{};
  dv7dfl(alg1_, lv_, VView(std::span<double>(defaults)));
  for (int j = 0; j < ndflt_; ++j) v_.at(iv_(SAVE_AT) + j) = defaults[at0(kFirstSetting + j)];
  iv_(DTYPE_SEEN) = 2 - alg1_;  // the set's default DTYPE: not reported as changed
  iv_(LAST_N) = n_;
  heading_word_ = "NONDEFAULT V";
  return true;
}

// A continuation must keep n and carry a code a run can resume from.
bool SettingsCheck::continuation_valid(int iv1) {
  if (n_ != iv_(LAST_N)) {
    iv_(RETURN_CODE) = kVariableCountChanged;
    if (print_) say_n_changed(alg1_, iv_(LAST_N), n_);
    return false;
  }
  if (iv1 < kNeedF || iv1 > kInterrupted) {
    iv_(RETURN_CODE) = kBadCode;
    if (print_) say_bad_code(iv1);
    return false;
  }
  heading_word_ = "---CHANGED V";
  return true;
}

// The slot of the last real setting outside its range (0: none); each one is
// reported. NaN is out of every range.
int SettingsCheck::out_of_range_slot() {
  int last_bad = 0;
  for_each_setting(alg1_, [&](const RealSetting& s, const Values& range) {
    const double x = v_.at(s.slot);
    if (!(range.lower <= x && x <= range.upper)) {
      last_bad = s.slot;
      if (print_) say_out_of_range(s, x, range);
    }
  });
  return last_bad;
}

bool SettingsCheck::setting_count_matches() {
  if (iv_(NVDFLT) == ndflt_) return true;
  iv_(RETURN_CODE) = kBadSettingCount;
  if (print_) say_bad_nvdflt(iv_(NVDFLT), ndflt_);
  return false;
}

// Scale check when D is used as given; every entry that is not positive (NaN
// included) is reported. A fresh start with DINIT >= 0 replaces every D(i) by
// DINIT, so what is checked then is the scale that will be used: DINIT = 0
// would give zero scales, which divide the gradient.
bool SettingsCheck::scale_positive(int iv1) {
  if (!((iv_(DTYPE) < 1 && v_(DINIT) <= 0.0) || iv1 != kFreshStart)) return true;
  const bool replaced = iv1 == kFreshStart && v_(DINIT) >= 0.0;
  const std::size_t count = std::min(static_cast<std::size_t>(std::max(n_, 0)), d_.size());
  bool positive = true;
  for (std::size_t i = 0; i < count; ++i) {
    const double di = replaced ? v_(DINIT) : d_[i];
    if (!(di > 0.0)) {
      positive = false;
      if (print_) say_bad_scale(static_cast<int>(i) + 1, di);
    }
  }
  return positive;
}

// The settings that differ from the saved copy (the defaults on a fresh
// start, the last report's values on a continuation), then a new copy.
void SettingsCheck::report_changed_settings(int iv1) {
  if (!print_ || iv_(PRINT_SETTINGS) == 0) return;
  if (!save_area_fits()) return;
  const int save = iv_(SAVE_AT);
  if (iv1 == kFreshStart && iv_(INITH) != alg1_ - 1) say_init(alg1_, iv_(INITH));
  bool headed = false;
  const auto heading_once = [&]() {
    if (!headed) say_heading(heading_word_);
    headed = true;
  };
  if (iv_(DTYPE) != iv_(DTYPE_SEEN)) {
    heading_once();
    say_dtype(iv_(DTYPE));
  }
  for_each_setting(alg1_, [&](const RealSetting& s, const Values&) {
    if (v_.at(s.slot) != v_.at(save + s.slot - kFirstSetting)) {
      heading_once();
      say_setting(s, v_.at(s.slot));
    }
  });
  iv_(DTYPE_SEEN) = iv_(DTYPE);
  for (int j = 0; j < iv_(NVDFLT); ++j) v_.at(save + j) = v_.at(kFirstSetting + j);
}

}  // namespace

void divset(int alg, IvView iv, int liv, int lv, VView v) {
  // Never write past the arrays actually passed, whatever lengths are claimed.
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv >= OUTPUT_UNIT) iv(OUTPUT_UNIT) = i7mdcn(1);
  if (liv >= ALG) iv(ALG) = alg;
  if (liv < RETURN_CODE) return;
  if (alg < 1 || alg > kFamilyCount) {
    iv(RETURN_CODE) = kBadFamily;
    return;
  }
  const int miv = kMinIv[at0(alg)];
  const int mv = kMinV[at0(alg)];
  if (liv < miv) {
    iv(RETURN_CODE) = kIvTooShort;
    return;
  }
  if (lv < mv) {
    iv(RETURN_CODE) = kVTooShort;
    return;
  }
  const int alg1 = (alg - 1) % 2 + 1;
  dv7dfl(alg1, lv, v);

  iv(RETURN_CODE) = kFreshStart;
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
  if (alg1 == 1) {
    lay_out_least_squares(alg, iv);
    return;
  }
  iv(DTYPE) = 0;
  iv(INITH) = 1;
  iv(FEVAL_EXTRA) = 0;
  iv(GEVAL_EXTRA) = 0;
  iv(NVDFLT) = kBoundedSetCount;
  iv(SAVE_AT) = alg >= 3 ? 61 : 47;
}

// Default real settings, from kRealSettings and, for the least-squares set,
// kLeastSquaresSettings.
void dv7dfl(int alg1, int /*lv*/, VView v) {
  const auto set = [&v](int k, double value) {
    if (k <= v.length()) v.at(k) = value;
  };
  for_each_setting(alg1, [&](const RealSetting& s, const Values& values) {
    set(s.slot, values.default_value);
  });
  if (alg1 < 2) set(DINIT, 0.0);  // the least-squares set's own default
}

void dparck(int alg, CVec d, IvView iv, int liv, int lv, int n, VView v) {
  // Never touch slots beyond the arrays actually passed.
  liv = std::min(liv, iv.length());
  lv = std::min(lv, v.length());
  if (liv < RETURN_CODE) return;
  const bool print = liv >= OUTPUT_UNIT && iv(OUTPUT_UNIT) != 0;
  if (!family_valid(alg, iv, liv, print)) return;
  SettingsCheck(alg, d, iv, liv, lv, n, v, print).run();
}

}  // namespace gxe::minimizer
