# Exact two-sample tails by counting lattice paths in big integers (gmp),
# and the tail probabilities as 128-bit floating point numbers (Rmpfr).
# Sourced by tools/twosample-reference.R, which writes the test table.
#
# Paths from (0, 0) to (m, n); the statistic at (i, j) is i n - j m
# (alt 1, "greater"), j m - i n (alt 2, "less") or its absolute value
# (alt 0); with blocks, only the points with i + j at a cumulative block end
# are compared with K.  Counts go along anti-diagonals t = i + j: the paths
# to (i, t - i) that stayed inside are those to its two predecessors that
# stayed inside, and none when (i, t - i) is a checkpoint outside.
suppressMessages({
  library(gmp)
  library(Rmpfr)
})

exact_counts <- function(K, m, n, alt = 0, blocks = NULL) {
  N <- m + n
  checkpoint <- rep(is.null(blocks), N)
  if (!is.null(blocks)) checkpoint[cumsum(blocks)] <- TRUE
  stay <- as.bigz(1)          # the diagonal t, cells i = lo .. hi
  lo <- 0
  for (t in seq_len(N)) {
    nlo <- max(0, t - n)
    nhi <- min(t, m)
    i <- nlo:nhi
    # Predecessors (i - 1, t - i) and (i, t - 1 - i), when on diagonal t - 1.
    old_hi <- lo + length(stay) - 1
    take <- function(k) {
      ok <- k >= lo & k <= old_hi
      v <- as.bigz(rep(0, length(k)))
      if (any(ok)) v[ok] <- stay[k[ok] - lo + 1]
      v
    }
    new <- take(i - 1) + take(i)
    if (checkpoint[t]) {
      s <- i * n - (t - i) * m
      stat <- switch(alt + 1, abs(s), s, -s)
      new[stat > K] <- 0
    }
    stay <- new
    lo <- nlo
  }
  total <- chooseZ(N, m)
  list(stay = stay[1], total = total, left = total - stay[1])
}

# Both tails as mpfr numbers with 128 bits (lower = P(S <= K), upper =
# P(S > K)).
exact_tails <- function(K, m, n, alt = 0, blocks = NULL, bits = 128) {
  cnt <- exact_counts(K, m, n, alt, blocks)
  tot <- mpfr(cnt$total, bits)
  list(lower = mpfr(cnt$stay, bits) / tot, upper = mpfr(cnt$left, bits) / tot)
}
