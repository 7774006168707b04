test_that("list arguments give one row per combination, the first fastest", {
  rows <- gxe_power(c(400, 800), ror = c(1.5, 2, 3), gene_prevalence = c(0.2, 0.4),
                    controls_per_case = c(1, 3), alpha = c(0.05, 0.01),
                    quantiles = 4, or_e_range = c(1, 2), or_g_range = c(1, 1.5),
                    search = "centre")
  expect_equal(nrow(rows), 2 * 3 * 2 * 2 * 2)
  layout <- expand.grid(cases = c(400, 800), ror = c(1.5, 2, 3), controls_per_case = c(1, 3),
                        gene_prevalence = c(0.2, 0.4), alpha = c(0.05, 0.01))
  expect_equal(rows[names(layout)], layout, ignore_attr = TRUE)

  # Each row is the calculation of its values alone.
  for (i in c(1, 10, 48)) {
    one <- gxe_power(rows$cases[i], ror = rows$ror[i], gene_prevalence = rows$gene_prevalence[i],
                     controls_per_case = rows$controls_per_case[i], alpha = rows$alpha[i],
                     quantiles = 4, or_e_range = c(1, 2), or_g_range = c(1, 1.5),
                     search = "centre")
    expect_identical(one, rows[i, ], ignore_attr = TRUE)
  }
})

test_that("the exposure is taken in either form, never both", {
  equal <- gxe_power(1000, ror = 2, gene_prevalence = 0.3, exposure_prevalences = rep(0.25, 4))
  quartiles <- gxe_power(1000, ror = 2, gene_prevalence = 0.3, quantiles = 4)
  expect_equal(equal$power_min, quartiles$power_min, tolerance = 1e-12)
  expect_true(is.na(equal$quantiles))
  expect_equal(equal$exposure_prevalences, "0.25;0.25;0.25;0.25")
  expect_error(gxe_power(1000, ror = 2, gene_prevalence = 0.3, quantiles = 4,
                         exposure_prevalences = rep(0.25, 4)),
               "quantiles = 4: is given and so is exposure_prevalences: give one of the two",
               fixed = TRUE)
})

test_that("a single value fixes an odds ratio, like equal bounds", {
  expect_identical(gxe_power(700, ror = 2, gene_prevalence = 0.3, quantiles = 4,
                             or_e_range = 1.7, or_g_range = 1.2),
                   gxe_power(700, ror = 2, gene_prevalence = 0.3, quantiles = 4,
                             or_e_range = c(1.7, 1.7), or_g_range = c(1.2, 1.2)))
})

test_that("carrier prevalence follows Hardy-Weinberg equilibrium", {
  expect_equal(carrier_prevalence(c(0.1, 0.5)), c(0.19, 0.75))
  expect_equal(carrier_prevalence(c(0.1, 0.5), "recessive"), c(0.01, 0.25))
  expect_error(carrier_prevalence(1.5), "allele_frequency = 1.5: must be greater than 0 and less than 1",
               fixed = TRUE)
  expect_error(carrier_prevalence(0.2, "additive"),
               'model = "additive": is not one of dominant, recessive', fixed = TRUE)
})

test_that("an allele frequency gives the rows of its carrier prevalence", {
  design <- list(800, ror = 2, quantiles = 4, controls_per_case = c(1, 2))
  for (model in c("dominant", "recessive")) {
    by_allele <- do.call(gxe_power, c(design, list(allele_frequency = c(0.1, 0.3),
                                                   genetic_model = model)))
    by_carriers <- do.call(gxe_power, c(design, list(
      gene_prevalence = carrier_prevalence(c(0.1, 0.3), model))))
    expect_identical(as.data.frame(by_allele), as.data.frame(by_carriers))
  }
})
