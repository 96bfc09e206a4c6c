# ks_test with estimated parameters: the estimates and the statistic
# against the fitted null, the bootstrap p-value against an independent
# simulation (ref-estimate.csv, from tools/make-estimate-references.R), and
# the Monte Carlo p-values of fully specified tests against the exact laws.
# Refusals and warnings, as the user reads them, are in test-messages.R.

read_fixed <- function(s) {
  if (!nzchar(s)) return(list())
  kv <- strsplit(strsplit(s, ";")[[1]], "=")
  stats::setNames(lapply(kv, function(p) as.numeric(p[2])), vapply(kv, `[`, "", 1))
}

test_that("estimated-parameter p-values agree with an independent simulation", {
  ref <- read_ref("ref-estimate.csv")
  ref$fixed[is.na(ref$fixed)] <- ""
  null <- c(normal = "pnorm", exponential = "pexp", poisson = "ppois")
  B <- 2000
  for (i in seq_len(nrow(ref))) {
    r <- ref[i, ]
    set.seed(r$seed)
    x <- eval(str2lang(r$draw))
    est <- strsplit(r$est, ";")[[1]]
    set.seed(i)
    res <- do.call(ks_test, c(list(x, null[[r$family]], alternative = r$alternative,
                                   estimate = est, B = B), read_fixed(r$fixed)))
    what <- sprintf("%s, n = %d, %s", r$family, r$n, r$alternative)
    expect_equal(unname(res$statistic), as.numeric(r$D), tolerance = 1e-12, label = what)
    theta <- read_fixed(r$theta)
    expect_equal(as.list(res$estimate), theta, tolerance = 1e-12, label = what)
    se <- sqrt(r$p * (1 - r$p) / B + r$se^2)
    expect_lt(abs(res$p.value - r$p), 4 * max(se, 1 / B), label = what)
  }
})

test_that("the estimates are the maximum-likelihood ones and D is ks_test's against the fitted null", {
  set.seed(11)
  cases <- list(
    list(rnorm(25, 3, 2), "pnorm", c("mean", "sd"), list(),
         function(x) c(mean = mean(x), sd = sqrt(mean((x - mean(x))^2)))),
    list(rnorm(25, 3, 2), "pnorm", "sd", list(mean = 2), function(x) c(sd = sqrt(mean((x - 2)^2)))),
    list(rlnorm(25), "plnorm", c("meanlog", "sdlog"), list(),
         function(x) c(meanlog = mean(log(x)), sdlog = sqrt(mean((log(x) - mean(log(x)))^2)))),
    list(runif(25, 2, 5), "punif", c("min", "max"), list(), function(x) c(min = min(x), max = max(x))),
    list(runif(25, 2, 5), "punif", "max", list(min = 1), function(x) c(max = max(x))),
    list(rgeom(25, 0.3), "pgeom", "prob", list(), function(x) c(prob = 1 / (1 + mean(x)))),
    list(rbinom(25, 6, 0.4), "pbinom", "prob", list(size = 6), function(x) c(prob = mean(x) / 6)))
  for (cs in cases) for (alt in c("two.sided", "greater", "less")) {
    r <- do.call(ks_test, c(list(cs[[1]], cs[[2]], estimate = cs[[3]], B = 20, alternative = alt), cs[[4]]))
    expect_equal(r$estimate, cs[[5]](cs[[1]]), tolerance = 1e-13, label = cs[[2]])
    plain <- suppressWarnings(do.call(ks_test, c(list(cs[[1]], cs[[2]], alternative = alt), cs[[4]],
                                                 as.list(r$estimate))))
    expect_identical(r$statistic, plain$statistic, label = paste(cs[[2]], alt))
    expect_identical(r$discrete, plain$discrete)
  }
  # Maximised numerically: the logistic (Newton, all replicates at once)
  # and the gamma (Nelder-Mead), against optim() on the log-likelihood.
  x <- rlogis(40, 3, 2)
  nll <- function(p) -sum(dlogis(x, p[1], exp(p[2]), log = TRUE))
  o <- optim(c(3, log(2)), nll, control = list(reltol = 1e-15))
  r <- ks_test(x, "plogis", estimate = c("location", "scale"), B = 10)
  expect_equal(unname(r$estimate), c(o$par[1], exp(o$par[2])), tolerance = 1e-6)
  expect_lte(nll(c(r$estimate[[1]], log(r$estimate[[2]]))), o$value)
  # With the scale given, the location solves sum(2 F(z) - 1) = 0.
  r1 <- ks_test(x, "plogis", scale = 1.5, estimate = "location", B = 10)
  expect_equal(unname(r1$estimate),
               uniroot(function(m) sum(2 * plogis((x - m) / 1.5) - 1), c(0, 6), tol = 1e-14)$root,
               tolerance = 1e-13)
  g <- rgamma(40, 2.5, 0.5)
  rg <- ks_test(g, "pgamma", estimate = c("shape", "rate"), B = 5)
  og <- optim(c(log(2), log(1)), function(p) -sum(dgamma(g, exp(p[1]), exp(p[2]), log = TRUE)),
              control = list(reltol = 1e-15))
  expect_equal(unname(rg$estimate), exp(og$par), tolerance = 1e-5)
  expect_match(rg$method, "of pgamma with estimated shape and rate")
  # A function passed by name (not a string) is found and fitted the same.
  set.seed(3)
  a <- ks_test(x, pnorm, estimate = "mean", B = 50)
  set.seed(3)
  b <- ks_test(x, "pnorm", estimate = "mean", B = 50)
  expect_identical(a$p.value, b$p.value)
  expect_identical(a$method, b$method)
})

test_that("the bootstrap p-value: reproducible, of the form (1 + k)/(B + 1), with its error and critical value", {
  set.seed(4)
  x <- rnorm(40)
  set.seed(9)
  r <- ks_test(x, "pnorm", estimate = c("mean", "sd"), B = 999, sig.level = 0.1)
  set.seed(9)
  expect_identical(ks_test(x, "pnorm", estimate = c("mean", "sd"), B = 999, sig.level = 0.1), r)
  k <- r$p.value * 1000 - 1
  expect_equal(k, round(k), tolerance = 1e-9)
  expect_equal(r$p.value.se, sqrt(r$p.value * (1 - r$p.value) / 999))
  expect_identical(r$B, 999)
  expect_equal(r$log.p.value, log(r$p.value))
  expect_false(r$exact)
  expect_match(r$method, "with estimated mean and sd, parametric bootstrap (999 replicates)", fixed = TRUE)
  expect_output(print(r), "Monte Carlo standard error")
  expect_output(print(r), "maximum-likelihood estimates:")
  # The critical value at sig.level decides as the p-value does.
  for (s in c(1, 5, 12)) {
    set.seed(s)
    y <- rt(30, 3)
    rr <- ks_test(y, "pnorm", estimate = c("mean", "sd"), B = 199, sig.level = 0.05)
    expect_identical(rr$p.value <= 0.05, unname(rr$statistic) > rr$critical.value)
  }
  # The default B follows the sample size; a single replicate is allowed.
  expect_identical(ks_test(x, "pnorm", estimate = "sd")$B, 1e4)
  expect_identical(ks_test(rnorm(300), "pnorm", estimate = "sd")$B, 2000)
  expect_true(ks_test(x, "pnorm", estimate = "sd", B = 1)$p.value %in% c(0.5, 1))
  # The one-sample formula passes estimate on.
  set.seed(2)
  expect_warning(f <- ks_test(eruptions ~ 1, data = faithful, y = "pnorm", estimate = c("mean", "sd"), B = 50),
                 class = "ksdist_warning_ties")
  expect_identical(f$data.name, "eruptions")
  expect_lt(f$p.value, 0.05)
})

test_that("with parameters estimated the p-value is smaller than the naive one", {
  # The fitted null lies closer to the data than the true one: the naive
  # p-value (the exact law of a fully specified null) is too large.
  set.seed(22)
  x <- rexp(50) + rnorm(50, sd = 0.3)
  r <- ks_test(x, "pnorm", estimate = c("mean", "sd"), B = 2000)
  naive <- suppressWarnings(ks_test(x, "pnorm", mean = r$estimate[["mean"]], sd = r$estimate[["sd"]]))
  expect_lt(r$p.value, 0.02)
  expect_gt(naive$p.value, 0.15)
})

test_that("a family of the user's own is fitted through its density and drawn through its quantile function", {
  # A shifted exponential, defined here: pshexp, dshexp and qshexp, no
  # random generator.
  pshexp <- function(q, shift, rate = 1) pexp(q - shift, rate)
  dshexp <- function(x, shift, rate = 1) dexp(x - shift, rate)
  qshexp <- function(p, shift, rate = 1) shift + qexp(p, rate)
  set.seed(6)
  x <- 2 + rexp(40, 3)
  r <- ks_test(x, "pshexp", shift = 2, estimate = "rate", B = 200)
  expect_equal(r$estimate[["rate"]], 1 / mean(x - 2), tolerance = 1e-6)
  expect_gt(r$p.value, 0.01)
  expect_identical(r$statistic, ks_test(x, "pshexp", shift = 2, rate = r$estimate[["rate"]])$statistic)
  qshexp <- NULL
  expect_error(ks_test(x, "pshexp", shift = 2, estimate = "rate"), "random generator", class = "ksdist_error_estimate")
  # The fitted null is what plot() draws.
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  expect_identical(plot(r), r)
})

test_that("estimates on the boundary of a discrete family give D = 0 and p = 1", {
  for (nm in c("ppois", "pgeom")) {
    r <- ks_test(rep(0, 12), nm, estimate = if (nm == "ppois") "lambda" else "prob", B = 50)
    expect_identical(unname(r$statistic), 0)
    expect_identical(r$p.value, 1)
    expect_identical(unname(r$estimate), if (nm == "ppois") 0 else 1)
  }
})

test_that("the progress bar shows only in runs that look long", {
  withr::local_options(ksdist.progress = TRUE)
  now <- 0
  slow <- function() { now <<- now + 10; now }
  expect_output(v <- ksdist:::run_replicates(5, 2, function(k) rep(1, k), clock = slow), "100%")
  expect_identical(v, rep(1, 5))
  expect_silent(ksdist:::run_replicates(5, 2, function(k) rep(1, k), clock = function() 0))
  withr::local_options(ksdist.progress = FALSE)
  expect_silent(ksdist:::run_replicates(5, 2, function(k) rep(1, k), clock = slow))
})

test_that("a long bootstrap stops promptly at a time limit", {
  skip_on_cran()
  x <- rnorm(200)
  t0 <- proc.time()[["elapsed"]]
  msg <- tryCatch({
    setTimeLimit(elapsed = 0.3, transient = TRUE)
    ks_test(x, "pnorm", estimate = c("mean", "sd"), B = 1e7)
    "finished"
  }, error = conditionMessage, finally = setTimeLimit())
  expect_match(msg, "reached elapsed time limit")
  expect_lt(proc.time()[["elapsed"]] - t0, 5)
})

# Monte Carlo p-values where the exact law is not used --------------------

test_that("Monte Carlo p-values agree with the exact laws", {
  B <- 2000
  within <- function(r, p) {
    expect_lt(abs(r$p.value - p), 4 * sqrt(p * (1 - p) / B) + 1 / B, label = r$method)
    expect_identical(r$B, B)
  }
  # Two samples with ties: permutations against the exact law given the ties.
  set.seed(31)
  x <- round(rnorm(30), 1)
  y <- round(rnorm(35, 0.6), 1)
  for (alt in c("two.sided", "less")) {
    ex <- ks_test(x, y, alternative = alt)
    set.seed(32)
    mc <- ks_test(x, y, alternative = alt, exact = FALSE, B = B)
    expect_identical(mc$statistic, ex$statistic)
    expect_match(mc$method, "^Monte Carlo two-sample Kolmogorov-Smirnov test, conditional on the ties \\(2000 permutations")
    within(mc, ex$p.value)
    expect_identical(mc$p.value <= mc$sig.level, unname(mc$statistic) > mc$critical.value)
  }
  # One sample, continuous and with jumps.
  set.seed(33)
  u <- rnorm(40, 0.3)
  ex <- ks_test(u, "pnorm", alternative = "greater")
  mc <- ks_test(u, "pnorm", alternative = "greater", exact = FALSE, B = B)
  expect_identical(mc$method, "Monte Carlo one-sample Kolmogorov-Smirnov test (2000 replicates)")
  within(mc, ex$p.value)
  k <- rpois(30, 3.4)
  ex <- ks_test(k, "ppois", lambda = 3)
  mc <- ks_test(k, "ppois", lambda = 3, exact = FALSE, B = B)
  expect_match(mc$method, "null distribution with jumps (2000 replicates)", fixed = TRUE)
  within(mc, ex$p.value)
  # A mixed null: a normal censored at 1.
  F1 <- function(t) ifelse(t < 1, pnorm(t), 1)
  z <- pmin(rnorm(25, 0.2), 1)
  ex <- ks_test(z, F1, support = 1)
  mc <- ks_test(z, F1, support = 1, exact = FALSE, B = B)
  within(mc, ex$p.value)
  # Where the exact law is used, B changes nothing.
  expect_identical(ks_test(x, y, B = 10)$p.value, ks_test(x, y)$p.value)
  expect_null(ks_test(x, y, B = 10)$B)
})
