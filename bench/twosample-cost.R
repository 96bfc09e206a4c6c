# The two-sample law's estimate of its own cost against the time it takes:
# one tail (upper, by the sweep; lower where at least 1/2, by the exact
# module's rows), over sizes and statistics.  The estimate decides whether
# ks_test takes the exact law by default (at most 1 s) and refuses calls
# beyond option ksdist.max_seconds; a ratio near 1 (within 2 either way) is
# what it needs.
#
#   Rscript bench/twosample-cost.R [largest m]   (ksdist installed from this tree)
library(ksdist, warn.conflicts = FALSE)
args <- commandArgs(trailingOnly = TRUE)
top <- if (length(args)) as.numeric(args[1]) else 1e6
seconds <- function(D, m, n, alt) {
  .Call(ksdist:::.ext$ksx_smirnov_seconds, floor(D * m * n + 1e-7) + 1, m, n, alt, NULL)
}
sizes <- list(c(1e4, 1.2e4), c(1e5, 1e5 + 1), c(3e5, 2e5), c(1e6, 7e5), c(2e6, 1e6))
sizes <- Filter(function(s) s[1] <= top, sizes)
cat(sprintf("%-18s %-9s %4s %-10s %9s %9s %6s\n", "m x n", "alt", "z", "tail", "time s", "est. s", "ratio"))
for (s in sizes) for (z in c(1, 2.5, 4)) for (alt in c("two.sided", "greater")) {
  m <- s[1]; n <- s[2]
  D <- z / sqrt(m * n / (m + n))
  t <- system.time(psmirnov2(D, m, n, lower.tail = FALSE, alternative = alt))[["elapsed"]]
  e <- seconds(D, m, n, alt)
  cat(sprintf("%-18s %-9s %4.1f %-10s %9.3f %9.3f %6.2f\n", paste(m, "x", n), alt, z, "upper", t, e, e / t))
  if (alt == "two.sided" && z <= 2.5) {
    t <- system.time(psmirnov2(D, m, n))[["elapsed"]]
    e <- e * 2.0 / 0.45 # the module's rows, per cell
    cat(sprintf("%-18s %-9s %4.1f %-10s %9.3f %9.3f %6.2f\n", paste(m, "x", n), alt, z, "lower", t, e, e / t))
  }
}
