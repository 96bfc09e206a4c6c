# Benchmarks the package's exact kernels, in one process, against earlier
# versions of the exact module rebuilt from git, and checks that every result
# is the same double bit for bit:
#   baseline  the straightforward algorithms (plain triple loop, one cell at
#             a time): src/ks.cpp at commit a0275af;
#   v0.2      the package's kernels as they were in version 0.2.0: src/ks.cpp
#             at commit eccf0c4;
# or any commits or tags given on the command line (the first two columns
# then time those instead).  It also measures the machine's peak rate of
# separate multiplies and adds (peak.cpp) and runs the largest one-sample
# cases with the kernel a processor without AVX2 would get (SSE2), forced
# through KSDIST_KERNEL.
#
#   Rscript bench/run.R [baseline-commit [second-commit]]
#       (from the package's top folder, a git checkout, with ksdist
#        installed from this tree)
#
# ns_cell is the time per cell of the whole m x n table (the rows visit only
# the band).  Environment: KSDIST_BENCH_REPS (default 5) repetitions per median;
# KSDIST_BENCH_HUGE=1 adds the two-sample cases at m = n = 1e5 with d = 0.5
# (about half a minute each).

library(ksdist)

args <- commandArgs(trailingOnly = TRUE)
versions <- c(baseline = "a0275af", v0.2 = "eccf0c4")
if (length(args) >= 1) versions[["baseline"]] <- args[[1]]
if (length(args) >= 2) versions[["v0.2"]] <- args[[2]]

here <- if (file.exists("bench/peak.cpp")) "bench" else "."
root <- normalizePath(file.path(here, ".."))
build <- tempfile("ksbench-")
dir.create(build)
Sys.setenv(PKG_CXXFLAGS = "-ffp-contract=off")
# Builds src/ks.cpp (with the headers beside it) of a commit into the shared
# object <name>.so in a folder of its own, and loads it: its entry points are
# then called with PACKAGE = name.
from_git <- function(name, commit) {
  dir <- file.path(build, name)
  dir.create(dir)
  tar <- file.path(build, paste0(name, ".tar"))
  if (system2("git", c("-C", shQuote(root), "archive", "-o", shQuote(tar), commit, "src")) != 0)
    stop("git archive failed for ", commit)
  utils::untar(tar, exdir = dir)
  old <- setwd(file.path(dir, "src"))
  on.exit(setwd(old))
  so <- file.path(dir, paste0(name, .Platform$dynlib.ext))
  if (system2(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "-o", shQuote(so), "ks.cpp"),
              stdout = FALSE, stderr = FALSE) != 0)
    stop("could not build src/ks.cpp of ", commit)
  dyn.load(so)
}
for (v in names(versions)) from_git(v, versions[[v]])
invisible(file.copy(file.path(here, "peak.cpp"), build))
local({
  old <- setwd(build)
  on.exit(setwd(old))
  if (system2(file.path(R.home("bin"), "R"), c("CMD", "SHLIB", "peak.cpp"), stdout = FALSE, stderr = FALSE) != 0)
    stop("could not build bench/peak.cpp")
  dyn.load(file.path(build, paste0("peak", .Platform$dynlib.ext)))
})

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
same <- function(a, b) identical(sprintf("%a", a), sprintf("%a", b))

# Multiply-adds of the dense matrix products of the one-sample computation,
# as the plain algorithm does them: one squaring per level above the base,
# one more product per odd exponent.  The kernels skip products with a zero
# operand and do only the centre of the last level, so their rate in these
# units can exceed the machine's peak.
madds_one <- function(d, n) {
  m <- 2 * floor(n * d) + 1
  products <- 0
  while (n > 1) { products <- products + 1 + (n %% 2); n <- n %/% 2 }
  products * m^3
}

peak <- c(sse2 = .Call("peak_rate", 2L, 3e7, PACKAGE = "peak"),
          avx2 = .Call("peak_rate", 4L, 3e7, PACKAGE = "peak"),
          avx512 = .Call("peak_rate", 8L, 3e7, PACKAGE = "peak"))
peak_best <- max(peak, na.rm = TRUE)

one <- list(c(0.274, 10), c(0.1, 200), c(0.02, 1000), c(0.05, 2000),
            c(0.2005, 1000), c(0.1003, 2000), c(0.1001, 5000), c(0.025, 20000))
crit <- function(m, n) 1.36 * sqrt((m + n) / (m * n))
two <- list(c(crit(1000, 1000), 1000, 1000), c(1.5, 1000, 1000),
            c(crit(3000, 3000), 3000, 3000), c(0.5, 3000, 3000),
            c(crit(10000, 10000), 10000, 10000), c(0.5, 10000, 10000), c(1.5, 10000, 10000),
            c(crit(1e5, 1e5), 1e5, 1e5), c(crit(300, 5000), 300, 5000),
            c(crit(10000, 12000), 10000, 12000), c(0.5, 10000, 12000),
            c(crit(1e5, 1.1e5), 1e5, 1.1e5))
if (Sys.getenv("KSDIST_BENCH_HUGE") == "1") two <- c(two, list(c(0.5, 1e5, 1e5)))

rows <- list()
for (cs in one) {
  d <- cs[1]; n <- as.integer(cs[2])
  m <- 2 * floor(n * d) + 1
  slow <- m > 400
  b <- timed(function() .Call("pKolmogorov2x", d, n, PACKAGE = "baseline"), if (slow) 1 else reps)
  o <- timed(function() .Call("pKolmogorov2x", d, n, PACKAGE = "v0.2"), if (slow) 3 else reps)
  p <- timed(function() .Call("pKolmogorov2x", d, n, PACKAGE = "ksdist"), if (slow) 3 else reps)
  Sys.setenv(KSDIST_KERNEL = "sse2")
  s <- if (m >= 201) timed(function() .Call("pKolmogorov2x", d, n, PACKAGE = "ksdist"), if (slow) 3 else reps)
       else list(value = p$value, median = NA)
  Sys.unsetenv("KSDIST_KERNEL")
  rows[[length(rows) + 1]] <- data.frame(
    case = sprintf("one n=%d d=%g (m=%d)", n, d, m),
    baseline_s = b$median, v0.2_s = o$median, new_s = p$median,
    vs_base = b$median / p$median, vs_v0.2 = o$median / p$median,
    sse2_over_best = s$median / p$median,
    identical = same(b$value, p$value) && same(o$value, p$value) && same(s$value, p$value),
    dense_madd_s = madds_one(d, n) / p$median, of_peak = madds_one(d, n) / p$median / peak_best,
    ns_cell = NA)
}
for (cs in two) {
  d <- cs[1]; m <- as.integer(cs[2]); n <- as.integer(cs[3])
  cells <- as.double(m) * n
  b <- if (cells <= 1e9) timed(function() .Call("pSmirnov2x", d, m, n, PACKAGE = "baseline"),
                               if (cells > 1e7) 1 else reps)
       else list(value = NA, median = NA)
  o <- timed(function() .Call("pSmirnov2x", d, m, n, PACKAGE = "v0.2"), if (cells > 1e9) 1 else reps)
  p <- timed(function() .Call("pSmirnov2x", d, m, n, PACKAGE = "ksdist"), if (cells > 1e9) 1 else reps)
  # Equal sizes from 2637 on, where the rows would need more than plain
  # doubles, now come from the reflected sum: the probability to within an
  # ulp rather than the rows' bits, so they are held to 1e-12 of 0.2.0's.
  closed <- m == n && m >= 2637 && d * n < n * n
  rows[[length(rows) + 1]] <- data.frame(
    case = sprintf("two m=%d n=%d d=%.5g%s", m, n, d, if (closed) " (reflection)" else ""),
    baseline_s = b$median, v0.2_s = o$median, new_s = p$median,
    vs_base = b$median / p$median, vs_v0.2 = o$median / p$median, sse2_over_best = NA,
    identical = if (closed) abs(p$value - o$value) <= 1e-12 * o$value
                else (is.na(b$value) || same(b$value, p$value)) && same(o$value, p$value),
    dense_madd_s = NA, of_peak = NA, ns_cell = if (closed) NA else p$median / cells * 1e9)
}
res <- do.call(rbind, rows)
cpu <- tryCatch(sub(".*:\\s*", "", grep("model name", readLines("/proc/cpuinfo"), value = TRUE)[1]),
                error = function(e) "unknown")
cat("CPU:", cpu, "\n")
cat(sprintf("peak separate multiply-adds/s: SSE2 %.3g, AVX2 %.3g, AVX-512 %.3g\n",
            peak[["sse2"]], peak[["avx2"]], peak[["avx512"]]))
print(format(res, digits = 3), row.names = FALSE)
if (!all(res$identical)) {
  cat("NOT bit-identical:", res$case[!res$identical], sep = "\n  ")
  quit(status = 1)
}
