# pairwise_ks_test: every pair's p-value is ks_test's, adjusted together
# by p.adjust, in the layout of pairwise.wilcox.test; its formula method
# and the handling of missing values and empty groups.

test_that("every pair is ks_test's p-value, adjusted together", {
  g <- InsectSprays$spray
  x <- InsectSprays$count
  lev <- levels(g)
  for (adj in c("holm", "BH", "none")) {
    r <- pairwise_ks_test(x, g, p.adjust.method = adj)
    raw <- outer(2:6, 1:5, Vectorize(function(i, j)
      if (i > j) ks_test(x[g == lev[i]], x[g == lev[j]])$p.value else NA_real_))
    want <- raw
    want[lower.tri(want, TRUE)] <- p.adjust(raw[lower.tri(raw, TRUE)], adj)
    expect_equal(unname(r$p.value), want, tolerance = 1e-15)
    expect_identical(dimnames(r$p.value), list(lev[-1], lev[-6]))
    expect_identical(r$p.adjust.method, adj)
  }
  expect_s3_class(r, "pairwise.htest")
  expect_identical(r$method, "exact two-sample Kolmogorov-Smirnov tests, conditional on the ties")
  expect_identical(r$data.name, "x and g")
  expect_equal(r$statistic["C", "A"], unname(ks_test(x[g == "C"], x[g == "A"])$statistic))
  expect_output(print(r), "Pairwise comparisons using exact two-sample Kolmogorov-Smirnov tests")
  expect_output(print(r), "P value adjustment method: none")
})

test_that("the formula method, one-sided alternatives, missing values and empty groups", {
  r <- pairwise_ks_test(mpg ~ cyl, data = mtcars)
  expect_identical(r$p.value, pairwise_ks_test(mtcars$mpg, mtcars$cyl)$p.value)
  expect_identical(r$data.name, "mpg and cyl")
  expect_identical(pairwise_ks_test(mpg ~ cyl, data = mtcars, subset = am == 1)$p.value,
                   pairwise_ks_test(mtcars$mpg[mtcars$am == 1], mtcars$cyl[mtcars$am == 1])$p.value)
  # The row's group is the test's x.
  g <- pairwise_ks_test(mpg ~ cyl, data = mtcars, alternative = "greater", p.adjust.method = "none")
  expect_identical(g$p.value["8", "4"],
                   ks_test(mtcars$mpg[mtcars$cyl == 8], mtcars$mpg[mtcars$cyl == 4],
                           alternative = "greater")$p.value)
  expect_match(g$method, "the CDF of the row's group lies above that of the column's")
  # Missing values (in x or g) are removed and counted; levels without
  # observations are left out, the others keep their order.
  aq <- airquality
  r2 <- pairwise_ks_test(aq$Ozone, factor(aq$Month, levels = c(9, 5:8, 10)))
  expect_identical(dimnames(r2$p.value), list(c("5", "6", "7", "8"), c("9", "5", "6", "7")))
  expect_match(r2$data.name, "(37 observations with missing values removed)", fixed = TRUE)
  gm <- aq$Month
  gm[1:3] <- NA
  r3 <- pairwise_ks_test(aq$Ozone, gm)
  expect_match(r3$data.name, "(40 observations with missing values removed)", fixed = TRUE)
  # Pairs beyond the exact sizes, and the method line that says how each
  # pair was computed.
  set.seed(1)
  big <- c(rnorm(3e5), rnorm(2e5), rnorm(20))
  grp <- rep(c("a", "b", "c"), c(3e5, 2e5, 20))
  r4 <- suppressWarnings(pairwise_ks_test(big, grp))
  expect_identical(r4$method, "two-sample Kolmogorov-Smirnov tests (exact for 2 pairs, asymptotic for 1 pair)")
  set.seed(2)
  r5 <- pairwise_ks_test(round(big, 1), grp, B = 20)
  expect_match(r5$method, "exact for 2 pairs, Monte Carlo for 1 pair")
})
