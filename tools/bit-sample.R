# Prints the bit patterns ("%a") of a fixed sample of results, one line per
# call, for comparing two builds (or two versions) bit for bit:
#
#   Rscript tools/bit-sample.R [library] [size] > sample.txt
#
# The first part calls the exact module's three entry points (the
# one-sample cases under every matrix kernel): both branches of K(x), matrix
# orders from 1 to 221 with and without rescaling, two-sample tables with and
# without a band and with values far below the double range.  The second
# part calls every exported d/p/q/r function and ks_test (both tails, logs,
# one-sided laws, ties, nulls with jumps, quantiles, seeded draws): the
# values of the second shared object.  size (default 1) scales the number of
# calls of the second part: 1 gives about 4000 of them, 3 about 12000.
# About 10 s at size 1.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) >= 1 && nzchar(args[[1]])) .libPaths(c(args[[1]], .libPaths()))
size <- if (length(args) >= 2) as.numeric(args[[2]]) else 1
suppressPackageStartupMessages(library(ksdist))
pks2 <- function(x, tol) .Call("pKS2", x, tol, PACKAGE = "ksdist")
pk2x <- function(d, n) .Call("pKolmogorov2x", d, as.integer(n), PACKAGE = "ksdist")
ps2x <- function(d, m, n) .Call("pSmirnov2x", d, as.integer(m), as.integer(n), PACKAGE = "ksdist")
out <- function(tag, v) cat(sprintf("%s %s\n", tag, sprintf("%a", v)), sep = "")

set.seed(20261209)
x <- c(runif(300, 0, 3), 1, 1 - 2^-53, 0.99, 0.01, 10)
for (tol in c(1e-2, 1e-6, 1e-10, 1e-16, 0.2, 1.5)) out(sprintf("pKS2 tol=%g", tol), pks2(x, tol))

# Small matrices (n d below 6) many times: their entries come straight from
# pow() and the factorial divisions.
nd <- c(runif(1000, 0, 6), runif(120, 0, 60), 0:40, runif(20, 60, 110))
n <- sample(c(1:300, 500, 1000, 3000, 10^4, 10^5), length(nd), replace = TRUE)
d <- pmin(nd / n, 1.1)
for (k in c("avx512", "avx2", "sse2", "scalar")) {
  Sys.setenv(KSDIST_KERNEL = k)
  out(sprintf("pKolmogorov2x kernel=%s", k), mapply(pk2x, d, n))
}
Sys.unsetenv("KSDIST_KERNEL")

m <- sample(1:80, 300, replace = TRUE)
n <- sample(1:120, 300, replace = TRUE)
d <- (floor(runif(300, -1, m * n + 2)) + sample(c(0, 1e-9, -1e-9, 0.5), 300, replace = TRUE)) / (m * n)
out("pSmirnov2x small", mapply(ps2x, d, m, n))
big <- list(c(1.5, 503, 503), c(0.1, 503, 503), c(1.5, 300, 1200), c(0.2, 300, 1200),
            c(0.07, 700, 900), c(1.5, 2600, 2600), c(0.0377, 2600, 2600), c(0.5, 2000, 2001),
            c(0.02, 1000, 20000), c(1.5, 40, 30000), c(0.03, 3000, 3000), c(0.0136, 20000, 20000))
for (b in big) out(sprintf("pSmirnov2x %g %g %g", b[1], b[2], b[3]), ps2x(b[1], b[2], b[3]))

# ---------------------------------------------------------------------------
# The exported functions.
# ---------------------------------------------------------------------------
set.seed(20261210)
k <- function(base) max(1, round(base * size))
alts <- c("two.sided", "less", "greater")
# Each call: tag, then its values.
call_out <- function(tag, f) {
  v <- tryCatch(suppressWarnings(f()), error = function(e) paste("error:", conditionMessage(e)))
  if (is.character(v)) cat(tag, v, "\n") else out(tag, v)
}

# One sample, continuous null: statistics spread over the whole support and
# both tails, sizes up to 30000 (the vector lanes of the SBT band).
for (i in seq_len(k(120))) {
  n <- sample(c(1:12, 20, 37, 60, 100, 250, 600, 2000, 30000), 1)
  q <- c(runif(6, 0, 1.05), runif(6, 0, 3) / sqrt(n), 0.5 / n, 1 / n, 1 - 1 / n)
  for (a in alts) for (lt in c(TRUE, FALSE)) for (lg in c(FALSE, TRUE))
    call_out(sprintf("pkolmogorov n=%d %s %d%d", n, a, lt, lg),
             function() pkolmogorov(q, n, lower.tail = lt, log.p = lg, alternative = a))
  if (a != "less")
    for (a in c("two.sided", "greater")) for (lg in c(FALSE, TRUE))
      call_out(sprintf("dkolmogorov n=%d %s %d", n, a, lg), function() dkolmogorov(q, n, log = lg, alternative = a))
}
for (i in seq_len(k(25))) {
  n <- sample(c(1:10, 25, 80, 300), 1)
  p <- c(runif(3), 1e-10, 0.999)
  for (a in c("two.sided", "greater")) for (lt in c(TRUE, FALSE))
    call_out(sprintf("qkolmogorov n=%d %s %d", n, a, lt),
             function() qkolmogorov(p, n, lower.tail = lt, alternative = a))
  call_out(sprintf("qkolmogorov log n=%d", n), function() qkolmogorov(log(p), n, log.p = TRUE, lower.tail = FALSE))
}
set.seed(1); call_out("rkolmogorov", function() c(rkolmogorov(200, 30), rkolmogorov(50, 7, alternative = "greater")))

# Two samples, with and without ties.
for (i in seq_len(k(100))) {
  m <- sample(1:60, 1); n <- sample(1:80, 1)
  q <- c(runif(6, -0.05, 1.05), sample(0:(m * n), 4) / (m * n))
  pooled <- if (i %% 3 == 0) sort(sample(1:max(2, (m + n) %/% 2), m + n, replace = TRUE))
  for (a in alts) for (lt in c(TRUE, FALSE)) for (lg in c(FALSE, TRUE))
    call_out(sprintf("psmirnov2 %d %d %s %d%d %d", m, n, a, lt, lg, !is.null(pooled)),
             function() psmirnov2(q, m, n, lower.tail = lt, log.p = lg, alternative = a, pooled = pooled))
  for (a in alts)
    call_out(sprintf("dsmirnov2 %d %d %s", m, n, a),
             function() dsmirnov2(q, m, n, alternative = a, pooled = pooled))
  if (i %% 4 == 0)
    for (a in c("two.sided", "less")) for (lt in c(TRUE, FALSE))
      call_out(sprintf("qsmirnov2 %d %d %s %d", m, n, a, lt),
               function() qsmirnov2(c(0, runif(3), 1), m, n, lower.tail = lt, alternative = a, pooled = pooled))
}
for (s in list(c(300, 400), c(1000, 1000), c(2000, 3001), c(3000, 3000)))
  for (a in alts) for (lt in c(TRUE, FALSE))
    call_out(sprintf("psmirnov2 big %g %g %s %d", s[1], s[2], a, lt),
             function() psmirnov2(c(0.02, 0.05, 0.1, 0.3), s[1], s[2], lower.tail = lt, log.p = !lt, alternative = a))
set.seed(2); call_out("rsmirnov2", function() c(rsmirnov2(200, 10, 12), rsmirnov2(50, 4, 6, pooled = c(1, 1, 2, 2, 2, 3, 4, 4, 5, 6))))

# The limiting laws.
x <- c(runif(k(300), 0, 4), 1e-300, 1e-5, 0.82, 0.83, 1, 30, 1e150)
for (a in alts) for (lt in c(TRUE, FALSE)) for (lg in c(FALSE, TRUE)) for (tol in c(1e-6, 1e-12))
  call_out(sprintf("pkolmogorov_limit %s %d%d %g", a, lt, lg, tol),
           function() pkolmogorov_limit(x, tol = tol, lower.tail = lt, log.p = lg, alternative = a))
for (a in alts) for (lg in c(FALSE, TRUE))
  call_out(sprintf("dkolmogorov_limit %s %d", a, lg), function() dkolmogorov_limit(x, log = lg, alternative = a))
p <- c(runif(k(40)), 1e-300, 1e-12, 1 - 1e-9)
for (a in c("two.sided", "greater")) for (lt in c(TRUE, FALSE))
  call_out(sprintf("qkolmogorov_limit %s %d", a, lt), function() qkolmogorov_limit(p, lower.tail = lt, alternative = a))
set.seed(3); call_out("rkolmogorov_limit", function() c(rkolmogorov_limit(100), rkolmogorov_limit(50, alternative = "less")))

# Nulls with jumps.
for (i in seq_len(k(30))) {
  n <- sample(c(1:8, 15, 40, 120), 1)
  lambda <- runif(1, 0.5, 6)
  q <- c(runif(5, 0, 0.8), 0)
  for (a in alts) for (lt in c(TRUE, FALSE))
    call_out(sprintf("pkolmogorov_discrete pois n=%d %s %d", n, a, lt),
             function() pkolmogorov_discrete(q, n, "ppois", lambda = lambda, support = 0:60,
                                             lower.tail = lt, log.p = !lt, alternative = a))
  st <- ecdf(sample(1:6, 8, replace = TRUE))
  call_out(sprintf("pkolmogorov_discrete ecdf n=%d", n), function() pkolmogorov_discrete(q, n, st))
  if (i %% 3 == 0)
    call_out(sprintf("qkolmogorov_discrete n=%d", n),
             function() qkolmogorov_discrete(c(0.1, 0.5, 0.95), n, "ppois", lambda = lambda, support = 0:60))
}

# ks_test: statistics and p-values.
for (i in seq_len(k(40))) {
  n <- sample(c(3, 10, 40, 200), 1)
  x <- rnorm(n, runif(1, -0.5, 0.5))
  for (a in alts) {
    call_out(sprintf("ks_test one %d %s", n, a), function() {
      r <- ks_test(x, "pnorm", alternative = a); c(r$statistic, r$p.value) })
    y <- round(rnorm(sample(c(4, 15, 60), 1)), sample(c(1, 8), 1))
    call_out(sprintf("ks_test two %d %s", n, a), function() {
      r <- ks_test(round(x, 1), y, alternative = a); c(r$statistic, r$p.value) })
    z <- rpois(n, runif(1, 1, 4))
    call_out(sprintf("ks_test pois %d %s", n, a), function() {
      r <- ks_test(z, "ppois", lambda = 2.5, alternative = a); c(r$statistic, r$p.value) })
  }
}
