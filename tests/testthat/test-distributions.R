# The d/p/q/r families of the exact one- and two-sample laws: R's
# conventions (P(X <= x) for the discrete two-sample law, both tails, logs,
# recycling, missing values, attributes), the exact module's bits where the
# lower tail is at least 1/2, quantiles that are the smallest double or
# attained value reaching p, and draws.

prev_double <- function(v) .Call(ksdist:::.ext$ksx_prev_double, v)

test_that("pkolmogorov: the module's bits where the lower tail is at least 1/2", {
  cases <- rbind(c(0.274, 10), c(0.3, 20), c(0.06, 600), c(0.02, 1000), c(0.5, 4), c(0.95, 20))
  for (k in seq_len(nrow(cases))) {
    d <- cases[k, 1]; n <- cases[k, 2]
    v <- .Call("pKolmogorov2x", d, as.integer(n), PACKAGE = "ksdist")
    if (v >= 0.5) expect_identical(pkolmogorov(d, n), min(v, 1))
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
    ok <- lo > 1e-300 & lo < 1
    expect_equal(pkolmogorov(d, n, log.p = TRUE)[ok], log(lo[ok]), tolerance = 1e-13)
    ok <- up > 1e-300 & up < 1
    expect_equal(pkolmogorov(d, n, lower.tail = FALSE, log.p = TRUE)[ok], log(up[ok]), tolerance = 1e-13)
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
  expect_identical(dim(psmirnov2(m, 10, 12, lower.tail = FALSE)), c(2L, 2L))
  # The first argument of full length gives the attributes.
  expect_identical(names(pkolmogorov(0.2, c(a = 10, b = 20))), c("a", "b"))
  expect_identical(names(psmirnov2(0.3, 10, c(x = 12, y = 14))), c("x", "y"))
})

test_that("bad arguments are refused with messages that name them", {
  expect_error(pkolmogorov("0.3", 10), "'q' must be a numeric vector")
  expect_error(pkolmogorov(0.3, 0), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, 2.5), "got 2.5")
  expect_error(pkolmogorov(0.3, 3e9), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, TRUE), "'n' must be a numeric vector")
  expect_error(pkolmogorov(0.3, 10, lower.tail = NA), "'lower.tail' must be TRUE or FALSE")
  expect_error(pkolmogorov(0.3, 10, log.p = "yes"), "'log.p' must be TRUE or FALSE")
  expect_error(pkolmogorov(0.3, 10, alternative = "both"), "'alternative' must be one of")
  expect_identical(pkolmogorov(0.3, 10, alternative = "g"), pkolmogorov(0.3, 10, alternative = "greater"))
  expect_error(psmirnov2(0.5, 0, 5), "'m' must contain positive whole numbers")
  expect_error(psmirnov2(list(0.5), 5, 6), "'q' must be a numeric vector")
  expect_error(psmirnov2(0.5, 4, 6, pooled = 1:9), "adding up to the length of 'pooled'")
  expect_error(pkolmogorov_discrete(0.3, 10, "ppois", lambda = 3), "'support' must give")
})

test_that("the memory limit is honoured with a readable message", {
  withr::local_options(ksdist.max_bytes = 1e-300)
  expect_error(pkolmogorov(0.3, 100, lower.tail = FALSE), "1e-300 bytes \\(option 'ksdist.max_bytes'\\)")
  withr::local_options(ksdist.max_bytes = "lots")
  expect_error(pkolmogorov(0.3, 100, lower.tail = FALSE), "ksdist.max_bytes")
})

test_that("psmirnov2 is P(D <= q), the module's bits where at least 1/2", {
  # m = n = 5: D takes the values k/5; P(D <= 0.2) = P(D < 0.4) = 8/63.
  expect_equal(psmirnov2(c(0.2, 0.3, 0.4), 5, 5), c(8 / 63, 8 / 63, 9 / 14), tolerance = 1e-15)
  for (s in list(c(10, 12), c(4, 6), c(30, 45), c(10, 10), c(1, 5))) {
    m <- s[1]; n <- s[2]
    k <- 0:(m * n)
    lo <- psmirnov2(k / (m * n), m, n)
    up <- psmirnov2(k / (m * n), m, n, lower.tail = FALSE)
    expect_lt(max(abs(lo + up - 1)), 1e-14)
    mod <- vapply(k, function(kk) .Call("pSmirnov2x", (kk + 0.5) / (m * n), as.integer(m),
                                         as.integer(n), PACKAGE = "ksdist"), 0)
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

test_that("quantiles are the smallest double (one sample) or attained value (two samples) reaching p", {
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
  expect_warning(r <- qkolmogorov(c(-0.1, 0.5, 2), 10), "NaNs produced")
  expect_true(is.nan(r[1]) && is.nan(r[3]))

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

test_that("draws are reproducible and follow the exact laws", {
  set.seed(8)
  a <- rkolmogorov(3000, 25)
  set.seed(8)
  expect_identical(rkolmogorov(3000, 25), a)
  for (q in c(0.15, 0.25, 0.35))
    expect_lt(abs(mean(a <= q) - pkolmogorov(q, 25)), 5 * sqrt(0.25 / 3000))
  g <- rkolmogorov(3000, 25, alternative = "greater")
  expect_lt(abs(mean(g <= 0.2) - pkolmogorov(0.2, 25, alternative = "greater")), 5 * sqrt(0.25 / 3000))
  b <- rsmirnov2(3000, 10, 12)
  expect_equal(b * 120, round(b * 120))
  for (q in c(0.3, 0.5))
    expect_lt(abs(mean(b <= q) - psmirnov2(q, 10, 12)), 5 * sqrt(0.25 / 3000))
  z <- c(1, 1, 2, 2, 2, 3, 4, 4, 5, 6)
  tb <- rsmirnov2(3000, 4, 6, pooled = z, alternative = "greater")
  expect_lt(abs(mean(tb <= 0.25) - psmirnov2(0.25, 4, 6, pooled = z, alternative = "greater")),
            5 * sqrt(0.25 / 3000))
  expect_length(rsmirnov2(c(1, 1, 1), 5, 5), 3)
  expect_error(rkolmogorov(-1, 5), "invalid arguments")
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
  expect_error(dkolmogorov(0.2, 10, log = NA), "'log' must be TRUE or FALSE")
  expect_identical(dkolmogorov(0.2, integer(0)), numeric(0))
})

test_that("nulls with jumps: p- and q-functions", {
  F0 <- ecdf(c(1, 2, 2, 3, 3, 3))
  p <- pkolmogorov_discrete(c(0.1, 0.3, 0.5), 12, F0)
  expect_false(is.unsorted(p))
  expect_lt(max(abs(p + pkolmogorov_discrete(c(0.1, 0.3, 0.5), 12, F0, lower.tail = FALSE) - 1)), 1e-13)
  q <- qkolmogorov_discrete(c(0.5, 0.9, 0.99), 30, "ppois", lambda = 3, support = 0:40)
  at <- pkolmogorov_discrete(q, 30, "ppois", lambda = 3, support = 0:40)
  before <- pkolmogorov_discrete(q - 1e-9, 30, "ppois", lambda = 3, support = 0:40)
  expect_true(all(at >= c(0.5, 0.9, 0.99) & before < c(0.5, 0.9, 0.99)))
})

test_that("attaching the package masks nothing", {
  skip_on_cran()
  lib <- dirname(system.file(package = "ksdist"))
  out <- system2(file.path(R.home("bin"), "Rscript"),
                 c("-e", shQuote(sprintf(".libPaths(c('%s', .libPaths())); library(ksdist); cat('attached\\n')", lib))),
                 stdout = TRUE, stderr = TRUE)
  expect_true(any(grepl("attached", out)))
  expect_false(any(grepl("masked", out)))
  base <- c("stats", "graphics", "grDevices", "utils", "datasets", "methods", "base")
  others <- unlist(lapply(base, function(p) ls(paste0("package:", p), all.names = TRUE)))
  expect_length(intersect(getNamespaceExports("ksdist"), others), 0)
})
