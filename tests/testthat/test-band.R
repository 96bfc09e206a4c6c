# ks_band: the band's values, its exact coverage for a continuous F (the
# law of D_n, and a simulation of 1e6 samples), conservative for an F with
# jumps, and its methods.

test_that("the band is the ECDF plus and minus the exact quantile, clipped", {
  x <- c(3, 1, 2, 2, 5, NA)
  b <- ks_band(x, 0.9)
  d <- qkolmogorov(0.9, 5)
  df <- as.data.frame(b)
  expect_identical(names(df), c("x", "lower", "upper"))
  expect_identical(df$x, c(1, 2, 3, 5))
  Fn <- c(1, 3, 4, 5) / 5
  expect_identical(df$lower, pmax(0, Fn - d))
  expect_identical(df$upper, pmin(1, Fn + d))
  expect_identical(b$n, 5L)
  expect_match(b$data.name, "1 missing value removed")
  up <- ks_band(x, 0.9, "upper")
  expect_identical(as.data.frame(up)$upper, pmin(1, Fn + qkolmogorov(0.9, 5, alternative = "less")))
  expect_identical(as.data.frame(up)$lower, rep(0, 4))
  lo <- ks_band(x, 0.9, "low")
  expect_identical(as.data.frame(lo)$lower, pmax(0, Fn - qkolmogorov(0.9, 5, alternative = "greater")))
  expect_identical(as.data.frame(lo)$upper, rep(1, 4))
})

test_that("its coverage for a continuous F is the level, exactly and by simulation", {
  for (n in c(1, 10, 100)) for (alt in c("two.sided", "upper", "lower")) {
    b <- ks_band(seq_len(n), 0.95, alt)
    law <- switch(alt, two.sided = "two.sided", upper = "less", lower = "greater")
    expect_equal(pkolmogorov(b$d, n, alternative = law), 0.95, tolerance = 1e-12)
  }
  ref <- read_ref("ref-power-simulation.csv", "q")
  ref <- ref[ref$kind == "coverage", ]
  out <- ref$hits / ref$reps
  cont <- ref$case == 1
  # Continuous: outside with probability exactly 0.05.
  expect_lt(max(abs(out[cont] - 0.05) / sqrt(0.05 * 0.95 / ref$reps[cont])), 4)
  # Poisson: conservative, and far from the level.
  expect_lt(out[!cont], 0.05 - 4 * sqrt(0.05 * 0.95 / ref$reps[!cont]))
})

test_that("a small live check of the coverage", {
  set.seed(21)
  inside <- replicate(2000, {
    b <- ks_band(rexp(12), 0.8)
    t <- c(b$x, b$x - 1e-9)
    all(pexp(t) >= approx_step(b, t, "lower") & pexp(t) <= approx_step(b, t, "upper"))
  })
  expect_lt(abs(mean(inside) - 0.8) / sqrt(0.8 * 0.2 / 2000), 4)
})

test_that("print, plot and lines", {
  b <- ks_band(faithful$eruptions)
  expect_output(print(b), "Exact 95% Kolmogorov confidence band")
  expect_output(print(b), "coverage: 0.95")
  pdf(NULL)
  on.exit(dev.off())
  expect_silent(plot(b))
  expect_silent(plot(b, null = "pnorm", main = "mine", col = "red", xlim = c(0, 7), legend = "topleft"))
  expect_silent(plot(ks_band(rpois(30, 3)), null = stepfun(0:10, c(0, ppois(0:10, 3)))))
  plot(ecdf(faithful$eruptions))
  expect_silent(lines(b, col = "blue", lty = 2))
  expect_silent(lines(ks_band(faithful$eruptions, alternative = "upper")))
})
