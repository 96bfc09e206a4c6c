# Reference p-values for ks_test(x, null, estimate = ...) (the tests in
# test-estimate.R), written to tests/testthat/ref-estimate.csv (run from the
# package's top folder; about a minute).
#
# For each case a sample is drawn (seed and expression in the table), the
# named parameters are estimated by maximum likelihood and D is computed
# against the fitted null; then the null law of that statistic is simulated
# with 10^5 samples from the fitted null, each estimated again.  The
# reference p-value is the fraction of simulated D at least the observed
# one, with its standard error, and the table keeps the simulated law's
# quantiles too.  For the normal and the exponential (location-scale
# families) that law is free of the parameters: the quantiles are those of
# the estimated-parameter statistic at that n, whatever the data.
#
# Everything here is computed on its own, one sample at a time, without
# the package: the statistic of a continuous null from the sorted
# probability transforms, i/n - u_(i) and u_(i) - (i - 1)/n; that of the
# Poisson on the whole numbers from 0 to max(x), where both the empirical
# and the null distribution functions are constant between neighbours, as
# the largest |F_n(k) - F(k)| (or its signed forms).

set.seed(20260611)
R <- 1e5

stat_continuous <- function(u, alternative) {
  u <- sort(u)
  n <- length(u)
  i <- seq_len(n)
  dp <- max(0, i / n - u)
  dm <- max(0, u - (i - 1) / n)
  switch(alternative, two.sided = max(dp, dm), greater = dp, less = dm)
}

stat_lattice <- function(x, F, alternative) {
  k <- 0:max(x)
  Fn <- vapply(k, function(v) mean(x <= v), 0)
  Fk <- F(k)
  dp <- max(0, Fn - Fk)
  dm <- max(0, Fk - Fn)
  switch(alternative, two.sided = max(dp, dm), greater = dp, less = dm)
}

# Each family: the estimates (named, given the fixed parameters), the
# statistic against the fitted null, and draws from it.
families <- list(
  normal = list(
    null = "pnorm",
    fit = function(x, fixed, est) {
      m <- if ("mean" %in% est) mean(x) else fixed$mean
      s <- if ("sd" %in% est) sqrt(mean((x - m)^2)) else fixed$sd
      list(mean = m, sd = s)
    },
    stat = function(x, th, alternative) stat_continuous(pnorm(x, th$mean, th$sd), alternative),
    draw = function(n, th) rnorm(n, th$mean, th$sd)),
  exponential = list(
    null = "pexp",
    fit = function(x, fixed, est) list(rate = 1 / mean(x)),
    stat = function(x, th, alternative) stat_continuous(pexp(x, th$rate), alternative),
    draw = function(n, th) rexp(n, th$rate)),
  poisson = list(
    null = "ppois",
    fit = function(x, fixed, est) list(lambda = mean(x)),
    stat = function(x, th, alternative) stat_lattice(x, function(k) ppois(k, th$lambda), alternative),
    draw = function(n, th) rpois(n, th$lambda)))

# The cases: data drawn from the null family or away from it, so that the
# p-values spread over (0, 1).
cases <- read.table(text = "
family|est|fixed|n|alternative|seed|draw
normal|mean;sd||10|two.sided|101|rnorm(10, 5, 2)
normal|mean;sd||30|two.sided|102|rexp(30) * 2 + 1
normal|mean;sd||100|two.sided|103|rt(100, 5)
normal|mean;sd||30|greater|104|rgamma(30, 4)
normal|sd|mean=0|50|two.sided|105|rnorm(50, 0.3)
exponential|rate||10|two.sided|201|rexp(10, 3)
exponential|rate||30|two.sided|202|rgamma(30, 1.6)
exponential|rate||100|two.sided|203|rweibull(100, 1.2)
exponential|rate||30|less|204|rgamma(30, 2)
poisson|lambda||20|two.sided|301|rpois(20, 2)
poisson|lambda||50|two.sided|302|rnbinom(50, size = 8, mu = 3)
poisson|lambda||100|two.sided|303|rnbinom(100, size = 5, mu = 5)
poisson|lambda||50|greater|304|rnbinom(50, size = 3, mu = 2)
", sep = "|", header = TRUE, stringsAsFactors = FALSE, na.strings = "")

parse_fixed <- function(s) {
  if (is.na(s) || !nzchar(s)) return(list())
  kv <- strsplit(strsplit(s, ";")[[1]], "=")
  stats::setNames(lapply(kv, function(p) as.numeric(p[2])), vapply(kv, `[`, "", 1))
}

rows <- lapply(seq_len(nrow(cases)), function(i) {
  cs <- cases[i, ]
  fam <- families[[cs$family]]
  est <- strsplit(cs$est, ";")[[1]]
  fixed <- parse_fixed(cs$fixed)
  set.seed(cs$seed)
  x <- eval(str2lang(cs$draw))
  th <- fam$fit(x, fixed, est)
  D <- fam$stat(x, th, cs$alternative)
  set.seed(cs$seed + 10000)
  Dstar <- vapply(seq_len(R), function(r) {
    xs <- fam$draw(cs$n, th)
    fam$stat(xs, fam$fit(xs, fixed, est), cs$alternative)
  }, 0)
  p <- mean(Dstar >= D * (1 - 1e-12))
  q <- stats::quantile(Dstar, c(0.5, 0.9, 0.95, 0.99), names = FALSE, type = 1)
  cat(sprintf("%-12s n = %3d %-9s D = %.5f  p = %.4f\n", cs$family, cs$n, cs$alternative, D, p))
  data.frame(cs, theta = paste(sprintf("%s=%.17g", est, unlist(th[est])), collapse = ";"),
             D = sprintf("%.17g", D), p = p, se = sqrt(p * (1 - p) / R), R = R,
             q50 = q[1], q90 = q[2], q95 = q[3], q99 = q[4], stringsAsFactors = FALSE)
})
ref <- do.call(rbind, rows)
ref$fixed[is.na(ref$fixed)] <- ""
utils::write.csv(ref, file.path("tests", "testthat", "ref-estimate.csv"), row.names = FALSE)
