# Independent exact oracles, written from the mathematics alone: Steck's
# determinant in rational arithmetic, lattice path counts in doubles or big
# integers, and the reflection principle for equal sample sizes.  The tests
# use them live on small cases; the generators in tools/ source this file
# and store what they give on large ones in the reference tables.  They need
# gmp (big integers and rationals) only when called with big numbers.

# ---- Steck's determinant -------------------------------------------------
# For nondecreasing bounds l and r (bigq vectors of length n),
#   P(l_i < U_(i) < r_i, i = 1..n) = n! det M,  M_ij = (r_i - l_j)_+^(j-i+1) / (j-i+1)!,
# where U_(i) are the order statistics of n uniforms.  M is upper Hessenberg
# with ones below the diagonal, so det M follows from the recursion
#   D_k = sum_{i <= k} (-1)^(k-i) M_ik D_(i-1).
# Returns the exact probability (bigq).
steck_det <- function(l, r) {
  n <- length(l)
  D <- gmp::as.bigq(rep(1, n + 1))
  for (k in seq_len(n)) {
    ii <- seq_len(k)
    x <- r[ii] - l[k]
    x[x < 0] <- gmp::as.bigq(0)
    p <- k - ii + 1L
    sgn <- ifelse((k - ii) %% 2 == 0, 1L, -1L)
    D[k + 1] <- sum(x^p / gmp::factorialZ(p) * D[ii] * sgn)
  }
  gmp::factorialZ(n) * D[n + 1]
}

# P(D_n < d) (one_sided = FALSE) or P(D_n^+ < d) (TRUE) for a rational d
# (bigq), exactly: Steck's determinant with l_i = (i/n - d)_+ and
# r_i = ((i-1)/n + d) ^ 1 (two-sided) or 1 (one-sided).  The two-sided law
# has no mass at or below 1/(2n).
steck_cdf <- function(dq, n, one_sided = FALSE) {
  if (!one_sided && dq * n <= gmp::as.bigq(1, 2)) return(gmp::as.bigq(0))
  i <- seq_len(n)
  u <- gmp::as.bigq(i, n) - dq
  u[u < 0] <- gmp::as.bigq(0)
  v <- if (one_sided) gmp::as.bigq(rep(1, n)) else gmp::as.bigq(i - 1L, n) + dq
  v[v > 1] <- gmp::as.bigq(1)
  steck_det(u, v)
}

# The exact module (pKolmogorov2x) sees d only through k - h with
# h = k - fl(n d), k = trunc(fl(n d)) + 1: the exact two-sided P(D_n < d) at
# that point, which is within an ulp of d.
steck_at <- function(d, n) {
  t <- d * n
  k <- trunc(t) + 1
  h <- k - t
  steck_cdf((gmp::as.bigq(k) - gmp::as.bigq(h)) / n, n)
}

# ---- Lattice paths of the two-sample statistic ---------------------------
# Number of paths from (0, 0) to (m, n), by unit steps in i or in j, whose
# statistic is at most K at every checkpoint.  The statistic at (i, j) is
# |i n - j m| (alt 0), i n - j m (alt 1, "greater") or j m - i n (alt 2,
# "less"); the checkpoints are all points but (0, 0) or, with tie blocks
# (sizes of the runs of equal pooled values, adding up to m + n), the
# points with i + j at the end of a block.  P(S <= K) is the count over
# choose(m + n, m).  big = FALSE counts in doubles, exact while every count
# stays below 2^53 (m + n <= 50 always does); big = TRUE in big integers.
#
# Row by row: the cells of a row between two cells outside form a run, and
# each cell of a run holds the sum of the cells below it from the start of
# its run.  Only the columns that can hold paths are kept.
path_count <- function(K, m, n, alt = 0L, blocks = NULL, big = FALSE) {
  N <- m + n
  # checked[t + 1]: whether the points with i + j = t are checkpoints.
  checked <- c(FALSE, if (is.null(blocks)) rep(TRUE, N) else seq_len(N) %in% cumsum(blocks))
  sg <- if (alt == 2) -1 else 1
  zero <- if (big) gmp::as.bigz(0) else 0
  # The row below row 0 holds the single path at (0, 0): columns lo..hi.
  row <- if (big) gmp::as.bigz(1) else 1
  lo <- hi <- 0
  for (i in 0:m) {
    j <- lo:n
    s <- sg * (i * n - j * m)
    out <- checked[i + j + 1] & (if (alt == 0) abs(s) else s) > K
    # Columns beyond hi are reached only along a run from hi or before.
    beyond <- which(out & j > hi)
    if (length(beyond)) {
      keep <- seq_len(beyond[1] - 1)
      j <- j[keep]
      out <- out[keep]
    }
    up <- c(row, rep(zero, length(j) - length(row)))
    up[out] <- zero
    # Running sums restarted after each cell outside (which get 0).
    cs <- cumsum(up)
    new <- cs - c(zero, cs)[cummax(seq_along(j) * out) + 1]
    nz <- which(new != 0)
    if (!length(nz)) return(zero)
    row <- new[nz[1]:nz[length(nz)]]
    lo <- j[nz[1]]
    hi <- j[nz[length(nz)]]
  }
  if (hi == n) row[length(row)] else zero
}

# ---- Reflection for equal sizes ------------------------------------------
# Paths from (0, 0) to (n, n) whose i - j reaches c >= 1 (two_sided =
# FALSE), or whose |i - j| does (TRUE), by the reflection principle:
#   C(2n, n - c)   and   2 sum_{k >= 1} (-1)^(k-1) C(2n, n - k c).
reflect_count <- function(n, c, two_sided = TRUE) {
  if (c > n) return(gmp::as.bigz(0))
  if (!two_sided) return(gmp::chooseZ(2 * n, n - c))
  k <- seq_len(n %/% c)
  2 * sum(gmp::chooseZ(2 * n, n - k * c) * gmp::as.bigz((-1)^(k - 1)))
}

# P(S > K) for m = n (S = m n D on the integer scale of path_count, K >= 0),
# exactly (bigq): S > K when the path's i - j (alt 1), j - i (alt 2) or
# |i - j| (alt 0) reaches K %/% n + 1.
reflect_upper <- function(K, n, alt = 0L) {
  gmp::as.bigq(reflect_count(n, K %/% n + 1, alt == 0), gmp::chooseZ(2 * n, n))
}
