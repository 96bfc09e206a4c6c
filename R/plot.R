# Empirical distribution function(s) of a test, with the largest distance
# marked.

plot.ksdist_test <- function(x, main = x$method, xlab = "x", ylab = "Cumulative probability",
                             col = c("black", "steelblue"), ...) {
  ecdf_at <- function(s, t) findInterval(t, s) / length(s)
  t <- x$where
  if (is.null(x$y)) {
    s <- x$x
    rng <- range(s)
    pad <- if (diff(rng) > 0) diff(rng) * 0.1 else 1
    grid <- seq(rng[1] - pad, rng[2] + pad, length.out = 401)
    graphics::plot(c(grid[1], s, grid[length(grid)]),
                   c(0, seq_along(s) / length(s), 1), type = "s",
                   main = main, xlab = xlab, ylab = ylab, ylim = c(0, 1),
                   col = col[1], ...)
    graphics::lines(grid, x$cdf(grid), col = col[2])
    # At the jump, the distance is to the nearer side of the step.
    lo <- sum(s < t) / length(s)
    hi <- ecdf_at(s, t)
    Ft <- x$cdf(t)
    end <- if (abs(hi - Ft) >= abs(lo - Ft)) hi else lo
    graphics::segments(t, Ft, t, end, col = "red", lwd = 2)
    graphics::points(c(t, t), c(Ft, end), col = "red", pch = 19)
    graphics::legend("bottomright", c("empirical", "hypothesised", "largest distance"),
                     col = c(col, "red"), lty = 1, bty = "n")
  } else {
    all <- c(x$x, x$y)
    rng <- range(all)
    pad <- if (diff(rng) > 0) diff(rng) * 0.05 else 1
    step <- function(s) list(x = c(rng[1] - pad, s, rng[2] + pad),
                             y = c(0, seq_along(s) / length(s), 1))
    a <- step(x$x)
    b <- step(x$y)
    graphics::plot(a$x, a$y, type = "s", main = main, xlab = xlab, ylab = ylab,
                   ylim = c(0, 1), col = col[1], ...)
    graphics::lines(b$x, b$y, type = "s", col = col[2])
    fa <- ecdf_at(x$x, t)
    fb <- ecdf_at(x$y, t)
    graphics::segments(t, fa, t, fb, col = "red", lwd = 2)
    graphics::points(c(t, t), c(fa, fb), col = "red", pch = 19)
    graphics::legend("bottomright", c("x", "y", "largest distance"),
                     col = c(col, "red"), lty = 1, bty = "n")
  }
  invisible(x)
}
