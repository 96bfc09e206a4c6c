# power_ks_test for two samples: the simulated power of the exact test, its
# stream (seeded, the session's state put back, nested across sizes), the
# statistic of a block of samples against ks_test's own, and the exact
# case of one continuous distribution.

two <- function(...) power_ks_test(...)
g08 <- function(q) pnorm(q, 0.8)

test_that("the statistic of each sample equals ks_test's, with and without ties", {
  ns <- asNamespace("ksdist")
  set.seed(3)
  for (rep in 1:4) {
    n <- sample(2:15, 1)
    m <- sample(2:15, 1)
    x <- matrix(round(rnorm(60 * n), 1), 60, n)
    y <- matrix(round(rnorm(60 * m, 0.3), 1), 60, m)
    for (k in 1:3) {
      st <- ns$two_statistics(x, y, k)
      own <- lapply(1:60, function(r) .Call(ext_routine("ksx_smirnov_statistic"), x[r, ], y[r, ]))
      expect_identical(st$K, vapply(own, function(s) s$K[k], 0))
      expect_identical(st$ties, vapply(own, function(s) !is.null(s$blocks), TRUE))
    }
  }
})

test_that("a seed makes it reproducible and leaves the session's stream alone", {
  set.seed(99)
  before <- .Random.seed
  a <- two(12, true = list(x = "pnorm", y = g08), nsim = 200, seed = 5)
  expect_identical(.Random.seed, before)
  b <- two(12, true = list(x = "pnorm", y = g08), nsim = 200, seed = 5)
  expect_identical(a$power, b$power)
  expect_equal(a$mc.se, sqrt(a$power * (1 - a$power) / 200))
  # Without a seed it draws from the session's stream, as simulations do.
  set.seed(1)
  c1 <- two(12, true = list(x = "pnorm", y = g08), nsim = 100)
  set.seed(1)
  c2 <- two(12, true = list(x = "pnorm", y = g08), nsim = 100)
  expect_identical(c1$power, c2$power)
  # A session without a stream yet still has none after.
  rm(".Random.seed", envir = globalenv())
  two(5, true = list(x = "pnorm", y = g08), nsim = 100, seed = 2)
  expect_false(exists(".Random.seed", envir = globalenv(), inherits = FALSE))
})

test_that("one continuous distribution: exactly the size; simulated, within 4 standard errors of it", {
  r <- two(c(8, 20), m = 15, true = list(x = "pnorm", y = "pnorm"))
  q <- qsmirnov2(0.05, c(8, 20), 15, lower.tail = FALSE)
  expect_equal(r$power, psmirnov2(q, c(8, 20), 15, lower.tail = FALSE))
  expect_identical(r$mc.se, c(0, 0))
  expect_match(r$method, "Exact")
  # The same law given two ways is simulated; it must agree.
  s <- two(20, m = 15, true = list(x = "pnorm", y = function(q) pnorm(q)), nsim = 600, seed = 3)
  expect_lt(abs(s$power - r$power[2]) / sqrt(r$power[2] * (1 - r$power[2]) / 600), 4)
})

test_that("ties: a discrete truth is tested with the exact law given the ties", {
  # Both samples Poisson(2): the conditional test has size at most 0.05
  # given every tie pattern, so the simulated power stays below it.
  P <- function(q) ppois(q, 2)
  r <- two(15, true = list(x = P, y = function(q) ppois(q, 2)), nsim = 300, seed = 8)
  expect_lt(r$power, 0.05 + 4 * r$mc.se)
  expect_match(r$note, "given the ties")
})

test_that("the sample size: the simulated power reaches the target there, not one below", {
  r <- two(power = 0.8, true = list(x = "pnorm", y = function(q) pnorm(q, 1.5)), nsim = 200, seed = 4)
  p <- two(r$n - 0:1, true = list(x = "pnorm", y = function(q) pnorm(q, 1.5)), nsim = 200, seed = 4)$power
  expect_identical(p[1], r$power)
  expect_gte(p[1], 0.8)
  expect_lt(p[2], 0.8)
  expect_identical(r$m, r$n)
})
