# Benchmarks and accuracy of power_ks_test and ks_band against their
# targets:
#   * one-sample power at n = 1e3 in <= 0.1 s, n = 1e4 in <= 1 s;
#   * the sample size for 80% power in <= 2 s for answers up to n = 1e4;
#   * ks_band at n = 1e6 in <= 0.5 s (the exact quantile apart: it is the
#     one-sample law's, timed on its own);
#   * agreement with Steck's determinant (<= 1e-10 relative), complete
#     enumeration, and the simulations of tests/testthat.
#   Rscript bench/power.R      (from the top folder, ksdist installed)
# Times are medians of KSDIST_BENCH_REPS (default 3) runs, CPU (user +
# system) and elapsed: on a shared machine the elapsed time also counts
# the other processes.
suppressMessages(library(ksdist))
ns <- asNamespace("ksdist")
reps <- as.integer(Sys.getenv("KSDIST_BENCH_REPS", "3"))
timed <- function(expr) {
  e <- substitute(expr)
  env <- parent.frame()
  ts <- vapply(seq_len(reps), function(k) {
    t <- system.time(eval(e, env))
    c(cpu = t[["user.self"]] + t[["sys.self"]], elapsed = t[["elapsed"]])
  }, c(cpu = 0, elapsed = 0))
  apply(ts, 1, stats::median)
}
line <- function(what, t, target)
  cat(sprintf("%-58s cpu %6.3f s  elapsed %6.3f s  target %s\n", what, t[["cpu"]], t[["elapsed"]], target))

cat("== Speed ==\n")
shift <- function(d) function(q) pnorm(q, d)
pois <- function(l) function(q) ppois(q, l)
line("power, n = 1e3, normal shift", timed(power_ks_test(1000, "pnorm", shift(0.05))), "0.1 s")
line("power, n = 1e4, normal shift", timed(power_ks_test(1e4, "pnorm", shift(0.02))), "1 s")
line("power, n = 1e4, one-sided", timed(power_ks_test(1e4, "pnorm", shift(0.02), alternative = "less")), "1 s")
line("power, n = 1e3, Poisson(3) against Poisson(3.1)", timed(power_ks_test(1000, pois(3), pois(3.1))), "0.1 s")
line("power, n = 1e4, Poisson(3) against Poisson(3.03)", timed(power_ks_test(1e4, pois(3), pois(3.03))), "1 s")
# The parts at n = 1e4: the critical value (the one-sample law's quantile),
# the bounds (where F crosses 2n levels), the recursion.
nd <- ns$null_dist("pnorm", list(), globalenv(), "null")
gd <- ns$true_dist(shift(0.02), globalenv())
law <- ns$null_law(nd, NULL)
line("  n = 1e4: critical value (qkolmogorov)", timed(cr <- ns$critical_value(1e4, law, 0.05, "two.sided")), "")
line("  n = 1e4: bounds", timed(b <- ns$power_bounds(1e4, cr$q, law, gd, "two.sided")), "")
line("  n = 1e4: recursion", timed(.Call(ns$.ext$ksx_order_bounds, 1e4, b$l, b$r)), "")
for (d in c(0.1, 0.05, 0.035)) {
  n <- power_ks_test(null = "pnorm", true = shift(d), power = 0.8)$n
  line(sprintf("sample size for 80%%, shift %.3f (n = %d)", d, as.integer(n)),
       timed(power_ks_test(null = "pnorm", true = shift(d), power = 0.8)), "2 s")
}
n <- power_ks_test(null = pois(3), true = pois(3.15), power = 0.8)$n
line(sprintf("sample size for 80%%, Poisson 3 vs 3.15 (n = %d)", as.integer(n)),
     timed(power_ks_test(null = pois(3), true = pois(3.15), power = 0.8)), "2 s")
set.seed(1)
x <- rnorm(1e6)
line("ks_band, n = 1e6, given the quantile", timed(ns$band_at(x, 0.00136, "two.sided")), "0.5 s")
line("  and as.data.frame of it", timed(as.data.frame(ns$band_at(x, 0.00136, "two.sided"))), "")
line("ks_band, n = 1e5, with its quantile", timed(ks_band(x[1:1e5])), "")
if (nzchar(Sys.getenv("KSDIST_BENCH_HUGE")))
  line("ks_band, n = 1e6, with its quantile", timed(ks_band(x)), "0.5 s")

cat("\n== Accuracy ==\n")
here <- if (file.exists("tests/testthat")) "tests/testthat" else "../tests/testthat"
ref <- utils::read.csv(file.path(here, "ref-power-steck.csv"), stringsAsFactors = FALSE)
hexv <- function(s) if (is.na(s) || !nzchar(s)) NULL else as.numeric(strsplit(s, ";")[[1]])
rel <- vapply(seq_len(nrow(ref)), function(k) {
  v <- .Call(ns$.ext$ksx_order_bounds, ref$n[k], hexv(ref$l[k]), hexv(ref$r[k]))
  s <- as.numeric(ref$stay_hi[k]) + as.numeric(ref$stay_lo[k])
  g <- as.numeric(ref$leave_hi[k]) + as.numeric(ref$leave_lo[k])
  max(abs((v[1] - as.numeric(ref$stay_hi[k])) - as.numeric(ref$stay_lo[k])) / s,
      abs((v[2] - as.numeric(ref$leave_hi[k])) - as.numeric(ref$leave_lo[k])) / g)
}, 0)
cat(sprintf("Steck's determinant (rational), %d cases, n <= %d: largest relative error %.2e (target 1e-10)\n",
            nrow(ref), max(ref$n), max(rel)))
sim <- file.path(here, "ref-power-simulation.csv")
if (file.exists(sim)) {
  s <- utils::read.csv(sim, stringsAsFactors = FALSE)
  s <- s[s$kind == "power", ]
  flat <- function(q) 0.5 * punif(q) + 0.5 * punif(q, 2, 3)
  mixed <- function(p, rate) function(q) ifelse(q < 0, 0, p + (1 - p) * pexp(q, rate))
  z <- vapply(seq_len(nrow(s)), function(k) {
    a <- s$par0[k]; b <- s$par1[k]; n <- s$n[k]; alt <- s$alternative[k]
    r <- switch(s$case[k],
                power_ks_test(n, "pnorm", shift(a), alternative = alt),
                power_ks_test(n, pois(a), pois(b), alternative = alt),
                power_ks_test(n, "pnorm", function(q) pnorm((floor(2 * q) + 0.5) / 2, a), alternative = alt),
                power_ks_test(n, flat, function(q) pnorm(q, a, b), alternative = alt),
                power_ks_test(n, mixed(0.3, 1), mixed(a, b), alternative = alt, support = 0))
    (s$hits[k] / s$reps[k] - r$power) / sqrt(r$power * (1 - r$power) / s$reps[k])
  }, 0)
  for (k in seq_len(nrow(s)))
    cat(sprintf("  simulation case %d n = %5d %-9s %8.0f samples: z = %+.2f\n", s$case[k], s$n[k],
                s$alternative[k], s$reps[k], z[k]))
  cat(sprintf("simulations: largest |z| %.2f over %d rows (target 4)\n", max(abs(z)), length(z)))
}
