# Tests with estimated parameters and Monte Carlo p-values: how long they
# take, and how close their p-values come to the independent simulation of
# tools/make-estimate-references.R (10^5 draws per case).
#
#   Rscript bench/estimate.R      (from the package's top folder, with
#                                   ksdist installed from this tree)
#
# Goals: B = 10^4 replicates at n = 100 in at most a second for the
# families fitted as matrices; every p-value within 4 Monte Carlo standard
# errors of the reference (z below, which combines both errors).
# Environment: KSDIST_BENCH_REPS (default 5) repetitions per median.  On a
# shared machine the elapsed time follows the load; the CPU time (user and
# system) is what the call itself costs.

library(ksdist)
reps <- as.integer(Sys.getenv("KSDIST_BENCH_REPS", "5"))
# Median elapsed and CPU seconds of expr.
elapsed <- function(expr) {
  e <- substitute(expr)
  env <- parent.frame()
  t <- vapply(seq_len(reps), function(i) {
    s <- system.time(eval(e, env))
    c(s[["elapsed"]], s[["user.self"]] + s[["sys.self"]])
  }, c(0, 0))
  c(elapsed = stats::median(t[1, ]), cpu = stats::median(t[2, ]))
}
row <- function(case, n, B, t) data.frame(case = case, n = n, B = B, elapsed = t[[1]], cpu = t[[2]])

cat("Seconds per call (median of", reps, "runs; load average", paste(tryCatch(
  strsplit(readLines("/proc/loadavg"), " ")[[1]][1], error = function(e) "?")), "on",
  parallel::detectCores(), "cores)\n\n")
set.seed(1)
timing <- list(
  list("normal, mean and sd", rnorm(100, 5, 2), "pnorm", c("mean", "sd"), 1e4),
  list("normal, sd (mean = 0)", rnorm(100), "pnorm", "sd", 1e4),
  list("lognormal", rlnorm(100), "plnorm", c("meanlog", "sdlog"), 1e4),
  list("exponential", rexp(100, 2), "pexp", "rate", 1e4),
  list("uniform", runif(100), "punif", c("min", "max"), 1e4),
  list("logistic (Newton)", rlogis(100), "plogis", c("location", "scale"), 1e4),
  list("Poisson", rpois(100, 4), "ppois", "lambda", 1e4),
  list("geometric", rgeom(100, 0.2), "pgeom", "prob", 1e4),
  list("binomial (size = 10)", rbinom(100, 10, 0.3), "pbinom", "prob", 1e4),
  list("gamma (Nelder-Mead)", rgamma(100, 2), "pgamma", c("shape", "rate"), 1e3),
  list("Weibull (Nelder-Mead)", rweibull(100, 2), "pweibull", c("shape", "scale"), 1e3))
rows <- lapply(timing, function(t) {
  extra <- if (t[[3]] == "pbinom") list(size = 10) else list()
  row(t[[1]], 100, t[[5]], elapsed(do.call(ks_test, c(list(t[[2]], t[[3]], estimate = t[[4]], B = t[[5]]), extra))))
})
set.seed(2)
x <- round(rnorm(2e4), 1)
y <- round(rnorm(2e4, 0.01), 1)
z <- rpois(2e4, 3)
rows <- c(rows, list(
  row("default B, normal", 100, 1e4, elapsed(ks_test(rnorm(100), "pnorm", estimate = c("mean", "sd")))),
  row("default B, normal", 1000, 1e3, elapsed(ks_test(rnorm(1000), "pnorm", estimate = c("mean", "sd")))),
  row("two samples with ties, permutations", 4e4, 1e3, elapsed(ks_test(x, y, B = 1e3))),
  row("one sample, Poisson null, Monte Carlo", 2e4, 1e3, elapsed(ks_test(z, "ppois", lambda = 3, B = 1e3)))))
print(do.call(rbind, rows), row.names = FALSE, digits = 3)

cat("\nAccuracy against the reference (B = 10^4 each; z in combined standard errors)\n\n")
ref <- utils::read.csv(file.path("tests", "testthat", "ref-estimate.csv"), stringsAsFactors = FALSE)
null <- c(normal = "pnorm", exponential = "pexp", poisson = "ppois")
acc <- lapply(seq_len(nrow(ref)), function(i) {
  r <- ref[i, ]
  set.seed(r$seed)
  x <- eval(str2lang(r$draw))
  fixed <- if (nzchar(r$fixed)) {
    kv <- strsplit(strsplit(r$fixed, ";")[[1]], "=")
    stats::setNames(lapply(kv, function(p) as.numeric(p[2])), vapply(kv, `[`, "", 1))
  } else list()
  set.seed(1000 + i)
  t <- system.time(res <- do.call(ks_test, c(list(x, null[[r$family]], alternative = r$alternative,
                                                  estimate = strsplit(r$est, ";")[[1]], B = 1e4), fixed)))
  naive <- suppressWarnings(do.call(ks_test, c(list(x, null[[r$family]], alternative = r$alternative),
                                               fixed, as.list(res$estimate))))
  se <- sqrt(r$p * (1 - r$p) / 1e4 + r$se^2)
  data.frame(family = r$family, n = r$n, alternative = r$alternative,
             D_diff = unname(res$statistic) - as.numeric(r$D), p_ref = r$p, p = res$p.value,
             se = res$p.value.se, z = (res$p.value - r$p) / max(se, 1e-4),
             naive_p = naive$p.value, seconds = t[["elapsed"]])
})
acc <- do.call(rbind, acc)
print(acc, row.names = FALSE, digits = 3)
cat(sprintf("\nlargest |z| = %.2f (goal: below 4)\n", max(abs(acc$z))))
