#' gxeplan: power and sample size for studies of gene-environment interaction
#'
#' Plans case-control studies of the interaction between a binary gene G
#' (carrier or not) and an exposure E grouped into k ordered categories:
#' the power of the Wald test of a trend interaction for a given study
#' ([gxe_power()]), the study size for a target power ([gxe_size()]), the
#' smallest interaction a study detects with a target power ([gxe_detect()]),
#' and curves of these ([gxe_curve()]). The numbers are those of the gxeplan
#' command line: the same engine is compiled into the package.
#'
#' @section The model: Disease status D (case or control) is modelled by a
#'   logistic regression on the genotype g (0 for non-carriers, 1 for
#'   carriers), the exposure score s (0, 1, ..., k-1 for the k ordered
#'   exposure categories) and their product:
#'   \deqn{logit P(D = case | g, s) = b_0 + b_g g + b_e s + b_{eg} g s.}{logit P(D = case | g, s) = b0 + bg g + be s + beg g s.}
#'   Among controls, gene and exposure are independent: the share of controls
#'   in cell (g, s) is the carrier prevalence (or its complement) times the
#'   prevalence of the exposure category. Each effect is per step of the
#'   score, and the whole range of the score is k-1 steps: OR(G|E=0) =
#'   exp(bg) is the gene's odds ratio in the lowest exposure category,
#'   OR^tb(E|G=0) = exp(be (k-1)) the odds ratio of the top against the bottom
#'   exposure category among non-carriers, and ROR^tb = exp(beg (k-1)) the
#'   ratio of the top-versus-bottom exposure odds ratios of carriers and of
#'   non-carriers, the interaction under test (null hypothesis ROR^tb = 1).
#'
#' @section Why ranges: The power of the interaction test depends not only on
#'   ROR^tb but also on the two other odds ratios of the alternative,
#'   OR(G|E=0) and OR^tb(E|G=0), which are rarely known well. They are given
#'   as ranges (`or_g_range`, `or_e_range`), and the box of the two ranges is
#'   searched for the least favourable point (the smallest power; in a
#'   sample-size calculation the point that needs the most subjects, which
#'   fixes the size) and the most favourable one. A study budgeted from the
#'   least favourable power is covered wherever the two odds ratios lie in the
#'   box. The search is a bound-constrained trust-region minimization driven
#'   by exact derivatives of power and sample size, started from the best
#'   points of a grid over the box (`search = "global"`), so that it finds the
#'   true extremes even when the power has more than one local extreme. When
#'   the power varies by less than 1e-4 over the box, the `flat` column says
#'   so: where the extremes lie then means nothing.
#'
#' @section The conversion: The odds ratios given for the null (`or_e`,
#'   `or_g`) are both marginal and conditional, because the null has no
#'   interaction; under the alternative the two differ. The conditional
#'   OR(G|E=0) and OR^tb(E|G=0) that keep the marginal odds ratios at the
#'   values given are reported (`or_e_conditional`, `or_g_conditional`) as a
#'   guide to the centre of the ranges, and are the box (a single point) when
#'   no range is given.
#'
#' @section The power: For a study of n cases and c n controls, the expected
#'   cell table of each hypothesis gives the logistic model's expected
#'   information, and its inverse the variance of the interaction estimate:
#'   varh0 under the null and varh1 under the alternative (per case). The
#'   power of the two-sided Wald test at level alpha is
#'   \deqn{\Phi((\sqrt{n} |b_{eg}| - z_{1-\alpha/2} \sqrt{varh0}) / \sqrt{varh1}),}{Phi((sqrt(n) |beg| - z(1 - alpha/2) sqrt(varh0)) / sqrt(varh1)),}
#'   the critical value taken from the null variance and the spread from the
#'   alternative's. Only the tail in the direction of the interaction is
#'   counted, so with ROR^tb = 1 the formula gives alpha/2 at the null's own
#'   odds ratios only, where the two variances agree; elsewhere in the box it
#'   gives less where the alternative's variance is the smaller and more
#'   where it is the larger, while the real test keeps close to its level.
#'   The study size is the smallest whole number of cases at which this power
#'   reaches the target, with `controls_per_case` times as many controls
#'   rounded up to whole subjects. When some cell of the 2 x k table of cases is expected to hold
#'   fewer than 5 cases at the least or the most favourable point, the
#'   `small_cells_at_min` or `small_cells_at_max` column says so.
#'
#' @section When to doubt the answer: The power is an asymptotic formula. It
#'   is close to the power of the test that will really be run when varh0 and
#'   varh1 are nearly equal and every expected cell is well filled; it can be
#'   several points off when the interaction is strong, when the carrier
#'   prevalence or an exposure category is rare, or when expected cells are
#'   small. In such designs check the answer by simulation.
#'
#' @keywords internal
#' @useDynLib gxeplan, .registration = TRUE
#' @importFrom Rcpp sourceCpp
#' @importFrom utils globalVariables
"_PACKAGE"
