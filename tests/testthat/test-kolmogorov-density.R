# The density of the one-sample statistics in the second shared object
# (hook_kolmogorov_density: c(density, log density), or by one route: 1
# recursion, 2 SBT, 3 Abel, 4 two-sided bound), against exact references
# (tools/make-kolmogorov-density-references.R), the distribution function
# and each other.

dens <- function(d, n, alt = 0L) hook_kolmogorov_density(d, n, alt)
by_route <- function(d, n, alt, r) hook_kolmogorov_density(d, n, alt, route = r)
cdf1 <- function(d, n, alt, upper = FALSE) hook_kolmogorov(d, n, alt, upper)[1]
rel <- function(x, ref) ifelse(ref == 0, abs(x), abs(x - ref) / abs(ref))

test_that("the density matches the exact references", {
  ref <- read_ref("ref-kolmogorov-density.csv", "d")
  got <- t(vapply(seq_len(nrow(ref)), function(i) dens(ref$d[i], ref$n[i], ref$alt[i]), c(0, 0)))
  tol <- pmax(1e-12, 2 * ref$relerr_bound)
  err <- ifelse(ref$value == 0, ifelse(got[, 1] == 0, 0, Inf),
                ifelse(ref$value >= 1e-300, pmax(rel(got[, 1], ref$value), rel(got[, 2], ref$log)),
                       rel(got[, 2], ref$log)) / tol)
  # D^- has the law of D^+.
  for (i in which(ref$alt == 1 & seq_len(nrow(ref)) %% 4 == 0))
    expect_identical(dens(ref$d[i], ref$n[i], 2L), got[i, ])
  w <- which.max(err)
  expect_lte(max(err), 1, label = sprintf("error / tolerance at %s n=%d d=%a alt=%d", ref$method[w],
                                          ref$n[w], ref$d[w], ref$alt[w]))
  expect_gt(nrow(ref), 500)
})

# Nodes and weights of m-point Gauss-Legendre on [-1, 1] (Golub-Welsch).
gauss <- function(m) {
  J <- matrix(0, m, m)
  b <- seq_len(m - 1) / sqrt(4 * seq_len(m - 1)^2 - 1)
  J[cbind(1:(m - 1), 2:m)] <- b
  J[cbind(2:m, 1:(m - 1))] <- b
  e <- eigen(J, symmetric = TRUE)
  list(x = e$values, w = 2 * e$vectors[1, ]^2)
}

# Relative difference of two c(value, log) results, on the logs once the
# values are below the double range.
apart <- function(a, b) if (b[1] > 1e-300) rel(a[1], b[1]) else rel(a[2], b[2])

test_that("the density integrates to the distribution function", {
  # Between multiples of 1/(2n), P(D < d) is a polynomial of degree <= n, so
  # Gauss-Legendre with more than n/2 nodes per such piece integrates the
  # density exactly up to rounding: the running integrals from either end of
  # the support must give both tails of the distribution function.
  for (n in c(3L, 8L, 21L, 40L)) for (alt in 0:1) {
    g <- gauss(n %/% 2 + 1)
    h <- 1 / (2 * n)
    k <- if (alt == 0) (1:(2 * n - 1)) else (0:(2 * n - 1))
    piece <- vapply(k, function(j) {
      x <- (j + 0.5) * h + g$x * h / 2
      sum(g$w * vapply(x, function(d) dens(d, n, alt)[1], 0)) * h / 2
    }, 0)
    edge <- (k + 1) * h # right ends of the pieces
    lower <- cumsum(piece)
    upper <- rev(cumsum(rev(piece)))[-1]
    lo_ref <- vapply(edge, function(d) cdf1(d, n, alt), 0)
    up_ref <- vapply(edge[-length(edge)], function(d) cdf1(d, n, alt, TRUE), 0)
    use <- lo_ref < 0.5
    expect_lte(max(rel(lower[use], lo_ref[use])), 1e-12)
    use <- up_ref < 0.5
    expect_lte(max(rel(upper[use], up_ref[use])), 1e-12)
  }
})

test_that("independent routes agree where each applies", {
  set.seed(17)
  for (k in 1:30) {
    n <- sample(c(30L, 150L, 700L, 2000L), 1)
    d <- runif(1, 0.05, 4) / sqrt(n)
    if (d >= 1) next
    # One-sided: the checkpoint recursion against the closed forms.
    expect_lte(apart(by_route(d, n, 1L, 1L), dens(d, n, 1L)), 1e-13)
    # Two-sided from 1/2 on: the recursion against twice the one-sided law
    # (for small n: deeper in that tail the boundary counts fall out of
    # the recursion's range, which is why the closed form is used there).
    n2 <- sample(c(5L, 12L, 30L), 1)
    d2 <- runif(1, 0.5, 0.97)
    expect_lte(apart(by_route(d2, n2, 0L, 1L), dens(d2, n2, 0L)), 1e-13)
  }
  # The bound form of the two-sided upper tail against the recursion.
  for (n in c(200L, 1000L)) for (x in c(5, 6.5, 7 * (n > 200))) {
    if (x == 0) next
    d <- x / sqrt(n)
    b <- by_route(d, n, 0L, 4L)
    expect_lt(b[3], 1e-16)
    expect_lte(rel(b[1], by_route(d, n, 0L, 1L)[1]), 1e-13)
  }
  # Abel's and the SBT sum, where both cancel little.
  for (n in c(3000L, 20000L)) for (s in c(8, 12, 20)) {
    a <- by_route(s / n, n, 1L, 3L)
    b <- by_route(s / n, n, 1L, 2L)
    expect_lt(a[3], 1e12)
    expect_lt(b[3], 100)
    expect_lte(rel(a[1], b[1]), 1e-13)
  }
})

test_that("the right derivative is taken where the slope jumps", {
  eps <- 2^-40
  for (n in c(2L, 4L, 16L)) {
    d <- 1 / n # exact: a_1 = 1/n - d reaches 0
    right <- dens(d + eps, n, 1L)[1]
    expect_equal(dens(d, n, 1L)[1], right, tolerance = 1e-9)
    # One-sided, the point U_(1) on a_1 stops counting: the slope drops by
    # n d (the term l = 1 of Abel's form), i.e. by 1.
    expect_equal(dens(d - eps, n, 1L)[1] - right, 1, tolerance = 1e-8)
    expect_equal(dens(d, n, 0L)[1], dens(d + eps, n, 0L)[1], tolerance = 1e-9)
  }
  # Ends of the support: one-sided P(D < d) = d (1 + d)^(n-1) near 0;
  # two-sided n! (2d - 1/n)^n near 1/(2n), n = 1: 2d - 1 on [1/2, 1).
  for (n in c(1L, 5L, 100L)) {
    expect_identical(dens(0, n, 1L), c(1, 0))
    expect_identical(dens(-1e-300, n, 1L)[1], 0)
    expect_identical(dens(1, n, 1L)[1], 0)
    expect_identical(dens(1, n, 0L)[1], 0)
  }
  expect_identical(dens(0.5, 1L)[1], 2)
  expect_identical(dens(0.75, 1L)[1], 2)
  expect_identical(dens(0.5 - 1e-16, 1L)[1], 0)
  expect_identical(dens(1 / 8, 4L)[1], 0)
  d <- 0.7 / 6
  expect_equal(dens(d, 6L)[2], log(12 * 720) + 5 * log(2 * d - 1 / 6), tolerance = 1e-13)
})

test_that("arguments outside the domain and memory", {
  expect_true(all(is.nan(dens(NaN, 5))))
  expect_identical(dens(Inf, 5), c(0, -Inf))
  expect_identical(dens(-Inf, 5, 1L), c(0, -Inf))
  expect_error(dens(0.1, 0), "'n' must be a whole number from 1")
  expect_error(dens(0.1, 5, 3L), "'alt'")
  expect_error(by_route(0.01, 5, 0L, 1L), "inside the support")
  expect_error(by_route(0.6, 5, 0L, 4L), "route 4")
  withr::with_options(list(ksdist.max_bytes = 1000), expect_error(dens(0.01, 1e5), "ksdist.max_bytes"))
})
