# The one-sample law in the second shared object: both tails computed
# directly (hook_kolmogorov), against exact references
# (tools/make-kolmogorov-references.R) and their own identities.

ks1 <- hook_kolmogorov
relerr <- function(x, ref) ifelse(ref == 0, abs(x), abs(x - ref) / abs(ref))

test_that("both tails match the exact references", {
  ref <- read_ref("ref-kolmogorov-engine.csv", "d")
  # The two-sided recursion at n = 1e5 takes seconds: those rows are checked
  # only with KSDIST_LONG_TESTS=1.
  if (!long_tests()) ref <- ref[!(ref$method == "band" & ref$n > 1e4), ]
  got <- t(vapply(seq_len(nrow(ref)), function(i) ks1(ref$d[i], ref$n[i], ref$alt[i], ref$tail[i] == 1), c(0, 0)))
  tol <- pmax(1e-12, 2 * ref$relerr_bound)
  ev <- ifelse(ref$value >= 1e-300, relerr(got[, 1], ref$value) / tol, 0)
  el <- ifelse(ref$log != 0, relerr(got[, 2], ref$log) / tol, 0)
  # D_n^- has the law of D_n^+.
  for (i in which(ref$alt == 1 & seq_len(nrow(ref)) %% 5 == 0))
    expect_identical(ks1(ref$d[i], ref$n[i], 2L, ref$tail[i] == 1), got[i, ])
  w <- which.max(pmax(ev, el))
  expect_lte(max(ev, el), 1, label = sprintf("error / tolerance at %s n=%d d=%a alt=%d tail=%d",
                                             ref$method[w], ref$n[w], ref$d[w], ref$alt[w], ref$tail[w]))
  expect_gt(nrow(ref), 400)
})

test_that("the tails add up to one and stay in [0, 1]", {
  set.seed(11)
  for (k in 1:150) {
    n <- sample(c(1:30, 50, 100, 400, 1500), 1)
    alt <- sample(0:2, 1)
    d <- if (k %% 3 == 0) runif(1, 0.4, 1) / n else runif(1, 0, 3 / sqrt(n))
    lo <- ks1(d, n, alt)
    up <- ks1(d, n, alt, TRUE)
    expect_true(all(c(lo[1], up[1]) >= 0 & c(lo[1], up[1]) <= 1))
    expect_lte(abs(lo[1] + up[1] - 1), 1e-12)
    expect_lte(max(lo[2], up[2]), 0)
  }
})

test_that("the two-sided upper tail is twice the one-sided one from d = 1/2 on", {
  for (n in c(1, 2, 7, 40, 300)) for (d in c(0.5, 0.5 + 1e-9, 0.63, 0.9)) {
    two <- ks1(d, n, 0L, TRUE)
    one <- ks1(d, n, 1L, TRUE)
    expect_equal(two[1], 2 * one[1], tolerance = 1e-15)
    if (two[1] < 0.5) expect_equal(two[2], log(2) + one[2], tolerance = 1e-14)
  }
})

test_that("the distribution function rises with d", {
  set.seed(3)
  for (n in c(3, 17, 120)) for (alt in 0:1) {
    d <- sort(runif(40, 0, 1.2))
    p <- vapply(d, function(x) ks1(x, n, alt)[1], 0)
    q <- vapply(d, function(x) ks1(x, n, alt, TRUE)[1], 0)
    expect_true(all(diff(p) >= -1e-15))
    expect_true(all(diff(q) <= 1e-15))
  }
})

test_that("n d is not rounded at the corners of the support", {
  # n = 5, d = 0.1 lies a fraction of an ulp above 1/(2n) in exact terms.
  p <- ks1(0.1, 5)
  skip_if_not_installed("gmp")
  x <- gmp::asNumeric(2 * gmp::as.bigq(0.1) - gmp::as.bigq(1, 5)) # 2d - 1/n, exactly
  expect_equal(p[2], log(120) + 5 * log(x), tolerance = 1e-13)
  expect_gt(p[1], 0)
  expect_lt(p[2], -190)
  # At and below 1/(2n) nothing; n = 1 has P(D_1 < d) = 2d - 1.
  expect_identical(ks1(0.5 / 7, 7), c(0, -Inf))
  expect_identical(ks1(0.5 / 7, 7, 0L, TRUE), c(1, 0))
  for (d in c(0.5 + 2^-30, 0.7, 0.999)) expect_equal(ks1(d, 1)[1], 2 * d - 1, tolerance = 1e-14)
  # One-sided: P(D_n^+ < d) = d (1 + d)^(n-1) for d <= 1/n.
  for (n in c(2, 30, 1000)) {
    d <- 0.37 / n
    expect_equal(ks1(d, n, 1L)[2], log(d) + (n - 1) * log1p(d), tolerance = 1e-13)
  }
})

test_that("tails far below the double range keep their logarithm", {
  # Upper: for d >= 1 - 1/n only D_n^+ = 1 - U_(1) >= d is possible, so
  # P(D_n >= d) = 2 (1 - d)^n.
  n <- 2000
  d <- 1 - 0.5 / n
  up <- ks1(d, n, 0L, TRUE)
  expect_identical(up[1], 0)
  expect_equal(up[2], log(2) + n * log(1 - d), tolerance = 1e-12)
  lo <- ks1(0.6 / n, n)
  expect_equal(lo[2], lgamma(n + 1) + n * log(0.2 / n), tolerance = 1e-12)
})

test_that("arguments outside the domain", {
  expect_true(all(is.nan(ks1(NaN, 5))))
  expect_identical(ks1(-1, 5, 1L), c(0, -Inf))
  expect_identical(ks1(1, 5, 0L, TRUE), c(0, -Inf))
  expect_identical(ks1(2, 5), c(1, 0))
  expect_error(ks1(0.1, 0), "'n' must be a whole number from 1")
  expect_error(ks1(0.1, 5, 3L), "'alt'")
  expect_error(ks1(c(0.1, 0.2), 5L, 0L, FALSE), "'d'")
  expect_error(ks1(0.1, NA_integer_, 0L, FALSE), "'n'")
})
