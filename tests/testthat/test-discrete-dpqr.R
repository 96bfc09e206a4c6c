# pkolmogorov_discrete and qkolmogorov_discrete: the one-sample law against
# a null with jumps, given as a step function or as a distribution function
# with its support.  The law itself is tested in test-discrete-engine.R, the
# messages of the argument checks in test-messages.R.

test_that("nulls with jumps: p- and q-functions", {
  F0 <- ecdf(c(1, 2, 2, 3, 3, 3))
  p <- pkolmogorov_discrete(c(0.1, 0.3, 0.5), 12, F0)
  expect_false(is.unsorted(p))
  expect_lt(max(abs(p + pkolmogorov_discrete(c(0.1, 0.3, 0.5), 12, F0, lower.tail = FALSE) - 1)), 1e-13)
  q <- qkolmogorov_discrete(c(0.5, 0.9, 0.99), 30, "ppois", lambda = 3, support = 0:40)
  at <- pkolmogorov_discrete(q, 30, "ppois", lambda = 3, support = 0:40)
  before <- pkolmogorov_discrete(q - 1e-9, 30, "ppois", lambda = 3, support = 0:40)
  expect_true(all(at >= c(0.5, 0.9, 0.99) & before < c(0.5, 0.9, 0.99)))
})
