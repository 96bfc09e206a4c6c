# The power engine reached directly, and an independent oracle for the
# power of the one-sample test: complete enumeration of the multinomial
# outcomes over the cells of the sample space on which F(x) and F(x-) are
# constant (the atoms of a discrete truth, or the stretches between the
# jumps of a null with jumps for a continuous truth), from the mathematics
# alone.

# c(P(stay), P(leave), log P(stay), log P(leave), lost) for the order
# statistics of n uniforms within the bounds l (lower) and r (upper), NULL
# for none.
hook_order_bounds <- function(n, l, r) .Call(ext_routine("ksx_order_bounds"), n, l, r)

# All ways of putting n points into K cells (rows of counts).
compositions <- function(n, K) {
  if (K == 1) return(matrix(n, 1, 1))
  do.call(rbind, lapply(0:n, function(k) cbind(k, compositions(n - k, K - 1))))
}

# The law of (D+, D-) for samples of size n whose observations fall into
# cells (in increasing x) with probabilities p, F(x) = w and F(x-) = wl on
# each: list(pr, Dp, Dm) over every outcome.
enumerate_D <- function(n, w, wl, p) {
  C <- compositions(n, length(w))
  lp <- lfactorial(n) + C %*% log(pmax(p, 1e-300)) - rowSums(lfactorial(C))
  pr <- as.vector(exp(lp))
  pr[as.vector(C %*% (p == 0)) > 0] <- 0
  i <- seq_len(n)
  D <- t(apply(C, 1, function(cnt) {
    idx <- rep(seq_along(w), cnt)
    c(max(0, i / n - w[idx]), max(0, wl[idx] - (i - 1) / n))
  }))
  list(pr = pr, Dp = D[, 1], Dm = D[, 2])
}

stat_of <- function(e, alternative)
  switch(alternative, two.sided = pmax(e$Dp, e$Dm), greater = e$Dp, less = e$Dm)

# The power of the exact test (it rejects when the p-value P(D >= d) under
# the null is at most level) by enumeration: the null's cells (w0, wl0, p0)
# give the p-value of every outcome of the truth's cells (w, wl, p).  D
# values within 1e-9 are one value.  Also the critical value: the smallest
# attained value of D under the null whose tail is at most level.
enumerate_power <- function(n, null_cells, true_cells, alternative, level = 0.05) {
  e0 <- do.call(enumerate_D, c(list(n), null_cells))
  d0 <- stat_of(e0, alternative)
  tail0 <- function(d) sum(e0$pr[d0 >= d - 1e-9])
  e1 <- do.call(enumerate_D, c(list(n), true_cells))
  d1 <- stat_of(e1, alternative)
  pv <- vapply(d1, tail0, 0)
  vals <- sort(unique(round(d0[e0$pr > 0], 12)))
  tails <- vapply(vals, tail0, 0)
  list(power = sum(e1$pr[pv <= level]), critical = vals[which(tails <= level)[1L]])
}

# The band's edge at points t (an observation or just left of one): the
# value at the last observation at or below t, the value left of the data
# below the first.
approx_step <- function(b, t, side) {
  k <- findInterval(t, b$x)
  v <- if (side == "lower") b$lower else b$upper
  left <- if (side == "lower") 0 else if (b$alternative == "lower") 1 else min(1, b$d)
  ifelse(k == 0, left, v[pmax(k, 1)])
}
