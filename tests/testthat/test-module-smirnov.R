# The exact module's pSmirnov2x: P(D_{m,n} < d) for the two-sample
# statistic.  Its bits against the straightforward version
# (helper-reference.R; a table of its results made by
# tools/make-module-bits.R, and a live sample) under each kind of rows; its
# values against exact lattice path counts and, for equal sizes, the
# reflection principle (helper-oracles.R: live on small tables, and a table
# made by tools/make-module-references.R on large ones).

# The module's statistic on the integer scale: the largest attained multiple
# of 1/(m n) below d, d m n within 1e-7 above an integer counting as it.
K_of <- function(d, m, n) floor((d * m) * n - 1e-7)

test_that("agrees with exact path counts on all sizes up to 12 x 12", {
  worst <- 0
  zero_mismatch <- 0L
  for (m in 1:12) for (n in 1:12) {
    base <- (0:(m * n)) / (m * n)
    d <- c(base, base * (1 + 1e-9), base * (1 - 1e-9), base + 0.5 / (m * n))
    # Counts are integers below 2^53, hence exact in doubles; one division.
    K <- K_of(d, m, n)
    Ks <- unique(K)
    exact <- vapply(Ks, function(k) path_count(k, m, n), 0)[match(K, Ks)] / choose(m + n, m)
    got <- vapply(d, function(x) ps2x(x, m, n), 0)
    zero_mismatch <- zero_mismatch + sum((exact == 0) != (got == 0))
    # Every operation is on non-negative numbers, so relative errors only
    # add up: at most one rounding for w and two per cell along each of the
    # m + n steps of a path, plus the oracle's one division.
    pos <- exact > 0
    worst <- max(worst, abs(got[pos] - exact[pos]) / exact[pos] / (3 * (m + n) + 1))
  }
  expect_identical(zero_mismatch, 0L)
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

test_that("bits match the straightforward computation on random cases", {
  # 2500 tables up to 30 x 30 with statistics at, just beside and between
  # the attained values and beyond both ends, 40 with statistics anywhere,
  # and two of 503 x 503 where the smallest normalised count is about
  # 2^-1000.7: small enough for the rows with an exponent per cell to take
  # over, yet every value is still a normal double, so the plain roundings
  # must be reproduced exactly.
  expect_lt(lchoose(1006, 503) / log(2), 1022)
  expect_gt(lchoose(1006, 503) / log(2), 990)
  ref <- ref_bits("pSmirnov2x", c("kernels", "random", "per-cell"))
  expect_gte(nrow(ref), 2542)
  got <- mapply(ps2x, ref$d, ref$m, ref$n)
  bad <- which(hex(got) != hex(ref$bits))
  expect_identical(length(bad), 0L, info = paste("first differing case: d =", ref$d[bad[1]],
                                                 "m =", ref$m[bad[1]], "n =", ref$n[bad[1]]))
  # A sample recomputed: the table is still what the R version gives.
  skip_if_valgrind()
  live <- ref[ref$set != "per-cell", ]
  live <- live[seq(1, nrow(live), by = 25), ]
  expect_identical(hex(mapply(ps2x_ref, live$d, live$m, live$n)), hex(live$bits))
})

test_that("rows across many column blocks give the straightforward bits under each kind of rows", {
  # Rows wider than one block of columns: values cross block boundaries
  # (exact power-of-two rescaling) and blocks are rescaled as sweeps leave
  # them; small m covers the rows left over after the four-row sweeps.
  ref <- ref_bits("pSmirnov2x", "wide")
  expect_identical(nrow(ref), 36L)
  # Each kind of rows: plain doubles, an exponent per block, one per cell.
  for (rows in c("", "blocked", "cell")) {
    got <- withr::with_envvar(c(KSDIST_ROWS = rows), mapply(ps2x, ref$d, ref$m, ref$n))
    bad <- which(hex(got) != hex(ref$bits))
    expect_identical(length(bad), 0L, info = paste(rows, "rows, first differing case: d =", ref$d[bad[1]],
                                                   "m =", ref$m[bad[1]], "n =", ref$n[bad[1]]))
  }
  skip_if_valgrind()
  live <- ref[c(1, 18, 36), ]
  expect_identical(hex(mapply(ps2x_ref, live$d, live$m, live$n)), hex(live$bits))
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

test_that("large tables: normalised counts below the double range, and the reflected sum", {
  ref <- read_ref("ref-module-smirnov.csv", c("d", "value", "value_lo"))
  # Near the diagonal of a 2600 x 2600 table the row-normalised counts are
  # around 1e-340: held as plain doubles they underflow and the result
  # collapses (to about 0.73 here).  The exact value is about 0.954.
  p <- ref[ref$source == "paths", ]
  expect_identical(nrow(p), 1L)
  expect_lt(rel_exact(ps2x(p$d, p$m, p$n), p$value, p$value_lo), 1e-12)
  expect_equal(p$value, 0.954, tolerance = 1e-3)
  # Equal sizes beyond the plain rows: in the reflected sum's regime (result
  # at least 1/2) within about an ulp; below 1/2 the rows with per-cell
  # exponents still answer, to 1e-12.
  r <- ref[ref$source == "reflection", ]
  expect_gte(nrow(r), 7)
  got <- mapply(ps2x, r$d, r$m, r$n)
  err <- rel_exact(got, r$value, r$value_lo)
  expect_true(all(err < ifelse(got >= 0.5, 3e-16, 1e-12)),
              label = sprintf("relative errors %s", paste(signif(err, 3), collapse = " ")))
  expect_true(any(got < 0.5) && any(got >= 0.5))
  # No band at all: every path counts.
  expect_equal(ps2x(1.5, 3000, 3000), 1, tolerance = 1e-12)
  expect_equal(ps2x(0.5, 10000, 10000), 1, tolerance = 1e-12)
})

test_that("the two exact oracles agree, and reproduce their table", {
  skip_if_not_installed("gmp")
  # Path counts in big integers, in doubles (exact up to m + n = 50) and by
  # reflection, equal sizes.
  for (n in c(7, 25, 60)) for (alt in 0:2) for (K in c(0, 3 * n - 1, 5 * n, n * n - n)) {
    paths <- path_count(K, n, n, alt, big = TRUE)
    if (n <= 25) expect_true(paths == path_count(K, n, n, alt))
    expect_true(gmp::as.bigq(paths, gmp::chooseZ(2 * n, n)) == 1 - reflect_upper(K, n, alt))
  }
  # A row of the reflection table recomputed exactly.
  ref <- read_ref("ref-module-smirnov.csv", c("d", "value", "value_lo"))
  r <- ref[ref$source == "reflection" & ref$n == 3000 & ref$value < 1, ][1, ]
  ex <- 1 - reflect_upper(K_of(r$d, r$n, r$n), r$n)
  expect_true(abs(ex - gmp::as.bigq(r$value) - gmp::as.bigq(r$value_lo)) <= ex * gmp::as.bigq(1, 2)^100)
})
