# Exact references for the accuracy tests of the exact module's two
# distributions (test-module-kolmogorov.R and test-module-smirnov.R),
# written to tests/testthat/ref-module-kolmogorov.csv and
# tests/testthat/ref-module-smirnov.csv (run from the package's top folder;
# about a minute).  The oracles are those of tests/testthat/helper-oracles.R:
#
#   steck       pKolmogorov2x: P(D_n < d) in exact rationals at the point the
#               module evaluates (steck_at), n up to 50 and one far tail.
#   paths       pSmirnov2x: big-integer lattice path counts (path_count).
#   reflection  pSmirnov2x with m = n: the reflection principle
#               (reflect_upper), also where path counts would take long.
#
# Each exact value v is stored as two doubles, value (v rounded to nearest)
# and value_lo (v - value, rounded), so that relative errors near one unit in
# the last place can still be measured.  Columns: source, d (hex), m (NA for
# one sample), n, value, value_lo (hex).
suppressMessages({
  library(gmp)
  library(Rmpfr)
})
source(file.path("tests", "testthat", "helper-oracles.R"))

rows <- list()
add <- function(source, d, m, n, v) {
  x <- mpfr(numerator(v), 512) / mpfr(denominator(v), 512)
  hi <- as.numeric(x)
  lo <- as.numeric(x - hi)
  rows[[length(rows) + 1]] <<- data.frame(source = source, d = sprintf("%a", d), m = m, n = n,
                                          value = sprintf("%a", hi), value_lo = sprintf("%a", lo))
}

# One sample: random statistics and those at and near the corners of the
# support, every n up to 50 (the cases the module's accuracy test ran live).
set.seed(20261208)
for (n in 1:50) for (d in c(runif(3), (1:2) / n, 0.52 / n, 0.75, 1)) add("steck", d, NA, n, steck_at(d, n))
# Far in the tail: the matrix power rescales and the exponent ends very
# negative.
add("steck", 0.03, NA, 200, steck_at(0.03, 200))
write.csv(do.call(rbind, rows), file.path("tests", "testthat", "ref-module-kolmogorov.csv"), row.names = FALSE)
cat(length(rows), "one-sample references written\n")

rows <- list()
K_of <- function(d, m, n) floor((d * m) * n - 1e-7) # the module's attained value below d
# Near the diagonal of a 2600 x 2600 table the row-normalised counts leave
# the double range; path counts and reflection must give the same rational.
N <- 2600
d <- 1.36 * sqrt(2 / N)
K <- K_of(d, N, N)
lower <- as.bigq(path_count(K, N, N, big = TRUE), chooseZ(2 * N, N))
stopifnot(lower == 1 - reflect_upper(K, N))
add("paths", d, N, N, lower)
# The two oracles agree once more in the far tail.
K <- K_of(0.035, N, N)
stopifnot(as.bigq(path_count(K, N, N, big = TRUE), chooseZ(2 * N, N)) == 1 - reflect_upper(K, N))
# Equal sizes beyond the plain rows: around and below 1/2, up to n = 20000.
for (cs in list(c(3000, 0.0351), c(3000, 0.03), c(3000, 0.5), c(4099, 0.021),
                c(20000, 0.0136), c(3000, 0.02), c(3001, 0.018))) {
  n <- cs[1]
  d <- cs[2]
  add("reflection", d, n, n, 1 - reflect_upper(K_of(d, n, n), n))
}
write.csv(do.call(rbind, rows), file.path("tests", "testthat", "ref-module-smirnov.csv"), row.names = FALSE)
cat(length(rows), "two-sample references written\n")
