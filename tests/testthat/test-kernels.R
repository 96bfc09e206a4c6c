# Randomised differential tests: the compiled kernels (tiled matrix
# products, per-diagonal factorials, banded two-sample rows) against the
# straightforward R versions, bit for bit.

test_that("one-sample results match the straightforward computation", {
  skip_if_valgrind()
  set.seed(101)
  cases <- 1500
  # Matrix orders up to 45 cover every tile and edge shape of the product
  # (orders mod 4 and mod 8), powers up to 200 every mix of squarings and
  # odd steps, and small d the rescaling of the factorial loop.
  n <- sample(1:200, cases, replace = TRUE)
  nd <- runif(cases, 0, 22)
  nd[1:100] <- sample(0:22, 100, replace = TRUE) # exact integers: h = 1
  d <- pmin(nd / n, 1.2)
  got <- mapply(pk2x, d, n)
  ref <- mapply(pk2x_ref, d, n)
  bad <- which(hex(got) != hex(ref))
  expect_identical(length(bad), 0L, info = paste("first differing case: d =", d[bad[1]], "n =", n[bad[1]]))
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

test_that("two-sample results match the straightforward computation", {
  skip_if_valgrind()
  set.seed(202)
  cases <- 2500
  m <- sample(1:30, cases, replace = TRUE)
  n <- sample(1:30, cases, replace = TRUE)
  # Statistics at, just beside and between the attained values k/(m n),
  # and beyond both ends.
  k <- floor(runif(cases, -1, m * n + 2))
  d <- (k + sample(c(0, 1e-9, -1e-9, 0.5), cases, replace = TRUE)) / (m * n)
  got <- mapply(ps2x, d, m, n)
  ref <- mapply(ps2x_ref, d, m, n)
  bad <- which(hex(got) != hex(ref))
  expect_identical(length(bad), 0L, info = paste("first differing case: d =", d[bad[1]],
                                                 "m =", m[bad[1]], "n =", n[bad[1]]))
})

test_that("two-sample rows across many column blocks give the straightforward bits", {
  skip_if_valgrind()
  # Rows wider than one block of columns: values cross block boundaries
  # (exact power-of-two rescaling) and blocks are rescaled as sweeps leave
  # them; small m covers the rows left over after the four-row sweeps.
  set.seed(404)
  cases <- 36
  m <- sample(c(1:7, 20:60), cases, replace = TRUE)
  n <- sample(63:420, cases, replace = TRUE)
  k <- floor(runif(cases, 0, 1.05) * m * n)
  d <- (k + sample(c(0, 0.5), cases, replace = TRUE)) / (m * n)
  ref <- mapply(ps2x_ref, d, m, n)
  # Each kind of rows: plain doubles, an exponent per block, one per cell.
  for (rows in c("", "blocked", "cell")) {
    got <- withr::with_envvar(c(KSDIST_ROWS = rows), mapply(ps2x, d, m, n))
    bad <- which(hex(got) != hex(ref))
    expect_identical(length(bad), 0L, info = paste(rows, "rows, first differing case: d =", d[bad[1]],
                                                   "m =", m[bad[1]], "n =", n[bad[1]]))
  }
})
