# The functions users call.

# The same statistic by brute force: the empirical function on both sides
# of every jump, against the hypothesised function.
brute_D1 <- function(x, F) {
  x <- sort(x)
  Fn <- stats::ecdf(x)
  max(abs(Fn(x) - F(x)), abs(Fn(x) - 1 / length(x) * (table(x)[as.character(x)]) - F(x)))
}
brute_D2 <- function(x, y) {
  z <- c(x, y)
  max(abs(stats::ecdf(x)(z) - stats::ecdf(y)(z)))
}

# pkolmogorov ---------------------------------------------------------------

test_that("pkolmogorov returns the exact distribution, clamped", {
  expect_identical(pkolmogorov(0.274, 10), pk2x(0.274, 10L))
  expect_identical(pkolmogorov(0.95, 20), 1)          # raw result exceeds 1
  expect_identical(pkolmogorov(c(0, 0.05, 0.1), 10), c(0, 0, pk2x(0.1, 10L)))
  expect_identical(pkolmogorov(c(1, 5, Inf), 10), c(1, 1, 1))
  expect_identical(pkolmogorov(-1, 3), 0)
})

test_that("pkolmogorov recycles and propagates missing values", {
  q <- c(0.1, 0.2, 0.3, 0.4)
  expect_identical(pkolmogorov(q, c(10, 20)), mapply(pk2x, q, c(10L, 20L, 10L, 20L)))
  expect_identical(pkolmogorov(0.2, 5:8), vapply(5:8, function(n) pk2x(0.2, n), 0))
  expect_identical(pkolmogorov(numeric(0), 10), numeric(0))
  expect_identical(pkolmogorov(0.3, integer(0)), numeric(0))
  r <- pkolmogorov(c(NA, 0.3, NaN, 0.3), c(10, NA, 10, 10))
  expect_true(is.na(r[1]) && is.na(r[2]) && is.nan(r[3]))
  expect_identical(r[4], pk2x(0.3, 10L))
})

test_that("tails and logarithms", {
  p <- pkolmogorov(0.3, 20)
  expect_identical(pkolmogorov(0.3, 20, lower.tail = FALSE), 1 - p)
  expect_identical(pkolmogorov(0.3, 20, log.p = TRUE), log(p))
  expect_identical(pkolmogorov(0.95, 20, lower.tail = FALSE), 0)
  expect_identical(pkolmogorov(0.01, 20, log.p = TRUE), -Inf)
})

test_that("pkolmogorov refuses bad arguments with clear messages", {
  expect_error(pkolmogorov("0.3", 10), "'q' must be a numeric vector")
  expect_error(pkolmogorov(0.3, 0), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, 2.5), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, -4), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, Inf), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, 3e9), "'n' must contain positive whole numbers")
  expect_error(pkolmogorov(0.3, TRUE), "'n' must be a numeric vector")
  expect_error(pkolmogorov(0.3, 10, lower.tail = NA), "'lower.tail' must be TRUE or FALSE")
  expect_error(pkolmogorov(0.3, 10, log.p = "yes"), "'log.p' must be TRUE or FALSE")
})

test_that("computations too large for memory are refused, pointing to the limit", {
  expect_error(pkolmogorov(0.5, 1e6), "pkolmogorov_limit\\(sqrt\\(n\\) \\* q\\)")
  withr::local_options(ksdist.max_bytes = 1e6)
  expect_error(pkolmogorov(0.5, 1000), "needs three 1001 x 1001 matrices")
  expect_identical(pkolmogorov(0.05, 100), pk2x(0.05, 100L))
  withr::local_options(ksdist.max_bytes = "lots")
  expect_error(pkolmogorov(0.5, 1000), "ksdist.max_bytes")
})

# pkolmogorov_limit ---------------------------------------------------------

K_ref <- function(x) {
  vapply(x, function(xx) {
    if (xx < 1) sqrt(2 * pi) / xx * sum(exp(-(seq(1, 41, 2))^2 * pi^2 / (8 * xx^2)))
    else 1 - 2 * sum((-1)^(0:99) * exp(-2 * (1:100)^2 * xx^2))
  }, 0)
}

test_that("pkolmogorov_limit is within tol of K everywhere", {
  x <- c(0.2, 0.5, 0.8, 0.9, 0.95, 0.99, 0.999, 1, 1.2, 2, 3)
  for (tol in c(0.5, 1e-2, 1e-4, 1e-5, 1e-6, 1e-8, 1e-10, 1e-13, 1e-15)) {
    err <- abs(pkolmogorov_limit(x, tol = tol) - K_ref(x))
    expect_true(all(err <= tol + 4e-16), label = paste("tol", tol))
  }
  # The default tolerance is honoured just below 1, where the compiled series
  # alone would be off by 3e-5.
  expect_lt(abs(pkolmogorov_limit(0.99) - K_ref(0.99)), 1e-6)
})

test_that("pkolmogorov_limit handles the ends and missing values", {
  expect_identical(pkolmogorov_limit(c(-1, 0, Inf)), c(0, 0, 1))
  r <- pkolmogorov_limit(c(NA, NaN, 1))
  expect_true(is.na(r[1]) && is.nan(r[2]))
  expect_identical(pkolmogorov_limit(numeric(0)), numeric(0))
  expect_equal(pkolmogorov_limit(1.36, lower.tail = FALSE), 0.0495, tolerance = 1e-3)
  expect_identical(pkolmogorov_limit(1.36, log.p = TRUE), log(pkolmogorov_limit(1.36)))
})

test_that("pkolmogorov_limit checks its tolerance", {
  for (bad in list(0, -1, NA, Inf, c(1e-6, 1e-7), "1e-6", NULL)) {
    expect_error(pkolmogorov_limit(1, tol = bad), "'tol' must be a single positive finite number")
  }
})

# psmirnov ------------------------------------------------------------------

test_that("psmirnov returns the exact distribution, vectorised", {
  expect_identical(psmirnov(0.4, 5, 5), 8 / 63)
  q <- c(0.2, 0.5, 0.8)
  expect_identical(psmirnov(q, 10, 12), vapply(q, ps2x, 0, m = 10L, n = 12L))
  expect_identical(psmirnov(0.5, c(4, 6), 6), c(ps2x(0.5, 4L, 6L), ps2x(0.5, 6L, 6L)))
  expect_identical(psmirnov(c(-1, 0, 1.5, Inf), 4, 6), c(0, 0, 1, 1))
  expect_identical(psmirnov(1.5, 4, 6, lower.tail = FALSE), 0)
  r <- psmirnov(c(NA, 0.5, NaN), c(4, NA, 4), 6)
  expect_true(is.na(r[1]) && is.na(r[2]) && is.nan(r[3]))
  expect_identical(psmirnov(0.5, 4, integer(0)), numeric(0))
})

test_that("psmirnov refuses bad sizes", {
  expect_error(psmirnov(0.5, 0, 5), "'m' must contain positive whole numbers")
  expect_error(psmirnov(0.5, 5, 1.5), "'n' must contain positive whole numbers")
  expect_error(psmirnov(0.5, 5, "6"), "'n' must be a numeric vector")
  expect_error(psmirnov(list(0.5), 5, 6), "'q' must be a numeric vector")
  withr::local_options(ksdist.max_bytes = 1000)
  expect_error(psmirnov(0.5, 5, 500), "pkolmogorov_limit\\(sqrt\\(m \\* n / \\(m \\+ n\\)\\) \\* q\\)")
})

# Quantiles -----------------------------------------------------------------

test_that("qkolmogorov inverts pkolmogorov to the last double", {
  p <- c(0.01, 0.05, 0.3, 0.5, 0.9, 0.95, 0.99)
  for (n in c(1, 5, 20, 60)) {
    d <- qkolmogorov(p, n)
    expect_true(all(diff(d) > 0))
    expect_true(all(pkolmogorov(d, n) >= p))
    prev <- d * (1 - 2^-53) # the double just below d
    expect_true(all(prev < d))
    expect_true(all(pkolmogorov(prev, n) < p))
  }
  expect_identical(qkolmogorov(c(0, 1), 10), c(0.05, 1))
  expect_equal(qkolmogorov(0.628479615456504, 10), 0.274, tolerance = 1e-12)
  expect_warning(r <- qkolmogorov(c(-0.1, 0.5, 2), 10), "NaNs produced")
  expect_true(is.nan(r[1]) && is.nan(r[3]) && !is.na(r[2]))
  expect_true(is.na(qkolmogorov(NA, 10)))
  expect_error(qkolmogorov(0.5, 0), "'n' must contain positive whole numbers")
})

test_that("qsmirnov returns attained values bracketing p", {
  for (s in list(c(5, 5), c(4, 6), c(10, 12), c(7, 3), c(30, 45))) {
    m <- s[1]; n <- s[2]
    p <- c(0.01, 0.1, 0.5, 0.9, 0.95, 0.99)
    x <- qsmirnov(p, m, n)
    k <- x * m * n
    expect_equal(k, round(k))
    expect_true(all(diff(x) >= 0))
    expect_true(all(psmirnov(x, m, n) < p))                 # P(D <  x) < p
    expect_true(all(psmirnov(x + 0.5 / (m * n), m, n) >= p)) # P(D <= x) >= p
  }
  expect_identical(qsmirnov(c(0, 1), 4, 6), c(0, 1))
  expect_warning(r <- qsmirnov(1.5, 4, 6), "NaNs produced")
  expect_true(is.nan(r))
  expect_identical(qsmirnov(numeric(0), 4, 6), numeric(0))
})

# ks_test -------------------------------------------------------------------

test_that("one-sample statistic and exact p-value", {
  set.seed(42)
  x <- rnorm(40)
  r <- ks_test(x, "pnorm")
  expect_s3_class(r, "htest")
  expect_equal(unname(r$statistic), brute_D1(x, pnorm), tolerance = 1e-15)
  expect_identical(r$method, "Exact one-sample Kolmogorov-Smirnov test")
  expect_identical(r$p.value, pkolmogorov(unname(r$statistic), 40, lower.tail = FALSE))
  expect_identical(r$alternative, "two-sided")
  expect_identical(r$data.name, "x")
  # A function and extra arguments.
  r2 <- ks_test(x, pnorm, mean = 0.5, sd = 2)
  expect_equal(unname(r2$statistic), brute_D1(x, function(t) pnorm(t, 0.5, 2)), tolerance = 1e-15)
  # The limiting distribution on request, at sqrt(n) D.
  r3 <- ks_test(x, "pnorm", exact = FALSE)
  expect_identical(r3$method, "Asymptotic one-sample Kolmogorov-Smirnov test")
  expect_identical(r3$p.value, pkolmogorov_limit(sqrt(40) * unname(r$statistic), lower.tail = FALSE))
  expect_equal(r3$p.value, r$p.value, tolerance = 0.1)
})

test_that("two-sample statistic is exact and the p-value exact when cheap", {
  set.seed(5)
  x <- rnorm(30)
  y <- rnorm(45, 0.5)
  r <- ks_test(x, y)
  D <- unname(r$statistic)
  expect_equal(D, brute_D2(x, y), tolerance = 1e-15)
  expect_equal(D * 30 * 45, round(D * 30 * 45))
  expect_identical(r$method, "Exact two-sample Kolmogorov-Smirnov test")
  expect_identical(r$p.value, psmirnov(D, 30, 45, lower.tail = FALSE))
  expect_identical(r$data.name, "x and y")
  ra <- ks_test(x, y, exact = FALSE)
  expect_identical(ra$p.value, pkolmogorov_limit(sqrt(30 * 45 / 75) * D, lower.tail = FALSE))
})

test_that("the exact/limiting switch follows the documented rule", {
  set.seed(9)
  # One sample: n D >= 200 goes to the limiting distribution.
  x <- runif(1000)
  r <- ks_test(x, "pnorm")
  expect_gt(1000 * r$statistic, 200)
  expect_false(r$exact)
  expect_true(ks_test(runif(1000), "punif")$exact)
  # Two samples: m n above 1e8 goes to the limiting distribution.
  expect_true(ks_test(runif(100), runif(100))$exact)
  expect_false(ks_test(runif(10001), runif(10000))$exact)
})

test_that("ties are reported and fall back to the limiting distribution", {
  x <- c(1, 2, 2, 3, 4, 5)
  expect_warning(r <- ks_test(x, "pnorm", mean = 3), "ties are present")
  expect_false(r$exact)
  expect_warning(r <- ks_test(c(1, 2, 3), c(3, 4, 5), exact = TRUE), "ties are present")
  expect_false(r$exact)
  expect_match(r$method, "^Asymptotic two-sample")
})

test_that("missing values are removed with a note", {
  x <- c(0.1, NA, 0.5, 0.9, NA)
  r <- ks_test(x, "punif")
  expect_identical(r$data.name, "x (2 missing values removed)")
  expect_identical(r$statistic, ks_test(c(0.1, 0.5, 0.9), "punif")$statistic)
  y <- c(0.3, NA)
  expect_identical(ks_test(x, y)$data.name, "x (2 missing values removed) and y (1 missing value removed)")
})

test_that("ks_test refuses bad input", {
  expect_error(ks_test(letters, "pnorm"), "'x' must be a numeric vector")
  expect_error(ks_test(c(NA_real_, NA_real_), "pnorm"), "not enough")
  expect_error(ks_test(1:3), "'y' must be")
  expect_error(ks_test(1:3, list(1)), "'y' must be a numeric vector or a distribution function")
  expect_error(ks_test(1:3, "no_such_function_here"), "names no function")
  expect_error(ks_test(1:3, c("pnorm", "punif")), "single distribution function")
  expect_error(ks_test(1:3, "pnorm", exact = "yes"), "'exact' must be NULL, TRUE or FALSE")
  expect_error(ks_test(1:3, "pnorm", tol = -1), "'tol' must be")
  expect_error(ks_test(1:3, function(t) t * 5), "returning one probability in \\[0, 1\\]")
  expect_error(ks_test(1:3, numeric(0)), "not enough")
})

test_that("p-values are uniform under the null and tiny under an alternative", {
  set.seed(2026)
  p1 <- replicate(200, ks_test(runif(30), "punif")$p.value)
  # The p-values themselves, tested for uniformity with the package.
  expect_gt(ks_test(p1, "punif")$p.value, 0.01)
  p2 <- replicate(200, ks_test(rnorm(25), rnorm(35))$p.value)
  expect_gt(mean(p2), 0.4)
  expect_lt(mean(p2 < 0.05), 0.1)
  expect_lt(ks_test(rnorm(100, mean = 1), "pnorm")$p.value, 1e-6)
  expect_lt(ks_test(rnorm(100), rnorm(100, 1.5))$p.value, 1e-10)
})

test_that("plot draws both kinds of test", {
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  set.seed(3)
  r1 <- ks_test(rexp(20), "pexp")
  expect_identical(plot(r1), r1)
  r2 <- ks_test(rnorm(15), rnorm(12, 1))
  expect_identical(plot(r2), r2)
})
