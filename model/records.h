#ifndef GXE_MODEL_RECORDS_H_
#define GXE_MODEL_RECORDS_H_

// The records of the trend-interaction model: the state of one calculation.
//
// The model: among controls G and E are independent, P(G=g, E=e | control) =
// pgen(g+1) * pexp(e); the log odds of being a case is
//   b0 + bg*g + be*s + beg*g*s,  s = e - 1 the exposure score (0 .. k-1).
// OR(G|E=0) = exp(bg), OR^tb(E|G=0) = exp(be*(k-1)), ROR^tb = exp(beg*(k-1)).
// Every count and variance is per case enrolled: a study with n cases has
// n*ccr controls, n times the counts and 1/n times the variances.
//
// One value of `Records` belongs to one calculation and is passed down to
// every routine that reads or writes it: a calculation touches no other
// state, so calculations on different values may run at the same time. A
// value starts as zeros; the dialogue keeps one for the whole run and fills
// the design, the planning library makes one per call. The searches set
// alt.bg and alt.be before every evaluation, and every fit rewrites its
// hypothesis' b0 and the table in `cells`.

#include <array>

namespace gxe::model {

// Capacity for exposure categories throughout the model.
inline constexpr int kMaxCategories = 100;

// One hypothesis: the alternative (`alt`) or the null (`null`).
struct Hypothesis {
  double be = 0.0;   // per-step log OR^tb(E|G=0): log(OR^tb)/(k-1)
  double bg = 0.0;   // log OR(G|E=0)
  double beg = 0.0;  // per-step log interaction: log(ROR^tb)/(k-1)
  std::array<double, kMaxCategories> pexp{};  // exposure prevalences among controls, slots 1..k
  std::array<double, 2> pgen{};               // (P(G=0), P(G=1)) among controls
  // The association of gene and exposure among controls, as each cell's
  // share against independence, less one: P(G=g, E=e | control) =
  // pgen(g) pexp(e) (1 + dependence(g, e)), at dependence_at(g, e). All zero
  // (the records' start) is independence, and then the products are the
  // plain pgen(g) pexp(e), bit for bit.
  std::array<double, 2 * kMaxCategories> dependence{};
  double b0 = 0.0;   // intercept, written by each fit
  double ccr = 0.0;  // controls per case
};

// Position of cell (g, e) in Hypothesis::dependence, both 1-based.
constexpr int dependence_at(int g, int e) { return (g - 1) * kMaxCategories + (e - 1); }

// Expected number of subjects per case in each cell (d, g, e): d = 1 control,
// 2 case; g = 1 non-carrier, 2 carrier; e = 1..k. d varies fastest, then g.
struct CellTable {
  std::array<double, 2 * 2 * kMaxCategories> cell{};
  int ncat = 0;  // k, the number of exposure categories

  // Flat 0-based position of cell (d, g, e), all three 1-based.
  static constexpr int index(int d, int g, int e) { return (d - 1) + 2 * (g - 1) + 4 * (e - 1); }
  double& at(int d, int g, int e) { return cell[index(d, g, e)]; }
  double at(int d, int g, int e) const { return cell[index(d, g, e)]; }
};

// Working record of the marginal-to-conditional odds-ratio conversion.
struct AltOdr {
  double beg = 0.0;  // per-step log interaction of the alternative
  double ore = 0.0;  // target per-step marginal exposure odds ratio
  double org = 0.0;  // target marginal gene odds ratio
  // Joint control distribution of exposure category e and genotype g,
  // pjoint(e, g) stored column by column (e fastest).
  std::array<double, kMaxCategories * 2> pjoint{};
  int ncat = 0;

  double& joint(int e, int g) { return pjoint[(e - 1) + kMaxCategories * (g - 1)]; }
  double joint(int e, int g) const { return pjoint[(e - 1) + kMaxCategories * (g - 1)]; }
};

// The records of one calculation.
struct Records {
  Hypothesis null;            // the model under the null hypothesis (beg = 0)
  Hypothesis alt;             // the model under the alternative
  CellTable cells;            // table of the most recent fit
  int cellmin = 0;            // threshold of the expected-count check
  double pow0 = 0.0;          // target power (sample-size calculations)
  double size = 0.0;          // total number of subjects, cases plus controls
  std::array<double, 2> z{};  // z(1) critical value, z(2) quantile of 1 - power
  AltOdr altodr;              // working record of the odds-ratio conversion
};

}  // namespace gxe::model

#endif  // GXE_MODEL_RECORDS_H_
