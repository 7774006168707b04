#include "dialogue/dialogue.h"

#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "console/console.h"
#include "model/oreg.h"
#include "model/records.h"

namespace gxe::dialogue {
namespace {

using console::Layout;
using console::message;

// The questions, numbered from 1 as the steps below use them. Each is 53
// characters long and ends with a colon and three blanks.
constexpr const char* input_query[] = {
    "Enter the power to be achieved ..................:   ",
    "Enter the number of quantiles (k: integer).......:   ",
    "Enter the gene prevalence in controls ...........:   ",
    "Enter the control-case ratio (c) ................:   ",
    "Enter the number of cases .......................:   ",
    "Enter OR^tb(E|G=0) under the null................:   ",
    "Enter OR(G|E=0) under the null...................:   ",
    "Enter ROR^tb under the alternative...............:   ",
    "Are you using exposure quantiles (y/n)?..........:   ",
    "Enter the number of exposure categories..........:   ",
};

enum Question : int {
  kTargetPower = 1,
  kQuantileCount = 2,
  kGenePrevalence = 3,
  kControlCaseRatio = 4,
  kCaseCount = 5,
  kNullExposureOr = 6,
  kNullGeneOr = 7,
  kInteractionRor = 8,
  kUsesQuantiles = 9,
  kCategoryCount = 10,
};

constexpr const char* kExposureRangePrompt =
    "Enter range for OR^tb(E|G=0)  under the alternative  : ";
constexpr const char* kGeneRangePrompt = "Enter range for OR(G|E=0)  under the alternative  : ";

// Entered prevalences must add up to 1 within this much.
constexpr double kSumTolerance = 1e-10;

void ask(Question q) { Layout().text(input_query[q - 1]).stay(); }

bool is_positive(double x) { return x > 0.0; }
bool is_probability(double x) { return x > 0.0 && x < 1.0; }

// Asks question q for one real until `valid` accepts it, writing `invalid`
// after each refused answer. An answer that overflowed to infinity is refused
// too: no study has an infinite ratio or number of cases.
void ask_real(Question q, double& answer, const char* invalid, bool (*valid)(double)) {
  for (;;) {
    ask(q);
    console::read_real(answer);
    if (std::isfinite(answer) && valid(answer)) return;
    message({invalid});
  }
}

// Asks question q for the number of exposure categories until
// 1 < k <= kMaxCategories (the capacity of the model records).
int ask_category_count(Question q, std::int64_t& k, const char* invalid) {
  const std::string too_many = "At most " + std::to_string(model::kMaxCategories) +
                               " exposure categories can be used.";
  for (;;) {
    ask(q);
    console::read_whole(k);
    if (k <= 1) {
      message({invalid});
    } else if (k > model::kMaxCategories) {
      message({too_many});
    } else {
      return static_cast<int>(k);
    }
  }
}

// Step 1: power (1) or sample size (0).
int ask_study_type() {
  for (;;) {
    message({"Do you want power or sample size calculations?"});
    Layout().text(" (type \"p\" for power or \"s\" for sample size) ").stay();
    const char answer = console::read_char();
    if (answer == 'p' || answer == 'P') return kPowerStudy;
    if (answer == 's' || answer == 'S') return kSampleSizeStudy;
    message({"This is not a valid entry!"});
  }
}

// Steps 2 and 3: the target power (sample size only) and whether the
// exposure is in quantiles. Any answer but y or n goes back to the power.
bool ask_target_power_and_quantiles(int study_type, double& pow0) {
  for (;;) {
    if (study_type == kSampleSizeStudy) {
      ask_real(kTargetPower, pow0, "This is not a valid entry !", is_probability);
    }
    ask(kUsesQuantiles);
    const char answer = console::read_char();
    if (answer == 'y' || answer == 'Y') return true;
    if (answer == 'n' || answer == 'N') return false;
  }
}

// Step 4, prevalence block: the k prevalences of the exposure categories among
// controls, one request each, asked again as a whole until they add up to 1.
// The single values are not checked.
void ask_prevalences(int k, model::Hypothesis& null) {
  for (;;) {
    Layout().text("Enter the prevalence of exp. categories").text(" in controls,").end();
    message({"hitting \"return\" after each value"});
    for (int e = 0; e < k; ++e) console::read_real(null.pexp[e]);
    double sum = 0.0;
    for (int e = 0; e < k; ++e) sum += null.pexp[e];
    if (std::fabs(1.0 - sum) < kSumTolerance) return;
    message({"Probabilities do not add to 1.0.", sum});
  }
}

// Step 12: the conditional odds ratios implied by the alternative when the
// odds ratios entered under the null are read as marginal ones. The report is
// for the user only; its results are not kept.
void show_conditional_odds_ratios(model::Records& rec, int k, double ror) {
  model::Hypothesis& null = rec.null;
  double orgm = std::exp(null.bg);
  double oretbm = std::exp((k - 1) * null.be);
  double ror_entered = ror;
  int categories = k;
  double oretbc = 0.0;
  double orgc = 0.0;
  model::oreg(rec, orgm, oretbm, ror_entered, categories,
              std::span<double>(null.pexp.data(), static_cast<std::size_t>(k)),
              std::span<double>(null.pgen), oretbc, orgc);
}

// Steps 13 and 14: a range (lower, upper) of an odds ratio, on one request.
void ask_range(const char* prompt, std::array<double, 2>& bounds) {
  for (;;) {
    Layout().text(prompt).stay();
    console::read_reals(bounds);
    if (bounds[0] > bounds[1]) {
      message({"Lower bound should be less or equal to the upper bound"});
    } else if (bounds[0] <= 0.0) {
      message({"Lower bound should be positive."});
    } else if (!std::isfinite(bounds[0]) || !std::isfinite(bounds[1])) {
      message({"Bounds must be finite."});
    } else {
      return;
    }
    message({"Try again"});
  }
}

}  // namespace

void init(model::Records& rec, std::array<double, 2>& lower, std::array<double, 2>& upper,
          int& study_type) {
  model::Hypothesis& null = rec.null;
  model::Hypothesis& alt = rec.alt;

  // Answers that go into no record start at 0 in every dialogue; a comma
  // keeps what the previous attempt at the same question left.
  std::int64_t k_answer = 0;
  double probg = 0.0;
  double oretb = 0.0;
  double org = 0.0;
  double ror = 0.0;
  std::array<double, 2> exposure_range{};
  std::array<double, 2> gene_range{};

  study_type = ask_study_type();

  int k = 0;
  if (ask_target_power_and_quantiles(study_type, rec.pow0)) {
    k = ask_category_count(kQuantileCount, k_answer, "Not a valid entry (must be integer >1)!");
    for (int e = 0; e < k; ++e) null.pexp[e] = 1.0 / k;
  } else {
    k = ask_category_count(kCategoryCount, k_answer, "Invalid entry, try again ");
    ask_prevalences(k, null);
  }
  rec.cells.ncat = k;
  // A top-versus-bottom odds ratio spans k - 1 steps of the exposure score.
  const double steps = k - 1;

  ask_real(kGenePrevalence, probg, "This is not a valid entry (0.0<probg< 1.0)!", is_probability);
  null.pgen = {1.0 - probg, probg};

  ask_real(kControlCaseRatio, null.ccr, "This is not a valid entry (ccr > 0.0)!", is_positive);

  if (study_type == kPowerStudy) {
    // Entered as cases; kept as cases plus controls.
    ask_real(kCaseCount, rec.size, "This is not a valid entry (size > 0.0)!", is_positive);
    rec.size = rec.size * (1.0 + null.ccr);
  }

  ask_real(kNullExposureOr, oretb, "This is not a valid entry (oretb > 0.0)!", is_positive);
  null.be = std::log(oretb) / steps;

  ask_real(kNullGeneOr, org, "This is not a valid entry (or(g) > 0.0)!", is_positive);
  null.bg = std::log(org);
  null.beg = 0.0;

  alt.pgen = null.pgen;
  for (int e = 0; e < k; ++e) alt.pexp[e] = null.pexp[e];
  alt.ccr = null.ccr;

  ask_real(kInteractionRor, ror, "This is not a valid entry (orintb > 0.0)!", is_positive);
  show_conditional_odds_ratios(rec, k, ror);
  alt.beg = std::log(ror) / steps;

  // The exposure range is asked first; the search variables put the gene
  // odds ratio first.
  ask_range(kExposureRangePrompt, exposure_range);
  ask_range(kGeneRangePrompt, gene_range);
  lower = {std::log(gene_range[0]), std::log(exposure_range[0]) / steps};
  upper = {std::log(gene_range[1]), std::log(exposure_range[1]) / steps};
}

}  // namespace gxe::dialogue
