#' Power and study-size curves
#'
#' Power against the number of cases for the ROR^tb given, or against ROR^tb
#' for the number of cases given; with a target `power` instead, the study
#' size needed against ROR^tb. Each point is one calculation of [gxe_power()]
#' or [gxe_size()] with the least and the most favourable power over the box.
#'
#' The points are spaced evenly in cases, and evenly on the log scale in
#' ROR^tb, from `from` to `to` inclusive. Every value of the list arguments
#' other than the one on the x axis (`ror` or `cases`, `gene_prevalence`,
#' `controls_per_case`, `alpha`, `power`) makes a curve of its own; the rows
#' of one curve follow each other, in increasing x.
#'
#' @param over The x axis: `"cases"` or `"ror"`.
#' @param from,to The first and last value on the x axis, `from < to` (both
#'   positive).
#' @param points Number of points of each curve, a whole number from 2 to
#'   10000.
#' @param ... The design, as the arguments of [gxe_power()] (for a power
#'   curve) or of [gxe_size()] (when `power`, a target power, is given: a
#'   size curve, over `"ror"` only), less the one on the x axis.
#' @return A data.frame of class `gxe_curve` with the columns of
#'   [gxe_power()], one row per point, and the attribute `over`.
#' @seealso [plot.gxe_curve()], [autoplot.gxe_curve()].
#' @examples
#' # Power against the number of cases for two interactions:
#' curve <- gxe_curve("cases", from = 200, to = 2000, points = 10, ror = c(1.8, 2.2),
#'                    gene_prevalence = 0.3, or_e = 2, or_g = 1.5,
#'                    or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' head(curve[, c("ror", "cases", "power_min", "power_max")])
#' plot(curve, target = 0.8)
#'
#' # The study size for 80 % power against ROR^tb:
#' sizes <- gxe_curve("ror", from = 1.5, to = 3, points = 10, power = 0.8,
#'                    gene_prevalence = 0.3, or_e = 2, or_g = 1.5)
#' plot(sizes)
#' @export
gxe_curve <- function(over = c("cases", "ror"), from, to, points = 40, ...) {
  call <- sys.call()
  if (missing(over)) over <- "cases"
  one_text("over", over, call)
  if (!over %in% c("cases", "ror")) {
    refuse(sprintf('over = %s: must be "cases" or "ror"', shown(over)), call)
  }
  one_number("from", from, call)
  one_number("to", to, call)
  one_number("points", points, call)
  if (!(from > 0 && is.finite(to) && from < to)) {
    refuse(sprintf("from = %s, to = %s: must be positive, from below to",
                   format(from), format(to)), call)
  }
  if (!(points >= 2 && points <= 10000 && points == trunc(points))) {
    refuse(sprintf("points = %s: must be a whole number from 2 to 10000", format(points)), call)
  }
  design <- list(...)
  if (over %in% names(design)) {
    refuse(sprintf("%s: is the x axis of the curve, set by from and to", over), call)
  }
  size_curve <- "power" %in% names(design)
  if (size_curve && over == "cases") {
    refuse("power: a curve over cases is a power curve; a size curve is over ror", call)
  }
  needed <- if (over == "cases") "ror" else if (!size_curve) "cases"
  if (length(needed) && !needed %in% names(design)) {
    refuse(sprintf("%s: must be given for a %s curve over %s", needed,
                   if (size_curve) "size" else "power", over), call)
  }

  x <- if (over == "cases") {
    seq(from, to, length.out = points)
  } else {
    # Evenly on the log scale, with the ends exactly as given.
    c(from, exp(seq(log(from), log(to), length.out = points))[-c(1, points)], to)
  }
  design[[over]] <- x
  calculation <- if (size_curve) gxe_size else gxe_power
  rows <- withCallingHandlers(
    tryCatch(do.call(calculation, design),
             gxe_input_error = function(e) refuse(conditionMessage(e), call)),
    gxe_no_answer = function(w) {
      warning(warningCondition(conditionMessage(w), class = "gxe_no_answer", call = call))
      invokeRestart("muffleWarning")
    })

  # One curve after the other: the rows of each curve (same values of every
  # other list argument) together, in increasing x.
  lists <- setdiff(curve_lists, over)
  key <- do.call(paste, c(rows[lists], sep = "\r"))
  rows <- rows[order(match(key, unique(key)), rows[[over]]), , drop = FALSE]
  rownames(rows) <- NULL
  structure(rows, class = c("gxe_curve", "data.frame"), over = over)
}

# The arguments whose values make curves of their own.
curve_lists <- c("power", "cases", "ror", "gene_prevalence", "controls_per_case", "alpha")

# The curves of a gxe_curve: a list of row indices, and a label for each.
curve_groups <- function(x) {
  lists <- setdiff(curve_lists, attr(x, "over"))
  lists <- lists[vapply(lists, function(n) !all(is.na(x[[n]])), logical(1))]
  varying <- lists[vapply(lists, function(n) length(unique(x[[n]])) > 1, logical(1))]
  key <- if (length(varying)) {
    do.call(paste, c(lapply(varying, function(n) paste(n, "=", format(x[[n]]))), sep = ", "))
  } else {
    rep("", nrow(x))
  }
  split(seq_len(nrow(x)), factor(key, levels = unique(key)))
}

axis_title <- function(over) {
  if (over == "cases") "Number of cases" else "ROR^tb (log scale)"
}

#' Plot a power or study-size curve
#'
#' A power curve is drawn as the band between the least and the most
#' favourable power over the box of the nuisance odds ratios, one band per
#' curve, with a horizontal line at the target power. A study-size curve is
#' drawn as the size (cases plus controls) against ROR^tb, one line per curve.
#' Drawn with base graphics.
#'
#' @param x A `gxe_curve` from [gxe_curve()].
#' @param target The power to mark with a horizontal line on a power curve;
#'   `NULL` for none.
#' @param col Colours of the curves, recycled.
#' @param ... Further graphical parameters for [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' curve <- gxe_curve("ror", from = 1.2, to = 3, points = 12, cases = 1000,
#'                    gene_prevalence = 0.3, or_e_range = c(1, 2), or_g_range = c(1, 1.5))
#' plot(curve, target = 0.9)
#' @export
plot.gxe_curve <- function(x, target = 0.8, col = grDevices::palette.colors(8)[-1], ...) {
  over <- attr(x, "over")
  groups <- curve_groups(x)
  col <- rep_len(col, length(groups))
  size_curve <- identical(x$mode[1], "size")
  log_axis <- if (over == "ror") "x" else ""
  if (size_curve) {
    graphics::plot(x[[over]], x$size, type = "n", log = log_axis,
                   xlab = axis_title(over), ylab = "Study size (cases + controls)",
                   main = sprintf("Study size for power %s", format(x$power[1])), ...)
    for (i in seq_along(groups)) {
      g <- groups[[i]]
      graphics::lines(x[[over]][g], x$size[g], col = col[i], lwd = 2)
    }
  } else {
    graphics::plot(x[[over]], x$power_min, type = "n", log = log_axis, ylim = c(0, 1),
                   xlab = axis_title(over), ylab = "Power", ...)
    for (i in seq_along(groups)) {
      g <- groups[[i]]
      g <- g[!is.na(x$power_min[g])]
      if (!length(g)) next
      graphics::polygon(c(x[[over]][g], rev(x[[over]][g])),
                        c(x$power_min[g], rev(x$power_max[g])),
                        col = grDevices::adjustcolor(col[i], alpha.f = 0.3), border = NA)
      graphics::lines(x[[over]][g], x$power_min[g], col = col[i], lwd = 2)
      graphics::lines(x[[over]][g], x$power_max[g], col = col[i], lwd = 1)
    }
    if (!is.null(target)) graphics::abline(h = target, lty = 2)
  }
  if (length(groups) > 1) {
    graphics::legend(if (size_curve) "topright" else "bottomright", legend = names(groups),
                     col = col, lwd = 2, bty = "n")
  }
  invisible(x)
}

#' ggplot2 version of a curve
#'
#' The same figure as [plot.gxe_curve()] drawn with ggplot2: a ribbon between
#' the least and the most favourable power (or a line of the study size) for
#' each curve. Available when ggplot2 is installed.
#'
#' @param object A `gxe_curve` from [gxe_curve()].
#' @param target The power to mark on a power curve; `NULL` for none.
#' @param ... Not used.
#' @return A ggplot object.
#' @examplesIf requireNamespace("ggplot2", quietly = TRUE)
#' curve <- gxe_curve("cases", from = 200, to = 2000, points = 10, ror = 2,
#'                    gene_prevalence = 0.3, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' ggplot2::autoplot(curve)
#' @exportS3Method ggplot2::autoplot
autoplot.gxe_curve <- function(object, target = 0.8, ...) {
  if (!requireNamespace("ggplot2", quietly = TRUE)) {
    stop("autoplot() needs the ggplot2 package", call. = FALSE)
  }
  over <- attr(object, "over")
  groups <- curve_groups(object)
  curve_of <- rep(names(groups), lengths(groups))
  rows <- unlist(groups, use.names = FALSE)
  data <- data.frame(x = object[[over]][rows], low = object$power_min[rows],
                     high = object$power_max[rows], size = object$size[rows],
                     curve = factor(curve_of, levels = names(groups)))
  size_curve <- identical(object$mode[1], "size")
  plot <- ggplot2::ggplot(data, ggplot2::aes(x = x, group = curve, colour = curve, fill = curve))
  plot <- if (size_curve) {
    plot + ggplot2::geom_line(ggplot2::aes(y = size)) +
      ggplot2::labs(y = "Study size (cases + controls)")
  } else {
    plot <- plot + ggplot2::geom_ribbon(ggplot2::aes(ymin = low, ymax = high), alpha = 0.3, colour = NA) +
      ggplot2::geom_line(ggplot2::aes(y = low)) + ggplot2::labs(y = "Power") +
      ggplot2::coord_cartesian(ylim = c(0, 1))
    if (!is.null(target)) plot <- plot + ggplot2::geom_hline(yintercept = target, linetype = 2)
    plot
  }
  if (over == "ror") plot <- plot + ggplot2::scale_x_log10()
  if (length(groups) == 1) plot <- plot + ggplot2::theme(legend.position = "none")
  plot + ggplot2::labs(x = axis_title(over), colour = NULL, fill = NULL)
}

globalVariables(c("x", "low", "high", "size", "curve"))
