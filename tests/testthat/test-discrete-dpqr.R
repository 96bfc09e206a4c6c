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

# The exact law of D for a purely discrete null (atoms with probabilities
# prob) and n draws, by enumerating every sample: the attained values, as
# ks_test computes the statistic from the data (i/n - F and F(x-) - (i-1)/n
# in doubles), and their probabilities.  A quantile is the largest double
# any sample gives for its atom, so that data never show a statistic above
# the critical value of its own atom.
enumerate_discrete <- function(prob, n, alt = "two.sided") {
  u <- cumsum(prob)
  u[length(u)] <- 1
  K <- length(prob)
  draws <- as.matrix(expand.grid(rep(list(seq_len(K)), n)))
  weight <- apply(draws, 1, function(r) prod(prob[r]))
  Dall <- apply(draws, 1, function(r) {
    xs <- sort(r)
    i <- seq_len(n)
    above <- i / n - u[xs]
    below <- c(0, u)[xs] - (i - 1) / n
    switch(alt, two.sided = max(0, above, below), greater = max(0, above), less = max(0, below))
  })
  D <- Dall
  # One atom can come out as doubles an ulp apart: grouped, as its largest.
  D <- sort(unique(D))
  atom <- cumsum(c(TRUE, diff(D) > 1e-12))
  d <- tapply(D, atom, max)
  data.frame(d = unname(d), p = unname(vapply(seq_along(d), function(a)
    sum(weight[abs(Dall - d[a]) <= 1e-12]), 0)))
}

test_that("quantiles are attained values, also at every cumulative probability", {
  coin <- stepfun(1:2, c(0, 0.5, 1))
  expect_identical(qkolmogorov_discrete(0.75, 2, coin), 0.5)
  r <- ks_test(c(1, 1), coin)
  expect_false(unname(r$statistic) > r$critical.value && r$p.value > r$sig.level)
  for (prob in list(c(0.2, 0.5, 0.3), c(0.5, 0.5), c(0.1, 0.2, 0.3, 0.4))) for (n in 1:3) {
    null <- stepfun(seq_along(prob), c(0, cumsum(prob)))
    for (alt in c("two.sided", "greater")) {
      law <- enumerate_discrete(prob, n, alt)
      cum <- cumsum(law$p)
      p <- pkolmogorov_discrete(law$d, n, null, alternative = alt)
      expect_equal(p, pmin(cum, 1), tolerance = 1e-14)
      # At its own cumulative probabilities, each attained value is its quantile...
      expect_identical(qkolmogorov_discrete(p, n, null, alternative = alt), law$d,
                       label = sprintf("quantiles of (%s), n = %d, %s", toString(prob), n, alt))
      # ... and in the upper tail the previous one.
      up <- pkolmogorov_discrete(law$d, n, null, lower.tail = FALSE, alternative = alt)
      keep <- up > 0
      expect_identical(qkolmogorov_discrete(up[keep], n, null, lower.tail = FALSE, alternative = alt),
                       law$d[keep])
    }
  }
})
