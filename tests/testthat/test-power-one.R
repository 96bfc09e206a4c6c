# power_ks_test for one sample: the exact power against complete
# enumeration (helper-power.R) for nulls and truths with jumps, flat
# stretches and continuous parts, against a simulation of 1e6 samples per
# row (tools/make-power-simulations.R), the size under the null, and the
# sample size rules.

pw <- function(...) power_ks_test(...)

test_that("equals complete enumeration: discrete null and truth, every alternative", {
  K <- 7
  F0 <- function(q) ifelse(q >= K - 1, 1, ppois(q, 2.5))
  G1 <- function(q) ifelse(q >= K - 1, 1, ppois(q, 3.4))
  x <- 0:(K - 1)
  w <- F0(x)
  null <- list(w = w, wl = c(0, w[-K]), p = diff(c(0, w)))
  true <- list(w = w, wl = c(0, w[-K]), p = diff(c(0, G1(x))))
  for (n in c(3, 6)) for (alt in c("two.sided", "greater", "less")) {
    e <- enumerate_power(n, null, true, alt)
    r <- pw(n, F0, G1, alternative = alt)
    expect_equal(r$power, e$power, tolerance = 1e-12)
    expect_equal(r$critical.value, e$critical, tolerance = 1e-12)
  }
})

test_that("equals complete enumeration: a continuous null and a truth with atoms", {
  xs <- -3:3
  pg <- diff(c(0, pnorm(xs + 0.5, 0.4)))
  pg[7] <- 1 - sum(pg[1:6])
  G <- stepfun(xs, c(0, cumsum(pg)))
  for (n in c(4, 7)) for (alt in c("two.sided", "greater", "less")) {
    # The test rejects when D >= its critical value (a continuous law).
    e1 <- enumerate_D(n, pnorm(xs), pnorm(xs), pg)
    q <- qkolmogorov(0.05, n, lower.tail = FALSE, alternative = alt)
    expect_equal(pw(n, "pnorm", G, alternative = alt)$power, sum(e1$pr[stat_of(e1, alt) >= q]),
                 tolerance = 1e-12)
  }
})

test_that("equals complete enumeration: a null with jumps and a continuous truth", {
  K <- 7
  F0 <- function(q) ifelse(q >= K - 1, 1, ppois(q, 2.5))
  w <- F0(0:(K - 1))
  null <- list(w = w, wl = c(0, w[-K]), p = diff(c(0, w)))
  # X in [k, k + 1): F(X) = F(X-) = F(k) (X = k has probability 0); below 0, 0.
  pc <- diff(c(0, pnorm(0:(K - 1), 2.6, 1.3), 1))
  true <- list(w = c(0, w), wl = c(0, w), p = pc)
  for (n in c(4, 6)) for (alt in c("two.sided", "greater", "less")) {
    e <- enumerate_power(n, null, true, alt)
    r <- pw(n, F0, function(q) pnorm(q, 2.6, 1.3), alternative = alt, support = 0:(K - 1))
    expect_equal(r$power, e$power, tolerance = 1e-12)
  }
})

test_that("jumps and flat stretches of both: atoms of the truth at the null's jumps and where it is flat", {
  # The null: atoms at 0, 1, 2, 3 (flat in between); the truth: atoms at
  # the same points and at 0.5, 1.5 (where the null is flat), and below 0.
  F0 <- stepfun(0:3, c(0, 0.2, 0.45, 0.8, 1))
  at <- c(-1, 0, 0.5, 1, 1.5, 2, 3)
  p <- c(0.05, 0.1, 0.15, 0.2, 0.1, 0.25, 0.15)
  G <- stepfun(at, c(0, cumsum(p)))
  w <- F0(at)
  wl <- c(0, F0(at[-1] - 1e-9))
  wl[1] <- 0
  null <- list(w = F0(0:3), wl = c(0, F0(0:2)), p = diff(c(0, F0(0:3))))
  true <- list(w = w, wl = wl, p = p)
  for (n in c(3, 6)) for (alt in c("two.sided", "greater", "less")) {
    e <- enumerate_power(n, null, true, alt)
    expect_equal(pw(n, F0, G, alternative = alt)$power, e$power, tolerance = 1e-12)
  }
})

test_that("agrees with a simulation within 4 standard errors (1e6 samples per row up to n = 1000)", {
  ref <- read_ref("ref-power-simulation.csv", "q")
  ref <- ref[ref$kind == "power", ]
  flat <- function(q) 0.5 * punif(q) + 0.5 * punif(q, 2, 3)
  mixed <- function(p, rate) function(q) ifelse(q < 0, 0, p + (1 - p) * pexp(q, rate))
  z <- vapply(seq_len(nrow(ref)), function(k) {
    a <- ref$par0[k]
    b <- ref$par1[k]
    n <- ref$n[k]
    alt <- ref$alternative[k]
    r <- switch(ref$case[k],
                pw(n, "pnorm", function(q) pnorm(q, a), alternative = alt),
                pw(n, function(q) ppois(q, a), function(q) ppois(q, b), alternative = alt),
                pw(n, "pnorm", function(q) pnorm((floor(2 * q) + 0.5) / 2, a), alternative = alt),
                pw(n, flat, function(q) pnorm(q, a, b), alternative = alt),
                pw(n, mixed(0.3, 1), mixed(a, b), alternative = alt, support = 0))
    # The simulation used this critical value (up to a few ulps: the
    # exact quantile is computed more accurately now than when the
    # simulation was run, which moves no simulated statistic).
    expect_equal(r$critical.value >= ref$q[k] * (1 - 1e-14), TRUE)
    f <- ref$hits[k] / ref$reps[k]
    (f - r$power) / sqrt(r$power * (1 - r$power) / ref$reps[k])
  }, 0)
  expect_lte(max(abs(z)), 4, label = sprintf("largest |z| (row %d)", which.max(abs(z))))
  expect_gte(min(ref$reps[ref$n <= 1000]), 1e6)
  expect_gte(min(ref$reps), 2e4)
  expect_identical(max(ref$n), 10000L)
})

test_that("under the null the power is the actual size of the exact test", {
  for (alt in c("two.sided", "greater", "less")) {
    expect_equal(pw(c(5, 50), "pnorm", "pnorm", alternative = alt)$power, c(0.05, 0.05), tolerance = 1e-9)
    P <- function(q) ppois(q, 4)
    r <- pw(40, P, P, alternative = alt)
    q <- qkolmogorov_discrete(0.05, 40, P, lower.tail = FALSE, alternative = alt)
    expect_equal(r$power, pkolmogorov_discrete(q, 40, P, lower.tail = FALSE, alternative = alt), tolerance = 1e-10)
    expect_lte(r$power, 0.05)
  }
})

test_that("the sample size reaches the power, and the size below does not", {
  r <- pw(power = 0.9, null = "pnorm", true = function(q) pnorm(q, 0.4))
  p <- pw(r$n - 0:1, "pnorm", function(q) pnorm(q, 0.4))$power
  expect_gte(p[1], 0.9)
  expect_lt(p[2], 0.9)
  expect_identical(r$power, p[1])
  expect_match(r$note, "smallest sample size whose power reaches 0.9")
  r <- pw(power = 0.7, null = "pexp", true = function(q) pexp(q, 1.3), alternative = "greater")
  p <- pw(r$n - 0:1, "pexp", function(q) pexp(q, 1.3), alternative = "greater")$power
  expect_true(p[1] >= 0.7 && p[2] < 0.7)
  # A null with jumps: the saw-tooth stays up through n + 9.
  P3 <- function(q) ppois(q, 3)
  P36 <- function(q) ppois(q, 3.6)
  r <- pw(power = 0.55, null = P3, true = P36)
  p <- pw(r$n + (-1):9, P3, P36)$power
  expect_lt(p[1], 0.55)
  expect_true(all(p[-1] >= 0.55))
  expect_match(r$note, "not monotone in n")
})

test_that("power for several sizes at once, and the object", {
  r <- pw(c(10, 20, 40), "pnorm", function(q) pnorm(q, 0.5))
  expect_s3_class(r, "power.htest")
  expect_length(r$power, 3)
  expect_true(all(diff(r$power) > 0))
  expect_identical(r$power[2], pw(20, "pnorm", function(q) pnorm(q, 0.5))$power)
  expect_match(r$method, "Exact power")
  expect_output(print(r), "critical.value")
  # A name, a closure and a step function of the same null agree.
  g <- function(q) pnorm(q, 0.3)
  expect_equal(pw(25, "pnorm", g)$power, pw(25, function(q) pnorm(q), g)$power, tolerance = 1e-14)
})
