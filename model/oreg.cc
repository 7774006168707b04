#include "model/oreg.h"

#include <unsupported/Eigen/NonLinearOptimization>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "console/console.h"
#include "model/records.h"

namespace gxe::model {
namespace {

constexpr int kEquations = 2;         // two conditions, two unknowns
constexpr double kSolverTol = 1e-10;  // relative error wanted in x

// The two conditions in the form the solver calls: residuals at x, with the
// records of the calculation that owns the targets.
struct Conditions {
  Records* rec;
  int operator()(const Eigen::VectorXd& x, Eigen::VectorXd& fvec) const {
    return func(rec, kEquations, x.data(), fvec.data(), 1);
  }
};

// Powell's hybrid (dogleg) method with a forward-difference Jacobian, set up
// as MINPACK's simple driver hybrd1 sets it up: at most 200 (n + 1)
// evaluations, unit scaling, initial step bound 100. Returns MINPACK's
// verdict: 1 converged, 2 too many evaluations, 3 tolerance too small, 4 not
// making good progress. The simple driver folds the full solver's two ways of
// not making progress (no reduction over five Jacobian evaluations, 4; over
// ten iterations, 5) into one verdict, 4; Eigen's port hands back the full
// solver's status, so they are folded here the same way.
int solve(Records& rec, Eigen::VectorXd& x) {
  Conditions conditions{&rec};
  Eigen::HybridNonLinearSolver<Conditions> solver(conditions);
  const int info = solver.hybrd1(x, kSolverTol);
  return info == Eigen::HybridNonLinearSolverSpace::NotMakingProgressIterations
             ? Eigen::HybridNonLinearSolverSpace::NotMakingProgressJacobian
             : info;
}

// Number of categories that the fixed-size tables can hold: the loops never
// run past the capacity, whatever k the caller hands in.
int bounded_categories(int k, std::size_t available) {
  const int cap = static_cast<int>(std::min<std::size_t>(available, kMaxCategories));
  return std::clamp(k, 0, cap);
}

}  // namespace

// Relative odds r(s, g) = exp(x1 s + x2 g + beg s g) of a cell with exposure
// score s and genotype g against the cell (0, 0); cases are weighted by
// r(s, g) pjoint(e, g), controls by pjoint(e, g).
//
// First condition: the exposure odds ratio between categories 2 and 1 with
// the genotypes pooled must equal the per-step marginal target `ore`.
// Second condition: the gene odds ratio with all categories pooled must equal
// the marginal target `org`.
int func(void* p, int /*n*/, const double* x, double* fvec, int /*iflag*/) {
  const AltOdr& a = static_cast<const Records*>(p)->altodr;
  const auto r = [&](int s, int g) { return std::exp(x[0] * s + x[1] * g + a.beg * s * g); };

  const double w1 = r(1, 0) * a.joint(2, 1) + r(1, 1) * a.joint(2, 2);  // cases, category 2
  const double w2 = a.joint(1, 1) + a.joint(1, 2);                      // controls, category 1
  const double w3 = a.joint(2, 1) + a.joint(2, 2);                      // controls, category 2
  const double w4 = r(0, 0) * a.joint(1, 1) + r(0, 1) * a.joint(1, 2);  // cases, category 1
  fvec[0] = (w1 * w2) / (w3 * w4) - a.ore;

  double t1 = 0.0;  // carriers, cases
  double t2 = 0.0;  // non-carriers, cases
  double t3 = 0.0;  // carriers, controls
  double t4 = 0.0;  // non-carriers, controls
  const int k = bounded_categories(a.ncat, kMaxCategories);
  for (int e = 1; e <= k; ++e) {
    const int s = e - 1;
    t1 = t1 + r(s, 1) * a.joint(e, 2);
    t2 = t2 + r(s, 0) * a.joint(e, 1);
    t3 = t3 + a.joint(e, 2);
    t4 = t4 + a.joint(e, 1);
  }
  fvec[1] = (t1 / t3) / (t2 / t4) - a.org;
  return 0;
}

int convert_odds_ratios(Records& rec, double orgm, double oretbm, double ror, int k,
                        std::span<const double> pexp, std::span<const double> pgen,
                        double& oretbc, double& orgc, std::span<const double> dependence) {
  AltOdr& altodr = rec.altodr;
  altodr.ncat = k;

  // Controls: the joint distribution of gene and exposure, the product of
  // the margins under independence.
  const int kk = bounded_categories(k, pexp.size());
  const auto related = [&](int g, int e) {
    return dependence.empty() ? 1.0 : 1.0 + dependence[dependence_at(g, e)];
  };
  for (int e = 1; e <= kk; ++e) {
    altodr.joint(e, 1) = pexp[e - 1] * pgen[0] * related(1, e);
    altodr.joint(e, 2) = pexp[e - 1] * pgen[1] * related(2, e);
  }

  Eigen::VectorXd x = Eigen::VectorXd::Zero(kEquations);

  // k - 1 in floating point: no integer overflow for any k.
  const double steps = static_cast<double>(k) - 1.0;
  const bool associated =
      std::any_of(dependence.begin(), dependence.end(), [](double d) { return d != 0.0; });
  if (associated) {
    // The entered odds ratios are the null's conditional ones; with gene and
    // exposure associated among controls its marginal ones differ, and the
    // alternative is held to those: the two conditions at the null's point,
    // without interaction and with targets zero, give them.
    altodr.beg = 0.0;
    altodr.ore = 0.0;
    altodr.org = 0.0;
    const double null_point[kEquations] = {std::log(oretbm) / steps, std::log(orgm)};
    double marginal[kEquations] = {0.0, 0.0};
    func(&rec, kEquations, null_point, marginal, 1);
    altodr.ore = marginal[0];
    altodr.org = marginal[1];
  } else {
    altodr.ore = std::exp(std::log(oretbm) / steps);
    altodr.org = orgm;
  }
  altodr.beg = std::log(ror) / steps;

  const int info = solve(rec, x);
  orgc = std::exp(x[1]);
  oretbc = std::exp(steps * x[0]);
  return info;
}

void oreg(Records& rec, double& orgm, double& oretbm, double& ror, int& k,
          std::span<double> pexp, std::span<double> pgen, double& oretbc, double& orgc) {
  const int info = convert_odds_ratios(rec, orgm, oretbm, ror, k, pexp, pgen, oretbc, orgc);
  if (info != 1) console::message({"problem with solver: info = ", info});

  console::message({});
  console::message(
      {"Assuming that the alternative hypothesis is true, that ", "Pr(E,G)=Pr(E)Pr(G),  "});
  console::message({"and these values of OR(E) and OR(G) for the marginal", " odds ratios, "});
  console::message({"the following conditional odds ratios under the",
                    "alternative are implied. You can use  these values"});
  console::message({"as  an indicator of the center of the range of", " possible values "});
  console::message({"for OR^tb(E|G=0) and OR(G|E=0)."});

  console::Layout()
      .newline()
      .text("Marginal odds ratio", 19)
      .blanks(5)
      .text("Conditional odds ratio", 22)
      .newline()
      .end();
  console::Layout()
      .blanks(1)
      .text("OR^tb(E)", 8)
      .blanks(2)
      .text("OR(G)", 5)
      .blanks(8)
      .text("OR^tb(E|G=0)", 12)
      .blanks(1)
      .text("OR(G|E=0)", 9)
      .newline()
      .end();
  console::Layout()
      .fixed(oretbm, 5, 2)
      .blanks(5)
      .fixed(orgm, 5, 2)
      .blanks(5 + 8)
      .fixed(oretbc, 5, 2)
      .blanks(5)
      .fixed(orgc, 5, 2)
      .end();
}

}  // namespace gxe::model
