// End-to-end runs of the bounded minimizer through dmngb: minima found on
// smooth problems with simple bounds (checked by the first-order conditions,
// not by the iterates), the result codes, the evaluation and iteration
// limits, the protocol seen by the callbacks, and resuming after a return.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "minimizer/dmngb.h"
#include "minimizer/minimizer.h"

namespace gxe::minimizer {
namespace {

constexpr int kMaxN = 3;
constexpr int kLiv = 100;
constexpr int kLv = 200;
using Point = std::array<double, kMaxN>;

// Projected-gradient tolerance for problems that end by relative function
// convergence near f = 1: the run stops once the predicted decrease
// g'H^-1 g / 2 is below RFCTOL |f| = 1e-10, i.e. |g| of order
// sqrt(2e-10 * largest curvature) ~ 3e-5 at worst for these quadratics; the
// final steps overshoot that bound by far, and 1e-6 still fails any run that
// stops early or at a wrong point.
constexpr double kPgTol = 1e-6;
// A corner is reached exactly: the projection puts x on the bounds.
constexpr double kExact = std::numeric_limits<double>::denorm_min();

// A smooth test problem (f, its gradient, the box and the starting point)
// and what is known about its solution.
struct Problem {
  const char* name;
  int n;
  std::array<double, 2 * kMaxN> bounds;  // lower, upper of each variable
  Point start;
  double (*f)(CVec x);
  void (*grad)(CVec x, Vec g);
  double pg_tol = 0.0;  // tolerance on the projected gradient at the result
  int free_count = -1;  // variables not held at the end (-1: not checked)
  int code = 0;         // expected result (0: any convergence code)
  Point minimum{};      // the bounded minimizer, when x_tol > 0
  double x_tol = 0.0;
};

double lower(const Problem& p, int i) { return p.bounds[2 * i]; }
double upper(const Problem& p, int i) { return p.bounds[2 * i + 1]; }

// f = 1 + (x1 - 0.5)^2 + 3 (x2 + 0.25)^2 + (x1 - 0.5)(x2 + 0.25): positive
// definite, minimum 1 at (0.5, -0.25).
double coupled_quadratic(CVec x) {
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  return 1.0 + a * a + 3.0 * b * b + a * b;
}
void coupled_quadratic_grad(CVec x, Vec g) {
  const double a = x[0] - 0.5, b = x[1] + 0.25;
  g[0] = 2.0 * a + b;
  g[1] = 6.0 * b + a;
}

double rosenbrock(CVec x) {
  const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
  return 100.0 * a * a + b * b;
}
void rosenbrock_grad(CVec x, Vec g) {
  const double a = x[1] - x[0] * x[0];
  g[0] = -400.0 * x[0] * a - 2.0 * (1.0 - x[0]);
  g[1] = 200.0 * a;
}

// f = 1 + (x1 - 3)^2 + (x2 + 3)^2: unconstrained minimum (3, -3), outside
// every box used with it.
double far_bowl(CVec x) { return 1.0 + (x[0] - 3.0) * (x[0] - 3.0) + (x[1] + 3.0) * (x[1] + 3.0); }
void far_bowl_grad(CVec x, Vec g) {
  g[0] = 2.0 * (x[0] - 3.0);
  g[1] = 2.0 * (x[1] + 3.0);
}

// f = 1 + (x1 - 1)^2 + (x2 - 2)^2 + x1 x2: the coupling makes the best x2
// depend on where x1 is held.
double coupled_bowl(CVec x) {
  return 1.0 + (x[0] - 1.0) * (x[0] - 1.0) + (x[1] - 2.0) * (x[1] - 2.0) + x[0] * x[1];
}
void coupled_bowl_grad(CVec x, Vec g) {
  g[0] = 2.0 * (x[0] - 1.0) + x[1];
  g[1] = 2.0 * (x[1] - 2.0) + x[0];
}

// Three variables; the first is pushed against its lower bound while the
// other two stay free, so the held variable must be moved behind them.
double three_var(CVec x) {
  const double a = x[0] + 2.0, b = x[1] - 0.5, c = x[2] - 0.1;
  return 1.0 + a * a + b * b + 2.0 * c * c + 0.5 * a * b + 0.3 * b * c;
}
void three_var_grad(CVec x, Vec g) {
  const double a = x[0] + 2.0, b = x[1] - 0.5, c = x[2] - 0.1;
  g[0] = 2.0 * a + 0.5 * b;
  g[1] = 2.0 * b + 0.5 * a + 0.3 * c;
  g[2] = 4.0 * c + 0.3 * b;
}

// -log(x1) + x2^2 on a box that is practically unbounded in x1: f decreases
// for ever, and the Newton step from x1 is x1 itself, so each iteration about
// doubles x1 while the predicted decrease stays near 1/2. The run can only
// stop at a limit.
double runaway(CVec x) { return -std::log(x[0]) + x[1] * x[1]; }
void runaway_grad(CVec x, Vec g) {
  g[0] = -1.0 / x[0];
  g[1] = 2.0 * x[1];
}

// Callback bookkeeping, handed through dmngb as the user integer argument.
struct Record {
  int f_calls = 0;
  int g_calls = 0;
  int fail_f_at = 0;            // f call number that reports failure (0: none)
  int fail_g_at = 0;            // gradient call number that reports failure (0: none)
  std::vector<Point> f_points;  // x of every f call, index = call number - 1
  std::vector<double> f_values;
  bool outside_box = false;        // some evaluation left the box
  bool gradient_mismatch = false;  // a gradient's nf named an f call at another x
};

// The user real argument: the problem itself; the user routine: unused here.
struct NoRoutine {};

Point copy_point(int n, CVec x) {
  Point p{};
  std::copy_n(x.begin(), n, p.begin());
  return p;
}

bool in_box(const Problem& p, CVec x) {
  for (int i = 0; i < p.n; ++i) {
    if (!(x[i] >= lower(p, i) && x[i] <= upper(p, i))) return false;
  }
  return true;
}

void calcf(int n, CVec x, int& nf, double& f, Record& rec, const Problem& p, NoRoutine&) {
  ++rec.f_calls;
  if (!in_box(p, x)) rec.outside_box = true;
  rec.f_points.push_back(copy_point(n, x));
  EXPECT_EQ(nf, rec.f_calls) << "evaluation number";
  if (rec.f_calls == rec.fail_f_at) {
    nf = 0;
    rec.f_values.push_back(std::numeric_limits<double>::infinity());
    return;
  }
  f = p.f(x);
  rec.f_values.push_back(f);
}

void calcg(int n, CVec x, int& nf, Vec g, Record& rec, const Problem& p, NoRoutine&) {
  ++rec.g_calls;
  if (nf < 1 || nf > static_cast<int>(rec.f_points.size()) ||
      rec.f_points[static_cast<std::size_t>(nf) - 1] != copy_point(n, x)) {
    rec.gradient_mismatch = true;
  }
  if (rec.g_calls == rec.fail_g_at) {
    nf = -1;
    return;
  }
  p.grad(x, g);
}

// Arrays of one run, prepared as the range searches prepare theirs.
struct Minimization {
  std::array<int, kLiv> iv_store{};
  std::array<double, kLv> v_store{};
  Point x{};
  std::array<double, kMaxN> d{1.0, 1.0, 1.0};
  Record rec;
  NoRoutine routine;

  IvView iv() { return IvView(iv_store); }
  VView v() { return VView(v_store); }
  int code() const { return iv_store[0]; }
};

void prepare(Minimization& run, const Problem& p) {
  divset(2, run.iv(), kLiv, kLv, run.v());
  run.iv()(RETURN_CODE) = kFreshStart;
  run.iv()(OUTPUT_UNIT) = 0;
  run.iv()(PRINT_SOLUTION) = 0;
  run.iv()(PRINT_STATISTICS) = 0;
  run.x = p.start;
}

void solve(Minimization& run, const Problem& p) {
  dmngb(p.n, Vec(run.d.data(), p.n), Vec(run.x.data(), p.n), CVec(p.bounds.data(), 2 * p.n), calcf,
        calcg, run.iv(), kLiv, kLv, run.v(), run.rec, p, run.routine);
}

// Largest |x - P(x - g)| over the variables, P the projection onto the box:
// zero exactly at a first-order point of the bounded problem.
double projected_gradient(const Problem& p, const Point& x) {
  Point g{};
  p.grad(CVec(x.data(), p.n), Vec(g.data(), p.n));
  double worst = 0.0;
  for (int i = 0; i < p.n; ++i) {
    const double moved = std::clamp(x[i] - g[i], lower(p, i), upper(p, i));
    worst = std::max(worst, std::fabs(x[i] - moved));
  }
  return worst;
}

bool converged(int code) { return code >= kXConvergence && code <= kAbsoluteFunctionConvergence; }

const Problem kQuadratic = {.name = "interior quadratic",
                            .n = 2,
                            .bounds = {-2, 2, -2, 2},
                            .start = {1.5, 1.5},
                            .f = coupled_quadratic,
                            .grad = coupled_quadratic_grad,
                            .pg_tol = kPgTol,
                            .free_count = 2,
                            .minimum = {0.5, -0.25},
                            .x_tol = 1e-7};
const Problem kRosenbrock = {.name = "Rosenbrock in a box",
                             .n = 2,
                             .bounds = {-2, 2, -1, 3},
                             .start = {-1.2, 1.0},
                             .f = rosenbrock,
                             .grad = rosenbrock_grad,
                             .pg_tol = kPgTol,
                             .free_count = 2,
                             .minimum = {1.0, 1.0},
                             .x_tol = 1e-6};
// Unconstrained minimum (3, -3): x1 ends on its upper bound 2, x2 = -3.
const Problem kOneBound = {.name = "minimum on one bound",
                           .n = 2,
                           .bounds = {-1, 2, -4, 0},
                           .start = {0.0, -1.5},
                           .f = far_bowl,
                           .grad = far_bowl_grad,
                           .pg_tol = kPgTol,
                           .free_count = 1,
                           .minimum = {2.0, -3.0},
                           .x_tol = 1e-7};
// Both variables end held at the corner (2, -1): the step there is zero and
// the run ends with x- and relative function convergence at once.
const Problem kCorner = {.name = "minimum at a corner",
                         .n = 2,
                         .bounds = {-1, 2, -1, 2},
                         .start = {0.0, 0.0},
                         .f = far_bowl,
                         .grad = far_bowl_grad,
                         .pg_tol = 0.0,
                         .free_count = 0,
                         .code = kBothConvergence,
                         .minimum = {2.0, -1.0},
                         .x_tol = kExact};
// x1 fixed at 0.7; then x2 = 2 - 0.7/2 = 1.65.
const Problem kFixed = {.name = "equal bounds",
                        .n = 2,
                        .bounds = {0.7, 0.7, -5, 5},
                        .start = {0.0, 0.0},
                        .f = coupled_bowl,
                        .grad = coupled_bowl_grad,
                        .pg_tol = kPgTol,
                        .free_count = 1,
                        .minimum = {0.7, 1.65},
                        .x_tol = 1e-7};
const Problem kOutside = {.name = "start outside the box",
                          .n = 2,
                          .bounds = {-1, 1, -1, 1},
                          .start = {5.0, -5.0},
                          .f = coupled_quadratic,
                          .grad = coupled_quadratic_grad,
                          .pg_tol = kPgTol,
                          .free_count = 2,
                          .minimum = {0.5, -0.25},
                          .x_tol = 1e-7};
const Problem kThree = {.name = "three variables, first held",
                        .n = 3,
                        .bounds = {-1, 1, -1, 1, -1, 1},
                        .start = {0.5, 0.5, 0.5},
                        .f = three_var,
                        .grad = three_var_grad,
                        .pg_tol = kPgTol,
                        .free_count = 2};

TEST(Dmngb, SolvesBoundedProblems) {
  for (const Problem* p :
       {&kQuadratic, &kRosenbrock, &kOneBound, &kCorner, &kFixed, &kOutside, &kThree}) {
    SCOPED_TRACE(p->name);
    Minimization run;
    prepare(run, *p);
    solve(run, *p);
    const Record& rec = run.rec;
    ASSERT_GE(rec.f_calls, 2);
    if (p->code != 0) {
      EXPECT_EQ(run.code(), p->code);
    } else {
      EXPECT_TRUE(converged(run.code())) << "code " << run.code();
    }
    // First-order conditions, and the minimizer itself where it is known.
    EXPECT_LE(projected_gradient(*p, run.x), p->pg_tol);
    for (int i = 0; i < p->n && p->x_tol > 0.0; ++i) {
      EXPECT_NEAR(run.x[i], p->minimum[i], p->x_tol);
    }
    EXPECT_EQ(run.iv()(FREE_COUNT), p->free_count);
    // The point returned is the best one evaluated, and every evaluation
    // was in the box, the first at the projected start.
    EXPECT_EQ(p->f(CVec(run.x.data(), p->n)),
              *std::min_element(rec.f_values.begin(), rec.f_values.end()));
    EXPECT_FALSE(rec.outside_box);
    EXPECT_FALSE(rec.gradient_mismatch);
    for (int i = 0; i < p->n; ++i) {
      EXPECT_EQ(rec.f_points[0][i], std::clamp(p->start[i], lower(*p, i), upper(*p, i)));
      // A variable with equal bounds never moves.
      if (lower(*p, i) == upper(*p, i)) {
        for (const Point& x : rec.f_points) EXPECT_EQ(x[i], lower(*p, i));
      }
    }
    // With every variable held the zero step is judged without evaluating
    // f at the same point again.
    if (p->free_count == 0) {
      EXPECT_EQ(run.v()(SCALED_GRAD_NORM), 0.0);
      EXPECT_EQ(std::count(rec.f_points.begin(), rec.f_points.end(), run.x), 1);
    }
  }
}

// Result codes of runs that cannot proceed, with the callbacks made before.
TEST(Dmngb, FailureCodes) {
  Problem crossed = kQuadratic;
  crossed.bounds = {-1, 1, 1, 0};
  struct Case {
    const char* name;
    const Problem* p;
    void (*setup)(Minimization&);
    int liv, lv, x_len;
    int code, f_calls, g_calls;
  };
  auto none = [](Minimization&) {};
  const Case cases[] = {
      {"lower bound above upper", &crossed, none, kLiv, kLv, 2, kBoundsCrossed, 0, 0},
      {"first f fails", &kRosenbrock, [](Minimization& m) { m.rec.fail_f_at = 1; }, kLiv, kLv, 2,
       kInitialFFailed, 1, 0},
      {"first gradient fails", &kRosenbrock, [](Minimization& m) { m.rec.fail_g_at = 1; }, kLiv,
       kLv, 2, kGradientFailed, 1, 1},
      {"later gradient fails", &kRosenbrock, [](Minimization& m) { m.rec.fail_g_at = 3; }, kLiv,
       kLv, 2, kGradientFailed, 4, 3},
      // Storage one slot short (the gradient kept in V included), x too short.
      {"LV too short", &kQuadratic, none, kLiv, 93, 2, 16, 0, 0},
      {"LIV too short", &kQuadratic, none, 60, kLv, 2, 15, 0, 0},
      {"x shorter than n", &kQuadratic, none, kLiv, kLv, 1, kInconsistentDimensions, 0, 0},
      // DINIT = 0 would replace the scale by zeros.
      {"zero DINIT", &kQuadratic, [](Minimization& m) { m.v()(DINIT) = 0.0; }, kLiv, kLv, 2, 18, 0,
       0},
      // A request answered before any storage was laid out.
      {"f answered without a start", &kQuadratic,
       [](Minimization& m) { m.iv()(RETURN_CODE) = kNeedF; }, kLiv, kLv, 2, kInconsistentDimensions,
       0, 0},
      {"g answered without a start", &kQuadratic,
       [](Minimization& m) { m.iv()(RETURN_CODE) = kNeedGradient; }, kLiv, kLv, 2,
       kInconsistentDimensions, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Minimization run;
    prepare(run, *c.p);
    c.setup(run);
    dmngb(2, Vec(run.d.data(), 2), Vec(run.x.data(), c.x_len), CVec(c.p->bounds.data(), 4), calcf,
          calcg, run.iv(), c.liv, c.lv, run.v(), run.rec, *c.p, run.routine);
    EXPECT_EQ(run.code(), c.code);
    EXPECT_EQ(run.rec.f_calls, c.f_calls);
    EXPECT_EQ(run.rec.g_calls, c.g_calls);
  }
}

// A nonnegative DINIT replaces the caller's scale vector on a fresh start;
// the minimisation itself is unaffected in its result.
TEST(Dmngb, DinitReplacesTheScale) {
  Minimization run;
  prepare(run, kQuadratic);
  run.v()(DINIT) = 0.5;
  solve(run, kQuadratic);
  EXPECT_EQ(run.d[0], 0.5);
  EXPECT_EQ(run.d[1], 0.5);
  EXPECT_TRUE(converged(run.code())) << "code " << run.code();
  EXPECT_LE(projected_gradient(kQuadratic, run.x), kQuadratic.pg_tol);
}

// f fails at the first trial point: the radius shrinks, so the next trial
// from the same x0 lies closer to it, and the run still converges.
TEST(Dmngb, FailedTrialShrinksTheStep) {
  Minimization run;
  prepare(run, kQuadratic);
  run.rec.fail_f_at = 2;
  solve(run, kQuadratic);
  ASSERT_GE(run.rec.f_calls, 3);
  auto distance = [&](const Point& a) {
    return std::hypot(a[0] - kQuadratic.start[0], a[1] - kQuadratic.start[1]);
  };
  EXPECT_LT(distance(run.rec.f_points[2]), distance(run.rec.f_points[1]));
  EXPECT_TRUE(converged(run.code()));
  EXPECT_LE(projected_gradient(kQuadratic, run.x), kQuadratic.pg_tol);
}

// x and the gradient kept in V agree: the limit exits fetch the gradient at
// an improved point before returning.
bool gradient_matches(Minimization& run, const Problem& p) {
  Point g{};
  p.grad(CVec(run.x.data(), p.n), Vec(g.data(), p.n));
  for (int i = 0; i < p.n; ++i) {
    if (run.v().at(run.iv()(GRAD_AT) + i) != g[i]) return false;
  }
  return true;
}

double best_value(const Record& rec) {
  return *std::min_element(rec.f_values.begin(), rec.f_values.end());
}

TEST(Dmngb, EvaluationLimitBoundsObjectiveCalls) {
  // Rosenbrock from (-1.2, 1) needs 44 evaluations; every smaller limit stops
  // it, at the best point seen, whether the last trial was accepted,
  // rejected or an improvement still waiting for its gradient.
  for (int limit = 2; limit <= 43; ++limit) {
    SCOPED_TRACE(limit);
    Minimization run;
    prepare(run, kRosenbrock);
    run.iv()(EVAL_LIMIT) = limit;
    solve(run, kRosenbrock);
    EXPECT_EQ(run.code(), kEvalLimitReached);
    EXPECT_EQ(run.rec.f_calls, limit);  // the first call counts
    EXPECT_EQ(run.iv()(FEVAL_COUNT), limit);
    EXPECT_EQ(kRosenbrock.f(CVec(run.x.data(), 2)), best_value(run.rec));
    EXPECT_TRUE(gradient_matches(run, kRosenbrock));
    EXPECT_FALSE(run.rec.gradient_mismatch);
  }

  // The default limit, on a problem without a minimum.
  const Problem runaway_problem = {"runaway",    2,  {1, 1e300, -1, 1}, {2.0, 0.5}, runaway,
                                   runaway_grad, 0.0};
  Minimization run;
  prepare(run, runaway_problem);
  ASSERT_EQ(run.iv()(EVAL_LIMIT), 200);
  run.iv()(ITER_LIMIT) = 100000;
  solve(run, runaway_problem);
  EXPECT_EQ(run.code(), kEvalLimitReached);
  EXPECT_EQ(run.rec.f_calls, 200);
  EXPECT_EQ(runaway(CVec(run.x.data(), 2)), best_value(run.rec));
  EXPECT_TRUE(gradient_matches(run, runaway_problem));
}

TEST(Dmngb, IterationLimit) {
  for (int limit = 1; limit <= 34; ++limit) {
    SCOPED_TRACE(limit);
    Minimization run;
    prepare(run, kRosenbrock);
    run.iv()(ITER_LIMIT) = limit;
    solve(run, kRosenbrock);
    EXPECT_EQ(run.code(), kIterLimitReached);
    EXPECT_EQ(run.iv()(ITER_COUNT), limit);
    EXPECT_EQ(kRosenbrock.f(CVec(run.x.data(), 2)), best_value(run.rec));
    EXPECT_TRUE(gradient_matches(run, kRosenbrock));
  }
}

// f = 1 + (x - c)'A(x - c)/2 with A below, c = (-3, 0.5, 0.2), box [-1, 1]^3.
// From (-1, 0.2, 0.1) the first variable sits on its lower bound with
// g1 > 0 (held) all the way to the minimum on that face, which solves
// A[2:3,2:3] (x23 - c23) = -A[2:3,1] (x1 - c1) with x1 = -1.
constexpr double kA[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, 0.8}, {0.5, 0.8, 2.0}};
constexpr double kC[3] = {-3.0, 0.5, 0.2};

double exact_quadratic(CVec x) {
  double f = 1.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) f += 0.5 * (x[i] - kC[i]) * kA[i][j] * (x[j] - kC[j]);
  }
  return f;
}
void exact_quadratic_grad(CVec x, Vec g) {
  for (int i = 0; i < 3; ++i) {
    g[i] = 0.0;
    for (int j = 0; j < 3; ++j) g[i] += kA[i][j] * (x[j] - kC[j]);
  }
}

// With the exact Hessian supplied as the initial factor (INITH = 0), the
// first trial is the Newton step over the free variables, so it lands on the
// minimum of the face exactly. That needs the held first variable moved
// behind the free ones in the factor as well as in the permutation.
TEST(Dmngb, SuppliedFactorIsPermutedWithHeldVariables) {
  const Problem p = {
      "exact Hessian",      3,     {-1, 1, -1, 1, -1, 1}, {-1.0, 0.2, 0.1}, exact_quadratic,
      exact_quadratic_grad, kPgTol};
  Minimization run;
  prepare(run, p);
  run.iv()(INITH) = 0;
  // Cholesky factor of A, packed by rows, where the factor will be stored.
  double l11 = std::sqrt(kA[0][0]);
  double l21 = kA[1][0] / l11, l31 = kA[2][0] / l11;
  double l22 = std::sqrt(kA[1][1] - l21 * l21);
  double l32 = (kA[2][1] - l31 * l21) / l22;
  double l33 = std::sqrt(kA[2][2] - l31 * l31 - l32 * l32);
  const double factor[6] = {l11, l21, l22, l31, l32, l33};
  for (int k = 0; k < 6; ++k) run.v().at(run.iv()(FACTOR_AT) + k) = factor[k];
  solve(run, p);

  // Face minimum: 2x2 solve by Cramer's rule.
  const double r2 = -kA[1][0] * (-1.0 - kC[0]), r3 = -kA[2][0] * (-1.0 - kC[0]);
  const double det = kA[1][1] * kA[2][2] - kA[1][2] * kA[2][1];
  const double x2 = kC[1] + (r2 * kA[2][2] - kA[1][2] * r3) / det;
  const double x3 = kC[2] + (kA[1][1] * r3 - kA[2][1] * r2) / det;
  ASSERT_GE(run.rec.f_calls, 2);
  const Point& trial = run.rec.f_points[1];
  EXPECT_EQ(trial[0], -1.0);
  EXPECT_NEAR(trial[1], x2, 1e-14);
  EXPECT_NEAR(trial[2], x3, 1e-14);
  EXPECT_TRUE(converged(run.code())) << "code " << run.code();
  EXPECT_LE(projected_gradient(p, run.x), 1e-12);
  EXPECT_EQ(run.iv()(FREE_COUNT), 2);
}

// A run stopped at a limit resumes from where it stopped when called again
// with the code left in IV(1) and a higher limit.
TEST(Dmngb, ResumesAfterALimit) {
  Minimization run;
  prepare(run, kRosenbrock);
  run.iv()(EVAL_LIMIT) = 12;
  solve(run, kRosenbrock);
  ASSERT_EQ(run.code(), kEvalLimitReached);
  const int calls = run.rec.f_calls;
  run.iv()(EVAL_LIMIT) = 200;
  solve(run, kRosenbrock);
  EXPECT_TRUE(converged(run.code())) << "code " << run.code();
  EXPECT_GT(run.rec.f_calls, calls);
  EXPECT_LE(projected_gradient(kRosenbrock, run.x), kRosenbrock.pg_tol);
  EXPECT_FALSE(run.rec.gradient_mismatch);
}

// IV(1) = 13 only sizes the storage: code 14, the gradient placed in V
// behind the driver's areas (93 and 94 for two variables), no callback; a
// later call with 14 runs the minimization.
TEST(Dmngb, SizingOnlyThenRun) {
  Minimization run;
  prepare(run, kQuadratic);
  run.iv()(RETURN_CODE) = kSizeOnly;
  solve(run, kQuadratic);
  EXPECT_EQ(run.code(), kStorageReady);
  EXPECT_EQ(run.iv()(GRAD_AT), 93);
  EXPECT_EQ(run.iv()(NEXT_V), 95);
  EXPECT_EQ(run.iv()(LAST_V), 94);
  EXPECT_EQ(run.rec.f_calls + run.rec.g_calls, 0);
  solve(run, kQuadratic);
  EXPECT_TRUE(converged(run.code())) << "code " << run.code();
  EXPECT_LE(projected_gradient(kQuadratic, run.x), kQuadratic.pg_tol);
}

// State of a run in progress that later steps use as indices (the
// permutation, the number of free variables) is checked when the run is
// resumed or a request is answered; a damaged state is refused with 66
// instead of being used, and no callback is made.
TEST(Dmngb, DamagedRunStateIsRefused) {
  struct Case {
    const char* what;
    void (*damage)(IvView iv);
    bool at_request;  // damage while f is wanted at a trial point, else after a limit
  };
  const Case cases[] = {
      {"repeated variable in the permutation",
       [](IvView iv) { iv.at(iv(PERM_AT) + 1) = iv.at(iv(PERM_AT)); }, false},
      {"variable number out of range", [](IvView iv) { iv.at(iv(PERM_AT)) = 3; }, false},
      {"more free variables than variables", [](IvView iv) { iv(FREE_COUNT) = 3; }, false},
      {"negative free count", [](IvView iv) { iv(FREE_COUNT) = -1; }, false},
      {"more free variables, at a request", [](IvView iv) { iv(FREE_COUNT) = 5; }, true},
      {"permutation damaged at a request", [](IvView iv) { iv.at(iv(PERM_AT)) = 0; }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Minimization run;
    prepare(run, kQuadratic);
    if (c.at_request) {
      // Drive the reverse-communication protocol by hand up to the request
      // for f at the first trial point.
      run.iv()(RETURN_CODE) = kSizeOnly;
      solve(run, kQuadratic);
      ASSERT_EQ(run.code(), kStorageReady);
      const Vec g = run.v().area(run.iv()(GRAD_AT), 2);
      const Vec x(run.x.data(), 2);
      const CVec b(kQuadratic.bounds.data(), 4);
      double fx = 0.0;
      for (int requests = 0; requests < 2;) {
        drmngb(b, run.d, fx, g, run.iv(), kLiv, kLv, 2, run.v(), x);
        ASSERT_TRUE(run.code() == kNeedF || run.code() == kNeedGradient);
        if (run.code() == kNeedF) {
          fx = coupled_quadratic(x);
          ++requests;
        } else {
          coupled_quadratic_grad(x, g);
        }
      }
      c.damage(run.iv());
      drmngb(b, run.d, fx, g, run.iv(), kLiv, kLv, 2, run.v(), x);
      EXPECT_EQ(run.code(), kInconsistentDimensions);
      continue;
    }
    run.iv()(EVAL_LIMIT) = 3;
    solve(run, kQuadratic);
    ASSERT_EQ(run.code(), kEvalLimitReached);
    run.iv()(EVAL_LIMIT) = 200;
    c.damage(run.iv());
    const int calls = run.rec.f_calls + run.rec.g_calls;
    solve(run, kQuadratic);
    EXPECT_EQ(run.code(), kInconsistentDimensions);
    EXPECT_EQ(run.rec.f_calls + run.rec.g_calls, calls);
  }
}

// Objectives and gradients that are not finite somewhere. Nothing in the
// iteration tests for NaN or infinity (comparisons with NaN are false, so a
// NaN f is taken as a decrease and +inf as a failed step), but every run
// must still end: at most EVAL_LIMIT objective calls, and at most one
// gradient call per iteration besides the first.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
bool at_start(CVec x) { return x[0] == 1.5 && x[1] == 1.5; }
double nan_left(CVec x) { return x[0] < 1.0 ? kNaN : coupled_quadratic(x); }
double inf_left(CVec x) { return x[0] < 1.0 ? kInf : coupled_quadratic(x); }
double minus_inf_left(CVec x) { return x[0] < 0.0 ? -kInf : coupled_quadratic(x); }
double nan_but_start(CVec x) { return at_start(x) ? coupled_quadratic(x) : kNaN; }
double nan_at_start(CVec x) { return at_start(x) ? kNaN : coupled_quadratic(x); }
double inf_at_start(CVec x) { return at_start(x) ? kInf : coupled_quadratic(x); }
double always_nan(CVec) { return kNaN; }
double always_inf(CVec) { return kInf; }
void nan_gradient(CVec, Vec g) { g[0] = g[1] = kNaN; }
void inf_gradient(CVec, Vec g) {
  g[0] = kInf;
  g[1] = -kInf;
}
void nan_gradient_left(CVec x, Vec g) {
  coupled_quadratic_grad(x, g);
  if (x[0] < 1.0) g[0] = g[1] = kNaN;
}
// f and g scaled to the edge of the double range: f overflows away from
// the minimum, and so do the differences of gradients.
double overflowing(CVec x) { return 1e308 * coupled_quadratic(x); }
void overflowing_grad(CVec x, Vec g) {
  coupled_quadratic_grad(x, g);
  g[0] *= 1e308;
  g[1] *= 1e308;
}

TEST(Dmngb, NonFiniteValuesStillEndTheRun) {
  struct Case {
    const char* name;
    double (*f)(CVec x);
    void (*grad)(CVec x, Vec g);
  };
  const Case cases[] = {
      {"NaN left of x1 = 1", nan_left, coupled_quadratic_grad},
      {"+inf left of x1 = 1", inf_left, coupled_quadratic_grad},
      {"-inf left of x1 = 0", minus_inf_left, coupled_quadratic_grad},
      {"NaN except at the start", nan_but_start, coupled_quadratic_grad},
      {"NaN at the start only", nan_at_start, coupled_quadratic_grad},
      {"+inf at the start only", inf_at_start, coupled_quadratic_grad},
      {"NaN everywhere", always_nan, coupled_quadratic_grad},
      {"+inf everywhere", always_inf, coupled_quadratic_grad},
      {"NaN gradient", coupled_quadratic, nan_gradient},
      {"infinite gradient", coupled_quadratic, inf_gradient},
      {"NaN f and gradient left of x1 = 1", nan_left, nan_gradient_left},
      {"overflowing f and gradient", overflowing, overflowing_grad},
  };
  struct Limits {
    int evals, iterations;
  };
  for (const Limits lim : {Limits{200, 150}, Limits{30, 2000}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", limits " + std::to_string(lim.evals) + "/" +
                   std::to_string(lim.iterations));
      Problem p = kQuadratic;
      p.f = c.f;
      p.grad = c.grad;
      Minimization run;
      prepare(run, p);
      run.iv()(EVAL_LIMIT) = lim.evals;
      run.iv()(ITER_LIMIT) = lim.iterations;
      solve(run, p);
      EXPECT_LE(run.rec.f_calls, lim.evals);
      EXPECT_LE(run.rec.g_calls, lim.iterations + 1);
      EXPECT_LE(run.iv()(ITER_COUNT), lim.iterations);
      EXPECT_GE(run.code(), kXConvergence);
      EXPECT_LE(run.code(), kIterLimitReached);
    }
  }
}

// Any callable works as a callback; here capturing lambdas with ints as the
// user arguments.
TEST(Dmngb, AcceptsLambdasAndPassesUserArgumentsThrough) {
  std::array<int, kLiv> iv_store{};
  std::array<double, kLv> v_store{};
  IvView iv(iv_store);
  VView v(v_store);
  divset(2, iv, kLiv, kLv, v);
  iv(OUTPUT_UNIT) = 0;
  std::array<double, 2> x{2.0, 2.0};
  std::array<double, 2> d{1.0, 1.0};
  const std::array<double, 4> b{-3, 3, -3, 3};
  int tag = 7;
  double scale = 2.0;
  int seen_tag = 0;
  auto f = [&](int, CVec y, int&, double& fx, int& t, double& s, int&) {
    seen_tag = t;
    fx = s * (y[0] * y[0] + y[1] * y[1]) + 1.0;
  };
  auto g = [](int, CVec y, int&, Vec gr, int&, double& s, int&) {
    gr[0] = 2.0 * s * y[0];
    gr[1] = 2.0 * s * y[1];
  };
  dmngb(2, d, x, b, f, g, iv, kLiv, kLv, v, tag, scale, tag);
  EXPECT_TRUE(converged(iv(RETURN_CODE))) << "code " << iv(RETURN_CODE);
  EXPECT_EQ(seen_tag, 7);
  EXPECT_NEAR(x[0], 0.0, 1e-8);
  EXPECT_NEAR(x[1], 0.0, 1e-8);
}

}  // namespace
}  // namespace gxe::minimizer
