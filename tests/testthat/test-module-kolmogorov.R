# The exact module's pKolmogorov2x: P(D_n < d) for the one-sample statistic.
# Its bits against the straightforward version (helper-reference.R; a table
# of its results made by tools/make-module-bits.R, and a live sample) and
# across the matrix kernels; its values against Steck's determinant in exact
# rationals (helper-oracles.R; a table made by tools/make-module-references.R,
# and a live sample).

test_that("agrees with exact rational arithmetic for n up to 50 and far in the tail", {
  ref <- read_ref("ref-module-kolmogorov.csv", c("d", "value", "value_lo"))
  got <- mapply(pk2x, ref$d, ref$n)
  err <- rel_exact(got, ref$value, ref$value_lo)
  w <- which.max(err)
  expect_lt(max(err), 1e-12, label = sprintf("relative error at d = %a, n = %d", ref$d[w], ref$n[w]))
  expect_gte(nrow(ref), 351)
  expect_setequal(unique(ref$n), c(1:50, 200))
})

test_that("the oracle reproduces closed forms and its table", {
  skip_if_not_installed("gmp")
  # n = 1: P(D_1 < d) = 2d - 1 on [1/2, 1].
  expect_equal(as.double(steck_cdf(gmp::as.bigq(3, 4), 1)), 0.5)
  # n = 2: (P = 2 (2d - 1/2)^2 on [1/4, 1/2]).
  expect_equal(as.double(steck_cdf(gmp::as.bigq(3, 8), 2)), 2 * (3 / 4 - 1 / 2)^2)
  expect_equal(as.double(steck_cdf(gmp::as.bigq(1, 2), 4)), 13 / 16)
  # One-sided: P(D_n^+ < d) = d (1 + d)^(n-1) for d <= 1/n.
  expect_true(steck_cdf(gmp::as.bigq(1, 10), 7, TRUE) == gmp::as.bigq(1, 10) * gmp::as.bigq(11, 10)^6)
  # Rows of the table recomputed: value + value_lo is the exact rational
  # to far below an ulp.
  ref <- read_ref("ref-module-kolmogorov.csv", c("d", "value", "value_lo"))
  for (r in which(ref$n %in% c(3, 8, 13))) {
    ex <- steck_at(ref$d[r], ref$n[r])
    gap <- abs(ex - gmp::as.bigq(ref$value[r]) - gmp::as.bigq(ref$value_lo[r]))
    expect_true(gap <= abs(ex) * gmp::as.bigq(1, 2)^100, label = sprintf("n = %d, d = %a", ref$n[r], ref$d[r]))
  }
})

test_that("worked values from the construction", {
  expect_equal(pk2x(0.274, 10), 0.628, tolerance = 1e-3)
  expect_ref_bits(pk2x(0.274, 10), pk2x_ref(0.274, 10))
  # n d an exact integer: k = n d + 1, h = 1, and the corner gets (2h - 1)^m.
  expect_identical(hex(pk2x(0.5, 4)), hex(13 / 16 + 2^-53))
  # m = 1 (1/(2n) < d <= 1/n): P = n! (2d - 1/n)^n.
  expect_identical(pk2x(0.75, 1), 0.5)
  expect_identical(hex(pk2x(0.15, 5)), "0x1.3a92a30553262p-10")
  expect_identical(hex(0.0012), "0x1.3a92a30553261p-10")
  # d >= 1 needs no special case inside the range; rounding may exceed 1.
  expect_identical(pk2x(1, 10), 1)
  expect_identical(hex(pk2x(0.95, 20)), hex(1 + 2 * 2^-52))
})

test_that("rescaling inside the power and in the factorial loop", {
  # (0.02, 1000): m = 41, rescales at two power levels and three times
  # after; (0.06, 600): m = 73, one rescale in each place.  Their bits are
  # among the load-time cases (test-module-selfcheck.R checks those against
  # the straightforward version, under every kernel).  (0.03, 200), whose
  # decimal exponent ends very negative, is in the exact table.
  expect_equal(pk2x(0.02, 1000), 0.189, tolerance = 1e-3)
  expect_equal(pk2x(0.06, 600), 0.974, tolerance = 1e-3)
})

test_that("bits match the straightforward computation on random cases", {
  # The table holds the straightforward version's results: 1500 cases with
  # matrix orders up to 45 (every tile and edge shape of the product),
  # powers up to 200 (every mix of squarings and odd steps), small d (the
  # factorial loop's rescaling) and n d integer (h = 1); and 28 with the
  # smallest n and orders up to 73.
  ref <- ref_bits("pKolmogorov2x")
  expect_gte(nrow(ref), 1528)
  got <- mapply(pk2x, ref$d, ref$n)
  bad <- which(hex(got) != hex(ref$bits))
  expect_identical(length(bad), 0L, info = paste("first differing case: d =", ref$d[bad[1]], "n =", ref$n[bad[1]]))
  # A sample recomputed: the table is still what the R version gives.
  skip_if_valgrind()
  live <- ref[seq(1, nrow(ref), by = 50), ]
  expect_identical(hex(mapply(pk2x_ref, live$d, live$n)), hex(live$bits))
})

test_that("wide tiles, their strips and zero skipping give the scalar loop's bits", {
  skip_if_valgrind()
  # Orders from 96 up take the tallest tiles where the processor has them,
  # with strips of narrower tiles below and to the right; every order mod 12
  # and mod 16 appears.  Small powers keep long zero runs (banded H), large
  # ones fill in; d = k/n gives h = 1 and exact zeros in the last row.
  set.seed(303)
  k <- c(48:71, sample(72:130, 8))
  n <- ceiling(k * sample(c(1.02, 1.5, 3, 12), length(k), replace = TRUE))
  d <- (k - ifelse(seq_along(k) %% 5 == 0, 0, runif(length(k)))) / n
  best <- mapply(pk2x, d, as.integer(n))
  plain <- withr::with_envvar(c(KSDIST_KERNEL = "scalar"), mapply(pk2x, d, as.integer(n)))
  bad <- which(hex(best) != hex(plain))
  expect_identical(length(bad), 0L, info = paste("first differing case: d =", d[bad[1]], "n =", n[bad[1]]))
  expect_gte(min(2 * floor(n * d) + 1), 95)
})

test_that("no mass below 1/(2n), and none lost at d = 0", {
  expect_identical(pk2x(0, 5), 0)
  expect_identical(pk2x(0.1, 5), 0)      # n d = 1/2 exactly after rounding
  expect_identical(pk2x(0.09, 5), 0)
  expect_gt(pk2x(0.11, 5), 0)
  expect_identical(pk2x(0, 1), 0)
})

test_that("arguments outside the domain are answered without computing", {
  expect_true(is.nan(pk2x(0.5, 0L)))
  expect_true(is.nan(pk2x(0.5, -3L)))
  r <- pk2x(0.5, NA_integer_)
  expect_true(is.na(r) && !is.nan(r))
  expect_true(is.nan(pk2x(NaN, 10L)))
  r <- pk2x(NA_real_, 10L)
  expect_true(is.na(r) && !is.nan(r))
  expect_identical(pk2x(Inf, 10L), 1)
  expect_identical(pk2x(-Inf, 10L), 0)
  expect_identical(pk2x(-1, 1L), 0)      # n d = -1: the corner lies outside
  expect_identical(pk2x(-0.5, 4L), 0)
  # n d beyond the range where the matrix can be formed.
  expect_identical(pk2x(1, 100000L), 1)
  expect_identical(pk2x(1.5, .Machine$integer.max), 1)
  expect_true(is.nan(pk2x(0.5, 100000L)))
  expect_true(is.nan(pk2x(0.99, 23406L)))
})

test_that("the decimal exponent cannot overflow for huge n", {
  # A zero centre element rescales at every one of the n steps; with
  # n = 2e7 the exponent passes -2^31 on the way.
  expect_identical(pk2x(1e-9, 20000000L), 0)
})
