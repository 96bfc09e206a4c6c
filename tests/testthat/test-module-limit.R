# The exact module's pKS2: Kolmogorov's limiting distribution K(x), its bits
# (against the straightforward version in helper-reference.R) and its values
# (against two independent series).

# Independent evaluation: each series summed until its terms vanish, no
# tolerance involved.  Both are exact identities of the theta function, so
# they check each other where both converge well.
K_alt <- function(x) {
  k <- 1:200
  vapply(x, function(xx) 1 - 2 * sum((-1)^(k - 1) * exp(-2 * k^2 * xx^2)), 0)
}
K_theta <- function(x, kk = seq(1, 199, by = 2)) {
  vapply(x, function(xx) sqrt(2 * pi) / xx * sum(exp(-kk^2 * pi^2 / (8 * xx^2))), 0)
}
# What the small-x branch leaves out when it sums the odd k below kmax.
theta_tail <- function(x, kmax) K_theta(x, seq(max(1, kmax + (kmax %% 2 == 0)), 199, by = 2))
kmax_of <- function(tol) trunc(sqrt(2 - log(tol)))

test_that("the two oracle series agree where both converge", {
  x <- seq(0.4, 1.6, by = 0.05)
  expect_lt(max(abs(K_alt(x) - K_theta(x))), 1e-14)
})

test_that("approximate values are within what the tolerance promises", {
  x <- c(0.3, 0.5, 0.8, 1, 1.2, 2)
  expect_equal(pks2(x, 1e-6), c(9.31e-6, 0.0361, 0.456, 0.730, 0.888, 0.999),
               tolerance = 2e-3)
  for (tol in c(1e-2, 1e-4, 1e-6, 1e-8, 1e-10, 1e-16)) {
    big <- c(1, 1.1, 1.5, 2, 3, 5)
    expect_true(all(abs(pks2(big, tol) - K_alt(big)) <= tol + 1e-15), label = paste("tol", tol))
    # Below 1 the series is cut by a term count fixed from tol; the result is
    # K(x) less exactly the terms it leaves out.
    small <- c(0.05, 0.2, 0.3, 0.5, 0.7, 0.9, 0.99)
    expected <- K_theta(small) - theta_tail(small, kmax_of(tol))
    expect_equal(pks2(small, tol), expected, tolerance = 1e-13, label = paste("tol", tol))
  }
})

test_that("results are bit-identical to the reference operation order", {
  skip_if_valgrind()
  set.seed(1)
  x <- c(runif(200, 0, 3), 1, 0.99, 1 - 2^-53, 0.5, 2, 10)
  for (tol in c(1e-2, 1e-6, 1e-10, 1e-16, 0.2)) {
    expect_identical(hex(pks2(x, tol)), hex(ks2_ref(x, tol)))
  }
})

test_that("the term count below 1 depends on the tolerance only", {
  # kmax = 3 sums k = 1; kmax = 5 sums k = 1, 3.
  d <- pks2(0.99, 1e-6) - pks2(0.99, 1e-10)
  expect_gt(abs(d), 1e-5)
  expect_lt(abs(d), 5e-5)
  expect_false(identical(pks2(0.8, 1e-6), pks2(0.8, 1e-10)))
  expect_equal(pks2(0.8, 1e-6), pks2(0.8, 1e-10), tolerance = 1e-5)
  # x = 1 belongs to the alternating series.
  expect_equal(pks2(1, 1e-6), 0.7300003283, tolerance = 1e-9)
  expect_ref_bits(pks2(1, 1e-6), ks2_ref(1, 1e-6))
})

test_that("tolerances at and beyond the edges", {
  x <- c(0.5, 0.99, 1, 2, NaN)
  # Above e^-2 no small-x term is summed; x >= 1 is still summed.
  r <- pks2(x, 0.2)
  expect_identical(r[1:2], c(0, 0))
  expect_equal(r[3], 0.730, tolerance = 1e-3)
  expect_true(is.nan(r[5]))
  # tol >= 1: 1 for x >= 1 and NaN, 0 below 1.
  for (tol in c(1, 5, 1e300, Inf)) {
    expect_identical(pks2(x, tol), c(0, 0, 1, 1, 1), label = paste("tol", tol))
  }
  # A missing tolerance leaves every result missing, of its own kind.
  expect_identical(pks2(x, NaN), rep(NaN, 5))
  expect_identical(pks2(x, NA), rep(NA_real_, 5))
  expect_identical(pks2(x, NA_real_), rep(NA_real_, 5))
  expect_identical(pks2(numeric(0), NA), numeric(0))
  r <- pks2(c(0.5, 0.9), NA)
  expect_true(all(is.na(r) & !is.nan(r)))
  # tol = 0: the alternating series ends when terms stop changing the sum;
  # below 1 the term bound is not representable and nothing is summed.
  r0 <- pks2(x, 0)
  expect_identical(r0[1:2], c(0, 0))
  expect_equal(r0[3:4], K_alt(c(1, 2)), tolerance = 1e-15)
})

test_that("a negative tolerance ends instead of hanging", {
  r <- pks2(c(0.5, 1, 2, Inf, NaN), -1)
  expect_identical(r[1], 0)
  expect_equal(r[2:3], K_alt(c(1, 2)), tolerance = 1e-15)
  expect_identical(r[4], 1)
  expect_true(is.nan(r[5]))
  expect_identical(pks2(c(1, 3), -Inf)[2], pks2(3, 0))
})

test_that("special statistics", {
  expect_identical(pks2(numeric(0), 1e-6), numeric(0))
  expect_identical(pks2(Inf), 1)
  expect_true(is.nan(pks2(NaN)))
  expect_true(is.na(pks2(NA_real_)))
  # x = 0 and x < 0 are NaN once a term is summed, 0 when none is.
  expect_true(all(is.nan(pks2(c(0, -0.5, -Inf), 1e-6))))
  expect_identical(pks2(c(0, -0.5), 0.2), c(0, 0))
  # Very small x underflows to exactly 0.
  expect_identical(pks2(0.01), 0)
})

test_that("the input is left untouched and the result is a new vector", {
  x <- c(0.5, 1, 1.5)
  keep <- x + 0
  r <- pks2(x)
  expect_identical(x, keep)
  expect_false(identical(r, x))
  # Attributes come along with the copy.
  y <- c(a = 1, b = 2)
  expect_named(pks2(y), c("a", "b"))
})

test_that("integer and logical statistics are coerced, other types refused", {
  xi <- 1:3
  expect_identical(pks2(xi), pks2(c(1, 2, 3)))
  expect_identical(xi, 1:3)
  expect_identical(pks2(c(TRUE, NA)), c(pks2(1), NA_real_))
  expect_identical(pks2(NULL), numeric(0))
  expect_error(pks2("1"), "cannot coerce type 'character' to vector of type 'double'")
  expect_error(pks2(list(1)), "cannot coerce type 'list'")
  expect_error(pks2(sum), "cannot coerce type 'builtin'")
  expect_error(pks2(globalenv()), "cannot coerce type 'environment'")
})
