# ks_band: the exact Kolmogorov confidence band for a distribution function.
#
# With d the exact quantile of D_n = sup |F_n - F| (qkolmogorov), the event
# D_n <= d is the event that F lies in [F_n - d, F_n + d] everywhere
# (compared on both sides of every jump of F_n, as D_n is), so for a
# continuous F the band covers F with probability P(D_n <= d), the level
# itself (d is the smallest double with P(D_n <= d) >= level).  For an F
# with jumps the statistic is stochastically smaller than under a
# continuous F, so the coverage is at least the level: the band is
# conservative.  One-sided: the upper band F <= F_n + d from the law of
# D_n^- = sup (F - F_n), the lower band F >= F_n - d from that of D_n^+.

ks_band <- function(x, level = 0.95, alternative = c("two.sided", "upper", "lower")) {
  xname <- deparse1(substitute(x))
  alternative <- check_band_side(alternative)
  level <- check_prob_arg(level, "level")
  obs <- observations(x, "x")
  x <- obs$x
  k <- obs$na
  n <- length(x)
  law <- switch(alternative, two.sided = "two.sided", upper = "less", lower = "greater")
  d <- qkolmogorov(level, n, alternative = law)
  band <- band_at(x, d, alternative)
  band$level <- level
  band$data.name <- na_note(xname, k)
  band
}

check_band_side <- function(alternative) {
  choices <- c("two.sided", "upper", "lower")
  if (identical(alternative, choices)) return("two.sided")
  if (!is.character(alternative) || length(alternative) != 1L || is.na(alternative) ||
      is.na(k <- pmatch(alternative, choices)))
    stop_call("'alternative' must be one of \"two.sided\", \"upper\", \"lower\"", "ksdist_error_argument")
  choices[k]
}

# The band of half-width d around the ECDF of x at its sorted distinct
# values: the ECDF there (the count at or below each over n) and the band
# for its value, clipped to [0, 1].
band_at <- function(x, d, alternative) {
  n <- length(x)
  xs <- sort(x, method = "radix")
  last <- c(xs[-1L] != xs[-n], TRUE)
  ux <- xs[last]
  Fn <- which(last) / n
  lower <- if (alternative == "upper") rep(0, length(ux)) else pmax(0, Fn - d)
  upper <- if (alternative == "lower") rep(1, length(ux)) else pmin(1, Fn + d)
  structure(list(x = ux, ecdf = Fn, lower = lower, upper = upper, d = d, n = n,
                 alternative = alternative,
                 method = "Exact Kolmogorov confidence band"),
            class = "ksdist_band")
}

print.ksdist_band <- function(x, digits = getOption("digits"), ...) {
  cat("\n")
  cat(strwrap(sprintf("Exact %s%% Kolmogorov confidence band%s", format(100 * x$level, digits = digits),
                      switch(x$alternative, two.sided = "", upper = " (upper)", lower = " (lower)")),
              prefix = "\t"), sep = "\n")
  cat("\n")
  cat("data:  ", x$data.name, ", n = ", x$n, "\n", sep = "")
  d <- format(x$d, digits = max(1L, digits - 2L))
  cat(switch(x$alternative,
             two.sided = sprintf("band: F_n(t) - %s <= F(t) <= F_n(t) + %s, within [0, 1]", d, d),
             upper = sprintf("upper band: F(t) <= F_n(t) + %s, within [0, 1]", d),
             lower = sprintf("lower band: F(t) >= F_n(t) - %s, within [0, 1]", d)), "\n", sep = "")
  cat(sprintf("coverage: %s for a continuous F (exact), at least that for an F with jumps\n",
              format(x$level, digits = digits)))
  cat("\n")
  invisible(x)
}

as.data.frame.ksdist_band <- function(x, row.names = NULL, optional = FALSE, ...)
  data.frame(x = x$x, lower = x$lower, upper = x$upper, row.names = row.names)

# The band as step functions over the window lim: the ECDF and both edges
# are constant on [x_(j), x_(j+1)), and left of the data the ECDF is 0.
band_steps <- function(b, lim) {
  inside <- b$x >= lim[1L] & b$x <= lim[2L]
  before <- sum(b$x < lim[1L])
  start <- if (before) c(b$ecdf[before], b$lower[before], b$upper[before])
           else c(0, 0, if (b$alternative == "lower") 1 else min(1, b$d))
  list(x = c(lim[1L], b$x[inside], lim[2L]),
       ecdf = c(start[1L], b$ecdf[inside], b$ecdf[inside][sum(inside)] %||% start[1L]),
       lower = c(start[2L], b$lower[inside], b$lower[inside][sum(inside)] %||% start[2L]),
       upper = c(start[3L], b$upper[inside], b$upper[inside][sum(inside)] %||% start[3L]))
}

`%||%` <- function(a, b) if (length(a) && !is.na(a)) a else b

band_window <- function(b) data_window(b$x, 0.05)

# The ECDF with its band, shaded, and optionally a candidate null
# distribution (a function, its name, or a step function, as ks_test's y).
# Every argument of plot() can be given and wins over the defaults.
plot.ksdist_band <- function(x, null = NULL, ..., main = NULL, xlab = NULL,
                             ylab = "Cumulative probability", xlim = NULL, ylim = c(0, 1),
                             col = "black", band.col = "steelblue", fill = "#4682B440",
                             null.col = "firebrick", lty = 1, lwd = 1, legend = TRUE) {
  if (is.null(main))
    main <- sprintf("%s%% Kolmogorov confidence band%s", format(100 * x$level),
                    switch(x$alternative, two.sided = "", upper = " (upper)", lower = " (lower)"))
  if (is.null(xlab)) xlab <- x$data.name
  lim <- if (is.null(xlim)) band_window(x) else xlim
  s <- band_steps(x, lim)
  graphics::plot(s$x, s$ecdf, type = "n", main = main, xlab = xlab, ylab = ylab, xlim = lim,
                 ylim = ylim, ...)
  if (!is.na(fill)) {
    k <- length(s$x)
    xx <- c(rep(s$x, each = 2L)[-1L], rev(rep(s$x, each = 2L)[-1L]))
    lo <- rep(s$lower, each = 2L)[-2L * k]
    up <- rep(s$upper, each = 2L)[-2L * k]
    graphics::polygon(xx, c(lo, rev(up)), col = fill, border = NA)
  }
  lines.ksdist_band(x, col = band.col, lty = lty, lwd = lwd, xlim = lim)
  graphics::lines(s$x, s$ecdf, type = "s", col = col, lwd = lwd)
  labels <- c("ECDF", sprintf("%s%% band", format(100 * x$level)))
  cols <- c(col, band.col)
  if (!is.null(null)) {
    nd <- null_dist(null, list(), parent.frame(), arg = "null")
    grid <- seq(lim[1L], lim[2L], length.out = 801L)
    if (nd$stepfun) {
      kn <- stats::knots(nd$cdf)
      grid <- sort(unique(c(grid, kn[kn >= lim[1L] & kn <= lim[2L]])))
      graphics::lines(grid, nd$F(grid), type = "s", col = null.col, lwd = lwd)
    } else {
      graphics::lines(grid, nd$F(grid), col = null.col, lwd = lwd)
    }
    labels <- c(labels, if (is.character(null)) null else "null distribution")
    cols <- c(cols, null.col)
  }
  if (!isFALSE(legend))
    graphics::legend(if (is.character(legend)) legend else "bottomright", labels, col = cols,
                     lty = 1, lwd = c(lwd, lwd, lwd)[seq_along(labels)], bty = "n")
  invisible(x)
}

# Adds the edges of the band to a plot (to the current window, or over
# xlim), as step functions.  Arguments of lines() win over the defaults.
lines.ksdist_band <- function(x, col = "steelblue", lty = 1, lwd = 1, xlim = NULL, ...) {
  lim <- if (is.null(xlim)) {
    u <- graphics::par("usr")[1:2]
    if (graphics::par("xlog")) 10^u else u
  } else xlim
  s <- band_steps(x, lim)
  if (x$alternative != "upper")
    graphics::lines(s$x, s$lower, type = "s", col = col, lty = lty, lwd = lwd, ...)
  if (x$alternative != "lower")
    graphics::lines(s$x, s$upper, type = "s", col = col, lty = lty, lwd = lwd, ...)
  invisible(x)
}
