# Simulates the power of the one-sample test and the coverage of the
# Kolmogorov band (tools/power-simulator.c: samples from the truth by R's
# own generators, the statistic as ks_test computes it), and writes
# tests/testthat/ref-power-simulation.csv, which the tests hold the exact
# power against (within 4 standard errors).  Critical values come from the
# installed package (the simulation checks the power at them, not them).
#   Rscript tools/make-power-simulations.R [reps [part]]     (from the top folder)
# With the default 1e6 samples per row it runs for about an hour on one
# core; part "large" (the row with n = 1e4, about 35 minutes) or "small"
# (the others) runs one part into a file of its own, ref-power-simulation-
# <part>.csv, which the two parts can be joined from (rbind, in that order).
suppressMessages(library(ksdist))
args <- commandArgs(trailingOnly = TRUE)
reps <- if (length(args)) as.numeric(args[1]) else 1e6
part <- if (length(args) >= 2) args[2] else "all"
dir <- tempfile("powersim-")
dir.create(dir)
file.copy("tools/power-simulator.c", dir)
old <- setwd(dir)
stopifnot(system2(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "power-simulator.c"), stdout = FALSE) == 0)
setwd(old)
dyn.load(file.path(dir, paste0("power-simulator", .Platform$dynlib.ext)))

alts <- c("two.sided", "greater", "less")
qcont <- function(n, alt, level = 0.05) qkolmogorov(level, n, lower.tail = FALSE, alternative = alt)
qdisc <- function(n, alt, F, support)
  qkolmogorov_discrete(0.05, n, F, support = support, lower.tail = FALSE, alternative = alt)
mixed0 <- function(q) ifelse(q < 0, 0, 0.3 + 0.7 * pexp(q))
pois3 <- function(q) ppois(q, 3)

cases <- list(
  # kind, case, par, n, alt: shifts of about 1.2 / sqrt(n) put the power near 1/2
  list("power", 1, c(0.6, 0), 10, "two.sided"),
  list("power", 1, c(0.17, 0), 100, "two.sided"),
  list("power", 1, c(0.054, 0), 1000, "two.sided"),
  list("power", 1, c(0.017, 0), 10000, "two.sided"),
  list("power", 1, c(-0.14, 0), 100, "greater"),
  list("power", 1, c(0.045, 0), 1000, "less"),
  list("power", 2, c(3, 3.35), 100, "two.sided"),
  list("power", 2, c(3, 3.1), 1000, "two.sided"),
  list("power", 2, c(3, 2.8), 300, "greater"),
  list("power", 3, c(0.15, 0), 100, "two.sided"),
  list("power", 4, c(1.5, 1), 20, "two.sided"),
  list("power", 4, c(1.5, 1), 50, "less"),
  list("power", 5, c(0.2, 1.25), 100, "two.sided"),
  list("coverage", 1, c(0, 0), 100, "two.sided"),
  list("coverage", 1, c(0, 0), 1000, "greater"),
  list("coverage", 2, c(3, 3), 100, "two.sided"))

set.seed(20240611)
seeds <- sample.int(.Machine$integer.max, length(cases))
rows <- list()
for (ci in seq_along(cases)) {
  cs <- cases[[ci]]
  if ((part == "large" && cs[[4]] < 1e4) || (part == "small" && cs[[4]] >= 1e4)) next
  kind <- cs[[1]]; kase <- cs[[2]]; par <- cs[[3]]; n <- cs[[4]]; alt <- cs[[5]]
  strict <- kase %in% c(2, 5)
  if (kind == "coverage") {
    # The band at level 0.95 covers F exactly when D <= its half-width:
    # the simulation counts D > d (outside), with d the quantile.
    d <- qkolmogorov(0.95, n, alternative = alt)
    q <- d
    strict <- TRUE
  } else {
    q <- switch(as.character(kase),
                "2" = qdisc(n, alt, function(x) ppois(x, par[1]), NULL),
                "5" = qdisc(n, alt, mixed0, 0),
                qcont(n, alt))
  }
  seed <- seeds[ci]
  set.seed(seed)
  t <- system.time(hits <- .Call("power_simulate", as.integer(kase), as.double(par), as.integer(n), q,
                                 match(alt, alts) - 1L, as.integer(strict), reps))[3]
  p <- hits / reps
  cat(sprintf("%-8s case %d n=%5d %-9s q=%.8f freq=%.6f se=%.6f (%.0f s)\n", kind, kase, n, alt, q, p,
              sqrt(p * (1 - p) / reps), t))
  rows[[length(rows) + 1]] <- data.frame(kind = kind, case = kase, par0 = par[1], par1 = par[2], n = n,
                                         alternative = alt, q = sprintf("%a", q), strict = strict,
                                         reps = reps, seed = seed, hits = hits)
}
out <- do.call(rbind, rows)
utils::write.csv(out, if (part == "all") "tests/testthat/ref-power-simulation.csv"
                      else sprintf("tests/testthat/ref-power-simulation-%s.csv", part), row.names = FALSE)
