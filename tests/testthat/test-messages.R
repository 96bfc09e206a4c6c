# The errors and warnings a user reads, word for word: the argument checks
# of the exported functions, ks_test's refusals and warnings, and the
# memory limit.  The snapshots are in _snaps/messages.md; after a deliberate
# change of wording, review it with testthat::snapshot_review().  That each
# call is refused (or warns) at all is part of the snapshot too.

test_that("the one-sample law's functions name the argument they refuse", {
  expect_snapshot(error = TRUE, pkolmogorov("0.3", 10))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 0))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 2.5))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 3e9))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, TRUE))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, lower.tail = NA))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, log.p = "yes"))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, alternative = "both"))
  expect_snapshot(error = TRUE, dkolmogorov(0.2, 10, log = NA))
  expect_snapshot(error = TRUE, rkolmogorov(-1, 5))
  expect_snapshot(qkolmogorov(c(-0.1, 0.5, 2), 10))
})

test_that("the two-sample law's functions name the argument they refuse", {
  expect_snapshot(error = TRUE, psmirnov2(0.5, 0, 5))
  expect_snapshot(error = TRUE, psmirnov2(list(0.5), 5, 6))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 4, 6, pooled = 1:9))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 4, 6, pooled = c(1:9, NA)))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 2^26, 2^26))
})

test_that("the functions for nulls with jumps say what they need", {
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 10, "ppois", lambda = 3))
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 10))
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 10, "ppois", lambda = 3, support = "0:10"))
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 10, function(t) 1 - pnorm(t), support = 0:2))
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 10, stepfun(1:2, c(0, 0.8, 0.5))))
})

test_that("the limiting law's functions name the argument they refuse", {
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = 0))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = -1))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = NA))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = Inf))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = c(1e-6, 1e-7)))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = "1e-6"))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, tol = NULL))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, alternative = "both"))
  expect_snapshot(error = TRUE, pkolmogorov_limit("1"))
  expect_snapshot(error = TRUE, pkolmogorov_limit(1, lower.tail = NA))
  expect_snapshot(error = TRUE, rkolmogorov_limit(-1))
  expect_snapshot(qkolmogorov_limit(c(-0.5, 0.5, 2)))
})

test_that("ks_test refuses bad input with a message that says what was expected", {
  x <- c(0.3, 1.2, -0.4)
  expect_snapshot(error = TRUE, ks_test(letters, "pnorm"))
  expect_snapshot(error = TRUE, ks_test(factor(1:3), "pnorm"))
  expect_snapshot(error = TRUE, ks_test(as.Date("2024-01-01") + 1:3, "pnorm"))
  expect_snapshot(error = TRUE, ks_test(list(1, 2), "pnorm"))
  expect_snapshot(error = TRUE, ks_test(x, factor(1:3)))
  expect_snapshot(error = TRUE, ks_test(c(NA_real_, NA_real_), "pnorm"))
  expect_snapshot(error = TRUE, ks_test(x))
  expect_snapshot(error = TRUE, ks_test(x, list(1)))
  expect_snapshot(error = TRUE, ks_test(x, ""))
  expect_snapshot(error = TRUE, ks_test(x, "no_such_function_here"))
  expect_snapshot(error = TRUE, ks_test(x, c("pnorm", "punif")))
  expect_snapshot(error = TRUE, ks_test(x, c(1, 2), exat = TRUE))
  expect_snapshot(error = TRUE, ks_test(x, c(1, 2), support = 1))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", exact = "yes"))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", alternative = "bigger"))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", tol = -1))
  expect_snapshot(error = TRUE, ks_test(x, function(t) t * 5))
  expect_snapshot(error = TRUE, ks_test(x, numeric(0)))
  expect_snapshot(error = TRUE, ks_test(mpg ~ cyl, data = mtcars))
  expect_snapshot(error = TRUE, ks_test(mpg ~ cyl + am, data = mtcars))
})

test_that("ks_test's warnings about ties", {
  expect_snapshot(r <- ks_test(c(1, 2, 2, 3, 4, 5), "pnorm", mean = 3))
  expect_snapshot(r <- ks_test(c(1, 2, 3), c(3, 4, 5), exact = FALSE))
})

test_that("the memory limit is honoured with a readable message", {
  withr::local_options(ksdist.max_bytes = 1e-300)
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 100, lower.tail = FALSE))
  withr::local_options(ksdist.max_bytes = 1000)
  expect_snapshot(error = TRUE, dkolmogorov(0.01, 1e5))
  expect_snapshot(error = TRUE, psmirnov2(0.1, 500, 500, pooled = rep(1:500, 2)))
  expect_snapshot(error = TRUE, pkolmogorov_discrete(0.3, 1e5, ecdf(1:3)))
  withr::local_options(ksdist.max_bytes = "lots")
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 100, lower.tail = FALSE))
})
