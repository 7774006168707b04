test_that("curves are spaced evenly in cases and on the log scale in ROR^tb", {
  design <- list(gene_prevalence = 0.3, quantiles = 4, or_e_range = c(1.5, 2.5),
                 or_g_range = c(1, 2), search = "centre")
  by_cases <- do.call(gxe_curve, c(list("cases", from = 200, to = 2000, points = 4,
                                        ror = c(2, 1.5)), design))
  expect_s3_class(by_cases, c("gxe_curve", "data.frame"))
  expect_equal(attr(by_cases, "over"), "cases")
  # One curve after the other, in the order of the ror values given.
  expect_equal(by_cases$ror, rep(c(2, 1.5), each = 4))
  expect_equal(by_cases$cases, rep(c(200, 800, 1400, 2000), 2))
  expect_true(all(diff(by_cases$power_min[1:4]) > 0))

  by_ror <- do.call(gxe_curve, c(list("ror", from = 1.25, to = 3.2, points = 5,
                                      cases = c(500, 1000)), design))
  expect_equal(by_ror$cases, rep(c(500, 1000), each = 5))
  expect_identical(by_ror$ror[c(1, 5)], c(1.25, 3.2))
  expect_equal(diff(log(by_ror$ror[1:5])), rep(log(3.2 / 1.25) / 4, 4))

  sizes <- gxe_curve("ror", from = 1.5, to = 3, points = 3, power = 0.8, gene_prevalence = 0.3,
                     quantiles = 4)
  expect_equal(sizes$mode, rep("size", 3))
  expect_true(all(diff(sizes$size) < 0))
  # A point is the single calculation at its values.
  expect_identical(sizes[2, ], gxe_size(0.8, ror = sizes$ror[2], gene_prevalence = 0.3,
                                        quantiles = 4),
                   ignore_attr = TRUE)
})

test_that("a curve's arguments are checked", {
  curve <- function(...) gxe_curve(..., gene_prevalence = 0.3, quantiles = 4)
  cases <- list(
    list(list("cases", from = 100, to = 50, ror = 2), "from = 100: must be less than to"),
    list(list("cases", from = 100, to = 500, points = 2.5, ror = 2),
         "points = 2.5: must be a whole number from 2 to 1000"),
    list(list("sideways", from = 1.5, to = 3, ror = 2),
         'over = "sideways": is not one of cases, ror'),
    list(list("ror", from = 1.5, to = 3), "cases or power is required with over ror"),
    list(list("cases", from = 100, to = 500, ror = 2, cases = 3), "cases is the axis"),
    list(list("ror", from = 1.5, to = 3, cases = 500, power = 0.8),
         "cases and power are both given"),
    list(list("cases", from = 100, to = 500, ror = 2, power = 0.8),
         "power is a curve of the study size needed, drawn against ROR^tb (over ror)"),
    list(list("ror", from = 1.5, to = 3, cases = 500, controls_per_case = c(1, 2)),
         "controls_per_case = 1,2: is a list, but a curve takes one value here"),
    list(list("ror", from = 1.5, to = 3, cases = 500, or_e_rnge = c(1, 2)),
         "or_e_rnge: is not an argument of a curve"),
    list(list("cases", from = 100, to = 500, ror = c(2, -1)), "ror[2] = -1: must be greater than 0"),
    list(list("cases", from = 100, to = 500, points = 1000, ror = 1 + 1:11 / 10),
         "the curves have 11000 points in all (11 curves of 1000), more than 10000"))
  for (case in cases) {
    expect_error(do.call(curve, case[[1]]), case[[2]], fixed = TRUE, class = "gxe_input_error",
                 label = deparse(case[[1]]))
  }
})

test_that("curves are drawn", {
  power <- gxe_curve("cases", from = 200, to = 2000, points = 5, ror = c(1.5, 2),
                     gene_prevalence = 0.3, quantiles = 4, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
  sizes <- gxe_curve("ror", from = 1.5, to = 3, points = 3, power = 0.8, gene_prevalence = 0.3,
                     quantiles = 4)
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  expect_identical(plot(power, target = 0.9), power)
  expect_identical(plot(sizes), sizes)
  skip_if_not_installed("ggplot2")
  expect_s3_class(ggplot2::autoplot(power), "ggplot")
  expect_s3_class(ggplot2::autoplot(sizes), "ggplot")
})
