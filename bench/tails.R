# Cost of an upper tail against the lower tail at the same arguments, for
# the exact one- and two-sample laws as the R functions compute them.
#
#   Rscript bench/tails.R        (with ksdist installed from this tree)
library(ksdist)
per_call <- function(f) {
  calls <- 1
  while ((t <- system.time(for (i in seq_len(calls)) f())[["elapsed"]]) < 0.2) calls <- calls * 4
  t / calls
}
rows <- list()
for (n in c(100, 1000, 10000)) for (x in c(0.5, 0.8, 1, 1.36, 2, 3)) {
  d <- x / sqrt(n)
  lo <- per_call(function() pkolmogorov(d, n))
  up <- per_call(function() pkolmogorov(d, n, lower.tail = FALSE))
  rows[[length(rows) + 1]] <- data.frame(law = "one sample", size = n, sqrt_n_d = x,
                                         lower_ms = lo * 1e3, upper_ms = up * 1e3)
}
for (n in c(100, 1000, 5000)) for (x in c(0.5, 1, 1.36, 2, 3)) {
  d <- x / sqrt(n / 2)
  lo <- per_call(function() psmirnov2(d, n, n))
  up <- per_call(function() psmirnov2(d, n, n, lower.tail = FALSE))
  rows[[length(rows) + 1]] <- data.frame(law = "two samples m = n", size = n, sqrt_n_d = x,
                                         lower_ms = lo * 1e3, upper_ms = up * 1e3)
}
tab <- do.call(rbind, rows)
tab$ratio <- tab$upper_ms / tab$lower_ms
print(format(tab, digits = 3), row.names = FALSE)
