# The one-sample law for nulls with jumps in the second shared object
# (hook_discrete: c(value, log), rel 0: P(D < d), 1: P(D <= d), 2: P(D > d),
# 3: P(D >= d)), against complete enumeration and Steck's determinant
# (tools/make-discrete-references.R), the continuous law and a simulation.

kr <- hook_discrete
hexv <- function(s) as.numeric(strsplit(s, ",")[[1]])

test_that("equals complete enumeration and Steck's determinant", {
  ref <- read_ref("ref-discrete-engine.csv", "d")
  # Each null once: its intervals, lo;hi in hexadecimal.
  nulls <- lapply(strsplit(unique(ref$null), ";"), function(p) list(lo = hexv(p[1]), hi = hexv(p[2])))
  which_null <- match(ref$null, unique(ref$null))
  got <- vapply(seq_len(nrow(ref)), function(i) {
    nl <- nulls[[which_null[i]]]
    kr(ref$n[i], ref$d[i], nl$lo, nl$hi, ref$alt[i], ref$rel[i])[1]
  }, 0)
  e <- ifelse(ref$value == 0, got, abs(got - ref$value) / ref$value)
  w <- which.max(e)
  expect_lte(max(e), 1e-12, label = sprintf("relative error at %s %s n=%d d=%s alt=%d rel=%d",
                                            ref$method[w], ref$name[w], ref$n[w], ref$d[w], ref$alt[w], ref$rel[w]))
  expect_true(all(c("enum", "steck") %in% ref$method))
  expect_gte(length(unique(ref$name[ref$method == "enum"])), 3)
})

test_that("the continuous range [0, 1] gives the continuous distribution", {
  set.seed(5)
  ks1 <- hook_kolmogorov
  for (k in 1:40) {
    n <- sample(c(1:12, 40, 150), 1)
    alt <- sample(0:2, 1)
    d <- runif(1, 0.3 / n, 2 / sqrt(n))
    lo <- kr(n, d, 0, 1, alt, 0L)
    up <- kr(n, d, 0, 1, alt, 3L)
    expect_equal(lo[1], ks1(d, n, alt, FALSE)[1], tolerance = 1e-12)
    expect_equal(up[1], ks1(d, n, alt, TRUE)[1], tolerance = 1e-12)
    # without atoms, < and <= agree, and so do > and >=
    expect_equal(kr(n, d, 0, 1, alt, 1L)[1], lo[1], tolerance = 1e-14)
    expect_equal(kr(n, d, 0, 1, alt, 2L)[1], up[1], tolerance = 1e-14)
  }
})

test_that("an observed statistic finds its own atom whatever its rounding", {
  u <- c(0, ppois(0:9, 2.5), 1)
  n <- 40
  d <- abs(17 / n - ppois(2, 2.5)) # as a test computes it
  ge <- kr(n, d, u, u, 0L, 3L)[1]
  gt <- kr(n, d, u, u, 0L, 2L)[1]
  expect_gt(ge - gt, 1e-4) # P(D = d) > 0
  for (eps in c(-3e-15, 3e-15, 2e-12)) {
    expect_equal(kr(n, d + eps, u, u, 0L, 3L)[1], ge, tolerance = 1e-13)
    expect_equal(kr(n, d + eps, u, u, 0L, 2L)[1], gt, tolerance = 1e-13)
  }
  expect_equal(kr(n, d, u, u, 0L, 0L)[1] + ge, 1, tolerance = 1e-14)
  expect_equal(kr(n, d, u, u, 0L, 1L)[1] + gt, 1, tolerance = 1e-14)
  # a degenerate null (one atom) has D = 0
  expect_identical(kr(9, 0, c(0, 1), c(0, 1), 0L, 1L)[1], 1)
  expect_identical(kr(9, 0, c(0, 1), c(0, 1), 0L, 0L)[1], 0)
})

test_that("the Poisson example agrees with its simulation", {
  # set.seed(42); x <- rpois(30, 3.6) against Poisson(3): D = 0.2486, and
  # 1e5 simulated samples from the null gave P(D >= 0.2486) = 0.0092 +- 0.0003.
  set.seed(42)
  x <- rpois(30, 3.6)
  u <- c(0, ppois(0:25, 3), 1)
  D <- max(abs(ecdf(x)(0:26) - u[-1]))
  expect_equal(D, 0.2486, tolerance = 1e-3)
  p <- kr(30, D, u, u, 0L, 3L)
  expect_lt(abs(p[1] - 0.0092), 4 * 0.0003)
})

test_that("the tails add up and stay in [0, 1] for mixed nulls", {
  set.seed(9)
  for (k in 1:30) {
    m <- sample(1:6, 1)
    pts <- sort(runif(2 * m))
    lo <- pts[c(TRUE, FALSE)]
    hi <- pts[c(FALSE, TRUE)]
    atom <- runif(m) < 0.5
    hi[atom] <- lo[atom]
    lo <- c(0, lo, 1)
    hi <- c(0, hi, 1)
    n <- sample(c(1, 5, 33, 250), 1)
    d <- runif(1, 0, 0.6)
    for (alt in 0:2) {
      a <- kr(n, d, lo, hi, alt, 0L)
      b <- kr(n, d, lo, hi, alt, 3L)
      expect_true(all(c(a[1], b[1]) >= 0 & c(a[1], b[1]) <= 1))
      expect_lte(abs(a[1] + b[1] - 1), 1e-12)
    }
  }
})

test_that("bad intervals are refused, memory is bounded", {
  expect_error(kr(5, 0.1, c(0.5, 0.2), c(0.6, 0.3)), "sorted")
  expect_error(kr(5, 0.1, c(0, 0.5), c(0.6, 1)), "disjoint")
  expect_error(kr(5, 0.1, 0.2, 0.1), "lo <= hi")
  expect_error(kr(5, 0.1, c(0, 1), 1), "same positive length")
  expect_true(is.nan(kr(5, NaN, 0, 1)[1]))
  withr::with_options(list(ksdist.max_bytes = 1e4), {
    expect_error(kr(1e5, 0.3, 0, 1, 1L, 0L), "ksdist.max_bytes")
  })
})

test_that("atoms that cannot move the law are left out, and the law stays exact", {
  # A null with many atoms (far more than 2 n + 8, so the engine compresses
  # them) against the same null with its atoms thinned to those the bounds
  # can tell apart: and against the whole-number support found by ks_test.
  set.seed(6)
  u <- sort(unique(c(0, runif(400) * runif(400), 1)))
  for (n in c(3L, 10L, 40L)) for (alt in 0:2) for (d in c(0.05, 0.2, 0.37, 0.6)) {
    full <- hook_discrete(n, d, u, u, alt, 3L)
    # Keep only the largest atom below each (k + 1)/n - d and the smallest
    # above each (k - 1)/n + d: the atoms that set distinct bounds.
    keep <- unique(c(0, 1, unlist(lapply(0:n, function(k) {
      c(max(u[u < (k + 1) / n - d], 0), min(u[u > (k - 1) / n + d], 1))
    }))))
    keep <- sort(keep)
    thin <- hook_discrete(n, d, keep, keep, alt, 3L)
    expect_equal(full, thin, tolerance = 1e-14, label = sprintf("n = %d, alt = %d, d = %g", n, alt, d))
  }
  expect_identical(pkolmogorov_discrete(c(0.1, 0.3), 25, "ppois", lambda = 2, support = 0:1e6),
                   pkolmogorov_discrete(c(0.1, 0.3), 25, "ppois", lambda = 2, support = 0:60))
})
