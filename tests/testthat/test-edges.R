# Edge values of every law against exact references, through the functions
# users call: values and logarithms where the tails are tiny, near 1 (where
# the log must come from the other tail, log1p(-other)), at the corners of
# the one-sample support and far out in the limiting law.  ref-edges.csv is
# made by tools/make-edge-references.R; the engine tables of the two exact
# laws are read here too, for the logarithms the R functions return.

# Relative error of a value or a logarithm (absolute where the reference
# rounds to 0); an infinite log must come out as itself.
edge_err <- function(got, ref) {
  ifelse(is.infinite(ref), ifelse(got == ref, 0, Inf), ifelse(ref == 0, abs(got), abs(got - ref) / abs(ref)))
}

test_that("corners, far tails and the limiting law's extremes match exact values", {
  ref <- read_ref("ref-edges.csv", c("x", "value", "log"))
  expect_gt(nrow(ref), 100)
  got <- t(vapply(seq_len(nrow(ref)), function(i) {
    r <- ref[i, ]
    lower <- r$tail == "lower"
    f <- switch(r$family,
      kolmogorov = function(lg) pkolmogorov(r$x, r$n, lower.tail = lower, log.p = lg, alternative = r$alt),
      limit = function(lg) pkolmogorov_limit(r$x, lower.tail = lower, log.p = lg, alternative = r$alt),
      limit_density = function(lg) dkolmogorov_limit(r$x, log = lg, alternative = r$alt))
    c(f(FALSE), f(TRUE))
  }, c(0, 0)))
  # Values at or above the smallest normal double carry their relative
  # accuracy; below it the logarithm does.
  normal <- ref$value >= 2^-1022
  err_value <- edge_err(got[normal, 1], ref$value[normal])
  err_log <- edge_err(got[, 2], ref$log)
  # A few units in the last place at most (0.5e-15 measured).
  expect_lte(max(err_value), 2e-15)
  expect_lte(max(err_log), 2e-15)
  # Below half the smallest subnormal the value itself rounds to 0.
  gone <- ref$log < log(2^-1075)
  expect_identical(got[gone, 1], rep(0, sum(gone)))
})

test_that("logarithms of the exact two-sample and one-sample tails, near 1 too", {
  # The R functions take the log of a tail near 1 from the other tail, so
  # that log P = -1e-17 keeps its digits (log() of the rounded value gives
  # 0 or -2.2e-16 there).
  sm <- utils::read.csv(test_path("ref-smirnov-engine.csv"), colClasses = c(K = "character", blocks = "character"))
  alt_name <- c("two.sided", "greater", "less")
  worst <- 0
  for (r in seq_len(nrow(sm))) {
    x <- sm[r, ]
    pooled <- if (nzchar(x$blocks)) rep(seq_along(b <- as.integer(strsplit(x$blocks, " ")[[1]])), b)
    for (tail in c("lower", "upper")) {
      lg <- x[[paste0(tail, "_log")]]
      got <- psmirnov2(as.numeric(x$K) / (x$m * x$n), x$m, x$n, lower.tail = tail == "lower",
                       log.p = TRUE, alternative = alt_name[x$alt + 1], pooled = pooled)
      worst <- max(worst, edge_err(got, lg))
    }
  }
  expect_lte(worst, 1e-13)
  expect_gt(sum(sm$upper_log > -1e-8 & sm$upper_log < 0) + sum(sm$lower_log > -1e-8 & sm$lower_log < 0), 8)

  ko <- read_ref("ref-kolmogorov-engine.csv", c("d", "value", "log"))
  got <- mapply(function(d, n, alt, tail) {
    pkolmogorov(d, n, lower.tail = tail == 0, log.p = TRUE, alternative = alt_name[alt + 1])
  }, ko$d, ko$n, ko$alt, ko$tail)
  expect_lte(max(edge_err(got, ko$log)), 1e-13)
})

test_that("no NaN for any valid argument, over the whole double range", {
  x <- c(-Inf, -1e308, -1, -1e-300, 0, 5e-324, 1e-310, 1e-300, 1e-200, 1e-155, 1e-100, 1e-20, 1e-8,
         0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 1, 1 + 1e-15, 1.5, 2, 5, 30, 1e10, 1e100, 1e300, 1e308, Inf)
  p <- c(0, 5e-324, 1e-300, 1e-100, 1e-20, 0.01, 0.5, 0.99, 1 - 1e-16, 1)
  lp <- c(-Inf, -1e308, -1e6, -745, -700, -50, -1, -1e-10, -1e-300, 0)
  nan <- character()
  sweep <- function(tag, v) if (any(is.nan(v))) nan <<- c(nan, tag)
  for (a in c("two.sided", "less", "greater")) {
    for (lt in c(TRUE, FALSE)) {
      for (lg in c(FALSE, TRUE)) {
        sweep(paste("pkolmogorov_limit", a, lt, lg), pkolmogorov_limit(x, lower.tail = lt, log.p = lg, alternative = a))
        for (n in c(1, 3, 10, 100))
          sweep(paste("pkolmogorov", n, a, lt, lg), pkolmogorov(x, n, lower.tail = lt, log.p = lg, alternative = a))
        for (mn in list(c(3, 5), c(10, 10)))
          sweep(paste("psmirnov2", mn, a, lt, lg), psmirnov2(x, mn[1], mn[2], lower.tail = lt, log.p = lg, alternative = a))
        sweep(paste("pkolmogorov_discrete", a, lt, lg),
              pkolmogorov_discrete(x, 5, "ppois", lambda = 2, support = 0:30, lower.tail = lt, log.p = lg, alternative = a))
      }
      for (lg in c(FALSE, TRUE)) {
        pp <- if (lg) lp else p
        sweep(paste("qkolmogorov_limit", a, lt, lg), qkolmogorov_limit(pp, lower.tail = lt, log.p = lg, alternative = a))
        for (n in c(1, 10, 100))
          sweep(paste("qkolmogorov", n, a, lt, lg), qkolmogorov(pp, n, lower.tail = lt, log.p = lg, alternative = a))
        sweep(paste("qsmirnov2", a, lt, lg), qsmirnov2(pp, 4, 6, lower.tail = lt, log.p = lg, alternative = a))
        sweep(paste("qkolmogorov_discrete", a, lt, lg),
              qkolmogorov_discrete(pp, 5, "ppois", lambda = 2, support = 0:30, lower.tail = lt, log.p = lg, alternative = a))
      }
    }
    for (lg in c(FALSE, TRUE)) {
      sweep(paste("dkolmogorov_limit", a, lg), dkolmogorov_limit(x, log = lg, alternative = a))
      for (n in c(1, 3, 10, 100)) sweep(paste("dkolmogorov", n, a, lg), dkolmogorov(x, n, log = lg, alternative = a))
      sweep(paste("dsmirnov2", a, lg), dsmirnov2(x, 4, 6, log = lg, alternative = a))
    }
  }
  expect_identical(nan, character())
})
