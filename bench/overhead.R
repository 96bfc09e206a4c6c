# What the R layer costs on top of the compiled computation, for scalar
# calls: each R function against the bare .Call of the exact module doing
# the same work, in the same process.
#
#   Rscript bench/overhead.R        (with ksdist installed from this tree)
#
# Prints microseconds per call and the difference (the layer's overhead).

library(ksdist)
per_call <- function(f, reps = 5L) {
  calls <- 1e4
  while (system.time(for (i in seq_len(calls)) f())[["elapsed"]] < 0.2) calls <- calls * 4
  t <- vapply(seq_len(reps), function(r) system.time(for (i in seq_len(calls)) f())[["elapsed"]] / calls, 0)
  stats::median(t) * 1e6
}
rows <- list(
  c("pkolmogorov(0.3, 10)", per_call(function() pkolmogorov(0.3, 10)),
    per_call(function() .Call("pKolmogorov2x", 0.3, 10L, PACKAGE = "ksdist"))),
  c("psmirnov2(0.7, 10, 12)", per_call(function() psmirnov2(0.7, 10, 12)),
    per_call(function() .Call("pSmirnov2x", 0.71, 10L, 12L, PACKAGE = "ksdist"))),
  c("pkolmogorov_limit(1.2)", per_call(function() pkolmogorov_limit(1.2)),
    per_call(function() .Call("pKS2", 1.2, 1e-6, PACKAGE = "ksdist"))))
tab <- data.frame(call = vapply(rows, `[`, "", 1),
                  r_us = as.numeric(vapply(rows, `[`, "", 2)),
                  kernel_us = as.numeric(vapply(rows, `[`, "", 3)))
tab$overhead_us <- tab$r_us - tab$kernel_us
print(format(tab, digits = 3), row.names = FALSE)
set.seed(1)
x <- rnorm(100); y <- rnorm(100)
cat(sprintf("ks_test(100 vs 100): %.0f us per call\n", per_call(function() ks_test(x, y), 3L)))
x <- rnorm(1e6); y <- rnorm(1e6)
cat(sprintf("ks_test(1e6 vs 1e6): %.2f s\n", system.time(ks_test(x, y))[["elapsed"]]))
