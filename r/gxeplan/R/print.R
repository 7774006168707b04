#' Print a power or study-size calculation
#'
#' One calculation prints as the table the command line prints for it: the
#' inputs, the conditional odds ratios, the box searched, the study size, the
#' power at the least and the most favourable point with the odds ratios
#' there, the notes that qualify the answer and, with `simulate`, the
#' simulation check. Several calculations print as one compact table of the
#' inputs that differ between them with the study size (the detectable
#' ROR^tb of [gxe_detect()]) and the two powers,
#' followed by why rows have no answer and by the notes, each sentence once
#' with the rows it applies to.
#'
#' The texts are those of the planning library, kept with the rows: a row
#' taken out with `x[i, ]` prints its own table. Once columns are selected or
#' values changed, the result is a plain data.frame, which prints as one.
#'
#' @param x,object A `gxe_plan` from [gxe_power()], [gxe_size()] or
#'   [gxe_detect()].
#' @param ... Passed on to [print.data.frame()] for the compact table.
#' @return `print()`: `x`, invisibly. `summary()`: the plain data.frame of
#'   all columns, as `as.data.frame()` gives it.
#' @examples
#' one <- gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_e = 2,
#'                  or_g = 1.5, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' one
#' several <- gxe_size(c(0.8, 0.9), ror = c(1.5, 2), gene_prevalence = 0.3,
#'                     quantiles = 4, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' several
#' several[3, ]
#' summary(several)[, c("power", "ror", "n_cases", "n_controls")]
#' @export
print.gxe_plan <- function(x, ...) {
  reports <- attr(x, "reports")
  if (nrow(x) == 0 || length(reports) != nrow(x) || anyNA(reports)) {
    print(as.data.frame(x), ...)
  } else if (nrow(x) == 1) {
    cat(reports)
  } else {
    print_compact(x, ...)
  }
  invisible(x)
}

#' @rdname print.gxe_plan
#' @export
summary.gxe_plan <- function(object, ...) as.data.frame(object)

#' @export
as.data.frame.gxe_plan <- function(x, ...) {
  attr(x, "reports") <- NULL
  attr(x, "notes") <- NULL
  class(x) <- "data.frame"
  x
}

# Rows taken out keep their texts; a selection of columns is a plain
# data.frame. x[i, ] is told from x[i] by the arguments written, the empty
# one included.
#' @export
`[.gxe_plan` <- function(x, i, j, ..., drop = TRUE) {
  written <- length(sys.call()) - 1 - !missing(drop)
  out <- NextMethod()
  if (missing(i) || !missing(j) || written != 3 || !is.data.frame(out)) {
    return(if (is.data.frame(out)) as.data.frame.gxe_plan(out) else out)
  }
  place <- data.frame(at = seq_len(nrow(x)), row.names = row.names(x))[i, "at"]
  structure(out, class = class(x), reports = attr(x, "reports")[place],
            notes = attr(x, "notes")[place])
}

# A changed value no longer matches the texts: the result is a plain data.frame.
#' @export
`[<-.gxe_plan` <- function(x, ..., value) {
  x <- as.data.frame.gxe_plan(x)
  x[...] <- value
  x
}

#' @export
`[[<-.gxe_plan` <- function(x, ..., value) {
  x <- as.data.frame.gxe_plan(x)
  x[[...]] <- value
  x
}

#' @export
`$<-.gxe_plan` <- function(x, name, value) {
  x <- as.data.frame.gxe_plan(x)
  x[[name]] <- value
  x
}

# The compact table of several calculations: the library's heading (the
# first line of every row's table), the inputs that differ between the rows,
# the size and the two powers; then why rows have no answer and the notes,
# each sentence once with the rows it applies to.
print_compact <- function(x, ...) {
  cat(sub("\n.*", "", attr(x, "reports")[1]), "\n\n", sep = "")
  plain <- as.data.frame(x)
  differ <- Filter(function(name) length(unique(plain[[name]])) > 1, list_columns())
  found <- if (identical(plain$mode[1], "detect")) "ror_detectable" else "size"
  print(plain[c(differ, found, "power_min", "power_max")], ...)
  errors <- lapply(plain$error, function(e) if (is.na(e)) character(0) else e)
  print_by_rows("No answer", errors, row.names(x))
  print_by_rows("Notes", attr(x, "notes"), row.names(x))
}

# Under `heading`, each text of `texts` (a list of texts per row) once, with
# the names of the rows it applies to.
print_by_rows <- function(heading, texts, rows) {
  said <- unique(unlist(texts))
  if (!length(said)) return()
  cat("\n", heading, "\n", sep = "")
  for (text in said) {
    at <- rows[vapply(texts, function(t) text %in% t, TRUE)]
    where <- sprintf("%s %s: ", if (length(at) == 1) "Row" else "Rows", paste(at, collapse = ", "))
    cat(strwrap(paste0(where, text), width = 80, exdent = 2), sep = "\n")
  }
}
