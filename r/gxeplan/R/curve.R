#' Power, study-size and detectable-interaction curves
#'
#' Power against the number of cases for the ROR^tb given, or against ROR^tb
#' for the number of cases given; with a target `power` instead of cases, the
#' study size needed against ROR^tb; with `quantity = "detect"`, the
#' detectable ROR^tb against the number of cases for the target `power`.
#' Each point is an ordinary calculation, equal to the [gxe_power()],
#' [gxe_size()] or [gxe_detect()] row at the same values, with the least and
#' the most favourable power over the box.
#'
#' The points are spaced evenly in cases, and evenly on the log scale in
#' ROR^tb, from `from` to `to`, both ends exactly as given. The argument that
#' names the curves may be a vector, one curve per value: `ror` for a curve
#' over cases; `cases` (power) or `power` (study size) for a curve over ror;
#' `power` for a curve of the detectable ROR^tb.
#' Every other argument of the design takes a single value, with the
#' defaults of [gxe_power()]; the axis's own argument is not given.
#'
#' @param over The x axis: `"cases"` or `"ror"`; it must be given, as on the
#'   command line.
#' @param from,to The first and the last value on the x axis, positive,
#'   `from < to`.
#' @param points Number of points of each curve, a whole number from 2 to
#'   1000; 40 when not given. At most 10000 points in all.
#' @param ... The design, as the arguments of [gxe_power()] (a power curve),
#'   of [gxe_size()] (a size curve, when `power` is given; over ror only) or
#'   of [gxe_detect()] (with `quantity = "detect"`; over cases only), less
#'   the one on the x axis.
#' @param quantity What the curves show: `NULL` (the default) for the power,
#'   or the study size when `power` is given; `"detect"` for the detectable
#'   ROR^tb. `"power"` and `"size"` may be given too, and must agree with the
#'   arguments.
#' @param threads Number of threads the points are calculated on, as in
#'   [gxe_power()]: the points are the same for any number.
#' @return A data.frame of class `gxe_curve` with the columns of
#'   [gxe_power()], one row per point, curve by curve in increasing x, and
#'   the attribute `over`.
#' @seealso [plot.gxe_curve()], [autoplot.gxe_curve()].
#' @examples
#' # Power against the number of cases for two interactions:
#' curve <- gxe_curve("cases", from = 200, to = 2000, points = 10, ror = c(1.8, 2.2),
#'                    gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5,
#'                    or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
#' head(curve[, c("ror", "cases", "power_min", "power_max")])
#' plot(curve, target = 0.8)
#'
#' # The study size for 80 % and 90 % power against ROR^tb:
#' sizes <- gxe_curve("ror", from = 1.5, to = 3, points = 10, power = c(0.8, 0.9),
#'                    gene_prevalence = 0.3, quantiles = 4, or_e = 2, or_g = 1.5)
#' plot(sizes)
#'
#' # The ROR^tb detectable with 80 % and 90 % power against the number of cases:
#' detectable <- gxe_curve("cases", from = 200, to = 2000, points = 10, quantity = "detect",
#'                         power = c(0.8, 0.9), gene_prevalence = 0.3, quantiles = 4)
#' plot(detectable)
#' @export
gxe_curve <- function(over, from, to, points = NULL, ..., quantity = NULL, threads = 1) {
  call <- sys.call()
  one_text("over", over, call)
  one_number("from", from, call)
  one_number("to", to, call)
  if (!is.null(points)) one_number("points", points, call)
  if (!is.null(quantity)) one_text("quantity", quantity, call)
  one_number("threads", threads, call)
  args <- list(...)
  if (length(args) && (is.null(names(args)) || any(!nzchar(names(args))))) {
    refuse("the design arguments of a curve are named: ror = 2, gene_prevalence = 0.3, ...", call)
  }
  unknown <- setdiff(names(args), curve_arguments)
  if (length(unknown)) {
    refuse(sprintf("%s: is not an argument of a curve", paste(unknown, collapse = ", ")), call)
  }
  rows <- relay(curve_rows(over, from, to, points, threads, quantity, checked(args, call)), call)
  structure(rows_of(rows, call),
            class = c("gxe_curve", "data.frame"), over = over)
}

# The design arguments a curve takes: those of a calculation, less the
# simulation check and the threads (an argument of its own).
curve_arguments <- setdiff(names(argument_forms), c("simulate", "seed", "threads"))

# The curves of a gxe_curve, as lists of row indices named after the value
# that makes each curve.
curve_groups <- function(x) {
  over <- attr(x, "over")
  series <- if (!is.null(line_of(x))) "power" else if (over == "cases") "ror" else "cases"
  key <- paste(series, "=", format(x[[series]]))
  split(seq_len(nrow(x)), factor(key, levels = unique(key)))
}

axis_title <- function(over) {
  if (over == "cases") "Number of cases" else "ROR^tb (log scale)"
}

# The column a curve of one line per target power draws (the study size or
# the detectable ROR^tb), or NULL for a curve of power, drawn as a band.
line_of <- function(x) {
  switch(x$mode[1], size = "size", detect = "ror_detectable", NULL)
}

line_titles <- c(size = "Study size (cases + controls)",
                 ror_detectable = "Detectable ROR^tb (log scale)")
line_mains <- c(size = "Study size for power %s", ror_detectable = "Detectable ROR^tb for power %s")

#' Plot a power, study-size or detectable-interaction curve
#'
#' A power curve is drawn as the band between the least and the most
#' favourable power over the box of the nuisance odds ratios, one band per
#' curve, with a horizontal line at the target power. A study-size curve is
#' drawn as the size (cases plus controls) against ROR^tb, and a curve of the
#' detectable ROR^tb as that ROR^tb (on a log scale) against the number of
#' cases, one line per curve. Drawn with base graphics.
#'
#' @param x A `gxe_curve` from [gxe_curve()].
#' @param target The power to mark with a horizontal line on a power curve;
#'   `NULL` for none.
#' @param col Colours of the curves, recycled.
#' @param ... Further graphical parameters for [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' curve <- gxe_curve("ror", from = 1.2, to = 3, points = 12, cases = 1000,
#'                    gene_prevalence = 0.3, quantiles = 4, or_e_range = c(1, 2), or_g_range = c(1, 1.5))
#' plot(curve, target = 0.9)
#' @export
plot.gxe_curve <- function(x, target = 0.8, col = grDevices::palette.colors(8)[-1], ...) {
  over <- attr(x, "over")
  groups <- curve_groups(x)
  col <- rep_len(col, length(groups))
  line <- line_of(x)
  line_curve <- !is.null(line)
  log_axis <- paste0(if (over == "ror") "x" else "", if (identical(line, "ror_detectable")) "y" else "")
  if (line_curve) {
    graphics::plot(x[[over]], x[[line]], type = "n", log = log_axis,
                   xlab = axis_title(over), ylab = line_titles[[line]],
                   main = if (length(groups) == 1) sprintf(line_mains[[line]], format(x$power[1])),
                   ...)
    for (i in seq_along(groups)) {
      g <- groups[[i]]
      graphics::lines(x[[over]][g], x[[line]][g], col = col[i], lwd = 2)
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
    graphics::legend(if (line_curve) "topright" else "bottomright", legend = names(groups),
                     col = col, lwd = 2, bty = "n")
  }
  invisible(x)
}

#' ggplot2 version of a curve
#'
#' The same figure as [plot.gxe_curve()] drawn with ggplot2: a ribbon between
#' the least and the most favourable power (or a line of the study size or
#' of the detectable ROR^tb) for each curve. Available when ggplot2 is
#' installed.
#'
#' @param object A `gxe_curve` from [gxe_curve()].
#' @param target The power to mark on a power curve; `NULL` for none.
#' @param ... Not used.
#' @return A ggplot object.
#' @examplesIf requireNamespace("ggplot2", quietly = TRUE)
#' curve <- gxe_curve("cases", from = 200, to = 2000, points = 10, ror = 2,
#'                    gene_prevalence = 0.3, quantiles = 4, or_e_range = c(1.5, 2.5), or_g_range = c(1, 2))
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
  line <- line_of(object)
  data <- data.frame(x = object[[over]][rows], low = object$power_min[rows],
                     high = object$power_max[rows],
                     value = if (is.null(line)) NA_real_ else object[[line]][rows],
                     curve = factor(curve_of, levels = names(groups)))
  plot <- ggplot2::ggplot(data, ggplot2::aes(x = x, group = curve, colour = curve, fill = curve))
  plot <- if (!is.null(line)) {
    plot <- plot + ggplot2::geom_line(ggplot2::aes(y = value)) + ggplot2::labs(y = line_titles[[line]])
    if (line == "ror_detectable") plot <- plot + ggplot2::scale_y_log10()
    plot
  } else {
    plot <- plot + ggplot2::geom_ribbon(ggplot2::aes(ymin = low, ymax = high), alpha = 0.3, colour = NA) +
      ggplot2::geom_line(ggplot2::aes(y = low)) + ggplot2::geom_line(ggplot2::aes(y = high)) +
      ggplot2::labs(y = "Power") +
      ggplot2::coord_cartesian(ylim = c(0, 1))
    if (!is.null(target)) plot <- plot + ggplot2::geom_hline(yintercept = target, linetype = 2)
    plot
  }
  if (over == "ror") plot <- plot + ggplot2::scale_x_log10()
  if (length(groups) == 1) plot <- plot + ggplot2::theme(legend.position = "none")
  plot + ggplot2::labs(x = axis_title(over), colour = NULL, fill = NULL)
}

globalVariables(c("x", "low", "high", "value", "curve"))
