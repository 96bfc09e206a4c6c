# Exact references for the power engine: P(l_i < U_(i) < r_i for every i)
# by Steck's determinant in rational arithmetic (gmp; tests/testthat/
# helper-oracles.R), on the bounds that power_ks_test maps from a null and
# a truth (continuous, with jumps, with flat stretches, mixed), and on
# random bounds.  The bounds are doubles, taken exactly as rationals, so
# the references are exact for the very bounds the engine is given.
# Writes tests/testthat/ref-power-steck.csv: the bounds as hexadecimal
# doubles (l and r, ";"-separated, empty for a side without bounds) and
# P(stay), P(leave) each as hi + lo.
#   Rscript tools/make-power-references.R     (from the top folder, with
#   ksdist installed; a few minutes)
suppressMessages(library(ksdist))
source(file.path("tests", "testthat", "helper-oracles.R"))
ns <- asNamespace("ksdist")

bounds_of <- function(n, null, true, alternative, support = NULL, level = 0.05) {
  nd <- ns$null_dist(null, list(), globalenv(), "null")
  gd <- ns$true_dist(true, globalenv())
  law <- ns$null_law(nd, support)
  if (!law$continuous) law <- ns$law_with_truth(law, gd)
  cr <- ns$critical_value(n, law, level, alternative)
  ns$power_bounds(n, cr$q, law, gd, alternative)
}

flat <- function(q) 0.5 * punif(q) + 0.5 * punif(q, 2, 3)
mixed0 <- function(q) ifelse(q < 0, 0, 0.3 + 0.7 * pexp(q))
mixed1 <- function(q) ifelse(q < 0, 0, 0.2 + 0.8 * pexp(q, 1.25))
pois <- function(l) function(q) ppois(q, l)

set.seed(7)
random_bounds <- function(n, w) {
  l <- sort(runif(n)) * (1 - w)
  r <- pmin(1, sort(l + w * runif(n, 0.5, 1)))
  list(l = cummax(l), r = cummax(pmax(r, l + 1e-3)))
}

cases <- list(
  list("normal shift", 10, "pnorm", function(q) pnorm(q, 0.5), "two.sided"),
  list("normal shift", 60, "pnorm", function(q) pnorm(q, 0.3), "two.sided"),
  list("normal shift", 200, "pnorm", function(q) pnorm(q, 0.2), "two.sided"),
  list("normal scale", 100, "pnorm", function(q) pnorm(q, 0, 1.3), "two.sided"),
  list("normal shift", 80, "pnorm", function(q) pnorm(q, -0.3), "greater"),
  list("normal shift", 300, "pnorm", function(q) pnorm(q, 0.15), "less"),
  list("poisson", 30, pois(3), pois(3.6), "two.sided"),
  list("poisson", 150, pois(3), pois(3.3), "greater"),
  list("discrete truth", 50, "pnorm", stepfun(-3:3, c(0, cumsum(dbinom(0:6, 6, 0.55)))), "two.sided"),
  list("continuous truth, poisson null", 40, pois(2.5), function(q) pnorm(q, 2.6, 1.3), "two.sided"),
  list("flat stretch", 20, flat, function(q) pnorm(q, 1.5), "two.sided"),
  list("flat stretch", 50, flat, function(q) pnorm(q, 1.5), "less"),
  list("mixed", 100, mixed0, mixed1, "two.sided", 0),
  list("random", 50),
  list("random", 150))

rows <- list()
for (cs in cases) {
  name <- cs[[1]]
  n <- cs[[2]]
  if (name == "random") {
    b <- random_bounds(n, 3 / sqrt(n))
    alt <- "two.sided"
  } else {
    alt <- cs[[5]]
    b <- bounds_of(n, cs[[3]], cs[[4]], alt, if (length(cs) >= 6) cs[[6]])
  }
  l <- if (is.null(b$l)) gmp::as.bigq(rep(0, n)) else gmp::as.bigq(b$l)
  r <- if (is.null(b$r)) gmp::as.bigq(rep(1, n)) else gmp::as.bigq(b$r)
  t <- system.time(stay <- steck_det(l, r))[3]
  leave <- 1 - stay
  split <- function(v) {
    hi <- as.double(v)
    c(hi, as.double(v - gmp::as.bigq(hi)))
  }
  s <- split(stay)
  g <- split(leave)
  hexes <- function(v) if (is.null(v)) "" else paste(sprintf("%a", v), collapse = ";")
  cat(sprintf("%-32s n=%4d %-9s stay=%.15g leave=%.15g (%.1f s)\n", name, n, alt, s[1], g[1], t))
  rows[[length(rows) + 1]] <- data.frame(name = name, n = n, alternative = alt, l = hexes(b$l), r = hexes(b$r),
                                         stay_hi = sprintf("%a", s[1]), stay_lo = sprintf("%a", s[2]),
                                         leave_hi = sprintf("%a", g[1]), leave_lo = sprintf("%a", g[2]))
}
utils::write.csv(do.call(rbind, rows), "tests/testthat/ref-power-steck.csv", row.names = FALSE)
