# Exact references for the direct tails of the one-sample law (the tests in
# test-kolmogorov-engine.R), written to tests/testthat/ref-kolmogorov-engine.csv
# (run from the package's top folder; takes a few minutes).  Every value
# comes from exact rational arithmetic (gmp) or from 240-bit Rmpfr
# evaluations of exact finite formulas, at the exact binary value of the
# double d:
#
#   steck  Steck's determinant (steck_cdf in tests/testthat/helper-oracles.R),
#          in bigq: two-sided and one-sided; the other tail is 1 minus it,
#          exactly.
#   sbt    P(D_n^+ >= d) = d sum_{j < n(1-d)} C(n,j) (d + j/n)^(j-1)
#          (1 - d - j/n)^(n-j), in Rmpfr; two-sided upper tail 2 sbt for d >= 1/2.
#   corner P(D_n < d) = n! (2d - 1/n)^n for 1/(2n) < d <= 1/n.
#   abel   P(D_n^+ < d) = sum_{l < nd} (-1)^l d C(n,l) (1 + d - l/n)^(n-l-1)
#          (d - l/n)^l (Abel's identity applied to the sbt sum), in Rmpfr.
#   band   two-sided upper tail where p1 = sbt is below 1e-12: the two-sided
#          correction lies in [0, p1^2], so 2 p1 - p1^2/2 is within p1/4.
#
# Columns: method, alt (0 two-sided, 1 one-sided), n, d (hex), tail (0 lower,
# 1 upper), value, log (natural), relerr_bound (0 when exact).
suppressMessages({
  library(gmp)
  library(Rmpfr)
})
prec <- 240

q_of <- function(d) as.bigq(d) # the exact value of the double

to_mp <- function(x) {
  # bigq -> mpfr
  mpfr(numerator(x), prec) / mpfr(denominator(x), prec)
}

source(file.path("tests", "testthat", "helper-oracles.R"))

sbt <- function(d, n) {
  d <- mpfr(q_of(d), prec)
  j <- 0:(n - 1)
  N <- mpfr(n, prec)
  top <- 1 - d - j / N
  j <- j[top > 0]
  top <- top[top > 0]
  lc <- lgamma(N + 1) - lgamma(mpfr(j, prec) + 1) - lgamma(N - j + 1)
  terms <- exp(lc + (j - 1) * log(d + j / N) + (N - j) * log(top))
  d * sum(terms)
}

abel <- function(d, n) {
  d <- mpfr(q_of(d), 2000)
  N <- mpfr(n, 2000)
  l <- 0:(n - 1)
  l <- l[d - l / N > 0]
  tt <- (-1)^l * d * chooseMpfr(n, l) * (1 + d - l / N)^(n - l - 1) * (d - l / N)^l
  roundMpfr(sum(tt), prec)
}

rows <- list()
# comp: the complement 1 - v, when known exactly; the log of a v near 1 is
# then taken as log1p(-comp).
add <- function(method, alt, n, d, tail, v, bound = 0, comp = NULL) {
  v <- roundMpfr(v, prec)
  lv <- if (!is.null(comp) && v > 0.5) log1p(-comp) else log(v)
  rows[[length(rows) + 1]] <<- data.frame(
    method = method, alt = alt, n = n, d = sprintf("%a", d), tail = tail,
    value = sprintf("%.17g", as.numeric(v)), log = sprintf("%.17g", as.numeric(lv)),
    relerr_bound = bound)
}
# lower: an exact bigq; the upper tail is 1 - lower, also exact.
add_pair <- function(method, alt, n, d, lower) {
  add(method, alt, n, d, 0, to_mp(lower), comp = to_mp(1 - lower))
  add(method, alt, n, d, 1, to_mp(1 - lower), comp = to_mp(lower))
}

set.seed(1)
# Small and moderate n: Steck, both statistics, both tails.
for (n in c(1, 2, 3, 4, 5, 7, 10, 16, 25, 40, 60)) {
  ds <- c(1 / (2 * n) * (1 + 2^-50), 0.6 / n, 1 / n, 1.5 / n, 0.4 / sqrt(n), 0.8 / sqrt(n),
          1.2 / sqrt(n), 1.8 / sqrt(n), 0.3, 0.5, 0.5 + 2^-40, 0.75, 0.99, runif(2, 0.5 / n, 1))
  for (d in unique(ds[ds > 0 & ds < 1])) {
    dq <- q_of(d)
    if (dq * n > as.bigq(1, 2)) add_pair("steck", 0, n, d, steck_cdf(dq, n, FALSE))
    add_pair("steck", 1, n, d, steck_cdf(dq, n, TRUE))
  }
  cat("steck n =", n, "\n")
}
# d a few units in the last place above 1/(2n): the tiny corner.
for (n in c(5, 10, 100, 1000, 1e5)) {
  ds <- c(0.5 / n * (1 + 2^-48), 0.7 / n, 1 / n)
  if (n == 5) ds <- c(ds, 0.1)
  for (d in ds) {
    dq <- q_of(d)
    if (dq * n <= as.bigq(1, 2) || dq * n > 1) next
    v <- exp(lgamma(mpfr(n + 1, prec)) + n * log(2 * mpfr(dq, prec) - 1 / mpfr(n, prec)))
    add("corner", 0, n, d, 0, v)
  }
}
# Large n: one-sided upper tails, two-sided upper tails for d >= 1/2 and
# where p1 is small, one-sided lower tails for small n d.
for (n in c(1000, 10000, 100000)) {
  for (x in c(0.2, 0.5, 1, 1.5, 2.5, 4, 6)) {
    d <- x / sqrt(n)
    add("sbt", 1, n, d, 1, sbt(d, n))
  }
  for (d in c(0.5, 0.6, 0.9)) add("sbt", 0, n, d, 1, 2 * sbt(d, n))
  for (target in c(1e-12, 1e-13)) {
    d <- sqrt(-log(target) / (2 * n))
    p1 <- sbt(d, n)
    add("band", 0, n, d, 1, 2 * p1 - p1^2 / 2, as.numeric(p1) / 4)
  }
  for (s in c(1.5, 4, 9, 17, 25)) add("abel", 1, n, s / n, 0, abel(s / n, n))
  cat("large n =", n, "\n")
}
# Two moderately large exact cases in the middle of the range.
for (n in c(200, 400)) for (x in c(0.9, 1.4)) {
  d <- x / sqrt(n)
  add_pair("steck", 0, n, d, steck_cdf(q_of(d), n, FALSE))
  cat("steck n =", n, "x =", x, "\n")
}
tab <- do.call(rbind, rows)
write.csv(tab, "tests/testthat/ref-kolmogorov-engine.csv", row.names = FALSE)
cat(nrow(tab), "references written\n")
