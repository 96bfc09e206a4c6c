# Prints the bit patterns ("%a") of a fixed sample of the three entry points'
# results, one per line, for comparing two builds bit for bit:
#
#   Rscript tools/bit-sample.R [library] > sample.txt
#
# The one-sample cases run under every matrix kernel (KSDIST_KERNEL); cases
# cover both branches of K(x), matrix orders from 1 to 221 with and without
# rescaling, two-sample tables with and without a band and with values far
# below the double range.  About 10 s.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) >= 1) .libPaths(c(args[[1]], .libPaths()))
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
            c(0.02, 1000, 20000), c(1.5, 40, 30000))
for (b in big) out(sprintf("pSmirnov2x %g %g %g", b[1], b[2], b[3]), ps2x(b[1], b[2], b[3]))
