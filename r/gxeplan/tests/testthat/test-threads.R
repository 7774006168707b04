test_that("rows are the same, in the same order, on any number of threads", {
  design <- list(gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
                 or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
  # More rows than the threads keep in flight (four each), a row without an
  # answer among them (no size reaches a target when ROR^tb = 1), and rows
  # checked by simulation, which then runs on the threads itself.
  calls <- list(
    power = list(gxe_power, c(list(c(200, 500, 1000, 2000), ror = c(1.5, 2, 3)), design)),
    size = list(gxe_size, c(list(c(0.8, 0.9), ror = c(1, 2, 3)), design)),
    simulated = list(gxe_power, c(list(c(300, 600), ror = 2, simulate = 200, seed = 7), design)),
    curve = list(gxe_curve, c(list("cases", from = 200, to = 2000, points = 6,
                                   ror = c(1.8, 2.2)), design))
  )
  for (name in names(calls)) {
    rows <- function(threads) {
      suppressWarnings(do.call(calls[[name]][[1]], c(calls[[name]][[2]], list(threads = threads))))
    }
    one <- rows(1)
    expect_identical(rows(2), one, label = paste(name, "on two threads"))
    expect_identical(rows(0), one, label = paste(name, "on every core"))
  }
})

test_that("a wrong number of threads is refused before anything is calculated", {
  design <- list(ror = 2, gene_prevalence = 0.3, quantiles = 4)
  calls <- list(
    power = function(threads) do.call(gxe_power, c(list(500), design, list(threads = threads))),
    size = function(threads) do.call(gxe_size, c(list(0.8), design, list(threads = threads))),
    curve = function(threads) {
      do.call(gxe_curve, c(list("cases", from = 200, to = 2000), design[-1], list(threads = threads)))
    }
  )
  cases <- list(
    list(NA, "threads = NA: must be a number"),
    list(NA_real_, "threads = NA: must be a finite number"),
    list("a", 'threads = "a": must be a number'),
    list(c(1, 2), "threads: takes one value, not 2"),
    list(NULL, "threads = NULL: must be a number"),
    list(1.5, "threads = 1.5: must be a whole number from 0 to 1024"),
    list(-1, "threads = -1: must be a whole number from 0 to 1024")
  )
  for (name in names(calls)) {
    for (case in cases) {
      expect_error(calls[[name]](case[[1]]), case[[2]], fixed = TRUE, class = "gxe_input_error",
                   label = paste(name, deparse(case[[1]])))
    }
  }
})
