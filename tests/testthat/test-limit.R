# Kolmogorov's limiting distributions: both tails, logarithms and density
# against 200-bit references (tools/make-limit-references.R), quantiles that
# are the smallest double reaching the probability, and draws.

limit_ref <- data.frame(
  x = c( 0.050000000000000003, 0.10000000000000001, 0.20000000000000001, 0.29999999999999999, 0.5, 0.69999999999999996, 0.80000000000000004, 0.81999999999999995, 0.82999999999999996, 0.90000000000000002, 1, 1.2, 1.3600000000000001, 1.6299999999999999, 2, 3, 4, 4.5, 6, 10, 20, 30 ),
  log_lower = c( -489.56554924770921, -120.14853138741825, -28.314137307765471, -11.584872552871278, -3.3227164867800614, -1.242142745836077, -0.78557482432921966, -0.71738189386411766, -0.68555804176266844, -0.49878294205431856, -0.31471029508275278, -0.11906473168249659, -0.050752258411153196, -0.0098951609124286466, -0.00067115042685005522, -3.0459959953329831e-08, -2.5328331098188673e-14, -5.1535142183099621e-18, -1.0760372320042276e-31, -2.7677930534734751e-87, -0, -0 ),
  log_upper = c( -2.4231674791576992e-213, -6.6093052422455605e-53, -5.050407338671363e-13, -9.3058446338044851e-06, -0.03672078716235487, -0.34075210918222731, -0.60854428040418385, -0.66948591855856254, -0.70079435510694321, -0.9346311235094964, -1.3093345359942996, -2.1870297218900179, -3.006067968191612, -4.620652938766848, -7.3068528194778057, -17.306852819440056, -31.306852819440056, -39.806852819440053, -71.306852819440053, -199.30685281944005, -799.30685281944011, -1799.3068528194401 ),
  log_density = c( -479.67620074195082, -112.34167178024649, -22.599002391501195, -7.1069462235243037, -0.44693911054492885, 0.50966551073526312, 0.48675279163852703, 0.46298119823560863, 0.4492082812672526, 0.3226102113288144, 0.069478074889885721, -0.61894469867713964, -1.3123343549546846, -2.7457789208087537, -5.2274112779112238, -14.821946169652055, -28.534264097200275, -36.916481061543891, -68.128798989092104, -195.61797336532612, -794.92482618476618, -1794.519361076658 ))

rel_err <- function(a, b) ifelse(b == 0, abs(a - b), abs(a - b) / abs(b))

test_that("both tails and the density match the 200-bit references", {
  x <- limit_ref$x
  # Upper tail and density: relative 1e-12, also as logs far below the range.
  expect_lt(max(rel_err(pkolmogorov_limit(x, lower.tail = FALSE, log.p = TRUE), limit_ref$log_upper)), 1e-12)
  up <- exp(limit_ref$log_upper)
  expect_lt(max(rel_err(pkolmogorov_limit(x, lower.tail = FALSE), up)[up > 1e-300]), 1e-12)
  expect_lt(max(rel_err(dkolmogorov_limit(x, log = TRUE), limit_ref$log_density)), 1e-12)
  expect_lt(max(rel_err(dkolmogorov_limit(x), exp(limit_ref$log_density))[x < 25]), 1e-12)
  # Lower tail: relative 1e-12 below 1/2; at and above 1/2 the series of
  # the exact module to its tolerance (absolute).
  lo <- exp(limit_ref$log_lower)
  small <- lo < 0.5
  expect_lt(max(rel_err(pkolmogorov_limit(x, log.p = TRUE), limit_ref$log_lower)[small]), 1e-12)
  expect_lt(max(rel_err(pkolmogorov_limit(x), lo)[small]), 1e-12)
  expect_lt(max(abs(pkolmogorov_limit(x) - lo)[!small]), 5e-14)
  expect_lt(max(abs(pkolmogorov_limit(x, tol = 1e-15) - lo)[!small]), 3e-16)
  # The two tails add up to 1.
  expect_lt(max(abs(pkolmogorov_limit(x) + pkolmogorov_limit(x, lower.tail = FALSE) - 1)), 1e-13)
})

test_that("the lower tail keeps the exact module's bits where it is at least 1/2", {
  # The module's series for x < 1 sums a number of terms fixed by its
  # tolerance; the tolerance handed to it is the largest giving the terms
  # that the asked accuracy needs.
  module_tol <- function(tol)
    if (tol >= 3.8e-5) min(tol, 0.1) else if (tol >= 1.1e-13) min(tol, 8e-7) else min(tol, 1e-15)
  x <- c(0.83, 0.9, 0.99, 1, 1.36, 2, 3)
  for (tol in c(1e-3, 1e-6, 1e-10, 1e-15)) {
    expected <- pmin(.Call("pKS2", x, module_tol(tol), PACKAGE = "ksdist"), 1)
    expect_identical(pkolmogorov_limit(x, tol = tol), expected)
  }
})

test_that("one-sided limit is 1 - exp(-2 x^2) in both tails", {
  x <- c(1e-200, 1e-8, 0.1, 0.5, 1, 2, 5, 30)
  for (alt in c("less", "greater")) {
    expect_equal(pkolmogorov_limit(x, alternative = alt), -expm1(-2 * x^2), tolerance = 1e-15)
    expect_equal(pkolmogorov_limit(x, lower.tail = FALSE, log.p = TRUE, alternative = alt), -2 * x^2,
                 tolerance = 1e-15)
    expect_equal(dkolmogorov_limit(x, alternative = alt), 4 * x * exp(-2 * x^2), tolerance = 1e-14)
  }
})

test_that("quantiles are the smallest double reaching p, in both tails and with logs", {
  p <- c(1e-300, 1e-12, 0.001, 0.05, 0.3, 0.5, 0.7, 0.95, 0.999, 1 - 1e-9)
  prev <- function(v) v - v * 2^-53 * (1 + (v == 2^floor(log2(v))))
  for (alt in c("two.sided", "greater")) for (lower in c(TRUE, FALSE)) for (lg in c(FALSE, TRUE)) {
    pp <- if (lg) log(p) else p
    q <- qkolmogorov_limit(pp, lower.tail = lower, log.p = lg, alternative = alt)
    at <- pkolmogorov_limit(q, lower.tail = lower, log.p = lg, alternative = alt)
    before <- pkolmogorov_limit(prev(q), lower.tail = lower, log.p = lg, alternative = alt)
    if (lower) {
      expect_true(all(at >= pp & before < pp))
    } else {
      expect_true(all(at <= pp & before > pp))
    }
  }
  expect_identical(qkolmogorov_limit(c(0, 1)), c(0, Inf))
  expect_identical(qkolmogorov_limit(c(0, 1), lower.tail = FALSE), c(Inf, 0))
  expect_warning(r <- qkolmogorov_limit(c(-0.5, 0.5, 2)), "NaNs produced")
  expect_true(is.nan(r[1]) && is.nan(r[3]) && !is.na(r[2]))
})

test_that("draws follow the law and are reproducible", {
  set.seed(11)
  r <- rkolmogorov_limit(4000)
  set.seed(11)
  expect_identical(rkolmogorov_limit(4000), r)
  # The probability integral transform of the draws is uniform: the counts
  # in ten equal cells stay within 5 binomial standard deviations.
  counts <- tabulate(findInterval(pkolmogorov_limit(r), seq(0, 1, 0.1)), 10)
  expect_lt(max(abs(counts - 400)), 5 * sqrt(4000 * 0.1 * 0.9))
  g <- rkolmogorov_limit(4000, alternative = "greater")
  counts <- tabulate(findInterval(exp(-2 * g^2), seq(0, 1, 0.1)), 10)
  expect_lt(max(abs(counts - 400)), 5 * sqrt(4000 * 0.1 * 0.9))
  expect_length(rkolmogorov_limit(c(5, 5, 5)), 3)
  expect_error(rkolmogorov_limit(-1), "invalid arguments")
})

test_that("missing values, attributes and argument checks", {
  r <- pkolmogorov_limit(c(a = NA, b = NaN, c = 1))
  expect_identical(names(r), c("a", "b", "c"))
  expect_true(is.na(r[["a"]]) && is.nan(r[["b"]]))
  m <- matrix(c(0.5, 1, 1.5, 2), 2)
  expect_identical(dim(pkolmogorov_limit(m, lower.tail = FALSE)), c(2L, 2L))
  expect_identical(dim(qkolmogorov_limit(m / 4)), c(2L, 2L))
  expect_identical(pkolmogorov_limit(c(-1, 0, Inf)), c(0, 0, 1))
  for (bad in list(0, -1, NA, Inf, c(1e-6, 1e-7), "1e-6", NULL))
    expect_error(pkolmogorov_limit(1, tol = bad), "'tol' must be a single positive finite number")
  expect_error(pkolmogorov_limit(1, alternative = "both"), "'alternative' must be one of")
  expect_error(pkolmogorov_limit("1"), "'q' must be a numeric vector")
  expect_error(pkolmogorov_limit(1, lower.tail = NA), "'lower.tail' must be TRUE or FALSE")
})
