# The design of the worked examples: 4 quantiles, carrier prevalence 0.3, one
# control per case, OR^tb(E|G=0) 2 and OR(G|E=0) 1.5 under the null,
# ROR^tb 2, both nuisance odds ratios fixed at the null's values.
worked <- function(calculation, value, ...) {
  calculation(value, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
              or_e_range = c(2, 2), or_g_range = c(1.5, 1.5), search = "centre", ...)
}

test_that("the worked examples give the dialogue's rows", {
  power <- worked(gxe_power, 500)
  expect_equal(power$size, 1000)
  expect_equal(power$power_min, 0.4761198, tolerance = 1e-7)
  expect_equal(power$power_max, power$power_min)

  # Whole cases: 1098 for a need of 1097.01, where the dialogue makes 2195 subjects.
  size <- worked(gxe_size, 0.8)
  expect_equal(size$size, 2196)
  expect_equal(size$n_cases, 1098)
  expect_equal(round(size$power_min, 4), 0.8003)
})

test_that("a size is the fewest whole cases that reach the target", {
  sizes <- gxe_size(c(0.8, 0.9), ror = c(1.5, 2.5), gene_prevalence = 0.2, quantiles = 4,
                    controls_per_case = c(1, 0.3), or_e_range = c(1, 2), or_g_range = c(0.8, 1.5))
  expect_equal(sizes$n_cases, round(sizes$n_cases))
  expect_equal(sizes$n_controls, ceiling(sizes$controls_per_case * sizes$n_cases - 1e-9))
  expect_equal(sizes$size, sizes$n_cases + sizes$n_controls)
  for (i in seq_len(nrow(sizes))) {
    fed_back <- gxe_power(sizes$n_cases[i] - c(0, 1), ror = sizes$ror[i], gene_prevalence = 0.2,
                          quantiles = 4,
                          controls_per_case = sizes$controls_per_case[i],
                          or_e_range = c(1, 2), or_g_range = c(0.8, 1.5))
    expect_identical(fed_back$power_min[1], sizes$power_min[i])
    expect_lt(fed_back$power_min[2], sizes$power[i])
  }
})

# Rows as the command line writes them, numbers in shortest round-trip form:
#   gxeplan power --cases 300,1200 --ror 1.8 --gene-prevalence 0.2
#     --exposure-prevalences 0.5,0.3,0.2 --controls-per-case 2 --or-e 1.5 --or-g 1.2
#     --or-e-range 1.2:2 --or-g-range 0.8:1.5 --alpha 0.01 --format csv
#   gxeplan size --power 0.9 --ror 2.5 --gene-prevalence 0.1 --quantiles 5 --format csv
# so the package must give them bit for bit, with or without the binary at hand,
# except for what the odds-ratio conversion gives: its solver comes from the
# Eigen headers the package is compiled with (RcppEigen's here, the system's
# for the command line), and versions of Eigen may round the last bit apart.
test_that("rows equal the command line's, value for value", {
  three <- gxe_power(c(300, 1200), ror = 1.8, gene_prevalence = 0.2,
                     exposure_prevalences = c(0.5, 0.3, 0.2), controls_per_case = 2,
                     or_e = 1.5, or_g = 1.2, or_e_range = c(1.2, 2), or_g_range = c(0.8, 1.5),
                     alpha = 0.01)
  expected <- data.frame(
    mode = "power", cases = c(300, 1200), power = NA_real_, quantiles = NA_real_,
    exposure_prevalences = "0.5;0.3;0.2", gene_prevalence = 0.2, controls_per_case = 2,
    or_e = 1.5, or_g = 1.2, ror = 1.8, or_e_low = 1.2, or_e_high = 2, or_g_low = 0.8,
    or_g_high = 1.5, alpha = 0.01, search = "global", size = c(900, 3600),
    n_cases = c(300, 1200), n_controls = c(600, 2400),
    power_min = c(0.09929696366531506, 0.5655715034475672), or_g_at_min = c(1.5, 0.8),
    or_e_at_min = c(1.531060266828352, 1.2), small_cells_at_min = FALSE,
    power_max = c(0.12035232311022086, 0.5717849759202023), or_g_at_max = c(0.8, 1.5),
    or_e_at_max = c(1.2, 1.531060266828352), small_cells_at_max = FALSE, flat = FALSE,
    or_e_conditional = 1.3245474508505086, or_g_conditional = 0.9251076490069595,
    solver_info = 1, error = NA_character_)
  converted <- c("or_e_conditional", "or_g_conditional")
  kept <- setdiff(names(expected), converted)
  expect_identical(as.data.frame(three)[kept], expected[kept])
  expect_equal(as.data.frame(three)[converted], expected[converted], tolerance = 1e-13)

  # No ranges: the box is the conversion's point.
  five <- gxe_size(0.9, ror = 2.5, gene_prevalence = 0.1, quantiles = 5)
  or_e <- 0.937701645212119
  or_g <- 0.604826120019757
  expect_equal(
    five[c("or_e_low", "or_e_high", "or_g_low", "or_g_high", "size", "n_cases", "power_min",
           "or_e_at_min", "or_g_at_min", "flat")],
    data.frame(or_e_low = or_e, or_e_high = or_e, or_g_low = or_g, or_g_high = or_g,
               size = 4524, n_cases = 2262, power_min = 0.9000876263914804,
               or_e_at_min = or_e, or_g_at_min = or_g, flat = TRUE),
    tolerance = 1e-13)
})

test_that("a calculation without an answer gives its row, the reason and a warning", {
  expect_warning(rows <- gxe_size(c(0.8, 0.9), ror = c(1, 2), gene_prevalence = 0.3,
                                  quantiles = 4),
                 "2 of 4 rows have no answer", class = "gxe_no_answer")
  unanswered <- rows$ror == 1
  expect_equal(rows$error[unanswered], rep(paste(
    "no sample size reaches the target power when ROR^tb = 1:",
    "there is no interaction to detect"), 2))
  expect_true(all(is.na(rows$size[unanswered])))
  expect_true(all(is.na(rows$error[!unanswered]) & rows$size[!unanswered] > 0))
  # The conversion ran and is reported; with ROR^tb = 1 it is the identity.
  expect_equal(rows$or_e_conditional[unanswered], c(1, 1))
  expect_equal(rows$solver_info[unanswered], c(1, 1))
})

# The same, and a row without an answer, against the binary named in GXE_CLI
# (the test command names the one it has just built); R CMD check on its own
# has no binary and skips this.
test_that("rows equal the csv output of the command line at hand", {
  cli <- Sys.getenv("GXE_CLI")
  skip_if(!nzchar(cli) || !file.exists(cli), "no command-line binary in GXE_CLI")
  designs <- list(
    list(mode = "power", args = c("--cases", "300,1200", "--ror", "1.8", "--gene-prevalence", "0.2",
                                  "--exposure-prevalences", "0.5,0.3,0.2",
                                  "--controls-per-case", "2", "--or-e", "1.5", "--or-g", "1.2",
                                  "--or-e-range", "1.2:2", "--or-g-range", "0.8:1.5",
                                  "--alpha", "0.01"),
         r = gxe_power(c(300, 1200), ror = 1.8, gene_prevalence = 0.2,
                       exposure_prevalences = c(0.5, 0.3, 0.2), controls_per_case = 2,
                       or_e = 1.5, or_g = 1.2, or_e_range = c(1.2, 2),
                       or_g_range = c(0.8, 1.5), alpha = 0.01)),
    # With the simulation check at both extremes (a box of one point: once).
    list(mode = "power", args = c("--cases", "400,900", "--ror", "2.5", "--gene-prevalence", "0.3",
                                  "--or-e-range", "1:2", "--or-g-range", "1:1.5",
                                  "--quantiles", "4", "--simulate", "300", "--seed", "11"),
         r = gxe_power(c(400, 900), ror = 2.5, gene_prevalence = 0.3, quantiles = 4,
                       or_e_range = c(1, 2), or_g_range = c(1, 1.5), simulate = 300, seed = 11)),
    list(mode = "size", args = c("--power", "0.8", "--ror", "2", "--gene-prevalence", "0.3",
                                 "--quantiles", "4", "--simulate", "300"),
         r = gxe_size(0.8, ror = 2, gene_prevalence = 0.3, quantiles = 4, simulate = 300)),
    # Rows without an answer too: the command line says why, and exits with 1.
    list(mode = "size", args = c("--power", "0.8,0.9", "--ror", "1,2.5", "--gene-prevalence",
                                 "0.1", "--quantiles", "5", "--search", "centre"),
         r = suppressWarnings(gxe_size(c(0.8, 0.9), ror = c(1, 2.5), gene_prevalence = 0.1,
                                       quantiles = 5, search = "centre"))))
  for (d in designs) {
    csv <- suppressWarnings(system2(cli, c(d$mode, d$args, "--format", "csv"), stdout = TRUE,
                                    stderr = FALSE))
    expected <- utils::read.csv(text = csv, colClasses = vapply(d$r, class, ""),
                                na.strings = "")
    expect_identical(as.data.frame(d$r), expected)
  }
})

test_that("the simulation check adds its columns, reproducibly from the seed", {
  design <- list(ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
                 or_e_range = c(1.5, 2.5), or_g_range = c(1, 2), search = "centre")
  simulated <- function(...) do.call(gxe_power, c(list(c(500, 1000)), design, list(...)))
  plain <- simulated()
  rows <- simulated(simulate = 2000, seed = 7)
  sim_columns <- c("sim_replicates", "sim_power_min", "sim_se_min", "sim_failed_min",
                   "wald_power_min", "sim_power_max", "sim_se_max", "sim_failed_max",
                   "wald_power_max", "sim_unreliable_min", "sim_unreliable_max",
                   "sim_lr_power_min", "sim_lr_power_max", "sim_cases", "sim_cases_low",
                   "sim_cases_high")
  # the columns written after the simulation check's
  later <- c("or_ge", "or_ge_low", "or_ge_high", "gene_prevalence_low", "gene_prevalence_high",
             "or_ge_at_min", "gene_prevalence_at_min", "or_ge_at_max", "gene_prevalence_at_max",
             "test", "direction", "ror_detectable")
  expect_named(rows, c(setdiff(names(plain), later), sim_columns, later))
  expect_identical(rows[names(plain)], as.data.frame(plain))
  expect_identical(simulated(simulate = 2000, seed = 7), rows)
  expect_false(identical(simulated(simulate = 2000, seed = 8)$sim_power_min, rows$sim_power_min))

  # Well-filled cells and a moderate interaction: the simulated Wald test
  # agrees with the asymptotic power to within a few Monte-Carlo errors.
  expect_equal(rows$sim_replicates, c(2000, 2000))
  expect_true(all(abs(rows$sim_power_min - rows$power_min) < 4 * rows$sim_se_min))
  expect_true(all(abs(rows$sim_power_max - rows$power_max) < 4 * rows$sim_se_max))
  expect_equal(rows$sim_se_min, sqrt(rows$sim_power_min * (1 - rows$sim_power_min) / 2000))
  expect_false(any(rows$sim_unreliable_min | rows$sim_unreliable_max))
  # The likelihood-ratio test too; a power calculation has no simulated size.
  expect_true(all(abs(rows$sim_lr_power_min - rows$power_min) < 4 * rows$sim_se_min))
  expect_true(all(is.na(rows$sim_cases)))

  # One carrier in a million controls: every simulated table is separated,
  # and the simulated power says nothing about the test.
  sparse <- gxe_power(500, ror = 3, gene_prevalence = 1e-6, quantiles = 4, simulate = 200)
  expect_equal(sparse$sim_failed_min, 200)
  expect_true(sparse$sim_unreliable_min && sparse$sim_unreliable_max)

  # The command line's ranges: a seed above 2^31 - 1 is refused as there.
  expect_error(simulated(simulate = 2.5),
               "simulate = 2.5: must be a whole number from 0 to 1000000000", fixed = TRUE)
  expect_error(simulated(simulate = 10, seed = 2^31),
               "seed = 2147483648: must be a whole number from 0 to 2147483647", fixed = TRUE)
})

test_that("the size by simulation reaches the target where one case fewer does not", {
  design <- list(ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
                 or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
  size_rows <- function(...) {
    as.data.frame(do.call(gxe_size, c(list(0.8), design, list(simulate = 1000, seed = 5, ...))))
  }
  plain <- size_rows()
  sized <- size_rows(size_by = "simulation")
  # The rest of the row, the check included, stays at the formula's size.
  sim_size <- c("sim_cases", "sim_cases_low", "sim_cases_high")
  expect_identical(sized[setdiff(names(plain), sim_size)], plain[setdiff(names(plain), sim_size)])
  expect_true(all(is.na(plain[sim_size])))
  expect_true(sized$sim_cases_low < sized$sim_cases && sized$sim_cases < sized$sim_cases_high)
  # gxe_power's check at the least favourable point, from the same seed,
  # draws the studies the search drew at each number of cases.
  at_least <- function(cases) {
    gxe_power(cases, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
              or_e_range = sized$or_e_at_min, or_g_range = sized$or_g_at_min,
              simulate = 1000, seed = 5)$sim_power_min
  }
  expect_gte(at_least(sized$sim_cases), 0.8)
  expect_lt(at_least(sized$sim_cases - 1), 0.8)

  expect_error(do.call(gxe_size, c(list(0.8), design, list(size_by = "simulation"))),
               'size_by = "simulation": needs simulate: the studies to simulate', fixed = TRUE,
               class = "gxe_input_error")
  expect_error(do.call(gxe_size, c(list(0.8), design, list(simulate = 10, size_by = "both"))),
               'size_by = "both": is not one of formula, simulation', fixed = TRUE,
               class = "gxe_input_error")
})
