# The errors and warnings a user reads, word for word: the argument checks
# of the exported functions, ks_test's refusals and warnings, and the
# memory limit.  The snapshots are in _snaps/messages.md; after a deliberate
# change of wording, review it with testthat::snapshot_review().  That each
# call is refused (or warns) at all is part of the snapshot too.

test_that("the one-sample law's functions name the argument they refuse", {
  expect_snapshot(error = TRUE, pkolmogorov("0.3", 10))
  # Sizes that are not sizes give NaN where they occur, as dbinom() does.
  expect_snapshot(pkolmogorov(0.3, c(10, 0, 2.5, 3e9, NaN, NA, 20)))
  expect_snapshot(is.na(rkolmogorov(3, c(10, 0, 5))))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, lower.tail = NA))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, log.p = "yes"))
  expect_snapshot(error = TRUE, pkolmogorov(0.3, 10, alternative = "both"))
  expect_snapshot(error = TRUE, dkolmogorov(0.2, 10, log = NA))
  expect_snapshot(error = TRUE, rkolmogorov(-1, 5))
  expect_snapshot(qkolmogorov(c(-0.1, 0.5, 2), 10))
})

test_that("the two-sample law's functions name the argument they refuse", {
  expect_snapshot(psmirnov2(0.5, c(0, 4), 5))
  expect_snapshot(error = TRUE, psmirnov2(list(0.5), 5, 6))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 4, 6, pooled = 1:9))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 4, 6, pooled = c(1:9, NA)))
  expect_snapshot(error = TRUE, psmirnov2(0.5, 2^26, 2^26))
  # Refused from the estimate of its cost, before it starts.
  withr::local_options(ksdist.max_seconds = 1)
  expect_snapshot(error = TRUE, psmirnov2(0.0024, 1e6, 7e5, lower.tail = FALSE, alternative = "greater"))
  expect_snapshot(error = TRUE, psmirnov2(0.0024, 1e6, 7e5))
  withr::local_options(ksdist.max_seconds = "a minute")
  expect_snapshot(error = TRUE, psmirnov2(0.02, 1000, 700, lower.tail = FALSE))
})

test_that("the functions for nulls with jumps say what they need", {
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

test_that("estimated parameters and Monte Carlo p-values say what they need", {
  x <- c(0.3, 1.2, -0.4, 2.2, 0.9)
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = "men"))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = 1))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = c("mean", "mean")))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", 0, estimate = "mean"))
  expect_snapshot(error = TRUE, ks_test(x, "pgamma", estimate = c("rate", "scale")))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = "mean", B = 2.5))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = "mean", exact = TRUE))
  expect_snapshot(error = TRUE, ks_test(x, "pnorm", estimate = "mean", support = 1))
  expect_snapshot(error = TRUE, ks_test(x, rnorm(4), estimate = "mean"))
  expect_snapshot(error = TRUE, ks_test(x, ecdf(1:3), estimate = "mean"))
  expect_snapshot(error = TRUE, ks_test(rep(2, 6), "pnorm", estimate = c("mean", "sd")))
  expect_snapshot(error = TRUE, ks_test(x, "pexp", estimate = "rate"))
  expect_snapshot(error = TRUE, ks_test(x, "ppois", estimate = "lambda"))
  expect_snapshot(error = TRUE, ks_test(c(1, 2, 2), "pbinom", estimate = "prob"))
  expect_snapshot(error = TRUE, ks_test(x, function(q, m) pnorm(q, m), estimate = "m"))
  expect_snapshot(r <- ks_test(x, "pnorm", mean = mean(x), sd = sd(x)))
})

test_that("pairwise_ks_test refuses bad input with a message that says what was expected", {
  x <- c(0.3, 1.2, -0.4, 2.2, 0.9, 1.1)
  expect_snapshot(error = TRUE, pairwise_ks_test(x))
  expect_snapshot(error = TRUE, pairwise_ks_test(x, 1:3))
  expect_snapshot(error = TRUE, pairwise_ks_test(x, rep(1, 6)))
  expect_snapshot(error = TRUE, pairwise_ks_test(x, rep(1:2, 3), p.adjust.method = "holmes"))
  expect_snapshot(error = TRUE, pairwise_ks_test(x, rep(1:2, 3), exat = TRUE))
  expect_snapshot(error = TRUE, pairwise_ks_test(mpg ~ cyl + am, data = mtcars))
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

# The traps: calls a user may well type that must not give a confident
# answer.  Each one stops or warns, with its condition class, a fragment of
# the message, and the user's own call (not an internal one).
test_that("slips are refused or warned about, naming the user's call", {
  set.seed(1)
  x <- rnorm(30)
  traps <- list(
    list(quote(ks_test(x, "dnorm")), "ksdist_error_null", "density function \"dnorm\""),
    list(quote(ks_test(x, "qnorm")), "ksdist_error_null", "quantile function"),
    list(quote(ks_test(x, function(q) 1 - pnorm(q))), "ksdist_error_null", "survival function"),
    list(quote(ks_test(x, dnorm)), "ksdist_error_null", "non-decreasing"),
    list(quote(ks_test(x, "pnorm", lower.tail = FALSE)), "ksdist_error_null", "'lower.tail' is passed to pnorm"),
    list(quote(ks_test(x, "pnorm", mean = c(0, 1))), "ksdist_error_null", "'mean' has length 2"),
    list(quote(ks_test(x, "ppois", 3, support = c(0.5, 1.5))), "ksdist_error_support", "does not jump at 0.5"),
    list(quote(ks_test(x, "pnorm", support = 0)), "ksdist_error_support", "does not jump at 0"),
    list(quote(ks_test(c(0, 1, 1, 2, 3), "ppois", 1, support = 0:2)), "ksdist_error_support", "jumps at 3"),
    list(quote(ks_test(cbind(mpg, hp) ~ am, data = mtcars)), "ksdist_error_argument", "has 2 columns"),
    list(quote(ks_test(mpg ~ cyl, data = mtcars)), "ksdist_error_argument", "pairwise_ks_test()"),
    list(quote(ks_test(x, "pnorm", alternatve = "less")), "ksdist_error_argument", "did you mean 'alternative'"),
    list(quote(ks_test(x, "pnorm", exct = TRUE)), "ksdist_error_argument", "did you mean 'exact'"),
    list(quote(ks_test(x, rnorm(10), exat = TRUE)), "ksdist_error_argument", "did you mean 'exact'"),
    list(quote(ks_test(x, "norm")), "ksdist_error_null", "did you mean \"pnorm\""),
    list(quote(ks_test(x, "stats::dnorm")), "ksdist_error_null", "use \"stats::pnorm\""),
    list(quote(ks_test(1:5, stepfun(1:2, c(0.3, 0.6, 1)))), "ksdist_error_null", "non-decreasing from 0"),
    list(quote(pkolmogorov_discrete(0.3, 10, null = 1)), "ksdist_error_null", "'null' must be a distribution function"),
    list(quote(pkolmogorov(0.3, c(10, 0, 20))), "warning", "NaNs produced"),
    list(quote(rkolmogorov(1e300, 10)), "ksdist_error", "invalid arguments"),
    list(quote(rsmirnov2(1e300, 3, 4)), "ksdist_error", "invalid arguments"),
    list(quote(pkolmogorov_limit(1, tol = factor("a"))), "error", "'tol' must be"),
    list(quote(ks_test(x, "pnorm", estimate = "men")), "ksdist_error_estimate", "its parameters are 'mean', 'sd'"),
    list(quote(ks_test(x, "pnorm", mean = 0, estimate = "mean")), "ksdist_error_estimate", "both given and estimated"),
    list(quote(ks_test(x, "pnorm", estimate = TRUE)), "ksdist_error_argument", "'estimate' must name"),
    list(quote(ks_test(x, "pnorm", estimate = "sd", B = 0)), "ksdist_error_argument", "'B' must be a whole number"),
    list(quote(ks_test(x, "pnorm", estimat = "sd")), "ksdist_error_argument", "did you mean 'estimate'"),
    list(quote(ks_test(x, rnorm(5), estimate = "mean")), "ksdist_error_argument", "one-sample test"),
    list(quote(ks_test(round(x), "pnorm", estimate = "sd")), "ksdist_warning_ties", "ties are present"),
    list(quote(ks_test(x, "pnorm", mean(x), sd(x))), "ksdist_warning_estimated", "estimate = c(\"mean\", \"sd\")"),
    list(quote(ks_test(x, "pexp", estimate = "rate")), "ksdist_error_estimate", "the exponential distribution has no parameters"),
    list(quote(pairwise_ks_test(x, rep(1:3, 10), estimate = "mean")), "ksdist_error_argument", "one-sample test"),
    list(quote(pairwise_ks_test(x, rep(1:3, 10), alternatve = "less")), "ksdist_error_argument", "did you mean 'alternative'"))
  for (t in traps) {
    cond <- tryCatch(eval(t[[1]]), condition = identity)
    what <- deparse(t[[1]])
    expect_true(inherits(cond, t[[2]]), label = paste(what, "gives a condition of class", t[[2]]))
    expect_match(conditionMessage(cond), t[[3]], fixed = TRUE, label = what)
    expect_identical(as.character(conditionCall(cond)[[1]]), as.character(t[[1]][[1]]), label = what)
  }
})
