# Steck's determinant, exact in rational arithmetic (gmp): for nondecreasing
# bounds l and r (bigq vectors of length n),
#   P(l_i < U_(i) < r_i, i = 1..n) = n! det M,  M_ij = (r_i - l_j)_+^(j-i+1) / (j-i+1)!,
# where U_(i) are the order statistics of n uniforms.  M is upper Hessenberg
# with ones below the diagonal, so det M follows from the recursion
#   D_k = sum_{i <= k} (-1)^(k-i) M_ik D_(i-1).
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

# P(D_n < d) for a rational d (bigq): Steck with u_i = (i/n - d)_+ and v_i =
# ((i-1)/n + d) ^ 1 (two-sided) or 1 (one-sided).
steck_cdf <- function(dq, n, one_sided) {
  i <- seq_len(n)
  u <- gmp::as.bigq(i, n) - dq
  u[u < 0] <- gmp::as.bigq(0)
  v <- if (one_sided) gmp::as.bigq(rep(1, n)) else gmp::as.bigq(i - 1L, n) + dq
  v[v > 1] <- gmp::as.bigq(1)
  steck_det(u, v)
}
