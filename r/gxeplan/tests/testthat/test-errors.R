test_that("bad arguments stop with the command line's message, before any calculation", {
  design <- list(cases = 500, ror = 2, gene_prevalence = 0.3)
  cases <- list(
    list(list(gene_prevalence = 1.5), "gene_prevalence = 1.5: must be greater than 0 and less than 1"),
    list(list(cases = c(500, -1)), "cases = -1: must be greater than 0"),
    list(list(cases = Inf), "cases = inf: must be a finite number"),
    list(list(cases = NA), "cases = NA: must be a number"),
    list(list(cases = NA_real_), "cases = NA: must be a finite number"),
    list(list(cases = "500"), 'cases = "500": must be a number'),
    list(list(cases = numeric(0)), "cases: no value given"),
    list(list(ror = 0), "ror = 0: must be greater than 0"),
    list(list(quantiles = 1), "quantiles = 1: must be a whole number from 2 to 100"),
    list(list(quantiles = 0), "quantiles = 0: must be a whole number from 2 to 100"),
    list(list(quantiles = 2.5), "quantiles = 2.5: must be a whole number from 2 to 100"),
    list(list(quantiles = 1e10), "quantiles = 1e+10: must be a whole number from 2 to 100"),
    list(list(quantiles = c(3, 4)), "quantiles: takes one value, not 2"),
    list(list(exposure_prevalences = c(0.5, 0.6)),
         "exposure_prevalences = 1.1: must sum to 1 (within 1e-6); they sum to this"),
    list(list(alpha = 1), "alpha = 1: must be greater than 0 and less than 1"),
    list(list(or_e_range = c(2, 1)), "or_e_low = 2: must not exceed the upper bound 1"),
    list(list(or_g_range = c(1, 2, 3)), "or_g_range: is c(low, high), not 3 values"),
    list(list(search = "fast"), 'search = "fast": must be "global" or "centre"'),
    list(list(search = c("global", "centre")), 'search = "global", "centre": must be one text')
  )
  for (case in cases) {
    expect_error(do.call(gxe_power, utils::modifyList(design, case[[1]])), case[[2]],
                 fixed = TRUE, class = "gxe_input_error", label = deparse(case[[1]]))
  }
  expect_error(gxe_size(1.2, ror = 2, gene_prevalence = 0.3),
               "power = 1.2: must be greater than 0 and less than 1", fixed = TRUE)
})
