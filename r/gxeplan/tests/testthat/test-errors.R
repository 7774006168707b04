test_that("bad arguments stop with the library's rule, before any calculation", {
  design <- list(cases = 500, ror = 2, gene_prevalence = 0.3, quantiles = 4)
  cases <- list(
    # R's own checks of a value's form.
    list(list(cases = Inf), "cases = inf: must be a finite number"),
    list(list(cases = NA), "cases = NA: must be a number"),
    list(list(cases = NA_real_), "cases = NA: must be a finite number"),
    list(list(cases = "500"), 'cases = "500": must be a number'),
    list(list(cases = numeric(0)), "cases: no value given"),
    list(list(quantiles = c(3, 4)), "quantiles: takes one value, not 2"),
    list(list(or_g_range = c(1, 2, 3)), "or_g_range: is c(low, high), not 3 values"),
    list(list(search = c("global", "centre")), 'search = "global", "centre": must be one text'),
    # The library's rules; an item of a vector by its place.
    list(list(cases = c(500, 600, -1)), "cases[3] = -1: must be greater than 0"),
    list(list(quantiles = 2.5), "quantiles = 2.5: must be a whole number from 2 to 100"),
    list(list(quantiles = 1e10), "quantiles = 1e+10: must be a whole number from 2 to 100"),
    list(list(quantiles = NULL, exposure_prevalences = c(0.5, 0.6)),
         "exposure_prevalences = 1.1: must sum to 1 (within 1e-6); they sum to this"),
    list(list(alpha = c(0.05, 1)), "alpha[2] = 1: must be greater than 0 and less than 1"),
    list(list(or_e_range = c(2, 1)), "or_e_low = 2: must not exceed the upper bound 1"),
    list(list(gene_prevalence = NULL, allele_frequency = c(0.2, 1e-300),
              genetic_model = "recessive"),
         "allele_frequency[2] = 1e-300: gives a carrier prevalence of 0 (recessive)"),
    # Nothing is assumed for an input that must be given.
    list(list(quantiles = NULL), "quantiles is required, or exposure_prevalences"),
    list(list(gene_prevalence = NULL), "gene_prevalence is required"),
    list(list(ror = NULL), "ror is required")
  )
  for (case in cases) {
    args <- utils::modifyList(design, case[[1]])
    expect_error(do.call(gxe_power, args), case[[2]], fixed = TRUE, class = "gxe_input_error",
                 label = deparse(case[[1]]))
  }
  expect_error(gxe_size(1.2, ror = 2, gene_prevalence = 0.3, quantiles = 4),
               "power = 1.2: must be greater than 0 and less than 1", fixed = TRUE)
})
