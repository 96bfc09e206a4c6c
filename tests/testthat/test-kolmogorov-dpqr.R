# dkolmogorov, pkolmogorov, qkolmogorov and rkolmogorov: R's conventions
# (both tails, logs, recycling, missing values, attributes), the
# exact value to about an ulp in both tails, quantiles that are the
# smallest double reaching p, the density as the slope of the distribution
# function, and draws.  The messages of their argument checks are in
# test-messages.R.

test_that("pkolmogorov: the exact value to about an ulp, the module's within its accuracy", {
  # Against Steck's determinant in rationals: both tails correctly rounded
  # or an ulp away; the module (pKolmogorov2x) agrees to its own rounding.
  skip_if_not_installed("gmp")
  cases <- rbind(c(0.274, 10), c(0.3, 20), c(0.5, 4), c(0.95, 20), c(0.13, 60), c(0.06, 90))
  for (k in seq_len(nrow(cases))) {
    d <- cases[k, 1]; n <- cases[k, 2]
    lo <- steck_cdf(gmp::as.bigq(d), n)
    ex <- gmp::asNumeric(lo)
    up <- gmp::asNumeric(1 - lo)
    expect_lte(abs(pkolmogorov(d, n) - ex), 2^-52 * ex)
    expect_lte(abs(pkolmogorov(d, n, lower.tail = FALSE) - up), 2^-52 * up)
    expect_lte(abs(pk2x(d, as.integer(n)) - ex), 1e-14 * ex)
  }
  expect_identical(pkolmogorov(c(1, 5, Inf, 0, 0.04, -1), 10), c(1, 1, 1, 0, 0, 0))
  # 0.05 is a little above 1/20 as a double: P(D_10 < 0.05) is tiny, not 0.
  expect_gt(pkolmogorov(0.05, 10, log.p = TRUE), -2000)
  # Both tails are direct and add up to 1, the lower tail also below 1/2.
  for (n in c(1, 5, 37, 200)) {
    d <- sort(c(0.5 / n + 1e-9, seq(0.01, 0.99, length.out = 40)))
    lo <- pkolmogorov(d, n)
    up <- pkolmogorov(d, n, lower.tail = FALSE)
    expect_lt(max(abs(lo + up - 1)), 1e-13)
    # Logs of a tail above 1/2 come from the other tail, log1p(-other),
    # which keeps the digits that log() of a value near 1 loses.
    logs <- function(a, b) ifelse(a > 0.5, log1p(-b), log(a))
    ok <- lo > 1e-300 & lo < 1
    expect_equal(pkolmogorov(d, n, log.p = TRUE)[ok], logs(lo, up)[ok], tolerance = 1e-13)
    ok <- up > 1e-300 & up < 1
    expect_equal(pkolmogorov(d, n, lower.tail = FALSE, log.p = TRUE)[ok], logs(up, lo)[ok], tolerance = 1e-13)
    expect_false(is.unsorted(lo))
  }
  # Closed forms at both ends of the support.
  expect_equal(pkolmogorov(0.1, 5, log.p = TRUE), 5 * log(2 * 0.1 - 0.2 + 2 * 5.551115123125783e-18) + log(120),
               tolerance = 1e-12)
  expect_equal(pkolmogorov(0.55, 200, lower.tail = FALSE),
               2 * pkolmogorov(0.55, 200, lower.tail = FALSE, alternative = "greater"), tolerance = 1e-14)
})

test_that("recycling, missing values and attributes follow R's p-functions", {
  q <- c(0.1, 0.2, 0.3, 0.4)
  expect_identical(pkolmogorov(q, c(10, 20)), c(pkolmogorov(0.1, 10), pkolmogorov(0.2, 20),
                                                pkolmogorov(0.3, 10), pkolmogorov(0.4, 20)))
  expect_identical(pkolmogorov(numeric(0), 10), numeric(0))
  expect_identical(pkolmogorov(0.3, integer(0)), numeric(0))
  r <- pkolmogorov(c(NA, 0.3, NaN, 0.3), c(10, NA, 10, 10))
  expect_true(is.na(r[1]) && is.na(r[2]) && is.nan(r[3]) && !is.na(r[4]))
  expect_identical(names(pkolmogorov(c(a = 0.1, b = 0.2), 20)), c("a", "b"))
  m <- matrix(c(0.1, 0.2, 0.3, 0.4), 2, dimnames = list(c("r1", "r2"), NULL))
  expect_identical(dimnames(pkolmogorov(m, 20)), dimnames(m))
  expect_identical(dim(qkolmogorov(m, 20)), c(2L, 2L))
  # The first argument of full length gives the attributes.
  expect_identical(names(pkolmogorov(0.2, c(a = 10, b = 20))), c("a", "b"))
  # The alternative may be abbreviated.
  expect_identical(pkolmogorov(0.3, 10, alternative = "g"), pkolmogorov(0.3, 10, alternative = "greater"))
})

test_that("quantiles are the smallest double reaching p", {
  p <- c(1e-10, 0.01, 0.05, 0.3, 0.5, 0.9, 0.95, 0.99, 0.999)
  for (alt in c("two.sided", "greater")) for (n in c(1, 7, 60, 400)) for (lower in c(TRUE, FALSE)) {
    d <- qkolmogorov(p, n, lower.tail = lower, alternative = alt)
    at <- pkolmogorov(d, n, lower.tail = lower, alternative = alt)
    before <- pkolmogorov(prev_double(d), n, lower.tail = lower, alternative = alt)
    if (lower) expect_true(all(at >= p & before < p), info = paste(alt, n))
    else expect_true(all(at <= p & before > p), info = paste(alt, n))
  }
  lp <- log(c(1e-200, 0.05))
  d <- qkolmogorov(lp, 300, lower.tail = FALSE, log.p = TRUE)
  expect_true(all(pkolmogorov(d, 300, lower.tail = FALSE, log.p = TRUE) <= lp))
  expect_true(all(pkolmogorov(prev_double(d), 300, lower.tail = FALSE, log.p = TRUE) > lp))
  expect_identical(qkolmogorov(c(0, 1), 10), c(0.05, 1))
  expect_identical(qkolmogorov(c(0, 1), 10, lower.tail = FALSE), c(1, 0.05))
  expect_warning(r <- qkolmogorov(c(-0.1, 0.5, 2), 10))
  expect_true(is.nan(r[1]) && is.nan(r[3]))
})

test_that("draws are reproducible and follow the exact law", {
  set.seed(8)
  a <- rkolmogorov(3000, 25)
  set.seed(8)
  expect_identical(rkolmogorov(3000, 25), a)
  for (q in c(0.15, 0.25, 0.35))
    expect_lt(abs(mean(a <= q) - pkolmogorov(q, 25)), 5 * sqrt(0.25 / 3000))
  g <- rkolmogorov(3000, 25, alternative = "greater")
  expect_lt(abs(mean(g <= 0.2) - pkolmogorov(0.2, 25, alternative = "greater")), 5 * sqrt(0.25 / 3000))
  expect_length(rkolmogorov(c(1, 1, 1), 5), 3)
})

test_that("dkolmogorov is the slope of pkolmogorov, with R's conventions", {
  # Piecewise-smooth cdf: a central difference inside a piece matches the
  # density closely; the upper tail gives the slope where it is tiny.
  for (cs in list(c(10, 0.23), c(40, 0.17), c(200, 0.3), c(1000, 0.05))) {
    n <- cs[1]; d <- cs[2]; h <- d * 1e-6
    for (alt in c("two.sided", "greater")) {
      slope <- (pkolmogorov(d - h, n, lower.tail = FALSE, alternative = alt) -
                pkolmogorov(d + h, n, lower.tail = FALSE, alternative = alt)) / (2 * h)
      expect_equal(dkolmogorov(d, n, alternative = alt), slope, tolerance = 1e-6)
    }
  }
  expect_identical(dkolmogorov(0.2, 20, alternative = "less"), dkolmogorov(0.2, 20, alternative = "greater"))
  expect_equal(dkolmogorov(0.55, 200, log = TRUE), log(dkolmogorov(0.55, 200)), tolerance = 1e-14)
  expect_identical(dkolmogorov(c(-1, 0.01, 1, 2, Inf), 10), rep(0, 5)) # outside the support
  expect_identical(dkolmogorov(0.01, 10, log = TRUE), -Inf)
  r <- dkolmogorov(c(a = 0.2, b = NA, c = NaN), 10)
  expect_identical(names(r), c("a", "b", "c"))
  expect_true(is.na(r[["b"]]) && is.nan(r[["c"]]) && r[["a"]] > 0)
  expect_identical(dkolmogorov(0.2, integer(0)), numeric(0))
})
