design <- list(gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
               or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))

test_that("gxe_power at the detectable ROR^tb gives the target, and less a thousandth nearer 1", {
  for (direction in c("risk", "protective")) {
    found <- do.call(gxe_detect, c(list(c(500, 2000), power = c(0.8, 0.9), direction = direction),
                                   design))
    expect_equal(nrow(found), 4)
    expect_true(all(is.na(found$ror)))
    expect_equal(found$ror_detectable > 1, rep(direction == "risk", 4))
    for (i in seq_len(nrow(found))) {
      ror <- found$ror_detectable[i]
      nearer <- if (ror > 1) 0.999 * ror else ror / 0.999
      powers <- do.call(gxe_power, c(list(found$cases[i], ror = c(ror, nearer)), design))
      expect_identical(powers$power_min[1], found$power_min[i])
      expect_equal(powers$power_min[1], found$power[i], tolerance = 1e-6)
      expect_lt(powers$power_min[2], found$power[i])
    }
  }
})

test_that("a point of a curve of the detectable ROR^tb is the gxe_detect row", {
  curve <- do.call(gxe_curve, c(list("cases", from = 300, to = 3000, points = 3,
                                     quantity = "detect", power = 0.8), design))
  rows <- do.call(gxe_detect, c(list(curve$cases, power = 0.8), design))
  expect_identical(curve$ror_detectable, rows$ror_detectable)
  expect_true(all(diff(curve$ror_detectable) < 0))
})

test_that("a detect row without an answer warns and keeps its error", {
  expect_warning(row <- gxe_detect(500, power = 0.04, gene_prevalence = 0.3, quantiles = 4),
                 "not above the level alpha", class = "gxe_no_answer")
  expect_true(is.na(row$ror_detectable))
  expect_error(gxe_detect(500, power = 0.8, gene_prevalence = 0.3, quantiles = 4,
                          direction = "up"),
               "direction = \"up\": is not one of risk, protective", fixed = TRUE)
})
