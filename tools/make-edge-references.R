# Writes tests/testthat/ref-edges.csv: exact values at the edges of the laws,
# where digits are easiest to lose, for test-edges.R.  Every value is computed
# in 400-bit arithmetic (Rmpfr) at the very double that the test passes, and
# stored as the correctly rounded double of the value and of its natural
# logarithm (hexadecimal, so that nothing is lost in the file).
#
#   - "corner": the one-sample lower tail just above 1/(2n), where
#     P(D_n < d) = n! (2d - 1/n)^n exactly (1/(2n) <= d <= 1/n), and the
#     upper tail there, whose logarithm is log1p(-lower);
#   - "far": the two-sided upper tail for d >= 1/2, twice the one-sided one,
#     P(D_n^+ >= d) = d sum_{j <= n(1-d)} C(n, j) (1 - d - j/n)^(n-j) (d + j/n)^(j-1),
#     and the lower tail near 1 there;
#   - "limit": Kolmogorov's limiting law far in both tails, from the series
#     that does not cancel, and the one-sided limit exp(-2 x^2);
#   - "limit_density": the limiting density at small and large x.
#
#   Rscript tools/make-edge-references.R      (from the top folder; seconds)
suppressPackageStartupMessages(library(Rmpfr))
prec <- 400
one <- mpfr(1, prec)
hexd <- function(v) sprintf("%a", v)
rows <- list()
# A tail near 1 is given as 1 - other, and its log as log1p(-other): 400 bits
# do not hold 1 - 1e-300.
add <- function(family, alt, n, x, tail, value_mpfr, other = NULL) {
  lv <- if (is.null(other)) log(value_mpfr) else log1p(-other)
  rows[[length(rows) + 1]] <<- data.frame(
    family = family, alt = alt, n = n, x = hexd(x), tail = tail,
    value = hexd(asNumeric(value_mpfr)), log = hexd(asNumeric(lv)))
}
next_up <- function(x, k) { # the double k ulps above x > 0
  for (i in seq_len(k)) x <- x + 2^(floor(log2(x)) - 52)
  x
}

# Corner: lower = n! (2d - 1/n)^n, computed with d exact.
for (n in c(2, 5, 10, 100, 1000)) {
  h <- 0.5 / n
  ds <- unique(c(next_up(h, 1), next_up(h, 16), next_up(h, 2^20), h * (1 + 1e-6),
                 if (n == 10) 0.05 + 1.1e-11, if (n == 5) 0.1 + 1.9e-7, 0.75 / n))
  for (d in ds) {
    dm <- mpfr(d, prec)
    lower <- factorial(mpfr(n, prec)) * (2 * dm - one / n)^n
    if (!(lower > 0)) next
    add("kolmogorov", "two.sided", n, d, "lower", lower)
    add("kolmogorov", "two.sided", n, d, "upper", one - lower, other = lower)
  }
}

# Far: the one-sided upper tail by the finite sum, two-sided = twice that.
sbt_upper <- function(d, n) {
  dm <- mpfr(d, prec)
  s <- mpfr(0, prec)
  for (j in 0:floor(n * (1 - d))) {
    s <- s + chooseMpfr(n, j) * (one - dm - mpfr(j, prec) / n)^(n - j) * (dm + mpfr(j, prec) / n)^(j - 1)
  }
  dm * s
}
for (n in c(5, 50, 1000)) for (d in c(0.5 + 2^-40, 0.6, 0.9, 0.99, 1 - 2^-20)) {
  up1 <- sbt_upper(d, n)
  if (!(up1 > 0)) next
  add("kolmogorov", "greater", n, d, "upper", up1)
  add("kolmogorov", "greater", n, d, "lower", one - up1, other = up1)
  add("kolmogorov", "two.sided", n, d, "upper", 2 * up1)
  add("kolmogorov", "two.sided", n, d, "lower", one - 2 * up1, other = 2 * up1)
}

# The limiting law: 1 - K(x) = 2 sum (-1)^(k-1) exp(-2 k^2 x^2) for large x,
# K(x) = sqrt(2 pi)/x sum exp(-(2j-1)^2 pi^2/(8 x^2)) for small x.
pi_ <- Const("pi", prec)
limit_upper <- function(xm) {
  s <- mpfr(0, prec)
  for (k in 1:60) s <- s + (-1)^(k - 1) * exp(-2 * k^2 * xm^2)
  2 * s
}
limit_lower <- function(xm) {
  s <- mpfr(0, prec)
  for (j in 1:60) s <- s + exp(-(2 * j - 1)^2 * pi_^2 / (8 * xm^2))
  sqrt(2 * pi_) / xm * s
}
limit_density <- function(xm) { # derivative of the series that converges fast
  if (xm >= 0.5) {
    s <- mpfr(0, prec)
    for (k in 1:60) s <- s + (-1)^(k - 1) * k^2 * exp(-2 * k^2 * xm^2)
    8 * xm * s
  } else {
    s <- mpfr(0, prec)
    for (j in 1:60) {
      a <- (2 * j - 1)^2 * pi_^2 / 8
      s <- s + exp(-a / xm^2) * (2 * a / xm^2 - 1)
    }
    sqrt(2 * pi_) / xm^2 * s
  }
}
for (x in c(0.02, 0.04, 0.1, 0.2)) {
  lo <- limit_lower(mpfr(x, prec))
  add("limit", "two.sided", NA, x, "lower", lo)
  add("limit", "two.sided", NA, x, "upper", one - lo, other = lo)
}
for (x in c(3, 5, 10, 25, 35)) {
  up <- limit_upper(mpfr(x, prec))
  add("limit", "two.sided", NA, x, "upper", up)
  add("limit", "two.sided", NA, x, "lower", one - up, other = up)
  up1 <- exp(-2 * mpfr(x, prec)^2)
  add("limit", "greater", NA, x, "upper", up1)
  add("limit", "greater", NA, x, "lower", one - up1, other = up1)
}
for (x in c(0.03, 0.05, 0.1, 0.5, 2, 10, 25)) add("limit_density", "two.sided", NA, x, "density",
                                                  limit_density(mpfr(x, prec)))

out <- do.call(rbind, rows)
# A value below the double range is stored as 0; its logarithm carries it.
file <- file.path("tests", "testthat", "ref-edges.csv")
utils::write.csv(out, file, row.names = FALSE)
cat("wrote", nrow(out), "rows to", file, "\n")
