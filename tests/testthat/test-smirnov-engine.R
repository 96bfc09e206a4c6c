# The two-sample law in the second shared object: both tails computed
# directly (hook_smirnov), for one-sided statistics and with ties, against
# exact references (tools/make-smirnov-references.R), lattice path counts and
# the reflection principle (helper-oracles.R), and every split of the pooled
# sample.

ks2 <- hook_smirnov

# Statistic of a path: alt 0 |i n - j m|, 1 i n - j m, 2 j m - i n.
stat_of <- function(s, alt) switch(alt + 1, abs(s), s, -s)

# Independent oracle: every split of the pooled sample, for m + n <= 16.
split_tails <- function(K, m, n, alt, blocks) {
  N <- m + n
  ends <- cumsum(blocks)
  sets <- utils::combn(N, m)
  isx <- matrix(0L, N, ncol(sets))
  isx[cbind(as.vector(sets), rep(seq_len(ncol(sets)), each = m))] <- 1L
  i <- apply(isx, 2, cumsum)[ends, , drop = FALSE]
  S <- apply(stat_of(i * n - (ends - i) * m, alt), 2, max)
  c(mean(S <= K), mean(S > K))
}

random_blocks <- function(N) {
  cuts <- sort(sample(seq_len(N - 1), sample(0:(N - 1), 1)))
  as.integer(diff(c(0, cuts, N)))
}

test_that("both tails agree with the exact reference table", {
  ref <- utils::read.csv(test_path("ref-smirnov-engine.csv"), colClasses = c(K = "character",
                         blocks = "character", lower = "numeric", upper = "numeric"))
  expect_gt(nrow(ref), 60)
  worst <- c(value = 0, log = 0, sum = 0)
  for (r in seq_len(nrow(ref))) {
    x <- ref[r, ]
    b <- if (nzchar(x$blocks)) as.integer(strsplit(x$blocks, " ")[[1]]) else NULL
    for (tail in c("lower", "upper")) {
      got <- ks2(as.numeric(x$K), x$m, x$n, x$alt, b, tail == "upper")
      v <- x[[tail]]
      lg <- x[[paste0(tail, "_log")]]
      if (!is.na(v)) {
        err <- if (v == 0) abs(got[1]) else abs(got[1] - v) / v
        worst["value"] <- max(worst["value"], err)
      } else if (lg == -Inf) {
        expect_identical(got, c(0, -Inf))
      } else {
        # Below the double range: the logarithm carries the value.
        expect_lt(lg, log(1e-300))
        worst["log"] <- max(worst["log"], abs(got[2] - lg) / abs(lg))
      }
    }
    both <- ks2(as.numeric(x$K), x$m, x$n, x$alt, b, FALSE)[1] +
      ks2(as.numeric(x$K), x$m, x$n, x$alt, b, TRUE)[1]
    worst["sum"] <- max(worst["sum"], abs(both - 1))
  }
  expect_lte(worst[["value"]], 1e-12)
  expect_lte(worst[["log"]], 1e-12)
  expect_lte(worst[["sum"]], 1e-12)
})

test_that("random sizes, alternatives and ties agree with exact path counts", {
  set.seed(7)
  worst <- 0
  for (r in 1:120) {
    m <- sample(1:22, 1)
    n <- sample(1:22, 1)
    alt <- sample(0:2, 1)
    b <- if (r %% 3 > 0) random_blocks(m + n)
    K <- sample(-1:(m * n), 1)
    stay <- path_count(K, m, n, alt, b)
    total <- choose(m + n, m)
    got <- c(ks2(K, m, n, alt, b, FALSE)[1], ks2(K, m, n, alt, b, TRUE)[1])
    ex <- c(stay, total - stay) / total   # integer counts: exact
    lower <- ex[1]
    if (lower == 0) expect_identical(got[1], 0)
    if (lower == 1) expect_identical(got[2], 0)
    ok <- ex > 0
    worst <- max(worst, abs(got[ok] - ex[ok]) / ex[ok])
  }
  expect_lte(worst, 1e-13)
})

test_that("ties: equal to enumerating every split of the pooled sample", {
  set.seed(3)
  for (r in 1:12) {
    N <- sample(6:16, 1)
    m <- sample(1:(N - 1), 1)
    n <- N - m
    b <- random_blocks(N)
    alt <- (r - 1) %% 3
    K <- sample(0:(m * n), 1)
    ex <- split_tails(K, m, n, alt, b)
    got <- c(ks2(K, m, n, alt, b, FALSE)[1], ks2(K, m, n, alt, b, TRUE)[1])
    expect_equal(got, ex, tolerance = 1e-12)
  }
})

test_that("reversing the pooled sample exchanges the one-sided statistics", {
  set.seed(5)
  for (r in 1:20) {
    m <- sample(1:300, 1)
    n <- sample(1:300, 1)
    b <- if (r %% 2) random_blocks(m + n)
    K <- floor(m * n * runif(1)^2)
    up <- r %% 4 < 2
    g <- ks2(K, m, n, 1L, b, up)
    l <- ks2(K, m, n, 2L, rev(b), up)
    expect_equal(g[1], l[1], tolerance = 1e-13)
    # Exchanging the samples does the same.
    expect_equal(ks2(K, n, m, 2L, b, up)[1], g[1], tolerance = 1e-13)
  }
})

test_that("equal sizes with m n beyond 2^31 agree with the reflection formula", {
  skip_if_not_installed("gmp")
  n <- 46341                       # n^2 > 2^31 - 1
  k <- 700
  two <- reflect_upper(k * n - 1, n, 0L)
  got <- ks2(k * n - 1, n, n, 0L, NULL, TRUE)
  expect_equal(got[1], as.double(two), tolerance = 1e-12)
  expect_equal(ks2(k * n - 1, n, n, 0L, NULL, FALSE)[1], as.double(1 - two), tolerance = 1e-12)
})

test_that("statistics outside the attainable range and invalid arguments", {
  expect_identical(ks2(-1, 5, 7), c(0, -Inf))
  expect_identical(ks2(-1, 5, 7, upper = TRUE), c(1, 0))
  expect_identical(ks2(35, 5, 7), c(1, 0))
  expect_identical(ks2(1e300, 5, 7, 1L, NULL, TRUE), c(0, -Inf))
  expect_identical(ks2(0, 0, 7), c(1, 0))
  # The smallest value: every path but one leaves the band somewhere.
  expect_equal(ks2(34, 5, 7, 0L, NULL, TRUE)[1], 2 / choose(12, 5), tolerance = 1e-14)
  expect_true(all(is.na(ks2(NA_real_, 5, 7))))
  expect_true(all(is.nan(ks2(NaN, 5, 7))))
  expect_error(ks2(3.5, 5, 7), "whole number")
  expect_error(ks2(3, 5, 7, 4L), "alt")
  expect_error(ks2(3, -5, 7), "whole numbers")
  expect_error(ks2(3, 5, 7, 0L, c(5L, 6L)), "sum to m \\+ n")
  expect_error(ks2(3, 5, 7, 0L, c(13L, -1L)), "positive")
  expect_error(ks2(3, 5, 7, 0L, c(5, 7)), "integer")
})

test_that("memory is refused beyond the limit", {
  withr::with_options(list(ksdist.max_bytes = 1000),
                      expect_error(ks2(100, 500, 500), "ksdist.max_bytes"))
})

test_that("equal sizes: upper tails by reflection match exact big-integer counts", {
  skip_if_not_installed("gmp")
  # P(S > K) for m = n: the paths reaching |i - j| >= c (or i - j >= c),
  # counted exactly by reflection; also the path-counting oracle on small n.
  exact <- function(K, n, alt) {
    s <- reflect_count(n, K %/% n + 1, alt == 0)
    q <- gmp::as.bigq(s, gmp::chooseZ(2 * n, n))
    # gmp's log of a big integer is good to about 1e-16 of its own size only.
    list(q = q, log = if (as.double(q) > 1e-300) log(as.double(q)) else log(s) - log(gmp::chooseZ(2 * n, n)))
  }
  for (cs in list(c(1, 7, 0), c(30, 12, 1), c(60, 12, 0), c(2 * 40, 40, 0), c(10 * 300, 300, 2),
                  c(5000 * 1e4, 1e4, 0), c(90 * 3000, 3000, 0), c(600 * 3000, 3000, 1))) {
    K <- cs[1]; n <- cs[2]; alt <- cs[3]
    got <- ks2(K, n, n, as.integer(alt), NULL, TRUE)
    ex <- exact(K, n, alt)
    if (as.double(ex$q) > 1e-300)
      expect_lt(abs(as.double((gmp::as.bigq(got[1]) - ex$q) / ex$q)), 4e-16)
    expect_equal(got[2], ex$log, tolerance = 1e-13)
    if (n <= 12) expect_equal(got[1], 1 - path_count(K, n, n, alt) / choose(2 * n, n), tolerance = 1e-14)
  }
})
