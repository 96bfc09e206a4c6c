# dkolmogorov_limit, pkolmogorov_limit, qkolmogorov_limit and
# rkolmogorov_limit: both tails, logarithms and density against 200-bit
# references (ref-limit.csv, made by tools/make-limit-references.R), the
# exact module's bits where the lower tail is at least 1/2, quantiles that
# are the smallest double reaching the probability, and draws.  The messages
# of the argument checks are in test-messages.R.

rel_err <- function(a, b) ifelse(b == 0, abs(a - b), abs(a - b) / abs(b))

test_that("both tails and the density match the 200-bit references", {
  limit_ref <- read_ref("ref-limit.csv", c("x", "log_lower", "log_upper", "log_density"))
  expect_identical(nrow(limit_ref), 22L)
  x <- limit_ref$x
  # Upper tail and density: relative 1e-12, also as logs far below the range.
  expect_lt(max(rel_err(pkolmogorov_limit(x, lower.tail = FALSE, log.p = TRUE), limit_ref$log_upper)), 1e-12)
  up <- exp(limit_ref$log_upper)
  expect_lt(max(rel_err(pkolmogorov_limit(x, lower.tail = FALSE), up)[up > 1e-300]), 1e-12)
  expect_lt(max(rel_err(dkolmogorov_limit(x, log = TRUE), limit_ref$log_density)), 1e-12)
  expect_lt(max(rel_err(dkolmogorov_limit(x), exp(limit_ref$log_density))[x < 25]), 1e-12)
  # Lower tail: relative 1e-12 below 1/2; at and above 1/2 the series of
  # the exact module to its tolerance (absolute).
  lo <- exp(limit_ref$log_lower)
  small <- lo < 0.5
  expect_lt(max(rel_err(pkolmogorov_limit(x, log.p = TRUE), limit_ref$log_lower)[small]), 1e-12)
  expect_lt(max(rel_err(pkolmogorov_limit(x), lo)[small]), 1e-12)
  expect_lt(max(abs(pkolmogorov_limit(x) - lo)[!small]), 5e-14)
  expect_lt(max(abs(pkolmogorov_limit(x, tol = 1e-15) - lo)[!small]), 3e-16)
  # The two tails add up to 1.
  expect_lt(max(abs(pkolmogorov_limit(x) + pkolmogorov_limit(x, lower.tail = FALSE) - 1)), 1e-13)
})

test_that("the lower tail keeps the exact module's bits where it is at least 1/2", {
  # The module's series for x < 1 sums a number of terms fixed by its
  # tolerance; the tolerance handed to it is the largest giving the terms
  # that the asked accuracy needs.
  module_tol <- function(tol)
    if (tol >= 3.8e-5) min(tol, 0.1) else if (tol >= 1.1e-13) min(tol, 8e-7) else min(tol, 1e-15)
  x <- c(0.83, 0.9, 0.99, 1, 1.36, 2, 3)
  for (tol in c(1e-3, 1e-6, 1e-10, 1e-15)) {
    expected <- pmin(pks2(x, module_tol(tol)), 1)
    expect_identical(pkolmogorov_limit(x, tol = tol), expected)
  }
})

test_that("one-sided limit is 1 - exp(-2 x^2) in both tails", {
  x <- c(1e-200, 1e-8, 0.1, 0.5, 1, 2, 5, 30)
  for (alt in c("less", "greater")) {
    expect_equal(pkolmogorov_limit(x, alternative = alt), -expm1(-2 * x^2), tolerance = 1e-15)
    expect_equal(pkolmogorov_limit(x, lower.tail = FALSE, log.p = TRUE, alternative = alt), -2 * x^2,
                 tolerance = 1e-15)
    expect_equal(dkolmogorov_limit(x, alternative = alt), 4 * x * exp(-2 * x^2), tolerance = 1e-14)
  }
})

test_that("quantiles are the smallest double reaching p, in both tails and with logs", {
  p <- c(1e-300, 1e-12, 0.001, 0.05, 0.3, 0.5, 0.7, 0.95, 0.999, 1 - 1e-9)
  prev <- function(v) v - v * 2^-53 * (1 + (v == 2^floor(log2(v))))
  for (alt in c("two.sided", "greater")) for (lower in c(TRUE, FALSE)) for (lg in c(FALSE, TRUE)) {
    pp <- if (lg) log(p) else p
    q <- qkolmogorov_limit(pp, lower.tail = lower, log.p = lg, alternative = alt)
    at <- pkolmogorov_limit(q, lower.tail = lower, log.p = lg, alternative = alt)
    before <- pkolmogorov_limit(prev(q), lower.tail = lower, log.p = lg, alternative = alt)
    if (lower) {
      expect_true(all(at >= pp & before < pp))
    } else {
      expect_true(all(at <= pp & before > pp))
    }
  }
  expect_identical(qkolmogorov_limit(c(0, 1)), c(0, Inf))
  expect_identical(qkolmogorov_limit(c(0, 1), lower.tail = FALSE), c(Inf, 0))
  expect_warning(r <- qkolmogorov_limit(c(-0.5, 0.5, 2)))
  expect_true(is.nan(r[1]) && is.nan(r[3]) && !is.na(r[2]))
})

test_that("draws follow the law and are reproducible", {
  set.seed(11)
  r <- rkolmogorov_limit(4000)
  set.seed(11)
  expect_identical(rkolmogorov_limit(4000), r)
  # The probability integral transform of the draws is uniform: the counts
  # in ten equal cells stay within 5 binomial standard deviations.
  counts <- tabulate(findInterval(pkolmogorov_limit(r), seq(0, 1, 0.1)), 10)
  expect_lt(max(abs(counts - 400)), 5 * sqrt(4000 * 0.1 * 0.9))
  g <- rkolmogorov_limit(4000, alternative = "greater")
  counts <- tabulate(findInterval(exp(-2 * g^2), seq(0, 1, 0.1)), 10)
  expect_lt(max(abs(counts - 400)), 5 * sqrt(4000 * 0.1 * 0.9))
  expect_length(rkolmogorov_limit(c(5, 5, 5)), 3)
})

test_that("missing values and attributes", {
  r <- pkolmogorov_limit(c(a = NA, b = NaN, c = 1))
  expect_identical(names(r), c("a", "b", "c"))
  expect_true(is.na(r[["a"]]) && is.nan(r[["b"]]))
  m <- matrix(c(0.5, 1, 1.5, 2), 2)
  expect_identical(dim(pkolmogorov_limit(m, lower.tail = FALSE)), c(2L, 2L))
  expect_identical(dim(qkolmogorov_limit(m / 4)), c(2L, 2L))
  expect_identical(pkolmogorov_limit(c(-1, 0, Inf)), c(0, 0, 1))
})
