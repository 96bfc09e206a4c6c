# Exact one-sample distribution P(D_n < d).

# Independent oracle: Steck's determinant for the probability that uniform
# order statistics lie in given bounds, in exact rational arithmetic.  With
# lower bounds u_i = max(0, i/n - d) and upper bounds v_i = min(1, (i-1)/n + d),
#   P(D_n < d) = n! det M,  M_ij = (v_i - u_j)_+^(j-i+1) / (j-i+1)!,
# and M is upper Hessenberg with ones below the diagonal, so its determinant
# follows from D_k = sum_i (-1)^(k-i) M_ik D_(i-1).
steck <- function(dq, n) {
  if (dq * n <= gmp::as.bigq(1, 2)) return(0)
  i <- seq_len(n)
  u <- gmp::as.bigq(i, n) - dq
  u[u < 0] <- gmp::as.bigq(0)
  v <- gmp::as.bigq(i - 1L, n) + dq
  v[v > 1] <- gmp::as.bigq(1)
  D <- gmp::as.bigq(rep(1, n + 1))
  for (k in seq_len(n)) {
    ii <- seq_len(k)
    x <- v[ii] - u[k]
    x[x < 0] <- gmp::as.bigq(0)
    p <- k - ii + 1L
    sgn <- ifelse((k - ii) %% 2 == 0, 1L, -1L)
    D[k + 1] <- sum(x^p / gmp::factorialZ(p) * D[ii] * sgn)
  }
  as.double(gmp::factorialZ(n) * D[n + 1])
}
# The compiled code sees d only through k - h with h = k - fl(n d): evaluate
# the exact probability at that point, which is within an ulp of d.
steck_at <- function(d, n) {
  t <- d * n
  k <- trunc(t) + 1
  h <- k - t
  steck((gmp::as.bigq(k) - gmp::as.bigq(h)) / n, n)
}

test_that("agrees with exact rational arithmetic for n up to 50", {
  skip_if_not_installed("gmp")
  set.seed(20261208)
  worst <- 0
  for (n in 1:50) {
    for (d in c(runif(3), (1:2) / n, 0.52 / n, 0.75, 1)) {
      exact <- steck_at(d, n)
      got <- pk2x(d, n)
      rel <- if (exact == 0) abs(got) else abs(got - exact) / exact
      worst <- max(worst, rel)
    }
  }
  expect_lt(worst, 1e-12)
})

test_that("the oracle itself reproduces closed forms", {
  skip_if_not_installed("gmp")
  # n = 1: P(D_1 < d) = 2d - 1 on [1/2, 1].
  expect_equal(steck(gmp::as.bigq(3, 4), 1), 0.5)
  # n = 2: (P = 2 (2d - 1/2)^2 on [1/4, 1/2]).
  expect_equal(steck(gmp::as.bigq(3, 8), 2), 2 * (3 / 4 - 1 / 2)^2)
  expect_equal(steck(gmp::as.bigq(1, 2), 4), 13 / 16)
})

test_that("worked values from the construction", {
  expect_equal(pk2x(0.274, 10), 0.628, tolerance = 1e-3)
  expect_ref_bits(pk2x(0.274, 10), pk2x_ref(0.274, 10))
  # n d an exact integer: k = n d + 1, h = 1, and the corner gets (2h - 1)^m.
  expect_identical(hex(pk2x(0.5, 4)), hex(13 / 16 + 2^-53))
  # m = 1 (1/(2n) < d <= 1/n): P = n! (2d - 1/n)^n.
  expect_identical(pk2x(0.75, 1), 0.5)
  expect_identical(hex(pk2x(0.15, 5)), "0x1.3a92a30553262p-10")
  expect_identical(hex(0.0012), "0x1.3a92a30553261p-10")
  # d >= 1 needs no special case inside the range; rounding may exceed 1.
  expect_identical(pk2x(1, 10), 1)
  expect_identical(hex(pk2x(0.95, 20)), hex(1 + 2 * 2^-52))
})

test_that("rescaling inside the power and in the factorial loop", {
  # (0.02, 1000): m = 41, rescales at two power levels and three times after.
  expect_equal(pk2x(0.02, 1000), 0.189, tolerance = 1e-3)
  expect_ref_bits(pk2x(0.02, 1000), pk2x_ref(0.02, 1000))
  # (0.06, 600): m = 73, one rescale in each place.
  expect_equal(pk2x(0.06, 600), 0.974, tolerance = 1e-3)
  expect_ref_bits(pk2x(0.06, 600), pk2x_ref(0.06, 600))
  # Far in the tail the exponent ends very negative and the result is tiny
  # but still exact to a relative 1e-12.
  skip_if_not_installed("gmp")
  expect_equal(pk2x(0.03, 200), steck_at(0.03, 200), tolerance = 1e-12)
})

test_that("bits match the reference operation order on random cases", {
  skip_if_valgrind()
  set.seed(7)
  n <- c(1, 2, 3, sample(4:60, 25, replace = TRUE))
  d <- c(0.9, 0.7, 0.5, runif(25, 0, 0.6))
  got <- mapply(pk2x, d, n)
  ref <- mapply(pk2x_ref, d, n)
  expect_identical(hex(got), hex(ref))
})

test_that("no mass below 1/(2n), and none lost at d = 0", {
  expect_identical(pk2x(0, 5), 0)
  expect_identical(pk2x(0.1, 5), 0)      # n d = 1/2 exactly after rounding
  expect_identical(pk2x(0.09, 5), 0)
  expect_gt(pk2x(0.11, 5), 0)
  expect_identical(pk2x(0, 1), 0)
})

test_that("arguments outside the domain are answered without computing", {
  expect_true(is.nan(pk2x(0.5, 0L)))
  expect_true(is.nan(pk2x(0.5, -3L)))
  r <- pk2x(0.5, NA_integer_)
  expect_true(is.na(r) && !is.nan(r))
  expect_true(is.nan(pk2x(NaN, 10L)))
  r <- pk2x(NA_real_, 10L)
  expect_true(is.na(r) && !is.nan(r))
  expect_identical(pk2x(Inf, 10L), 1)
  expect_identical(pk2x(-Inf, 10L), 0)
  expect_identical(pk2x(-1, 1L), 0)      # n d = -1: the corner lies outside
  expect_identical(pk2x(-0.5, 4L), 0)
  # n d beyond the range where the matrix can be formed.
  expect_identical(pk2x(1, 100000L), 1)
  expect_identical(pk2x(1.5, .Machine$integer.max), 1)
  expect_true(is.nan(pk2x(0.5, 100000L)))
  expect_true(is.nan(pk2x(0.99, 23406L)))
})

test_that("the decimal exponent cannot overflow for huge n", {
  # A zero centre element rescales at every one of the n steps; with
  # n = 2e7 the exponent passes -2^31 on the way.
  expect_identical(pk2x(1e-9, 20000000L), 0)
})
