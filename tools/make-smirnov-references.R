# Writes tests/testthat/ref-smirnov-engine.csv: exact two-sample tails for
# the tests of the direct two-sample tails (test-smirnov-engine.R, routine
# ksx_hook_smirnov), from two independent exact sources in
# tests/testthat/helper-oracles.R:
#   - "paths": big-integer lattice path counts (path_count), for every
#     alternative, with and without ties;
#   - "reflection": for m = n, the reflection principle (reflect_count),
#       P(max (i - j) >= k) = C(2n, n - k) / C(2n, n),
#       P(max |i - j| >= k) = 2 sum_{l >= 1} (-1)^(l+1) C(2n, n - l k) / C(2n, n),
#     in exact rational arithmetic.
# Each row holds both tails (lower = P(S <= K), upper = P(S > K)) as natural
# logarithms and, where they are at least 1e-300, as doubles.
#
#   Rscript tools/make-smirnov-references.R        (a few minutes)
root <- if (file.exists("DESCRIPTION")) "." else stop("run from the package's top folder")
suppressMessages({
  library(gmp)
  library(Rmpfr)
})
source(file.path(root, "tests", "testthat", "helper-oracles.R"))

# Both tails as mpfr numbers with 128 bits (lower = P(S <= K), upper =
# P(S > K)).
exact_tails <- function(K, m, n, alt = 0, blocks = NULL, bits = 128) {
  stay <- path_count(K, m, n, alt, blocks, big = TRUE)
  total <- chooseZ(m + n, m)
  tot <- mpfr(total, bits)
  list(lower = mpfr(stay, bits) / tot, upper = mpfr(total - stay, bits) / tot)
}

rows <- list()
add <- function(m, n, alt, K, blocks, lower, upper, source) {
  num <- function(x) { v <- as.numeric(x); if (v >= 1e-300) sprintf("%.17g", v) else "NA" }
  lg <- function(x) if (x == 0) "-Inf" else sprintf("%.17g", as.numeric(log(x)))
  rows[[length(rows) + 1]] <<- data.frame(
    m = m, n = n, alt = alt, K = sprintf("%.0f", K),
    blocks = if (is.null(blocks)) "" else paste(blocks, collapse = " "),
    lower = num(lower), upper = num(upper), lower_log = lg(lower), upper_log = lg(upper),
    source = source)
}
paths <- function(m, n, alt, K, blocks = NULL) {
  t <- exact_tails(K, m, n, alt, blocks)
  add(m, n, alt, K, blocks, t$lower, t$upper, "paths")
}
random_blocks <- function(N) {
  cuts <- sort(sample(seq_len(N - 1), sample(0:(N - 1), 1)))
  as.integer(diff(c(0, cuts, N)))
}

set.seed(20240611)
# Small and moderate sizes, every alternative, half of them with ties.
for (r in 1:24) {
  m <- sample(1:60, 1); n <- sample(1:60, 1)
  paths(m, n, r %% 3, floor(m * n * runif(1)^1.5), if (r %% 2) random_blocks(m + n))
}
# Moderate sizes with many ties.
for (sz in list(c(200, 300), c(157, 90))) {
  b <- random_blocks(sum(sz))
  for (alt in 0:2) paths(sz[1], sz[2], alt, floor(prod(sz) * 0.12), b)
}
# One-sided, up to 500 x 500, from the body to the extreme end.
for (sz in list(c(500, 500), c(500, 351), c(123, 457)))
  for (alt in 1:2) for (f in c(0, 0.04, 0.3, 0.95)) paths(sz[1], sz[2], alt, floor(prod(sz) * f))
for (alt in 1:2) paths(500, 351, alt, 500 * 351 - 1)
# Two-sided tails below the double range.
paths(600, 600, 0, 600 * 600 - 1)
paths(1000, 1500, 0, 1138499)      # D >= 0.759: 4.05e-340
paths(1000, 1500, 0, 150000)
# mtcars: mpg of cars with automatic (x) and manual (y) transmission, with
# ties; the statistic observed is max |F_m - G_n| over the pooled values.
local({
  x <- datasets::mtcars$mpg[datasets::mtcars$am == 0]
  y <- datasets::mtcars$mpg[datasets::mtcars$am == 1]
  z <- sort(unique(c(x, y)))
  S <- round(max(abs(stats::ecdf(x)(z) - stats::ecdf(y)(z))) * 19 * 13)
  stopifnot(S == 157)
  paths(19, 13, 0, S - 1, rle(sort(c(x, y)))$lengths)
})

# Equal sizes by reflection, up to 5000.
reflection <- function(n, k) {
  tot <- chooseZ(2 * n, n)
  one <- as.bigq(reflect_count(n, k, FALSE), tot)
  two <- as.bigq(reflect_count(n, k, TRUE), tot)
  K <- k * n - 1                   # S > K  <=>  max >= k (S = n (i - j))
  for (alt in 0:2) {
    up <- if (alt == 0) two else one
    upm <- mpfr(numerator(up), 256) / mpfr(denominator(up), 256)
    lom <- mpfr(denominator(up) - numerator(up), 256) / mpfr(denominator(up), 256)
    add(n, n, alt, K, NULL, lom, upm, "reflection")
  }
}
for (k in c(1, 30, 96, 250, 1000, 5000)) reflection(5000, k)
reflection(2345, 2345)

out <- do.call(rbind, rows)
dest <- file.path(root, "tests", "testthat", "ref-smirnov-engine.csv")
write.csv(out, dest, row.names = FALSE, quote = which(names(out) == "blocks"))
cat("wrote", nrow(out), "rows to", dest, "\n")
