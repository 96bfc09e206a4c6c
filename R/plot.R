# Empirical distribution function(s) of a test, with the largest distance
# marked and the statistic and p-value under the plot.  Every argument of
# plot() can be given and wins over the defaults; col, lty and lwd style
# both curves (recycled to two), type the first one and, for the null, its
# discrete or continuous drawing otherwise.

plot.ksdist_test <- function(x, main = x$method, sub = NULL, xlab = NULL,
                             ylab = "Cumulative probability", xlim = NULL, ylim = c(0, 1),
                             col = c("black", "steelblue"), lty = 1, lwd = 1, type = "s",
                             legend = TRUE, ...) {
  seg <- x$segment
  two <- !is.null(x$y)
  nm <- if (is.null(x$names)) c("x", "y") else x$names
  if (is.null(xlab)) xlab <- if (!is.null(x$xlab)) x$xlab else if (two) "value" else nm[1L]
  if (is.null(sub))
    sub <- sprintf("%s = %s, p-value = %s", names(x$statistic), format(unname(x$statistic), digits = 4),
                   format_pvalue(x$p.value, x$log.p.value, 4))
  col <- rep_len(col, 2L)
  lty <- rep_len(lty, 2L)
  lwd <- rep_len(lwd, 2L)
  # The window covers the finite data; infinite values sit at its edges.
  lim <- if (is.null(xlim)) data_window(c(x$x, x$y), 0.1) else xlim
  clip <- function(s) pmin(pmax(s, lim[1]), lim[2])
  step <- function(s) list(x = c(lim[1], clip(s), lim[2]), y = c(0, seq_along(s) / length(s), 1))
  a <- step(x$x)
  graphics::plot(a$x, a$y, type = type, main = main, sub = sub, xlab = xlab, ylab = ylab,
                 xlim = lim, ylim = ylim, col = col[1], lty = lty[1], lwd = lwd[1], ...)
  if (two) {
    b <- step(x$y)
    graphics::lines(b$x, b$y, type = type, col = col[2], lty = lty[2], lwd = lwd[2])
    labels <- nm
  } else {
    grid <- seq(lim[1], lim[2], length.out = 401)
    graphics::lines(grid, x$cdf(grid), type = if (isTRUE(x$discrete)) "s" else "l",
                    col = col[2], lty = lty[2], lwd = lwd[2])
    labels <- c(nm[1L], "null distribution")
  }
  tc <- clip(seg[1])
  graphics::segments(tc, seg[2], tc, seg[3], col = "red", lwd = 2)
  graphics::points(c(tc, tc), seg[2:3], col = "red", pch = 19)
  if (!isFALSE(legend))
    graphics::legend(if (is.character(legend)) legend else "bottomright",
                     c(labels, "largest distance"), col = c(col, "red"), lty = c(lty, 1),
                     lwd = c(lwd, 2), bty = "n")
  invisible(x)
}

# The x range of a plot of the finite values s, widened by pad of its
# width on each side (by 1 when it has none).
data_window <- function(s, pad) {
  f <- s[is.finite(s)]
  rng <- if (length(f)) range(f) else c(-1, 1)
  w <- if (diff(rng) > 0) diff(rng) * pad else 1
  c(rng[1L] - w, rng[2L] + w)
}
