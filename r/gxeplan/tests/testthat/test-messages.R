# The same bad value given to R, to the command line and to a row of a batch
# file: each names the input in its own way, but all three state the same
# rule in the same words. The binary is the one named in GXE_CLI; without it
# only R's messages are checked.
# The lines the binary writes to its error stream, after checking its exit status.
run <- function(cli, args, status) {
  errors <- tempfile()
  expect_identical(system2(cli, args, stdout = FALSE, stderr = errors), status)
  readLines(errors)
}

test_that("R, the command line and a batch row state the same rule", {
  design <- list(cases = 500, ror = 2, gene_prevalence = 0.3, quantiles = 4)
  cases <- list(
    list(given = list(search = "x"), rule = "is not one of global, centre",
         r = 'search = "x": '),
    list(given = list(cases = 0), rule = "must be greater than 0", r = "cases = 0: "),
    list(given = list(cases = c(500, -1)), rule = "must be greater than 0",
         r = "cases[2] = -1: "),
    list(given = list(gene_prevalence = 1.5), rule = "must be greater than 0 and less than 1",
         r = "gene_prevalence = 1.5: "),
    list(given = list(gene_prevalence = NULL, allele_frequency = 0.2, genetic_model = NULL),
         rule = "needs genetic_model: dominant or recessive", r = "allele_frequency = 0.2: "),
    list(given = list(cases = 1:101, ror = 1 + 1:100 / 100),
         rule = "the lists make more than 10000 combinations, one row each: split the calculation",
         r = ""))
  cli <- Sys.getenv("GXE_CLI")
  have_cli <- nzchar(cli) && file.exists(cli)
  for (case in cases) {
    given <- design
    given[names(case$given)] <- case$given
    expect_error(do.call(gxe_power, given), paste0(case$r, case$rule), fixed = TRUE,
                 label = deparse(case$given))
    if (!have_cli) next
    # The command line: --gene-prevalence for gene_prevalence, and so in the rule.
    text <- vapply(Filter(Negate(is.null), given), paste, "", collapse = ",")
    options <- paste0("--", gsub("_", "-", names(text)))
    said <- run(cli, c("power", rbind(options, shQuote(text))), 2L)
    expect_true(endsWith(gsub("--([a-z]+)-([a-z]+)", "\\1_\\2", said[1]), case$rule),
                label = said[1])
    # A batch row holds one value per column; an empty cell is not given.
    if (any(lengths(given) > 1)) next
    file <- tempfile(fileext = ".csv")
    cells <- vapply(given, function(x) if (is.null(x)) "" else format(x), "")
    writeLines(c(paste(c("mode", names(cells)), collapse = ","),
                 paste(c("power", cells), collapse = ",")), file)
    said <- run(cli, c("batch", file), 1L)
    expect_match(said[1], paste0("^gxeplan: row 2, column [a-z_]+: .*", case$rule, "$"),
                 label = said[1])
  }
})
