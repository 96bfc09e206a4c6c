# Straightforward R versions of the two exact computations: the same
# operations in the same order as the compiled code, done by R's vector
# arithmetic, where every element operation is rounded on its own and
# nothing can be fused.  They pin the bits (tools/make-module-bits.R stores
# their results on many cases); the independent oracles are in
# helper-oracles.R.

# One-sample.
mat_mult_ref <- function(A, B) {
  P <- matrix(0, nrow(A), ncol(B))
  for (r in seq_len(ncol(A))) P <- P + outer(A[, r], B[r, ])
  P
}
mat_pow_ref <- function(A, n) {
  if (n == 1) return(list(V = A, e = 0))
  half <- mat_pow_ref(A, n %/% 2)
  B <- mat_mult_ref(half$V, half$V)
  V <- if (n %% 2 == 1) mat_mult_ref(A, B) else B
  e <- 2 * half$e
  c0 <- (nrow(A) - 1) %/% 2 + 1
  if (V[c0, c0] > 1e140) { V <- V * 1e-140; e <- e + 140 }
  list(V = V, e = e)
}
# The C library's pow(), as the compiled code calls it (helper-hooks.R):
# R's own x^y goes through long double on x86-64 and, rarely, rounds
# differently.
cpow <- function(x, y) hook_pow(x, y)

pk2x_ref <- function(d, n) {
  t <- d * n
  k <- trunc(t) + 1
  m <- 2 * k - 1
  h <- k - t
  H <- outer(seq_len(m), seq_len(m), function(i, j) ifelse(j <= i + 1, 1, 0))
  for (i in seq_len(m)) {
    H[i, 1] <- H[i, 1] - cpow(h, i)
    H[m, i] <- H[m, i] - cpow(h, m - i + 1)
  }
  if ((h + h) - 1 > 0) H[m, 1] <- cpow(2 * h - 1, m) + H[m, 1]
  for (i in seq_len(m)) for (j in seq_len(i)) for (g in seq_len(i - j + 1)) H[i, j] <- H[i, j] / g
  pw <- mat_pow_ref(H, n)
  s <- pw$V[k, k]
  e <- pw$e
  for (i in seq_len(n)) {
    s <- (s * i) / n
    if (s < 1e-140) { s <- s * 1e140; e <- e - 140 }
  }
  cpow(10, e) * s
}

# Two-sample.
ps2x_ref <- function(d, m, n) {
  if (is.na(d)) return(d)
  if (m > n) { t <- m; m <- n; n <- t }
  q <- (floor((d * m) * n - 1e-7) + 0.5) / (m * n)
  u <- ifelse((0:n) / n > q, 0, 1)
  u[is.na(u)] <- 1
  for (i in seq_len(m)) {
    w <- i / (i + n)
    u[1] <- if (isTRUE(i / m > q)) 0 else u[1] * w
    for (j in seq_len(n)) {
      u[j + 1] <- if (isTRUE(abs(i / m - j / n) > q)) 0 else u[j + 1] * w + u[j]
    }
  }
  u[n + 1]
}

# Limiting distribution.
# K(x) with the compiled code's operations in its order; exp() and log()
# are the same libm.
ks2_ref <- function(x, tol) {
  if (is.na(tol)) return(rep(as.double(tol), length(x)))
  kmax <- suppressWarnings(sqrt(2 - log(tol)))
  kmax <- if (is.finite(kmax)) trunc(kmax) else -2^31
  vapply(x, function(xx) {
    if (!is.na(xx) && xx < 1) {
      z <- -1.2337005501361697 / (xx * xx)
      w <- log(xx)
      s <- 0
      k <- 1
      while (k < kmax) { s <- s + exp((k * k) * z - w); k <- k + 2 }
      s / 0.3989422804014327
    } else if (!isTRUE(tol < 1)) {
      1
    } else {
      z <- (-2 * xx) * xx; s <- 1; sg <- -1; k <- 1
      repeat {
        prev <- s
        s <- prev + (2 * sg) * exp((z * k) * k)
        sg <- -sg; k <- k + 1
        # Also ends once a term no longer moves the sum (for tol < 0).
        if (!(isTRUE(abs(prev - s) > tol) && !isTRUE(prev == s))) break
      }
      s
    }
  }, 0)
}
