# dsmirnov2, psmirnov2, qsmirnov2 and rsmirnov2: P(D <= q) for the discrete
# two-sample law, both tails, the exact module's bits where the lower tail
# is at least 1/2, attributes, quantiles that are the smallest attained
# value reaching p, and draws, also with ties.  The messages of their
# argument checks are in test-messages.R.

test_that("psmirnov2 is P(D <= q), the module's bits where at least 1/2", {
  # m = n = 5: D takes the values k/5; P(D <= 0.2) = P(D < 0.4) = 8/63.
  expect_equal(psmirnov2(c(0.2, 0.3, 0.4), 5, 5), c(8 / 63, 8 / 63, 9 / 14), tolerance = 1e-15)
  for (s in list(c(10, 12), c(4, 6), c(30, 45), c(10, 10), c(1, 5))) {
    m <- s[1]; n <- s[2]
    k <- 0:(m * n)
    lo <- psmirnov2(k / (m * n), m, n)
    up <- psmirnov2(k / (m * n), m, n, lower.tail = FALSE)
    expect_lt(max(abs(lo + up - 1)), 1e-14)
    mod <- vapply(k, function(kk) ps2x((kk + 0.5) / (m * n), as.integer(m), as.integer(n)), 0)
    # At the top, P(D <= 1) is exactly 1 (the module's sum of all paths
    # would be a few units in the last place below).
    big <- mod >= 0.5 & k < m * n
    expect_identical(lo[big], pmin(mod[big], 1))
    expect_identical(lo[m * n + 1], 1)
    expect_equal(lo[!big], mod[!big], tolerance = 1e-13)
    # The probability function sums to 1 and its partial sums are the d.f.
    pk <- dsmirnov2(k / (m * n), m, n)
    expect_equal(cumsum(pk), lo, tolerance = 1e-13)
    expect_identical(dsmirnov2((k[2] + 0.5) / (m * n), m, n), 0)
  }
  # The attained value a computed ratio stands for, also at large m n.
  N <- 20000
  k <- c(201, 337, 389)
  expect_identical(psmirnov2(k / N, N, N, lower.tail = FALSE),
                   psmirnov2((k * N + 0.25) / N^2, N, N, lower.tail = FALSE))
  expect_identical(psmirnov2(c(-1, 0, 1, 1.5), 4, 6), c(0, 0, 1, 1))
})

test_that("attributes follow R's p-functions", {
  m <- matrix(c(0.1, 0.2, 0.3, 0.4), 2, dimnames = list(c("r1", "r2"), NULL))
  expect_identical(dim(psmirnov2(m, 10, 12, lower.tail = FALSE)), c(2L, 2L))
  # The first argument of full length gives the attributes.
  expect_identical(names(psmirnov2(0.3, 10, c(x = 12, y = 14))), c("x", "y"))
})

test_that("quantiles are the smallest attained value reaching p", {
  p <- c(1e-10, 0.01, 0.05, 0.3, 0.5, 0.9, 0.95, 0.99, 0.999)
  for (s in list(c(5, 5), c(10, 12), c(7, 3), c(30, 45))) for (alt in c("two.sided", "less")) {
    m <- s[1]; n <- s[2]; mn <- m * n
    for (lower in c(TRUE, FALSE)) {
      x <- qsmirnov2(p, m, n, lower.tail = lower, alternative = alt)
      expect_equal(x * mn, round(x * mn))
      at <- psmirnov2(x, m, n, lower.tail = lower, alternative = alt)
      before <- psmirnov2(x - 1 / mn, m, n, lower.tail = lower, alternative = alt)
      if (lower) expect_true(all(at >= p & before < p))
      else expect_true(all(at <= p & before > p))
    }
  }
  # The documented critical value: reject when D exceeds it.
  crit <- qsmirnov2(0.95, 10, 12)
  expect_lte(psmirnov2(crit, 10, 12, lower.tail = FALSE), 0.05)
  expect_gt(psmirnov2(crit - 1 / 120, 10, 12, lower.tail = FALSE), 0.05)
  # The ends of the support.
  expect_identical(qsmirnov2(c(0, 1), 50, 50), c(0.02, 1))
  expect_identical(qsmirnov2(c(0, 1), 50, 50, lower.tail = FALSE), c(1, 0.02))
})

test_that("draws are reproducible and follow the exact law, also with ties", {
  set.seed(8)
  b <- rsmirnov2(3000, 10, 12)
  set.seed(8)
  expect_identical(rsmirnov2(3000, 10, 12), b)
  expect_equal(b * 120, round(b * 120))
  for (q in c(0.3, 0.5))
    expect_lt(abs(mean(b <= q) - psmirnov2(q, 10, 12)), 5 * sqrt(0.25 / 3000))
  z <- c(1, 1, 2, 2, 2, 3, 4, 4, 5, 6)
  tb <- rsmirnov2(3000, 4, 6, pooled = z, alternative = "greater")
  expect_lt(abs(mean(tb <= 0.25) - psmirnov2(0.25, 4, 6, pooled = z, alternative = "greater")),
            5 * sqrt(0.25 / 3000))
  expect_length(rsmirnov2(c(1, 1, 1), 5, 5), 3)
})

test_that("long exact computations say how far they are, when asked to", {
  # ksdist.progress = 0: progress for every computation whatever its
  # expected time (by default only above 3 s and when R is interactive).
  withr::local_options(ksdist.progress = 0)
  out <- capture.output(p <- psmirnov2(0.02, 3000, 2000, lower.tail = FALSE), type = "message")
  expect_match(paste(out, collapse = ""), "exact two-sample law")
  withr::local_options(ksdist.progress = NULL)
  expect_identical(psmirnov2(0.02, 3000, 2000, lower.tail = FALSE), p)
  expect_silent(psmirnov2(0.02, 3000, 2000, lower.tail = FALSE))
})
