# The engine of the one-sample power (src/ext/power.cpp): the order
# statistics of n uniforms within bounds, both tails, against Steck's
# determinant in rational arithmetic (tools/make-power-references.R, and
# live on small cases), the continuous law, and its own edge cases.

hexv <- function(s) if (is.na(s) || !nzchar(s)) NULL else as.numeric(strsplit(s, ";")[[1]])

test_that("both tails equal Steck's determinant on mapped and random bounds", {
  ref <- read_ref("ref-power-steck.csv", c("stay_hi", "stay_lo", "leave_hi", "leave_lo"))
  err <- vapply(seq_len(nrow(ref)), function(k) {
    v <- hook_order_bounds(ref$n[k], hexv(ref$l[k]), hexv(ref$r[k]))
    c(rel_exact(v[1], ref$stay_hi[k], ref$stay_lo[k]), rel_exact(v[2], ref$leave_hi[k], ref$leave_lo[k]))
  }, c(0, 0))
  w <- which.max(apply(err, 2, max))
  expect_lte(max(err), 1e-10, label = sprintf("relative error (worst: %s, n = %d)", ref$name[w], ref$n[w]))
  expect_gte(max(ref$n), 300)
  expect_true(all(c("flat stretch", "mixed", "poisson", "random") %in% ref$name))
  expect_true(all(c("two.sided", "greater", "less") %in% ref$alternative))
})

test_that("small random bounds agree with Steck's determinant computed here", {
  skip_if_not_installed("gmp")
  set.seed(11)
  for (k in 1:30) {
    n <- sample(1:7, 1)
    l <- cummax(sort(runif(n)) * runif(1, 0.3, 1))
    r <- cummax(pmin(1, l + runif(n, 0, 0.8)))
    side <- sample(c("both", "l", "r"), 1)
    L <- if (side == "r") NULL else l
    R <- if (side == "l") NULL else r
    exact <- steck_det(gmp::as.bigq(if (is.null(L)) rep(0, n) else L),
                       gmp::as.bigq(if (is.null(R)) rep(1, n) else R))
    v <- hook_order_bounds(n, L, R)
    ex <- as.double(exact)
    expect_lte(abs(v[1] - ex), 1e-14 * max(ex, 1e-300) + 1e-300)
    expect_lte(abs(v[2] - as.double(1 - exact)), 1e-14 * as.double(1 - exact) + 1e-300)
  }
})

test_that("the band of the test itself gives the continuous law", {
  for (n in c(1, 7, 40, 400)) for (alt in 0:2) {
    d <- qkolmogorov(0.9, n, alternative = c("two.sided", "greater", "less")[alt + 1])
    i <- seq_len(n)
    l <- if (alt != 2) pmin(1, pmax(0, i / n - d))
    r <- if (alt != 1) pmin(1, pmax(0, (i - 1) / n + d))
    v <- hook_order_bounds(n, l, r)
    # D+ is the side of l, D- that of r: the same law.
    expect_equal(v[1], hook_kolmogorov(d, n, alt, FALSE)[1], tolerance = 1e-12)
    expect_equal(v[2], hook_kolmogorov(d, n, alt, TRUE)[1], tolerance = 1e-12)
    expect_equal(v[3], log(v[1]), tolerance = 1e-12)
  }
})

test_that("impossible and empty bounds", {
  # l_i >= r_i: no room for U_(i).
  v <- hook_order_bounds(3, c(0.1, 0.5, 0.6), c(0.4, 0.5, 0.9))
  expect_identical(v[1:2], c(0, 1))
  v <- hook_order_bounds(2, c(0, 1), NULL) # U_(2) > 1
  expect_identical(v[1:2], c(0, 1))
  v <- hook_order_bounds(2, NULL, c(0, 1)) # U_(1) < 0
  expect_identical(v[1:2], c(0, 1))
  # Bounds that ask nothing.
  v <- hook_order_bounds(5, rep(0, 5), rep(1, 5))
  expect_identical(v[1:2], c(1, 0))
  v <- hook_order_bounds(4, NULL, NULL)
  expect_identical(v[1:2], c(1, 0))
  # One point: P(l < U < r) = r - l, both tails exactly.
  v <- hook_order_bounds(1, 0.25, 0.625)
  expect_identical(v[1:2], c(0.375, 0.625))
})

test_that("bad bounds are refused", {
  bad <- list(list(3, c(0.1, NaN, 0.3), NULL), list(3, c(0.3, 0.2, 0.4), NULL),
              list(2, NULL, c(0.5, 1.5)), list(2, c(-0.1, 0.5), NULL), list(3, c(0.1, 0.2), NULL),
              list(0, NULL, NULL), list(2.5, NULL, NULL), list(NA, NULL, NULL), list(2, 1:2, NULL))
  for (b in bad) expect_error(do.call(hook_order_bounds, b))
})

test_that("midpoints in the order of the doubles", {
  btw <- function(a, b) .Call(ext_routine("ksx_between_double"), a, b)
  expect_identical(btw(1, 1 + 2^-52), 1)
  expect_identical(btw(-Inf, Inf), 0)
  expect_identical(btw(0, Inf), 1.5) # halfway in exponent
  expect_identical(btw(-1, 1), 0)
  x <- btw(2^-1074, 1)
  expect_true(x > 2^-1074 && x < 1)
  # 64 halvings at most close any bracket.
  lo <- -Inf
  hi <- Inf
  k <- 0
  while ((m <- btw(lo, hi)) != lo) {
    if (m < pi) lo <- m else hi <- m
    k <- k + 1
  }
  expect_lte(k, 64)
  expect_identical(hi, pi)
  expect_error(btw(1, 0))
  expect_error(btw(NaN, 1))
})
