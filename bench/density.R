# Times the one-sample density against one tail of the distribution
# function at the same point (both compiled, from ksdist_ext).
#
#   Rscript bench/density.R        (from the package's top folder, with
#                                   ksdist installed from this tree)
#
# Prints, per case: the density's and the lower and upper tails' median
# time per call and the ratio of the density's to the slower tail's.

library(ksdist)
dens <- function(d, n, alt) .Call(ksdist:::.ext$ksx_hook_kolmogorov_density, d, as.integer(n), as.integer(alt), 0L)[1:2]
cdf <- function(d, n, alt, up) .Call(ksdist:::.ext$ksx_hook_kolmogorov, d, as.integer(n), as.integer(alt), up)

timed <- function(f, reps = 3) {
  calls <- 1
  while ((el <- system.time(for (k in seq_len(calls)) f())[["elapsed"]]) < 0.1 && calls < 1e5)
    calls <- calls * 10
  stats::median(c(el, replicate(reps - 1, system.time(for (k in seq_len(calls)) f())[["elapsed"]]))) / calls
}

cat(sprintf("%8s %3s %6s %11s %11s %11s %6s\n", "n", "alt", "x", "density", "lower", "upper", "ratio"))
for (n in c(100, 1000, 10000, 100000)) for (alt in 0:1) {
  for (x in c(0.3, 0.6, 1, 1.5, 2.5, 5)) {
    d <- x / sqrt(n)
    if (d >= 1 || (alt == 0 && n * d < 0.5)) next
    td <- timed(function() dens(d, n, alt))
    tl <- timed(function() cdf(d, n, alt, FALSE))
    tu <- timed(function() cdf(d, n, alt, TRUE))
    cat(sprintf("%8d %3d %6.2f %10.2es %10.2es %10.2es %6.2f\n", as.integer(n), alt, x, td, tl, tu,
                td / max(tl, tu)))
  }
}
