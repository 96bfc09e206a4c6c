# Empirical distribution function(s) of a test, with the largest distance
# marked.

plot.ksdist_test <- function(x, main = x$method, xlab = "x", ylab = "Cumulative probability",
                             col = c("black", "steelblue"), ...) {
  seg <- x$segment
  nm <- if (is.null(x$names)) c("x", "y") else x$names
  # The window covers the finite data; infinite values sit at its edges.
  span <- function(s) {
    f <- s[is.finite(s)]
    rng <- if (length(f)) range(f) else c(-1, 1)
    pad <- if (diff(rng) > 0) diff(rng) * 0.1 else 1
    c(rng[1] - pad, rng[2] + pad)
  }
  clip <- function(s, lim) pmin(pmax(s, lim[1]), lim[2])
  if (is.null(x$y)) {
    s <- x$x
    lim <- span(s)
    grid <- seq(lim[1], lim[2], length.out = 401)
    graphics::plot(c(lim[1], clip(s, lim), lim[2]),
                   c(0, seq_along(s) / length(s), 1), type = "s",
                   main = main, xlab = xlab, ylab = ylab, ylim = c(0, 1), xlim = lim,
                   col = col[1], ...)
    Fg <- x$cdf(grid)
    if (isTRUE(x$discrete)) graphics::lines(grid, Fg, type = "s", col = col[2])
    else graphics::lines(grid, Fg, col = col[2])
    graphics::legend("bottomright", c(nm[1], "null distribution", "largest distance"),
                     col = c(col, "red"), lty = 1, bty = "n")
  } else {
    lim <- span(c(x$x, x$y))
    step <- function(s) list(x = c(lim[1], clip(s, lim), lim[2]),
                             y = c(0, seq_along(s) / length(s), 1))
    a <- step(x$x)
    b <- step(x$y)
    graphics::plot(a$x, a$y, type = "s", main = main, xlab = xlab, ylab = ylab,
                   ylim = c(0, 1), xlim = lim, col = col[1], ...)
    graphics::lines(b$x, b$y, type = "s", col = col[2])
    graphics::legend("bottomright", c(nm, "largest distance"),
                     col = c(col, "red"), lty = 1, bty = "n")
  }
  tc <- clip(seg[1], lim)
  graphics::segments(tc, seg[2], tc, seg[3], col = "red", lwd = 2)
  graphics::points(c(tc, tc), seg[2:3], col = "red", pch = 19)
  invisible(x)
}
