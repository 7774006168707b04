#' Power of a case-control study of gene-environment interaction
#'
#' The least and the most favourable power of the Wald test of the trend
#' interaction ROR^tb over the box of the two nuisance odds ratios of the
#' alternative, for a study of `cases` cases and `controls_per_case` controls
#' per case.
#'
#' @section Rows: `cases`, `ror`, `gene_prevalence` (or `allele_frequency`),
#'   `controls_per_case` and `alpha` take vectors, and the result has one row
#'   for every combination of their values, at most 10000. The rows are laid
#'   out by the planning library, in the command line's order: `alpha`
#'   changes slowest, then the gene, `controls_per_case` and `ror`, and
#'   `cases` fastest, each in the order given. Every other argument takes a
#'   single value (a range two values), shared by all rows.
#'
#' @section Defaults: An argument left `NULL` is not given, as an option left
#'   out of the command line: it takes the command line's default
#'   (`controls_per_case` 1, `or_e` and `or_g` 1, `alpha` 0.05, `search`
#'   `"global"`, `simulate` 0, `seed` 1, the ranges the conversion's point),
#'   or, for `ror`, the exposure (`quantiles` or `exposure_prevalences`) and
#'   the gene (`gene_prevalence`, or `allele_frequency` with
#'   `genetic_model`), stops the call because it must be given.
#'
#' @param cases Number of cases; the study has `controls_per_case` controls
#'   for each. Positive; need not be whole.
#' @param ror ROR^tb under the alternative: the ratio of the top-versus-bottom
#'   exposure odds ratios of carriers and of non-carriers. Positive.
#' @param gene_prevalence Carrier prevalence among controls, between 0 and 1.
#'   Give this, or `allele_frequency` with `genetic_model`.
#' @param quantiles The exposure in this many categories of equal frequency
#'   among controls, a whole number from 2 to 100. Give this or
#'   `exposure_prevalences`, not both.
#' @param exposure_prevalences The prevalences of the exposure categories
#'   among controls, lowest category first, from 2 to 100 values summing to 1.
#' @param controls_per_case Number of controls per case (c), positive;
#'   1 when not given.
#' @param or_e OR^tb(E|G=0) under the null: the odds ratio of the top against
#'   the bottom exposure category. Positive; 1 when not given.
#' @param or_g OR(G|E=0) under the null: the gene's odds ratio. Positive; 1
#'   when not given.
#' @param or_ge OR^tb(G,E) among controls: the odds ratio of being a carrier in
#'   the top against the bottom exposure category. Positive; 1 (the default)
#'   takes gene and exposure as independent among controls. Otherwise the
#'   control distribution is the log-linear one with the given carrier and
#'   exposure prevalences as its margins, `or_e` and `or_g` are conditional
#'   on it, and the conversion keeps the marginal odds ratios the null then
#'   has.
#' @param or_ge_range,gene_prevalence_range Ranges of OR^tb(G,E) and of the
#'   carrier prevalence among controls to search as well, as `c(low, high)`
#'   (both ranges of the odds ratios must then be given). The least and most
#'   favourable points are then sought over all the dimensions of the box,
#'   and `or_ge_at_min`, `gene_prevalence_at_min` (and `_at_max`) say where.
#'   `NULL` (the default): the one value `or_ge`, or `gene_prevalence`.
#' @param allele_frequency_range Instead of `gene_prevalence_range`: a range
#'   of the risk allele's frequency, with `genetic_model`; the carrier
#'   prevalences it gives are searched.
#' @param or_e_range,or_g_range The range of OR^tb(E|G=0) and of OR(G|E=0)
#'   under the alternative that is searched, as `c(low, high)`; a single
#'   value, or equal bounds, fixes the odds ratio. `NULL` (the default) takes
#'   the conditional odds ratio that keeps the marginal odds ratios at `or_e`
#'   and `or_g` (the `or_e_conditional` and `or_g_conditional` columns).
#' @param alpha Two-sided level of the test, between 0 and 1; 0.05 when not
#'   given.
#' @param search How the box is searched: `"global"` (from the best points of
#'   a grid over the box, each refined: the true extremes) or `"centre"` (one
#'   local search from the centre of the box, as the interactive calculator
#'   does it; faster, but can stop at a local extreme). `"global"` when not
#'   given.
#' @param test The test whose power is computed: `"null-variance"` (the
#'   classical formula, its critical value from the null's variance),
#'   `"wald"` (the Wald test as fitted software runs it, its variance at the
#'   fitted values) or `"lr"` (the likelihood-ratio test, by its expected
#'   noncentrality).
#' @param simulate Number of studies to simulate at the least and at the most
#'   favourable point of each calculation, to check the asymptotic power
#'   against the Wald and the likelihood-ratio tests that will really be run,
#'   a whole number from 0 to 1e9; 0 (when not given) for no simulation. Adds
#'   the `sim_*` and `wald_power_*` columns.
#' @param seed Seed of the simulation, a whole number from 0 to 2147483647:
#'   the simulated powers depend on it alone (not on the number of cores
#'   used). When not given, the command line's seed, 1, so that both give the
#'   same numbers.
#' @param allele_frequency Frequency q of the risk allele, between 0 and 1,
#'   instead of `gene_prevalence`: the carrier prevalence is the one
#'   [carrier_prevalence()] gives under `genetic_model`. A vector gives one
#'   row per value, as `gene_prevalence` does.
#' @param genetic_model How many copies of the risk allele make a carrier:
#'   `"dominant"` (one) or `"recessive"` (two); given with
#'   `allele_frequency` only.
#' @param threads Number of threads the rows are calculated on, a whole
#'   number from 0 to 1024; 0 for one per core. The rows, and the simulated
#'   powers, are the same for any number of threads. A simulation check runs
#'   on these threads itself, its rows then calculated one after the other.
#'   1 (the default) calculates everything on R's own thread.
#'
#' @return A data.frame of class `gxe_plan` with one row per calculation and
#'   the columns of the command line's csv output (see [print.gxe_plan()] for
#'   how it prints; `as.data.frame()` or `summary()` give the plain
#'   data.frame):
#'   \describe{
#'     \item{`mode`}{`"power"` or `"size"`.}
#'     \item{`cases`, `power`}{the number of cases (power calculations) or
#'       the target power (sample-size calculations); the other is `NA`.}
#'     \item{`quantiles`, `exposure_prevalences`}{the exposure as given; the
#'       prevalences as one text, separated by `;`.}
#'     \item{`gene_prevalence`, `controls_per_case`, `or_e`, `or_g`, `ror`,
#'       `alpha`, `search`}{the inputs.}
#'     \item{`or_e_low`, `or_e_high`, `or_g_low`, `or_g_high`}{the box that
#'       was searched.}
#'     \item{`size`, `n_cases`, `n_controls`}{the study size (cases plus
#'       controls) and its two parts: the cases given and `controls_per_case`
#'       times as many controls (power calculations), or whole numbers of
#'       both (sample-size calculations).}
#'     \item{`power_min`, `or_g_at_min`, `or_e_at_min`, `small_cells_at_min`}{
#'       the least favourable power, where in the box it occurs, and whether
#'       some expected case count there is below 5.}
#'     \item{`power_max`, `or_g_at_max`, `or_e_at_max`, `small_cells_at_max`}{
#'       the same for the most favourable power.}
#'     \item{`flat`}{the power varies by less than 1e-4 over the box: where
#'       the extremes lie means nothing.}
#'     \item{`or_e_conditional`, `or_g_conditional`, `solver_info`}{the
#'       conditional odds ratios that keep the marginal ones at `or_e` and
#'       `or_g` under the alternative, and the nonlinear solver's verdict (1:
#'       converged).}
#'     \item{`error`}{why a calculation has no answer, `NA` otherwise.}
#'   }
#'   With `simulate` studies, for each extreme (`_min`, `_max`): the simulated
#'   studies (`sim_replicates`; each with the calculation's cases and
#'   controls, rounded to whole subjects), the share whose two-sided Wald test
#'   rejected (`sim_power_min`) with its Monte-Carlo standard error
#'   (`sim_se_min`), the studies whose fit failed (a separated table, or no
#'   convergence; counted as not rejecting: `sim_failed_min`), the Wald
#'   approximation with the alternative's variance on both sides
#'   (`wald_power_min`), and, last, whether the simulated power is unreliable
#'   because the fit failed in more than 10 % of the studies, the design
#'   being too sparse for the Wald test (`sim_unreliable_min`, `TRUE` or
#'   `FALSE`), and the share whose likelihood-ratio test rejected
#'   (`sim_lr_power_min`). A box of one point is simulated once. A calculation
#'   whose simulation cannot run (fewer than one case, say) is reported as
#'   one without an answer, as the command line reports it: its result
#'   columns are `NA` and `error` says why.
#'
#' @section Errors: An input out of its range stops the call, before anything
#'   is calculated, with the rule the command line and batch files state for
#'   it, the argument and its value in front (for example `gene_prevalence =
#'   1.5: must be greater than 0 and less than 1`, or `cases[2] = -1: must be
#'   greater than 0` for the second value of a vector). A
#'   calculation that has no answer for valid inputs gives its row with the
#'   `error` column filled and a warning.
#'
#' @seealso [gxe_size()] for the study size that reaches a target power,
#'   [gxe_curve()] for power curves.
#' @examples
#' # 500 cases and as many controls, exposure in quartiles, carrier
#' # prevalence 0.3; the nuisance odds ratios fixed at 2 and 1.5:
#' gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2,
#'           or_g = 1.5, or_e_range = 2, or_g_range = 1.5)
#'
#' # Ranges for both, and three study sizes:
#' p <- gxe_power(c(500, 1000, 1500), ror = 2, gene_prevalence = 0.3,
#'                quantiles = 4, or_e = 2, or_g = 1.5,
#'                or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' p
#' p[, c("cases", "power_min", "power_max")]
#'
#' # The asymptotic power checked by simulating 2000 studies at each extreme:
#' s <- gxe_power(500, ror = 2, allele_frequency = 0.16, genetic_model = "dominant",
#'                quantiles = 4, or_e = 2, or_g = 1.5, or_e_range = c(1.5, 2.5),
#'                or_g_range = c(1, 2), simulate = 2000)
#' s
#' s[, c("power_min", "sim_power_min", "sim_se_min", "power_max", "sim_power_max")]
#' @export
gxe_power <- function(cases, ror, gene_prevalence = NULL, quantiles = NULL,
                      exposure_prevalences = NULL, controls_per_case = NULL,
                      or_e = NULL, or_g = NULL, or_e_range = NULL, or_g_range = NULL,
                      alpha = NULL, search = NULL, simulate = NULL, seed = NULL,
                      allele_frequency = NULL, genetic_model = NULL, or_ge = 1,
                      or_ge_range = NULL, gene_prevalence_range = NULL,
                      allele_frequency_range = NULL, test = "null-variance", threads = 1) {
  calculate("power", given(environment()), sys.call())
}

#' Study size for a target power
#'
#' The study size that reaches the target power at the least favourable
#' point of the box of the two nuisance odds ratios, with the power that size
#' has at the least and the most favourable points: the smallest whole number
#' of cases that reaches the target (`n_cases`; [gxe_power()] with those cases
#' gives the same least favourable power) and `controls_per_case` times as
#' many controls rounded up to whole subjects (`n_controls`).
#'
#' @inheritParams gxe_power
#' @param power Target power, between 0 and 1 (above `alpha`).
#' @param size_by `"formula"` (the default): the study size of the
#'   large-sample formula; `"simulation"`: also the size by simulation, which
#'   needs `simulate`: the smallest whole number of cases whose simulated
#'   power at the least favourable point (of the likelihood-ratio test when
#'   `test = "lr"`, of the Wald test otherwise) reaches the target, found by
#'   bisection from the formula's size with `simulate` studies at each
#'   number of cases tried (`sim_cases`), with the 95 % interval of the
#'   Monte-Carlo error (`sim_cases_low`, `sim_cases_high`). The rest of the
#'   row, the simulation check included, stays at the formula's size. The
#'   least favourable point is the formula's; the simulated power can be
#'   lowest elsewhere in the box.
#'
#' @section Rows: `power`, `ror`, `gene_prevalence` (or `allele_frequency`),
#'   `controls_per_case` and `alpha` take vectors, and the result has one row
#'   for every combination of their values, at most 10000, in the library's
#'   order: `alpha` changes slowest, then the gene, `controls_per_case` and
#'   `ror`, and `power` fastest. Every other argument takes a single value (a
#'   range two values). Defaults as in [gxe_power()].
#'
#' @section Errors: An input out of its range stops the call with the rule
#'   the command line states. A calculation without an answer (no study size
#'   reaches the target when ROR^tb = 1, or a target not above `alpha`) gives
#'   its row with the `error` column filled and a warning.
#'
#' @return A data.frame of class `gxe_plan` with one row per calculation and
#'   the columns of [gxe_power()]; `power` holds the target and `cases` is
#'   `NA`. With `size_by = "simulation"`, `sim_cases`, `sim_cases_low` and
#'   `sim_cases_high` are filled; a row whose simulated size cannot be found
#'   (no number of cases up to 64 times the formula's reaches the target) has
#'   no answer.
#' @examples
#' # The size that gives 80 % power when the nuisance odds ratios are 2 and 1.5:
#' gxe_size(0.8, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2,
#'          or_g = 1.5, or_e_range = 2, or_g_range = 1.5)
#'
#' # Sizes for two targets and three interactions, one control or two per case:
#' s <- gxe_size(c(0.8, 0.9), ror = c(1.5, 2, 3), gene_prevalence = 0.3,
#'               quantiles = 4, controls_per_case = c(1, 2), or_e = 2, or_g = 1.5,
#'               or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' s[, c("power", "ror", "controls_per_case", "size", "n_cases")]
#'
#' # The size by simulation, 2000 studies at each number of cases tried:
#' z <- gxe_size(0.8, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2,
#'               or_g = 1.5, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2),
#'               simulate = 2000, size_by = "simulation")
#' z[, c("n_cases", "sim_cases", "sim_cases_low", "sim_cases_high")]
#' @export
gxe_size <- function(power, ror, gene_prevalence = NULL, quantiles = NULL,
                     exposure_prevalences = NULL, controls_per_case = NULL,
                     or_e = NULL, or_g = NULL, or_e_range = NULL, or_g_range = NULL,
                     alpha = NULL, search = NULL, simulate = NULL, seed = NULL,
                     allele_frequency = NULL, genetic_model = NULL, or_ge = 1,
                     or_ge_range = NULL, gene_prevalence_range = NULL,
                     allele_frequency_range = NULL, test = "null-variance", threads = 1,
                     size_by = "formula") {
  calculate("size", given(environment()), sys.call())
}

#' The smallest detectable interaction
#'
#' The ROR^tb nearest 1 that a study of `cases` cases detects with the target
#' `power` at the least favourable point of the box of the two nuisance odds
#' ratios: the smallest ROR^tb above 1 (`direction = "risk"`) or the largest
#' below 1 (`"protective"`) at which the least favourable power reaches the
#' target, exact to a relative 1e-6 or better ([gxe_power()] at that ROR^tb
#' gives the target power). The box's least favourable point is searched
#' anew at each ROR^tb tried, and a range not given (the conversion's point)
#' follows ROR^tb.
#'
#' @inheritParams gxe_power
#' @param cases Number of cases; the study has `controls_per_case` controls
#'   for each. Positive; need not be whole.
#' @param power Target power, between 0 and 1 (above `alpha`).
#' @param direction The side of 1 on which ROR^tb is sought: `"risk"` (above
#'   1, the default) or `"protective"` (below 1).
#'
#' @section Rows: `cases`, `power`, `gene_prevalence` (or
#'   `allele_frequency`), `controls_per_case` and `alpha` take vectors, and
#'   the result has one row for every combination of their values, at most
#'   10000, in the library's order: `alpha` changes slowest, then the gene,
#'   `controls_per_case` and `power` (in the place `ror` has in
#'   [gxe_power()]), and `cases` fastest. Every other argument takes a single
#'   value (a range two values). Defaults as in [gxe_power()].
#'
#' @section Errors: An input out of its range stops the call with the rule
#'   the command line states. A calculation without an answer (a target not
#'   above `alpha`, one that the least favourable power already reaches at
#'   ROR^tb = 1, or one that no ROR^tb up to 1e4, or down to 1e-4, reaches
#'   within the model's numerical reach) gives its row with the `error`
#'   column filled and a warning.
#'
#' @return A data.frame of class `gxe_plan` with one row per calculation and
#'   the columns of [gxe_power()]: `ror_detectable` holds the ROR^tb found
#'   and `ror` is `NA`; the box, the conversion and the extremes are those at
#'   `ror_detectable`, so that `power_min` is the target.
#' @examples
#' # The interaction that 500 and 1000 cases detect with 80 % power:
#' d <- gxe_detect(c(500, 1000), power = 0.8, gene_prevalence = 0.3, quantiles = 4,
#'                 or_e = 2, or_g = 1.5, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' d
#' d[, c("cases", "ror_detectable", "power_min", "power_max")]
#'
#' # A protective interaction:
#' gxe_detect(1000, power = 0.9, gene_prevalence = 0.3, quantiles = 4,
#'            direction = "protective")$ror_detectable
#' @export
gxe_detect <- function(cases, power, gene_prevalence = NULL, quantiles = NULL,
                       exposure_prevalences = NULL, controls_per_case = NULL,
                       or_e = NULL, or_g = NULL, or_e_range = NULL, or_g_range = NULL,
                       alpha = NULL, search = NULL, simulate = NULL, seed = NULL,
                       allele_frequency = NULL, genetic_model = NULL, or_ge = 1,
                       or_ge_range = NULL, gene_prevalence_range = NULL,
                       allele_frequency_range = NULL, test = "null-variance",
                       direction = "risk", threads = 1) {
  calculate("detect", given(environment()), sys.call())
}

#' Carrier prevalence from an allele frequency
#'
#' The share of carriers of a risk allele of frequency `allele_frequency`
#' under Hardy-Weinberg equilibrium: 1 - (1 - q)^2 when one copy makes a
#' carrier (dominant), q^2 when two copies are needed (recessive).
#'
#' @param allele_frequency Frequency q of the risk allele, between 0 and 1; a
#'   vector gives one prevalence per value.
#' @param model `"dominant"` or `"recessive"`.
#' @return The carrier prevalences, a numeric vector as long as
#'   `allele_frequency`.
#' @examples
#' carrier_prevalence(0.2)
#' carrier_prevalence(c(0.1, 0.2, 0.3), model = "recessive")
#'
#' # As the gene prevalence of a calculation:
#' gxe_power(1000, ror = 2, gene_prevalence = carrier_prevalence(0.16), quantiles = 4,
#'           or_e_range = c(1, 2), or_g_range = c(1, 1.5))[, c("power_min", "power_max")]
#' @export
carrier_prevalence <- function(allele_frequency, model = c("dominant", "recessive")) {
  call <- sys.call()
  if (missing(model)) model <- "dominant"
  numbers("allele_frequency", allele_frequency, call)
  one_text("model", model, call)
  relay(carrier_prevalence_of(as.numeric(allele_frequency), model), call)
}

# --- Shared by the calculations ------------------------------------------------

# Has the engine lay out, check and calculate the rows of the arguments as
# given, and gives them as a gxe_plan, with a warning for the rows that have
# no answer.
calculate <- function(mode, args, call) {
  # NULL is a wrong value here, not an argument left out: threads has a
  # default of its own.
  one_number("threads", args[["threads"]], call)
  found <- relay(calculate_rows(mode, checked(args, call)), call)
  structure(rows_of(found$columns, call), class = c("gxe_plan", "data.frame"),
            reports = found$reports, notes = found$notes)
}

# The arguments bound in the frame of the function that calls this one: as
# given or by their defaults, NULL for those not given that have none.
given <- function(frame) {
  defaults <- formals(sys.function(sys.parent()))
  names <- ls(frame)
  values <- lapply(names, function(n) {
    no_default <- is.symbol(defaults[[n]]) && !nzchar(as.character(defaults[[n]]))
    if (no_default && eval(call("missing", as.name(n)), frame)) NULL else get(n, frame)
  })
  names(values) <- names
  values
}

# R's own checks of the design arguments, by the form in which the engine
# takes each: a vector of numbers, one number, a range (one number or two) or
# one text. Which values are allowed is the engine's to say.
argument_forms <- c(
  cases = "numbers", power = "numbers", ror = "numbers", gene_prevalence = "numbers",
  allele_frequency = "numbers", controls_per_case = "numbers", alpha = "numbers",
  exposure_prevalences = "numbers", quantiles = "number", or_e = "number", or_g = "number",
  or_e_range = "range", or_g_range = "range", search = "text", genetic_model = "text",
  or_ge = "number", or_ge_range = "range", gene_prevalence_range = "range",
  allele_frequency_range = "range", test = "text", direction = "text",
  simulate = "number", seed = "number", threads = "number", size_by = "text")

# The arguments given (NULL: not given), checked for their form.
checked <- function(args, call) {
  for (name in names(args)) {
    x <- args[[name]]
    if (is.null(x)) next
    switch(argument_forms[[name]],
           numbers = numbers(name, x, call),
           number = one_number(name, x, call),
           range = range_of(name, x, call),
           text = one_text(name, x, call))
  }
  args
}

# The engine's columns as a data.frame, with a warning for the rows that have
# no answer.
rows_of <- function(columns, call) {
  rows <- as.data.frame(columns, stringsAsFactors = FALSE, optional = TRUE)
  unanswered <- !is.na(rows$error)
  if (any(unanswered)) {
    reasons <- unique(rows$error[unanswered])
    warning(warningCondition(
      sprintf("%d of %d rows have no answer%s (see the error column): %s",
              sum(unanswered), nrow(rows),
              if ("sim_replicates" %in% names(rows)) " or no simulation" else "",
              paste(reasons, collapse = "; ")),
      class = "gxe_no_answer", call = call))
  }
  rows
}

# An error of use, shown with the user's call.
refuse <- function(message, call) {
  stop(errorCondition(message, class = "gxe_input_error", call = call))
}

# Runs `expr` (a call into the engine) and passes its errors on as the user's.
relay <- function(expr, call) {
  tryCatch(expr, error = function(e) refuse(conditionMessage(e), call))
}

# A numeric argument: numbers, at least one, none missing. The ranges of the
# values are the engine's to check.
numbers <- function(name, x, call) {
  if (!is.numeric(x) || is.object(x)) {
    refuse(sprintf("%s = %s: must be a number", name, shown(x)), call)
  }
  if (length(x) == 0) refuse(sprintf("%s: no value given", name), call)
  if (anyNA(x)) refuse(sprintf("%s = NA: must be a finite number", name), call)
}

one_number <- function(name, x, call) {
  numbers(name, x, call)
  if (length(x) != 1) {
    refuse(sprintf("%s: takes one value, not %d", name, length(x)), call)
  }
}

# One text; which texts are allowed is the engine's to say.
one_text <- function(name, x, call) {
  if (!is.character(x) || length(x) != 1 || is.na(x)) {
    refuse(sprintf("%s = %s: must be one text", name, shown(x)), call)
  }
}

# A range: c(low, high), or one value for both.
range_of <- function(name, x, call) {
  numbers(name, x, call)
  if (length(x) > 2) {
    refuse(sprintf("%s: is c(low, high), not %d values", name, length(x)), call)
  }
}

# A short text for a value in a message.
shown <- function(x) {
  if (is.null(x)) return("NULL")
  text <- if (is.character(x)) dQuote(x, FALSE) else format(x)
  if (length(text) > 3) text <- c(text[1:3], "...")
  paste(text, collapse = ", ")
}
