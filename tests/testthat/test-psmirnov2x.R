# Exact two-sample distribution P(D_{m,n} < d).

# Independent oracle: count the admissible lattice paths exactly.  A step to
# (i, j) is allowed when |i n - j m| <= K, with K the largest attained
# multiple below d (d m n within 1e-7 above an integer counts as it).  Counts
# are integers below 2^53, hence exact in doubles; one division at the end.
smirnov_count <- function(d, m, n) {
  K <- floor((d * m) * n - 1e-7)
  ok <- function(i, j) abs(i * n - j * m) <= K
  j <- 0:n
  cnt <- ifelse(ok(0, j), 1, 0)
  cnt <- cumprod(cnt)                       # row 0: a prefix of ones
  for (i in seq_len(m)) {
    inside <- ok(i, j)
    new <- numeric(n + 1)
    # The band is one run of columns; a row is a running sum over it.
    run <- which(inside)
    if (length(run)) new[run] <- cumsum(cnt[run])
    cnt <- new
  }
  c(count = cnt[n + 1], total = choose(m + n, m))
}

test_that("agrees with exact path counts on all sizes up to 12 x 12", {
  worst <- 0
  zero_mismatch <- 0
  for (m in 1:12) for (n in 1:12) {
    k <- 0:(m * n)
    base <- k / (m * n)
    for (d in c(base, base * (1 + 1e-9), base * (1 - 1e-9), base + 0.5 / (m * n))) {
      oc <- smirnov_count(d, m, n)
      exact <- oc[["count"]] / oc[["total"]]
      got <- ps2x(d, m, n)
      if ((exact == 0) != (got == 0)) zero_mismatch <- zero_mismatch + 1
      if (exact > 0) {
        # Every operation is on non-negative numbers, so relative errors only
        # add up: at most one rounding for w and two per cell along each of
        # the m + n steps of a path, plus the oracle's one division.
        worst <- max(worst, abs(got - exact) / exact / (3 * (m + n) + 1))
      }
    }
  }
  expect_identical(zero_mismatch, 0)
  expect_lte(worst, 2^-53)
})

test_that("exact doubles at the documented sizes", {
  expect_identical(hex(ps2x(0.6, 5, 5)), hex(ulps(9 / 14, -1)))
  expect_identical(hex(ps2x(0.5, 5, 5)), hex(ulps(9 / 14, -1)))
  expect_identical(hex(ps2x(0.4, 5, 5)), hex(8 / 63))
  expect_identical(ps2x(0.2, 5, 5), 0)
  expect_identical(hex(ps2x(1, 4, 6)), hex(ulps(104 / 105, -2)))
  expect_identical(hex(ps2x(0.5, 4, 6)), hex(ulps(47 / 105, -1)))
  expect_identical(hex(ps2x(1.5, 4, 6)), hex(1 - 2 * 2^-53))
  expect_identical(hex(ps2x(0.25, 7, 3)), hex(1 / 60))
  expect_equal(ps2x(0.3, 10, 12), 0.370, tolerance = 1e-3)
})

test_that("bits match the reference operation order", {
  set.seed(11)
  for (r in 1:40) {
    m <- sample(1:25, 1); n <- sample(1:25, 1)
    d <- runif(1, 0, 1.05)
    expect_identical(hex(ps2x(d, m, n)), hex(ps2x_ref(d, m, n)))
  }
})

test_that("argument order does not matter", {
  set.seed(3)
  for (r in 1:50) {
    m <- sample(0:40, 1); n <- sample(0:40, 1); d <- runif(1)
    expect_identical(ps2x(d, m, n), ps2x(d, n, m))
  }
})

test_that("the 1e-7 allowance absorbs rounding in d", {
  expect_identical(ps2x(1 / 3, 2, 3), 0)
  expect_identical(ps2x(1 / 3 + 1e-9, 2, 3), 0)
  expect_identical(ps2x(1 / 3 + 1e-6, 2, 3), 0.1)
})

test_that("degenerate statistics and sizes", {
  for (d in c(0, -0.5, -Inf)) expect_identical(ps2x(d, 4, 6), 0)
  expect_identical(ps2x(Inf, 4, 6), ps2x(1.5, 4, 6))
  expect_identical(ps2x(0.5, 0, 5), 0)
  expect_identical(ps2x(Inf, 0, 5), 1)
  for (d in c(-1, 0, 0.5, 3, Inf)) expect_identical(ps2x(d, 0, 0), 1)
})

test_that("a missing statistic gives a missing result, as for one sample", {
  # NaN stays NaN and NA stays NA (not the probability of the whole table),
  # whatever the sizes, as pKolmogorov2x answers.
  for (mn in list(c(4L, 6L), c(5L, 0L), c(0L, 0L), c(3000L, 3000L))) {
    r <- ps2x(NaN, mn[1], mn[2])
    expect_true(is.nan(r))
    r <- ps2x(NA_real_, mn[1], mn[2])
    expect_true(is.na(r) && !is.nan(r))
  }
  expect_true(is.nan(pk2x(NaN, 10L)))
  r <- pk2x(NA_real_, 10L)
  expect_true(is.na(r) && !is.nan(r))
  # Missing sizes win over a missing statistic, negative sizes give NaN.
  expect_true(is.na(ps2x(NaN, NA_integer_, 5L)) && !is.nan(ps2x(NaN, NA_integer_, 5L)))
  expect_true(is.nan(ps2x(NA_real_, -1L, 5L)))
})

test_that("sizes outside the int range or negative are answered safely", {
  r <- ps2x(0.5, NA_integer_, 5L)
  expect_true(is.na(r) && !is.nan(r))
  r <- ps2x(0.5, 5L, NA_integer_)
  expect_true(is.na(r) && !is.nan(r))
  expect_true(is.nan(ps2x(0.5, -1L, 5L)))
  expect_true(is.nan(ps2x(0.5, 5L, -2L)))
  expect_true(is.nan(ps2x(0.5, 0L, .Machine$integer.max)))
  expect_true(is.nan(ps2x(0.5, 2L, .Machine$integer.max - 1L)))
  expect_true(is.nan(ps2x(0.5, 1500000000L, 1500000000L)))
})

# Exact counts with big integers, keeping only the band of each row.
smirnov_big <- function(d, m, n) {
  K <- floor((d * m) * n - 1e-7)
  j <- 0:n
  lo <- 0
  hi <- max(j[abs(j * m) <= K])
  vals <- gmp::as.bigz(rep(1, hi + 1))
  for (i in seq_len(m)) {
    run <- j[abs(i * n - j * m) <= K]
    nlo <- min(run)
    nhi <- max(run)
    keep <- if (nlo <= hi) vals[(nlo - lo + 1):(hi - lo + 1)] else gmp::as.bigz(integer(0))
    pad <- nhi - max(hi, nlo - 1)
    if (pad > 0) keep <- c(keep, gmp::as.bigz(rep(0, pad)))
    vals <- cumsum(keep)
    lo <- nlo
    hi <- nhi
  }
  as.double(gmp::as.bigq(vals[length(vals)], gmp::chooseZ(m + n, m)))
}

test_that("large tables whose normalised counts leave the double range", {
  skip_if_not_installed("gmp")
  # Near the diagonal of a 2600 x 2600 table the row-normalised counts are
  # around 1e-340: held as plain doubles they underflow and the result
  # collapses (to about 0.73 here).  The exact value is about 0.954.
  N <- 2600
  d <- 1.36 * sqrt(2 / N)
  expect_equal(ps2x(d, N, N), smirnov_big(d, N, N), tolerance = 1e-12)
  # No band at all: every path counts.
  expect_equal(ps2x(1.5, 3000, 3000), 1, tolerance = 1e-12)
  expect_equal(ps2x(0.5, 10000, 10000), 1, tolerance = 1e-12)
})

test_that("per-cell exponents change no bit where nothing underflows", {
  # With the whole table inside the band the smallest value is
  # 1/C(1006, 503) ~ 2^-1000.7: small enough for the exponent-per-cell
  # rows to take over, yet every value is still a normal double, so the
  # plain roundings must be reproduced exactly.
  expect_lt(lchoose(1006, 503) / log(2), 1022)
  expect_gt(lchoose(1006, 503) / log(2), 990)
  for (d in c(1.5, 0.99)) {
    expect_identical(hex(ps2x(d, 503, 503)), hex(ps2x_ref(d, 503, 503)))
  }
})

test_that("equal sizes beyond the plain rows: the reflected sum, exact to rounding", {
  skip_if_not_installed("gmp")
  # Exact reflection count in big integers: the paths that reach
  # |i - j| = c number 2 sum_k (-1)^(k-1) C(2n, n - k c).
  reflect <- function(d, n) {
    c <- floor(d * n * n - 1e-7) %/% n + 1
    k <- seq_len(n %/% c)
    s <- sum(gmp::chooseZ(2 * n, n - k * c) * gmp::as.bigz((-1)^(k - 1)))
    tot <- gmp::chooseZ(2 * n, n)
    gmp::as.bigq(tot - 2 * s, tot)
  }
  relerr <- function(got, ex) abs(as.double((gmp::as.bigq(got) - ex) / ex))
  # The closed form's regime (result at least 1/2): within about an ulp.
  # Below 1/2 the rows with per-cell exponents still answer, to 1e-12.
  for (cs in list(c(3000, 0.0351), c(3000, 0.03), c(3000, 0.5), c(4099, 0.021),
                  c(20000, 0.0136), c(3000, 0.02), c(3001, 0.018))) {
    n <- cs[1]; d <- cs[2]
    ex <- reflect(d, n)
    got <- ps2x(d, n, n)
    expect_lt(relerr(got, ex), if (got >= 0.5) 3e-16 else 1e-12, label = sprintf("n = %d, d = %g", n, d))
  }
  # The two exact oracles agree where both are cheap: path counts at 2600.
  expect_equal(as.double(reflect(0.035, 2600)), smirnov_big(0.035, 2600, 2600), tolerance = 1e-15)
})
