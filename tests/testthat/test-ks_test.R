# ks_test: statistics against brute force, p-values against the exact laws
# and against complete enumeration, alternatives, ties, nulls with jumps,
# the formula interface and plots.  Its refusals and warnings, as the user
# reads them, are in test-messages.R.

# The statistics by brute force: both empirical functions (and the null,
# on both sides of every jump) on a fine grid of the data's own points.
brute_one <- function(x, F, Fleft = F) {
  x <- sort(x)
  n <- length(x)
  Fn <- function(t) vapply(t, function(u) sum(x <= u), 0) / n
  Fn_left <- function(t) vapply(t, function(u) sum(x < u), 0) / n
  u <- unique(x)
  c(greater = max(0, Fn(u) - F(u)), less = max(0, Fleft(u) - Fn_left(u)))
}
brute_two <- function(x, y) {
  z <- sort(unique(c(x, y)))
  d <- vapply(z, function(u) mean(x <= u) - mean(y <= u), 0)
  c(two.sided = max(abs(d)), greater = max(0, d), less = max(0, -d))
}

# The exact conditional p-value of the two-sample statistic by enumerating
# every split of the pooled sample.
enumerate_two <- function(x, y, alternative) {
  z <- c(x, y)
  m <- length(x)
  obs <- brute_two(x, y)[[alternative]]
  splits <- utils::combn(length(z), m)
  stat <- apply(splits, 2, function(s) brute_two(z[s], z[-s])[[alternative]])
  mean(stat >= obs - 1e-12)
}

test_that("two-sample statistics and exact p-values, also with ties, match enumeration", {
  set.seed(7)
  cases <- list(list(x = c(1.2, 3.4, 0.5, 2.2), y = c(2.9, 4.1, 3.3, 0.1, 5.0)),
                list(x = c(1, 2, 2, 3, 5), y = c(2, 3, 3, 4, 4, 6)),
                list(x = round(rnorm(6), 1), y = round(rnorm(5, 0.5), 1)),
                list(x = c(1, 1, 1, 2), y = c(1, 2, 2, 2, 3, 3)))
  for (cs in cases) for (alt in c("two.sided", "greater", "less")) {
    r <- suppressWarnings(ks_test(cs$x, cs$y, alternative = alt, exact = TRUE))
    expect_equal(unname(r$statistic), brute_two(cs$x, cs$y)[[alt]], tolerance = 1e-14)
    expect_equal(r$p.value, enumerate_two(cs$x, cs$y, alt), tolerance = 1e-12)
    expect_identical(grepl("conditional on the ties", r$method),
                     anyDuplicated(c(cs$x, cs$y)) > 0)
  }
})

test_that("two-sample p-values are the exact upper tails of psmirnov2", {
  set.seed(5)
  x <- rnorm(30)
  y <- rnorm(45, 0.5)
  for (alt in c("two.sided", "greater", "less")) {
    r <- ks_test(x, y, alternative = alt)
    D <- unname(r$statistic)
    expect_equal(D * 30 * 45, round(D * 30 * 45))
    # P(D >= d) is the upper tail at the attained value just below d.
    expect_equal(r$p.value, psmirnov2(D - 1 / (30 * 45), 30, 45, lower.tail = FALSE, alternative = alt),
                 tolerance = 1e-14)
    expect_identical(r$alternative, switch(alt, two.sided = "two-sided",
                                           greater = "the CDF of x lies above that of y",
                                           less = "the CDF of x lies below that of y"))
    expect_identical(names(r$statistic), switch(alt, two.sided = "D", greater = "D^+", less = "D^-"))
  }
  # The limiting law with Stephens' correction for N = m n / (m + n).
  ra <- ks_test(x, y, exact = FALSE)
  N <- 30 * 45 / 75
  expect_identical(ra$p.value, pkolmogorov_limit((sqrt(N) + 0.12 + 0.11 / sqrt(N)) * unname(ra$statistic),
                                                 lower.tail = FALSE))
  expect_identical(ra$method, "Asymptotic two-sample Kolmogorov-Smirnov test")
})

test_that("the corrected limiting law is closer to the exact law than the plain one", {
  # One sample at the 1% to 50% points, n = 50 and 2000; two samples.
  for (n in c(50, 2000)) for (alt in c("two.sided", "greater")) {
    x <- qkolmogorov_limit(c(0.5, 0.1, 0.01), lower.tail = FALSE, alternative = alt)
    exact <- pkolmogorov(x / sqrt(n), n, lower.tail = FALSE, alternative = alt)
    plain <- pkolmogorov_limit(x, lower.tail = FALSE, alternative = alt)
    corr <- pkolmogorov_limit(ksdist:::corrected_limit(n)$to(x / sqrt(n)), lower.tail = FALSE, alternative = alt)
    expect_true(all(abs(corr / exact - 1) < abs(plain / exact - 1) / 5), label = paste(n, alt))
    # The critical value is the inverse map.
    expect_equal(ksdist:::corrected_limit(n)$to(ksdist:::corrected_limit(n)$from(x)), x, tolerance = 1e-14)
  }
  set.seed(5)
  x <- rnorm(400)
  y <- rnorm(300, 0.2)
  r <- ks_test(x, y, exact = FALSE)
  e <- ks_test(x, y)
  plain <- pkolmogorov_limit(sqrt(400 * 300 / 700) * unname(e$statistic), lower.tail = FALSE)
  expect_lt(abs(r$p.value / e$p.value - 1), abs(plain / e$p.value - 1))
})

test_that("two samples: the exact law by default where its estimated cost is small", {
  set.seed(6)
  r <- ks_test(rnorm(3e5), rnorm(2e5, 0.003))
  expect_match(r$method, "^Asymptotic two-sample Kolmogorov-Smirnov test \\(the exact law would take about")
  expect_false(r$exact)
  expect_true(ks_test(rnorm(1e4), rnorm(1.2e4))$exact)
  # Asked for, beyond the time limit: refused before it starts.
  withr::local_options(ksdist.max_seconds = 0.01)
  expect_error(ks_test(rnorm(3e5), rnorm(2e5), exact = TRUE), class = "ksdist_error_time")
})

test_that("the formula interface splits by a two-level factor", {
  r <- ks_test(mpg ~ am, data = mtcars)
  r2 <- ks_test(mtcars$mpg[mtcars$am == 0], mtcars$mpg[mtcars$am == 1])
  expect_identical(r$statistic, r2$statistic)
  expect_identical(r$p.value, r2$p.value)
  expect_identical(r$data.name, "mpg by am")
  expect_match(r$method, "conditional on the ties")
  expect_lt(r$p.value, 0.0025)
  expect_error(ks_test(mpg ~ cyl, data = mtcars))
  r3 <- ks_test(mpg ~ am, data = mtcars, subset = cyl != 8, alternative = "greater")
  expect_identical(r3$alternative, "the CDF of x lies above that of y")
})

test_that("large samples keep exact counts; equal sizes are exact at any size", {
  set.seed(3)
  x <- rnorm(46341)
  y <- rnorm(46341, 0.01)
  r <- ks_test(x, y)
  # Equal sizes without ties: the reflection sum costs next to nothing.
  expect_true(r$exact)
  xs <- sort(x); ys <- sort(y)
  z <- sort(c(x, y))
  expect_equal(unname(r$statistic),
               max(abs(findInterval(z, xs) - findInterval(z, ys))) / 46341, tolerance = 1e-15)
  expect_true(r$p.value > 0 && r$p.value <= 1)
  r2 <- ks_test(rnorm(2148), rnorm(1e5))
  expect_true(is.finite(r2$p.value))
})

test_that("one-sample statistics and exact p-values for each alternative", {
  set.seed(42)
  x <- rnorm(40)
  b <- brute_one(x, pnorm)
  for (alt in c("two.sided", "greater", "less")) {
    r <- ks_test(x, "pnorm", alternative = alt)
    D <- unname(r$statistic)
    expect_equal(D, if (alt == "two.sided") max(b) else b[[alt]], tolerance = 1e-14)
    expect_identical(r$p.value, pkolmogorov(D, 40, lower.tail = FALSE, alternative = alt))
    expect_identical(r$method, "Exact one-sample Kolmogorov-Smirnov test")
  }
  expect_identical(ks_test(x, "pnorm", alternative = "g")$alternative,
                   "the CDF of x lies above the null hypothesis")
  r2 <- ks_test(x, pnorm, mean = 0.5, sd = 2)
  expect_equal(unname(r2$statistic), max(brute_one(x, function(t) pnorm(t, 0.5, 2))), tolerance = 1e-14)
  r3 <- ks_test(x, "pnorm", exact = FALSE, alternative = "less")
  x3 <- ksdist:::corrected_limit(40)$to(unname(r3$statistic))
  expect_identical(r3$p.value, exp(-2 * x3^2))
})

test_that("a null with jumps: exact statistic on both sides of each jump and its exact law", {
  set.seed(42)
  x <- rpois(30, 3.6)
  r <- ks_test(x, "ppois", lambda = 3)
  # Brute force on the lattice, with the exact left limits F(k-) = F(k - 1).
  b <- brute_one(x, function(t) ppois(t, 3), function(t) ppois(t - 1, 3))
  expect_equal(unname(r$statistic), max(b), tolerance = 1e-14)
  expect_equal(unname(r$statistic), 0.2485966, tolerance = 1e-6)
  expect_match(r$method, "null distribution with jumps")
  # P(D >= d): the upper tail just below the observed atom.
  expect_equal(r$p.value, pkolmogorov_discrete(max(b) - 1e-9, 30, "ppois", lambda = 3, support = 0:60,
                                               lower.tail = FALSE), tolerance = 1e-12)
  expect_gt(r$p.value, 0.0092 - 4 * 0.0003)
  expect_lt(r$p.value, 0.0092 + 4 * 0.0003)
  # The same null as a step function, or with its support given.
  F0 <- stepfun(0:60, c(0, ppois(0:60, 3)))
  expect_equal(ks_test(x, F0)$p.value, r$p.value, tolerance = 1e-12)
  expect_equal(ks_test(x, "ppois", lambda = 3, support = 0:60)$p.value, r$p.value, tolerance = 1e-12)
  # A mixed null: a normal censored at 1 (an atom of mass 1 - pnorm(1) there).
  F1 <- function(t) ifelse(t < 1, pnorm(t), 1)
  y <- pmin(c(-1.3, -0.2, 0.4, 1, 1, 1, 0.1, -2, 0.7, 1), 1)
  r1 <- ks_test(y, F1, support = 1)
  expect_match(r1$method, "null distribution with jumps")
  expect_equal(unname(r1$statistic), max(brute_one(y, F1, function(t) ifelse(t <= 1, pnorm(t), 1))),
               tolerance = 1e-14)
})

test_that("ties under a continuous null are reported", {
  expect_warning(r <- ks_test(c(1, 2, 2, 3, 4, 5), "pnorm", mean = 3))
  expect_true(r$exact)
  expect_warning(r2 <- ks_test(c(1, 2, 3), c(3, 4, 5), exact = FALSE))
  expect_match(r2$method, "^Asymptotic two-sample")
})

test_that("missing values are removed with a note", {
  x <- c(0.1, NA, 0.5, 0.9, NA)
  r <- ks_test(x, "punif")
  expect_identical(r$data.name, "x (2 missing values removed)")
  expect_identical(r$statistic, ks_test(c(0.1, 0.5, 0.9), "punif")$statistic)
  y <- c(0.3, NA)
  expect_identical(ks_test(x, y)$data.name, "x (2 missing values removed) and y (1 missing value removed)")
})

test_that("p-values are uniform under the null and tiny under an alternative", {
  set.seed(2026)
  p1 <- replicate(200, ks_test(runif(30), "punif")$p.value)
  expect_gt(ks_test(p1, "punif")$p.value, 0.01)
  p2 <- replicate(200, ks_test(rnorm(25), rnorm(35))$p.value)
  expect_gt(mean(p2), 0.4)
  expect_lt(mean(p2 < 0.05), 0.1)
  # Far in the tail the exact p-value is still a real number, not rounding.
  r <- ks_test(rnorm(200), rnorm(200, 3))
  expect_lt(r$p.value, 1e-60)
  expect_gt(r$p.value, 0)
})

test_that("plot draws every kind of test, infinite values included", {
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  set.seed(3)
  for (r in list(ks_test(rexp(20), "pexp"), ks_test(c(rnorm(15), Inf), "pnorm"),
                 ks_test(rnorm(15), c(rnorm(12, 1), -Inf), alternative = "less"),
                 ks_test(rpois(20, 3), "ppois", lambda = 3))) {
    expect_identical(plot(r), r)
  }
})

test_that("the idioms of R's own tests work", {
  r <- ks_test(mpg ~ am, data = mtcars)
  for (r2 in list(ks_test(mpg ~ factor(am), data = mtcars), ks_test(mtcars$mpg ~ mtcars$am),
                  ks_test(mpg ~ am, data = as.matrix(mtcars)))) {
    expect_identical(r2$statistic, r$statistic)
    expect_identical(r2$p.value, r$p.value)
  }
  expect_identical(ks_test(mtcars$mpg ~ mtcars$am)$data.name, "mtcars$mpg by mtcars$am")
  one <- suppressWarnings(ks_test(eruptions ~ 1, data = faithful, y = "pnorm", mean = 3.5, sd = 1))
  expect_identical(one$statistic,
                   suppressWarnings(ks_test(faithful$eruptions, "pnorm", mean = 3.5, sd = 1))$statistic)
  expect_identical(one$data.name, "eruptions")
  set.seed(4)
  x <- rnorm(25)
  expect_identical(ks_test(x, "stats::pnorm")$p.value, ks_test(x, "pnorm")$p.value)
  # The discrete law's functions find the support as ks_test does.
  expect_identical(pkolmogorov_discrete(0.2, 30, "ppois", lambda = 3),
                   pkolmogorov_discrete(0.2, 30, "ppois", lambda = 3, support = 0:100))
  # R's ppois dips by an ulp in its far tail: not a decreasing null.
  set.seed(1)
  expect_match(ks_test(rpois(20, 0.5), "ppois", lambda = 0.5, support = 0:30)$method, "jumps")
  # A far tail does not make the support search scan the whole numbers up to it.
  expect_match(ks_test(c(0, 1, 1, 2, 1e8), "pgeom", prob = 0.5)$method, "jumps")
})

test_that("rescaling the data and the null together changes nothing", {
  # Jumps are found by probes in units of the data's own last place, so a
  # continuous null at any scale stays continuous (no spurious atom where
  # doubles are sparse, none lost where the null is flat below its support).
  set.seed(8)
  x <- c(runif(15), 3e-7)
  e <- rexp(20) + 0.2
  base_u <- ks_test(x, "punif")
  base_e <- ks_test(e, "pexp")
  for (s in 10^c(-300, -200, -9, -3, 4, 9, 150, 300, runif(4, -300, 300))) {
    u <- ks_test(x * s, "punif", min = 0, max = s)
    expect_equal(u$statistic, base_u$statistic, tolerance = 1e-12, label = paste("punif at scale", s))
    expect_equal(u$p.value, base_u$p.value, tolerance = 1e-10)
    ex <- ks_test(e * s, "pexp", rate = 1 / s)
    expect_equal(ex$statistic, base_e$statistic, tolerance = 1e-12, label = paste("pexp at scale", s))
    expect_identical(ex$method, base_e$method)
  }
  # Timestamps: doubles a millionth of the scale apart, no jump.
  t <- 1.7e9 + sort(runif(20, 0, 3600))
  expect_silent(r <- ks_test(t, "punif", min = 1.7e9, max = 1.7e9 + 3600))
  expect_equal(r$statistic, ks_test((t - 1.7e9) / 3600, "punif")$statistic, tolerance = 1e-9)
})

test_that("what is printed is what is computed, below the double range too", {
  set.seed(2)
  r <- ks_test(rnorm(200), rnorm(200, mean = 3))
  expect_output(print(r), "p-value = 2.775e-82", fixed = TRUE)
  expect_equal(r$log.p.value, log(r$p.value), tolerance = 1e-13)
  set.seed(5)
  big <- ks_test(rnorm(2000, 1.5), "pnorm")
  expect_identical(big$p.value, 0)
  expect_lt(big$log.p.value, -745)
  expect_output(print(big), sprintf("p-value = %se", format(10^(big$log.p.value / log(10) -
                                                                  floor(big$log.p.value / log(10))), digits = 4)),
                fixed = TRUE)
  # The critical value at sig.level: the test rejects when D exceeds it.
  for (r in list(ks_test(rnorm(30), "pnorm", sig.level = 0.1), ks_test(rnorm(12), rnorm(15)),
                 ks_test(rpois(25, 3), "ppois", lambda = 3))) {
    crit <- r$critical.value
    expect_identical(r$p.value <= r$sig.level, unname(r$statistic) > crit)
  }
})
