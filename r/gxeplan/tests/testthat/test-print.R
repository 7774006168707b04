printed <- function(x) utils::capture.output(print(x))

test_that("one calculation prints the command line's table, byte for byte", {
  cli <- Sys.getenv("GXE_CLI")
  skip_if(!nzchar(cli) || !file.exists(cli), "no command-line binary in GXE_CLI")
  designs <- list(
    list(args = c("power", "--cases", "500", "--ror", "2", "--gene-prevalence", "0.3",
                  "--quantiles", "4", "--or-e", "2", "--or-g", "1.5", "--or-e-range", "1.5:2.5",
                  "--or-g-range", "1:2", "--simulate", "200"),
         r = gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
                       or_e_range = c(1.5, 2.5), or_g_range = c(1, 2), simulate = 200)),
    # Without an answer, and a note on small expected cells.
    list(args = c("size", "--power", "0.8", "--ror", "1", "--gene-prevalence", "0.3",
                  "--quantiles", "4"),
         r = suppressWarnings(gxe_size(0.8, ror = 1, gene_prevalence = 0.3, quantiles = 4))),
    list(args = c("power", "--cases", "100", "--ror", "3", "--allele-frequency", "0.05",
                  "--genetic-model", "recessive", "--exposure-prevalences", "0.7,0.2,0.1"),
         r = gxe_power(100, ror = 3, allele_frequency = 0.05, genetic_model = "recessive",
                       exposure_prevalences = c(0.7, 0.2, 0.1))))
  for (d in designs) {
    from_cli <- tempfile()
    from_r <- tempfile()
    suppressWarnings(system2(cli, d$args, stdout = from_cli, stderr = FALSE))
    utils::capture.output(print(d$r), file = from_r)
    expect_identical(readBin(from_r, "raw", 1e5), readBin(from_cli, "raw", 1e5),
                     label = paste(d$args, collapse = " "))
  }
})

test_that("several calculations print as a compact table with their notes", {
  rows <- gxe_power(c(60, 5000), ror = c(2, 3), gene_prevalence = 0.05, quantiles = 4)
  out <- printed(rows)
  expect_identical(out[1], "Least and most favourable power over the box")
  # The inputs that differ, the results; not those all rows share.
  expect_match(out[3], "^ +cases +ror +size +power_min +power_max$")
  expect_length(grep("^[1-4] ", out), 4)
  notes <- out[grep("^Notes$", out):length(out)]
  expect_match(notes[2], "^Rows 1, 3: some expected case counts are below 5")
  expect_false(any(grepl("^Rows? .*[24]:", notes)))

  # A row taken out prints its own table.
  expect_identical(printed(rows[3, ]),
                   printed(gxe_power(60, ror = 3, gene_prevalence = 0.05, quantiles = 4)))
})

test_that("rows without an answer say why below the compact table", {
  rows <- suppressWarnings(gxe_size(0.8, ror = c(1, 2, 1), gene_prevalence = 0.3, quantiles = 4))
  out <- printed(rows)
  expect_match(out[4], "^1 +1 +NA +NA +NA$")
  expect_identical(out[grep("^No answer$", out) + 1:2], c(
    "Rows 1, 3: no sample size reaches the target power when ROR^tb = 1: there is no",
    "  interaction to detect"))
})

test_that("the class goes once the rows no longer match their tables", {
  rows <- gxe_power(c(500, 1000), ror = 2, gene_prevalence = 0.3, quantiles = 4)
  plain <- list(
    as.data.frame(rows), summary(rows), rows[, c("cases", "power_min")], rows["size"],
    within(rows, cases <- 1), `[<-`(rows, 1, "cases", value = 1), `[[<-`(rows, "cases", value = 1))
  for (x in plain) expect_identical(class(x), "data.frame")
  expect_null(attr(summary(rows), "reports"))
  expect_s3_class(rows[2:1, ], "gxe_plan")
  expect_s3_class(head(rows, 1), "gxe_plan")
})
