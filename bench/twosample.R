# Times of the two-sample tails of ksdist_ext (routine ksx_hook_smirnov), lower
# and upper, next to the exact module's pSmirnov2x at the same statistic,
# with the nanoseconds per cell swept by the faster of the two.
#
#   Rscript bench/twosample.R      (with ksdist installed from this tree)
library(ksdist, warn.conflicts = FALSE)
ks2 <- function(K, m, n, alt, upper) .Call(ksdist:::.ext$ksx_hook_smirnov, K, m, n, alt, NULL, upper)

reps <- as.integer(Sys.getenv("KSDIST_BENCH_REPS", "7"))
# Median over reps of the time per call; quick calls repeat for 0.2 s.
per_call <- function(f) {
  t <- numeric(reps)
  for (r in seq_len(reps)) {
    k <- 0
    t0 <- proc.time()[[3]]
    repeat {
      f()
      k <- k + 1
      el <- proc.time()[[3]] - t0
      if (el >= 0.2) break
    }
    t[r] <- el / k
  }
  stats::median(t)
}
# Cells the sweep computes: per anti-diagonal s, the band of the statistic
# within the strip of width sqrt(min(s, N - s) T / 2) + 2 around s m / N
# that holds the path but with probability 2^-910 (the wide passes use the
# whole band; this counts the plain ones).
swept_cells <- function(K, m, n, alt) {
  if (m > n) { t <- m; m <- n; n <- t; alt <- c(0, 2, 1)[alt + 1] }
  N <- m + n
  s <- as.numeric(0:N)
  T <- log(2 * N) + 910 * log(2)
  half <- sqrt(pmin(s, N - s) * T / 2) + 2
  lo <- pmax(0, s - n, ceiling(s * m / N - half))
  hi <- pmin(s, m, floor(s * m / N + half))
  if (alt != 1) lo <- pmax(lo, ceiling((s * m - K) / N))
  if (alt != 2) hi <- pmin(hi, floor((s * m + K) / N))
  sum(pmax(0, hi - lo + 1))
}

cases <- list(c(1e4, 1e4, 1.36 * sqrt(2 / 1e4), 0), c(1e4, 1e4, 0.5, 0),
              c(1000, 1500, 0.759, 0), c(1000, 1500, 0.1, 0), c(3000, 3000, 1.36 * sqrt(2 / 3000), 0),
              c(1e4, 1e4, 1.22 * sqrt(2 / 1e4), 1), c(500, 500, 0.1, 2))
cat(sprintf("%-22s %10s %9s %9s %8s %8s %9s %12s\n", "case", "cells", "lower ms", "upper ms",
            "ns/cell", "up/low", "module ms", "upper tail"))
for (cs in cases) {
  m <- cs[1]; n <- cs[2]; d <- cs[3]; alt <- cs[4]
  K <- floor(d * m * n - 1e-7)
  cells <- swept_cells(K, m, n, alt)
  tl <- per_call(function() ks2(K, m, n, alt, FALSE))
  tu <- per_call(function() ks2(K, m, n, alt, TRUE))
  tm <- if (alt == 0) per_call(function() .Call("pSmirnov2x", d, as.integer(m), as.integer(n),
                                                PACKAGE = "ksdist")) else NA
  p <- ks2(K, m, n, alt, TRUE)
  cat(sprintf("%-22s %10.3g %9.2f %9.2f %8.2f %8.2f %9.2f %12s\n",
              sprintf("%gx%g d=%.4f %s", m, n, d, c("two", "greater", "less")[alt + 1]), cells,
              1e3 * tl, 1e3 * tu, 1e9 * min(tl, tu) / cells, tu / tl, 1e3 * tm,
              if (p[1] > 0) sprintf("%.3g", p[1]) else sprintf("e^%.1f", p[2])))
}
