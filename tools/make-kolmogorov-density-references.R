# Exact references for the one-sample densities (the tests in
# test-kolmogorov-density.R), written to tests/testthat/ref-kolmogorov-density.csv
# (run from the package's top folder; takes a few minutes).  The density is
# the right derivative in d of P(D < d), at the exact binary value of the
# double d:
#
#   steck  Steck's determinant (steck_det in tests/testthat/helper-oracles.R)
#          differentiated exactly in rational arithmetic (gmp) along its
#          Hessenberg recursion,
#          D_k = sum_i (-1)^(k-i) M_ik D_(i-1), M_ik = (v_i - u_k)_+^p / p!,
#          p = k - i + 1, with the right derivatives of the clamped bounds
#          u_k = (k/n - d)_+ and v_i = ((i-1)/n + d) ^ 1 and of (x)_+^p.  Two-
#          sided and one-sided (v_i = 1).  For n <= 7 the script first checks
#          it against a second exact route: the cdf is a polynomial of degree
#          <= n between multiples of 1/(2n), so its exact values at n + 1
#          rational points of the piece to the right of d determine the
#          derivative at d through the interpolating polynomial.
#   sbt    -d/dd of the Smirnov-Birnbaum-Tingey sum for P(D_n^+ >= d), term by
#          term, in Rmpfr (enough bits for its cancellation); two-sided for
#          d >= 1/2 as twice that (P(D_n >= d) = 2 P(D_n^+ >= d) there).
#   abel   d/dd of Abel's alternating form of P(D_n^+ < d) (small n d),
#          Rmpfr at 600 bits.
#   corner 2n n! (2d - 1/n)^(n-1), the derivative of P(D_n < d) = n! (2d -
#          1/n)^n for 1/(2n) < d < 1/n.
#   band   two-sided, d < 1/2: 2 f1 - S p1 / (1 - p1), f1 the one-sided
#          density, p1 = P(D_n^+ >= d), S = sum over a_i = i/n - d > 0 of the
#          density of U_(i) at a_i; the two-sided density lies within
#          S p1 / (1 - p1) of it (relerr_bound).
#
# Columns: method, alt (0 two-sided, 1 one-sided), n, d (hex), value, log
# (natural), relerr_bound (0 when exact).
suppressMessages({
  library(gmp)
  library(Rmpfr)
})
prec <- 240
q_of <- function(d) as.bigq(d)
to_mp <- function(x, bits = prec) mpfr(numerator(x), bits) / mpfr(denominator(x), bits)
source(file.path("tests", "testthat", "helper-oracles.R"))

steck_slope <- function(dq, n, one) {
  i <- seq_len(n)
  lu <- as.bigq(i, n) - dq
  lu_d <- ifelse(lu > 0, -1L, 0L) # right derivatives of the clamped bounds
  lu[lu < 0] <- as.bigq(0)
  if (one) {
    rv <- as.bigq(rep(1, n))
    rv_d <- rep(0L, n)
  } else {
    rv <- as.bigq(i - 1L, n) + dq
    rv_d <- ifelse(rv < 1, 1L, 0L)
    rv[rv > 1] <- as.bigq(1)
  }
  D <- as.bigq(rep(1, n + 1))
  Dd <- as.bigq(rep(0, n + 1))
  for (k in seq_len(n)) {
    ii <- seq_len(k)
    x <- rv[ii] - lu[k]
    x_d <- rv_d[ii] - lu_d[k]
    p <- k - ii + 1L
    sgn <- ifelse((k - ii) %% 2 == 0, 1L, -1L)
    pos <- x > 0
    x[!pos] <- as.bigq(0)
    m <- x^p / factorialZ(p)
    m_d <- as.bigq(rep(0, k))
    if (any(pos)) m_d[pos] <- x[pos]^(p[pos] - 1L) / factorialZ(p[pos] - 1L) * x_d[pos]
    # (x)_+ at x = 0, rising: slope x_d for p = 1, 0 for p > 1.
    z <- !pos & p == 1L & x_d > 0 & (rv[ii] - lu[k]) == 0
    if (any(z)) m_d[z] <- as.bigq(x_d[z])
    D[k + 1] <- sum(m * D[ii] * sgn)
    Dd[k + 1] <- sum((m_d * D[ii] + m * Dd[ii]) * sgn)
  }
  factorialZ(n) * Dd[n + 1]
}

interp_slope <- function(dq, n, one) {
  h <- as.bigq(1, 2 * n)
  k <- floor(asNumeric(dq / h))
  lo <- as.bigq(k) * h
  while (lo > dq) lo <- lo - h
  while (lo + h <= dq) lo <- lo + h
  den <- n + 3
  repeat {
    xs <- lo + (0:n + 1) * h / den
    if (!any(xs == dq)) break
    den <- den + 1
  }
  Fs <- lapply(xs, function(x) steck_cdf(x, n, one))
  tot <- as.bigq(0)
  for (k in seq_along(xs)) {
    L <- as.bigq(1)
    S <- as.bigq(0)
    for (m in seq_along(xs)) if (m != k) {
      L <- L * (dq - xs[m]) / (xs[k] - xs[m])
      S <- S + 1 / (dq - xs[m])
    }
    tot <- tot + Fs[[k]] * L * S
  }
  tot
}

# log k!, k = 0..n, in mpfr, kept for the last (n, bits) asked for.
lfact_cache <- new.env()
lfact <- function(n, bits) {
  key <- paste(n, bits)
  if (is.null(lfact_cache[[key]])) {
    rm(list = ls(lfact_cache), envir = lfact_cache)
    lfact_cache[[key]] <- c(mpfr(0, bits), cumsum(log(mpfr(seq_len(n), bits))))
  }
  lfact_cache[[key]]
}

# The terms of the SBT sum, d C(n,j) (d + j/n)^(j-1) (1 - d - j/n)^(n-j), and
# their logarithmic derivatives.  Terms below e^-150 of the largest (found
# in double precision, good to far better than that margin) are left out:
# they are beyond every digit kept.
sbt_terms <- function(d, n, bits) {
  j <- 0:(n - 1)
  top0 <- 1 - d - j / n
  j <- j[top0 > 0]
  l0 <- lchoose(n, j) + (j - 1) * log(d + j / n) + (n - j) * log1p(-d - j / n)
  j <- j[l0 > max(l0) - 150]
  d <- mpfr(q_of(d), bits)
  N <- mpfr(n, bits)
  top <- 1 - d - j / N
  keep <- top > 0 # the double pre-pass may keep a term that is exactly 0
  j <- j[keep]
  top <- top[keep]
  p <- d + j / N
  lf <- lfact(n, bits)
  t <- exp(log(d) + lf[n + 1] - lf[j + 1] - lf[n - j + 1] + (j - 1) * log(p) + (N - j) * log(top))
  list(t = t, slope = (N - j) / top - (j - 1) / p - 1 / d)
}
sbt_slope <- function(d, n, bits = 300) with(sbt_terms(d, n, bits), sum(t * slope))
sbt_upper <- function(d, n, bits = 300) sum(sbt_terms(d, n, bits)$t)

abel_slope <- function(d, n, bits = 600) {
  d <- mpfr(q_of(d), bits)
  N <- mpfr(n, bits)
  l <- 0:min(n - 1, 200)
  x <- d - l / N
  keep <- x > 0 | (x == 0 & l == 1)
  l <- l[keep]
  x <- x[keep]
  # d/dd of d C(n,l) (1 + x)^(n-l-1) x^l, x = d - l/n.
  tt <- chooseMpfr(n, l) * (1 + x)^(n - l - 1) * x^l * (1 + d * (n - l - 1) / (1 + x))
  tt[l > 0] <- tt[l > 0] + d * chooseMpfr(n, l[l > 0]) * (1 + x[l > 0])^(n - l[l > 0] - 1) *
    l[l > 0] * x[l > 0]^(l[l > 0] - 1)
  sum((-1)^l * tt)
}

rows <- list()
add <- function(method, alt, n, d, v, bound = 0) {
  v <- roundMpfr(v, 200)
  rows[[length(rows) + 1]] <<- data.frame(
    method = method, alt = alt, n = n, d = sprintf("%a", d),
    value = sprintf("%.17g", as.numeric(v)), log = sprintf("%.17g", as.numeric(log(v))),
    relerr_bound = bound)
}

# The two exact routes agree (kinks included) before the table is made.
set.seed(7)
for (n in c(1, 2, 3, 5, 7)) for (one in c(FALSE, TRUE)) {
  ds <- c(1 / (2 * n), 1 / n, 3 / (4 * n), 0.5, 2 / 3, runif(2))
  if (one) ds <- c(ds, 0)
  for (d in ds) {
    dq <- as.bigq(d)
    if (!one && dq * n < as.bigq(1, 2)) next
    if (steck_slope(dq, n, one) != interp_slope(dq, n, one))
      stop("the two exact derivatives differ at n = ", n, ", d = ", d)
  }
}
cat("exact routes agree\n")

for (n in c(1, 2, 3, 4, 5, 7, 10, 16, 25, 40, 60, 100)) {
  ds <- c(1 / (2 * n), 1 / (2 * n) * (1 + 2^-40), 0.6 / n, 1 / n, 1.5 / n, 2 / n, 0.3 / sqrt(n),
          0.6 / sqrt(n), 0.9 / sqrt(n), 1.3 / sqrt(n), 2 / sqrt(n), 0.3, 0.5, 0.5 + 2^-30, 0.75,
          1 - 1 / (2 * n), 0.999, runif(3, 0, 1))
  ds <- unique(ds[ds > 0 & ds < 1])
  for (d in ds) {
    dq <- q_of(d)
    if (dq * n >= as.bigq(1, 2)) add("steck", 0, n, d, to_mp(steck_slope(dq, n, FALSE)))
    add("steck", 1, n, d, to_mp(steck_slope(dq, n, TRUE)))
  }
  cat("steck n =", n, "\n")
}
for (d in c(0.9 / sqrt(200), 1.7 / sqrt(200))) add("steck", 0, 200, d, to_mp(steck_slope(q_of(d), 200, FALSE)))

# Large n: one-sided over the whole range (far below the double range in
# the upper tail), two-sided from 1/2 on, in the corner and where p1 is tiny.
for (n in c(1000, 10000, 100000)) {
  bits <- 300
  xs <- if (n < 1e5) c(0.02, 0.06, 0.15, 0.35, 0.6, 1, 1.6, 2.5, 4, 7) else c(2.5, 4, 7)
  for (x in xs) {
    d <- x / sqrt(n)
    add("sbt", 1, n, d, sbt_slope(d, n, bits))
  }
  for (d in c(0.5, 0.62, 0.9)) {
    f <- sbt_slope(d, n, bits)
    add("sbt", 1, n, d, f)
    add("sbt", 0, n, d, 2 * f)
  }
  for (d in c(0.5 / n * (1 + 2^-45), 0.55 / n, 0.8 / n)) {
    dm <- mpfr(q_of(d), bits)
    add("corner", 0, n, d, 2 * n * exp(lgamma(mpfr(n + 1, bits)) + (n - 1) * log(2 * dm - 1 / mpfr(n, bits))))
  }
  for (x in c(6, 12)) {
    d <- x / sqrt(n)
    if (d >= 0.5) next
    dm <- mpfr(q_of(d), bits)
    i <- seq(floor(n * d) + 1, n)
    l0 <- dbinom(i - 1, n - 1, i / n - d, log = TRUE)
    i <- i[l0 > max(l0) - 150]
    a <- i / mpfr(n, bits) - dm
    lf <- lfact(n, bits)
    lS <- log(mpfr(n, bits)) + lf[n] - lf[i] - lf[n - i + 1] + (i - 1) * log(a) + (n - i) * log(1 - a)
    S <- sum(exp(lS))
    p1 <- sbt_upper(d, n, bits)
    f1 <- sbt_slope(d, n, bits)
    half <- S * p1 / (1 - p1)
    add("band", 0, n, d, 2 * f1 - half, as.numeric(half / (2 * f1 - 2 * half)))
  }
  cat("large n =", n, "\n")
}
for (n in c(1e6, 1e7, 1e9)) for (s in c(0.4, 1, 2.5, 6, 13, 25)) add("abel", 1, n, s / n, abel_slope(s / n, n))
tab <- do.call(rbind, rows)
write.csv(tab, "tests/testthat/ref-kolmogorov-density.csv", row.names = FALSE)
cat(nrow(tab), "references written\n")
