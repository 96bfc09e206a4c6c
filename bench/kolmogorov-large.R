# The one-sample two-sided law at large n: seconds per call of pkolmogorov
# (lower tail, upper tail, log of the upper tail) for sqrt(n) d from 0.3 to
# 6, of qkolmogorov (with the number of exact evaluations each quantile
# took) and dkolmogorov, at n = 1e4, 1e5, 1e6 and 1e7, and of an exact
# ks_test(x, "pnorm") at n = 1e6.  Given a second library (an installation
# of an earlier version, e.g. main before the spectral engine), the same
# calls there, side by side; a call that runs past the cap is stopped and
# shown as "> cap".
#
#   Rscript bench/kolmogorov-large.R [old-library [cap-seconds]]
#       (with ksdist installed from this tree; default cap 20 s)
#
# Each version runs in a child process of its own (two builds of one
# package cannot share a session).  Targets on the development machine (2
# shared cores): pkolmogorov(d, 1e6) <= 1 s for every d, n = 1e7 <= 10 s,
# n = 1e5 <= 0.1 s; qkolmogorov(p, 1e4) <= 50 ms, (p, 1e5) <= 0.5 s,
# (p, 1e6) <= 5 s for p in 0.01 ... 0.999, about 6 evaluations or fewer on
# average; the exact ks_test at n = 1e6 <= 2 s end to end.

args <- commandArgs(trailingOnly = TRUE)

# ---- one version, in this process ------------------------------------------
if (length(args) >= 1 && args[1] == "--worker") {
  lib <- args[2]
  cap <- as.numeric(args[3])
  out <- args[4]
  suppressPackageStartupMessages(library(ksdist, lib.loc = if (nzchar(lib)) lib else NULL))
  ext <- ksdist:::.ext
  count_q <- get0("ksx_hook_kolmogorov_q", envir = ext, inherits = FALSE)
  timed <- function(expr) {
    t0 <- proc.time()[["elapsed"]]
    setTimeLimit(elapsed = cap, transient = TRUE)
    ok <- tryCatch({ force(expr); TRUE }, error = function(e) FALSE)
    setTimeLimit()
    t <- proc.time()[["elapsed"]] - t0
    if (ok) t else Inf
  }
  rows <- list()
  add <- function(...) rows[[length(rows) + 1]] <<- data.frame(...)
  xs <- c(0.3, 0.6, 1, 1.5, 2, 3, 4, 4.2, 5, 6)
  for (n in c(1e4, 1e5, 1e6, 1e7)) {
    for (x in xs) {
      d <- x / sqrt(n)
      lo <- timed(pkolmogorov(d, n))
      up <- if (is.finite(lo) || n < 1e6) timed(pkolmogorov(d, n, lower.tail = FALSE)) else Inf
      lu <- if (is.finite(up) || n < 1e6) timed(pkolmogorov(d, n, lower.tail = FALSE, log.p = TRUE)) else Inf
      de <- if (n <= 1e6) timed(dkolmogorov(d, n)) else NA
      add(n = n, what = "p", arg = x, lower = lo, upper = up, log_upper = lu, density = de, evals = NA)
    }
    for (p in c(0.01, 0.05, 0.5, 0.95, 0.99, 0.999)) {
      if (n >= 1e7) next
      ev <- NA
      t <- timed(if (!is.null(count_q)) ev <- .Call(count_q, p, as.integer(n), 1L, 0L, 0L)[2]
                 else qkolmogorov(p, n))
      add(n = n, what = "q", arg = p, lower = t, upper = NA, log_upper = NA, density = NA, evals = ev)
    }
  }
  set.seed(1)
  x <- rnorm(1e6)
  t <- timed(r <- ks_test(x, "pnorm"))
  add(n = 1e6, what = "ks_test", arg = NA, lower = t, upper = NA, log_upper = NA, density = NA, evals = NA)
  write.csv(do.call(rbind, rows), out, row.names = FALSE)
  quit(save = "no")
}

# ---- the driver ------------------------------------------------------------
old <- if (length(args) >= 1) args[1] else ""
cap <- if (length(args) >= 2) as.numeric(args[2]) else 20
self <- sub("^--file=", "", grep("^--file=", commandArgs(FALSE), value = TRUE)[1])
run <- function(lib) {
  out <- tempfile(fileext = ".csv")
  status <- system2(file.path(R.home("bin"), "Rscript"), c(shQuote(self), "--worker", shQuote(lib), cap, shQuote(out)))
  if (status != 0) stop("the benchmark failed for library '", lib, "'")
  read.csv(out)
}
new <- run("")
fmt <- function(v) ifelse(is.na(v), "", ifelse(is.infinite(v), sprintf("> %g", cap), sprintf("%.4f", v)))
show <- function(tab, label) {
  p <- tab[tab$what == "p", ]
  cat(sprintf("\n%s: pkolmogorov and dkolmogorov, seconds per call\n", label))
  print(data.frame(n = format(p$n, scientific = TRUE), sqrt_n_d = p$arg, lower = fmt(p$lower),
                   upper = fmt(p$upper), log_upper = fmt(p$log_upper), density = fmt(p$density)),
        row.names = FALSE)
  q <- tab[tab$what == "q", ]
  cat(sprintf("\n%s: qkolmogorov, seconds and exact evaluations per quantile\n", label))
  print(data.frame(n = format(q$n, scientific = TRUE), p = q$arg, seconds = fmt(q$lower), evals = q$evals),
        row.names = FALSE)
  if (any(!is.na(q$evals))) {
    cat("mean evaluations per quantile:\n")
    print(tapply(q$evals, q$n, mean))
  }
  k <- tab[tab$what == "ks_test", ]
  cat(sprintf("\n%s: exact ks_test(x, \"pnorm\"), n = 1e6: %s s\n", label, fmt(k$lower)))
}
show(new, "this tree")
if (nzchar(old)) {
  before <- run(old)
  show(before, paste("library", old))
  p <- merge(new[new$what == "p", ], before[before$what == "p", ], by = c("n", "arg"), suffixes = c("", "_old"))
  cat("\nSide by side (seconds; old code first):\n")
  print(data.frame(n = format(p$n, scientific = TRUE), sqrt_n_d = p$arg,
                   lower = paste(fmt(p$lower_old), "->", fmt(p$lower)),
                   upper = paste(fmt(p$upper_old), "->", fmt(p$upper)),
                   log_upper = paste(fmt(p$log_upper_old), "->", fmt(p$log_upper)),
                   density = paste(fmt(p$density_old), "->", fmt(p$density))), row.names = FALSE)
  q <- merge(new[new$what == "q", ], before[before$what == "q", ], by = c("n", "arg"), suffixes = c("", "_old"))
  print(data.frame(n = format(q$n, scientific = TRUE), p = q$arg,
                   qkolmogorov = paste(fmt(q$lower_old), "->", fmt(q$lower)), evals = q$evals), row.names = FALSE)
}
