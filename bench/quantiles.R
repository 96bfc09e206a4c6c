# Time and number of exact evaluations of the quantile functions at the
# sizes where they used to be slow.
#
#   Rscript bench/quantiles.R        (with ksdist installed from this tree)
library(ksdist)
time_of <- function(f) system.time(f())[["elapsed"]]
rows <- list()
for (p in c(0.01, 0.05, 0.5, 0.95, 0.99, 0.999))
  rows[[length(rows) + 1]] <- data.frame(call = sprintf("qkolmogorov(%g, 1000)", p),
                                         seconds = time_of(function() qkolmogorov(p, 1000)))
for (p in c(0.5, 0.95))
  rows[[length(rows) + 1]] <- data.frame(call = sprintf("qkolmogorov(%g, 1e4)", p),
                                         seconds = time_of(function() qkolmogorov(p, 1e4)))
rows[[length(rows) + 1]] <- data.frame(call = "qkolmogorov(0.05, 1e4, lower.tail = FALSE)",
  seconds = time_of(function() qkolmogorov(0.05, 1e4, lower.tail = FALSE)))
for (p in c(0.5, 0.95))
  rows[[length(rows) + 1]] <- data.frame(call = sprintf("qsmirnov2(%g, 1e4, 1e4)", p),
                                         seconds = time_of(function() qsmirnov2(p, 1e4, 1e4)))
rows[[length(rows) + 1]] <- data.frame(call = "qsmirnov2(0.95, 1e4, 9999)",
  seconds = time_of(function() qsmirnov2(0.95, 1e4, 9999)))
print(do.call(rbind, rows), row.names = FALSE)
