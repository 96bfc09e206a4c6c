# Benchmarks the package's kernels against the straightforward baseline in
# bench/baseline.cpp, in one process, and checks that every result is the
# same double bit for bit.
#
#   Rscript bench/run.R            (from the package's top folder, with
#                                   ksdist installed from this tree)
#
# Prints, per case: the baseline's and the package's median time, the
# speed-up, and for the one-sample cases the multiply-adds per second that
# the matrix products achieve.

library(ksdist)

here <- if (file.exists("bench/baseline.cpp")) "bench" else "."
build <- tempfile("ksbase-")
dir.create(build)
invisible(file.copy(file.path(here, "baseline.cpp"), build))
old <- setwd(build)
Sys.setenv(PKG_CXXFLAGS = "-ffp-contract=off")
so <- file.path(build, paste0("baseline", .Platform$dynlib.ext))
if (system2(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "-o", so, "baseline.cpp"),
            stdout = FALSE, stderr = FALSE) != 0)
  stop("could not build bench/baseline.cpp")
setwd(old)
base <- dyn.load(so)

reps <- as.integer(Sys.getenv("KSDIST_BENCH_REPS", "5"))

# Median over reps of the time per call; quick calls are repeated until a
# measurement lasts at least 0.2 s.
timed <- function(f, reps) {
  v <- f()
  calls <- 1
  while ((el <- system.time(for (k in seq_len(calls)) f())[["elapsed"]]) < 0.2 && calls < 1e6)
    calls <- calls * 10
  t <- numeric(reps)
  t[1] <- el / calls
  for (k in seq_len(reps)[-1]) t[k] <- system.time(for (r in seq_len(calls)) f())[["elapsed"]] / calls
  list(value = v, median = stats::median(t))
}

# Multiply-adds in the matrix products of the one-sample computation: one
# squaring per level above the base, one more product per odd exponent.
madds_one <- function(d, n) {
  m <- 2 * floor(n * d) + 1
  products <- 0
  while (n > 1) { products <- products + 1 + (n %% 2); n <- n %/% 2 }
  products * m^3
}

one <- list(c(0.274, 10), c(0.1, 200), c(0.02, 1000), c(0.05, 2000), c(0.025, 20000))
crit <- function(m, n) 1.36 * sqrt((m + n) / (m * n))
two <- list(c(crit(1000, 1000), 1000, 1000), c(1.5, 1000, 1000),
            c(crit(10000, 10000), 10000, 10000), c(1.5, 10000, 10000),
            c(crit(300, 5000), 300, 5000))

rows <- list()
for (cs in one) {
  d <- cs[1]; n <- as.integer(cs[2])
  slow <- (2 * floor(n * d) + 1) > 400
  b <- timed(function() .Call("base_pKolmogorov2x", d, n, PACKAGE = "baseline"), if (slow) 1 else reps)
  p <- timed(function() .Call("pKolmogorov2x", d, n, PACKAGE = "ksdist"), reps)
  rows[[length(rows) + 1]] <- data.frame(
    case = sprintf("one-sample n=%d d=%g (m=%d)", n, d, 2 * floor(n * d) + 1),
    baseline_s = b$median, new_s = p$median, speedup = b$median / p$median,
    identical = identical(b$value, p$value),
    madd_per_s = madds_one(d, n) / p$median)
}
for (cs in two) {
  d <- cs[1]; m <- as.integer(cs[2]); n <- as.integer(cs[3])
  slow <- as.double(m) * n > 1e7
  b <- timed(function() .Call("base_pSmirnov2x", d, m, n, PACKAGE = "baseline"), if (slow) 1 else reps)
  p <- timed(function() .Call("pSmirnov2x", d, m, n, PACKAGE = "ksdist"), reps)
  rows[[length(rows) + 1]] <- data.frame(
    case = sprintf("two-sample m=%d n=%d d=%.5g", m, n, d),
    baseline_s = b$median, new_s = p$median, speedup = b$median / p$median,
    identical = identical(b$value, p$value), madd_per_s = NA)
}
res <- do.call(rbind, rows)
cpu <- tryCatch(sub(".*:\\s*", "", grep("model name", readLines("/proc/cpuinfo"), value = TRUE)[1]),
                error = function(e) "unknown")
cat("CPU:", cpu, "\n")
print(format(res, digits = 3), row.names = FALSE)
if (!all(res$identical)) {
  cat("NOT bit-identical:", res$case[!res$identical], sep = "\n  ")
  quit(status = 1)
}
