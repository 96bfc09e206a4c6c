# The two-sided law's exact engine (spectral sum, SBT band, repeated
# squaring, direct power; src/ext/kolmogorov_spectral.cpp) against the
# independent reference table ref-kolmogorov-large.csv
# (tools/make-kolmogorov-large.R, n = 10 ... 1e6), across its switches
# between methods, and through its fallbacks.

rel <- function(x, ref) ifelse(ref == 0, abs(x), abs(x - ref) / abs(ref))
large_ref <- function() {
  ref <- read_ref("ref-kolmogorov-large.csv", c("d", "lower", "upper", "log_lower", "log_upper"))
  # Rows at n >= 1e5 outside the band take 0.02 to 0.15 s each: every
  # third of them is checked, all with KSDIST_LONG_TESTS=1.
  if (!long_tests()) ref <- ref[ref$n < 1e5 | grepl("sbt", ref$method) | seq_len(nrow(ref)) %% 3 == 0, ]
  ref
}

test_that("both tails and their logs are within 2e-15 of the reference", {
  ref <- large_ref()
  eng <- ref$n * ref$d > 1
  # Where the engine answers, one call gives all four numbers; pkolmogorov
  # must give the same (checked on every eighth row, and on every row the
  # engine does not answer: n d <= 1, the closed form).
  got <- t(vapply(seq_len(nrow(ref)), function(i) {
    if (eng[i]) hook_kolmogorov_method(ref$d[i], ref$n[i])[1:4]
    else c(pkolmogorov(ref$d[i], ref$n[i]), pkolmogorov(ref$d[i], ref$n[i], lower.tail = FALSE),
           pkolmogorov(ref$d[i], ref$n[i], log.p = TRUE),
           pkolmogorov(ref$d[i], ref$n[i], lower.tail = FALSE, log.p = TRUE))
  }, numeric(4)))
  for (i in which(eng & ref$n <= 1e4 & seq_len(nrow(ref)) %% 8 == 0))
    expect_identical(c(pkolmogorov(ref$d[i], ref$n[i]), pkolmogorov(ref$d[i], ref$n[i], lower.tail = FALSE),
                       pkolmogorov(ref$d[i], ref$n[i], log.p = TRUE),
                       pkolmogorov(ref$d[i], ref$n[i], lower.tail = FALSE, log.p = TRUE)), unname(got[i, ]))
  # A value below the normal range is compared through its logarithm only.
  err <- cbind(ifelse(ref$lower >= 2^-1022, rel(got[, 1], ref$lower), 0),
               ifelse(ref$upper >= 2^-1022, rel(got[, 2], ref$upper), 0),
               rel(got[, 3], ref$log_lower), rel(got[, 4], ref$log_upper))
  w <- arrayInd(which.max(err), dim(err))
  expect_lte(max(err), 2e-15, label = sprintf("largest relative error (%s of n = %d, d = %a)",
                                              c("lower", "upper", "log lower", "log upper")[w[2]],
                                              ref$n[w[1]], ref$d[w[1]]))
  # Lower tails near 1 are correctly rounded (1 - upper in double-double,
  # rounded once).
  near1 <- ref$upper < 0.01
  expect_identical(got[near1, 1], ref$lower[near1])
  # Where both tails are at least 0.1 they add up to 1 within an ulp.
  both <- got[, 1] >= 0.1 & got[, 2] >= 0.1
  expect_true(all(abs(got[both, 1] + got[both, 2] - 1) <= 2^-53))
  expect_gt(nrow(ref), 250)
})

test_that("no jump where the engine changes method", {
  # Each switch is crossed on a grid of d a few ulps to a few 1e-4 wide: the
  # lower tail rises and the upper falls (to within an ulp of noise), and
  # the two methods on either side agree at the switch.
  sweep <- function(n, d) {
    v <- t(vapply(d, function(x) hook_kolmogorov_method(x, n)[c(1, 2, 5)], numeric(3)))
    expect_true(all(diff(v[, 1]) >= -2^-52 * v[-1, 1]), label = paste("lower rises, n =", n))
    expect_true(all(diff(v[, 2]) <= 2^-52 * v[-1, 2]), label = paste("upper falls, n =", n))
    v
  }
  # Repeated squaring up to n d < 8 (order m <= 15), the spectral sum
  # above (n >= 300).
  v <- sweep(1000, seq(7.8, 8.2, length.out = 9) / 1000)
  expect_setequal(unique(v[, 3]), c(4, 1))
  # The direct power below n = 2000 in the upper tail, the spectral sum
  # from n = 2000 on.
  for (n in c(1999, 2000)) {
    d <- 3.6 / sqrt(n)
    a <- hook_kolmogorov_method(d, n)
    b <- hook_kolmogorov_method(d, n, if (a[["method"]] == 1) "direct" else "spectral")
    expect_lte(rel(a[["upper"]], b[["upper"]]), 1e-15)
    expect_lte(rel(a[["lower"]], b[["lower"]]), 2^-53)
  }
  # The band from P(D^+ >= d) < 1.5e-15 on, the spectral sum above.
  for (n in c(3000, 2e4)) {
    x <- seq(4.05, 4.2, length.out = 13)
    v <- sweep(n, x / sqrt(n))
    expect_setequal(unique(v[, 3]), c(1, 3))
    k <- which(diff(v[, 3]) != 0)[1]
    for (i in c(k, k + 1)) {
      sp <- hook_kolmogorov_method(x[i] / sqrt(n), n, "spectral")
      bd <- hook_kolmogorov_method(x[i] / sqrt(n), n, "band")
      expect_lte(rel(sp[["upper"]], bd[["upper"]]), 1e-15)
      expect_lte(rel(sp[["log_upper"]], bd[["log_upper"]]), 1e-15)
    }
  }
})

test_that("a mode that fails its checks is never used: another method answers", {
  # At n d near 3 to 4 the matrix is small and its modes irregular: the
  # spectral sum alone declines (or agrees), and the default answers by
  # repeated squaring, as the recursion does.
  declined <- 0
  for (s in c(3.3, 3.7, 4.2, 5.5, 9.7, 13.1)) for (n in c(300, 5000, 1e6)) {
    d <- s / n
    sp <- hook_kolmogorov_method(d, n, "spectral")
    au <- hook_kolmogorov_method(d, n)
    sq <- hook_kolmogorov_method(d, n, "squaring")
    if (is.na(sp[["lower"]])) {
      declined <- declined + 1
      expect_identical(sp[["method"]], -1)
    } else {
      expect_lte(rel(sp[["log_lower"]], sq[["log_lower"]]), 1e-14)
    }
    expect_lte(rel(au[["log_lower"]], sq[["log_lower"]]), 1e-14)
    if (n == 300) {
      cr <- hook_kolmogorov_method(d, n, "crossing")
      expect_lte(rel(au[["lower"]], cr[["lower"]]), 1e-13)
    }
  }
  expect_gt(declined, 0)
  # The direct power and the spectral sum where both apply.
  set.seed(41)
  for (k in 1:6) {
    n <- sample(300:1500, 1)
    d <- runif(1, 0.4, 3) / sqrt(n)
    a <- hook_kolmogorov_method(d, n, "spectral")
    b <- hook_kolmogorov_method(d, n, "direct")
    expect_lte(rel(a[["lower"]], b[["lower"]]), 4e-16)
    expect_lte(rel(a[["upper"]], b[["upper"]]), 4e-15)
  }
})

test_that("tails far below the double range at large n keep their logarithms", {
  # Lower tails: the mode sum's logarithm against repeated squaring (n d =
  # 30), repeated squaring against the recursion (n d = 3).
  a <- hook_kolmogorov_method(3e-5, 1e6)
  b <- hook_kolmogorov_method(3e-5, 1e6, "squaring")
  expect_identical(a[["method"]], 1)
  expect_lt(a[["log_lower"]], -1000)
  expect_lte(rel(a[["log_lower"]], b[["log_lower"]]), 1e-14)
  a <- hook_kolmogorov_method(3e-4, 1e4)
  b <- hook_kolmogorov_method(3e-4, 1e4, "crossing")
  expect_lt(a[["log_lower"]], -1000)
  expect_lte(rel(a[["log_lower"]], b[["log_lower"]]), 1e-13)
  expect_identical(pkolmogorov(3e-4, 1e4), 0)
  # Upper tails: 2 p1 to far below 1e-300 (about 2 e^(-2 x^2)).
  l <- pkolmogorov(0.05, 1e6, lower.tail = FALSE, log.p = TRUE)
  expect_equal(l, log(2) - 2 * 0.05^2 * 1e6, tolerance = 1e-3)
  expect_identical(pkolmogorov(0.05, 1e6, lower.tail = FALSE, log.p = FALSE), 0)
})

test_that("quantiles at large n are the smallest double reaching p, in a handful of evaluations", {
  evals <- NULL
  for (n in c(2000, 1e5)) for (lower in c(TRUE, FALSE)) {
    p <- c(0.01, 0.3, 0.95, 0.999)
    r <- vapply(p, function(x) hook_kolmogorov_q(x, n, lower), numeric(2))
    d <- r[1, ]
    evals <- c(evals, r[2, ])
    if (n == 2000) expect_identical(qkolmogorov(p, n, lower.tail = lower), d)
    at <- pkolmogorov(d, n, lower.tail = lower)
    before <- pkolmogorov(prev_double(d), n, lower.tail = lower)
    if (lower) expect_true(all(at >= p & before < p), info = paste(n, lower))
    else expect_true(all(at <= p & before > p), info = paste(n, lower))
  }
  # Deep tails through the logarithm, and the one-sided law.
  lp <- log(c(1e-30, 1e-200))
  d <- qkolmogorov(lp, 1e5, lower.tail = FALSE, log.p = TRUE)
  expect_true(all(pkolmogorov(d, 1e5, lower.tail = FALSE, log.p = TRUE) <= lp))
  expect_true(all(pkolmogorov(prev_double(d), 1e5, lower.tail = FALSE, log.p = TRUE) > lp))
  d <- qkolmogorov(0.05, 1e6, lower.tail = FALSE, alternative = "greater")
  expect_lte(pkolmogorov(d, 1e6, lower.tail = FALSE, alternative = "greater"), 0.05)
  expect_gt(pkolmogorov(prev_double(d), 1e6, lower.tail = FALSE, alternative = "greater"), 0.05)
  expect_lte(mean(evals), 6)
})

test_that("the differentiated spectral sum is the density", {
  # Against the slope of the checkpoint recursion (a sum of positive terms),
  # at random n and d where the spectral sum applies; the cancellation
  # between its modes (kappa, up to 1e15 accepted) costs about 1e-29 kappa.
  set.seed(17)
  for (k in 1:8) {
    n <- round(exp(runif(1, log(300), log(3000))))
    d <- runif(1, 0.3, 4.4) / sqrt(n)
    a <- hook_kolmogorov_density(d, n, 0L, 5L)
    b <- hook_kolmogorov_density(d, n, 0L, 1L)
    if (is.na(a[1])) next
    expect_lte(abs(a[1] - b[1]) / b[1], 1e-15 + 1e-29 * a[3], label = sprintf("n = %d, d = %a", n, d))
  }
  # At large n it is dkolmogorov's, and the slope of pkolmogorov.
  d <- 0.0025
  f <- dkolmogorov(d, 1e6)
  expect_identical(f, hook_kolmogorov_density(d, 1e6, 0L, 5L)[1])
  h <- d * 1e-6
  slope <- (pkolmogorov(d + h, 1e6) - pkolmogorov(d - h, 1e6)) / (2 * h)
  expect_equal(f, slope, tolerance = 1e-6)
})
