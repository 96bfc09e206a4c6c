pkolmogorov <- function(q, n, lower.tail = TRUE, log.p = FALSE) {
  q <- check_numeric(q, "q")
  n <- check_size(n, "n")
  check_flag(lower.tail, "lower.tail")
  check_flag(log.p, "log.p")
  a <- recycle(q, n)
  q <- a[[1]]
  n <- a[[2]]
  p <- rep(NA_real_, length(q))
  nan_q <- is.nan(q)
  p[nan_q] <- NaN
  todo <- which(!is.na(q) & !is.na(n))
  for (i in todo) p[i] <- pkolmogorov_one(q[i], n[i])
  finish_p(p, lower.tail, log.p)
}

# P(D_n < q) for one q and one n, both present.
pkolmogorov_one <- function(q, n) {
  # D_n lies in [1/(2n), 1]: both ends are answered without computing.
  if (q * n <= 0.5) return(0)
  if (q >= 1) return(1)
  m <- 2 * floor(n * q) + 1
  bytes <- 3 * m^2 * 8
  if (m > 46339 || bytes > max_bytes()) {
    stop(sprintf(paste0(
      "the exact distribution of D_n for n = %s at q = %s needs three %s x %s ",
      "matrices (%s), more than the limit of %s (option 'ksdist.max_bytes'); ",
      "use the limiting distribution pkolmogorov_limit(sqrt(n) * q) instead"),
      format(n), format(q), format(m), format(m), format_bytes(bytes),
      format_bytes(max_bytes())), call. = FALSE)
  }
  p <- .Call("pKolmogorov2x", q, as.integer(n), PACKAGE = "ksdist")
  if (is.nan(p))
    stop(sprintf("the exact distribution of D_n cannot be computed for n = %s at q = %s; use pkolmogorov_limit(sqrt(n) * q)",
                 format(n), format(q)), call. = FALSE)
  p
}

# The small-x series of the limiting distribution sums a number of terms
# fixed by the tolerance alone, and with a single term it may be off by up to
# 3.8e-5 just below x = 1.  These are the largest tolerances that make the
# compiled code sum 1, 2 and 3 terms; the omitted terms are then below
# 3.8e-5, 1.1e-13 and 1e-26 for every x < 1.
limit_tol <- function(tol) {
  if (tol >= 3.8e-5) min(tol, 0.1)
  else if (tol >= 1.1e-13) min(tol, 8e-7)
  else min(tol, 1e-15)
}

pkolmogorov_limit <- function(q, tol = 1e-6, lower.tail = TRUE, log.p = FALSE) {
  q <- check_numeric(q, "q")
  tol <- check_tol(tol)
  check_flag(lower.tail, "lower.tail")
  check_flag(log.p, "log.p")
  p <- .Call("pKS2", q, limit_tol(tol), PACKAGE = "ksdist")
  # K is a distribution function on [0, Inf): no mass at or below 0.
  p[!is.na(q) & q <= 0] <- 0
  miss <- is.na(q)
  p[miss] <- q[miss]
  finish_p(p, lower.tail, log.p)
}

# Smallest double d with P(D_n < d) >= p (the distribution is continuous,
# so this is also P(D_n <= d) >= p), found by bisection down to adjacent
# doubles.  p = 0 gives the lower end of the support, 1/(2n); p = 1 gives 1.
qkolmogorov <- function(p, n) {
  p <- check_numeric(p, "p")
  n <- check_size(n, "n")
  a <- recycle(p, n)
  p <- a[[1]]
  n <- a[[2]]
  out <- quantile_start(p)
  for (i in which(is.na(out) & !is.nan(out) & !is.na(p) & !is.na(n)))
    out[i] <- bisect_double(function(d) pkolmogorov_one(d, n[i]), p[i],
                            0.5 / n[i], 1)
  out
}

# Smallest double x in (lo, hi] with f(x) >= p, given f(lo) < p <= f(hi);
# lo itself when p <= 0.
bisect_double <- function(f, p, lo, hi) {
  if (p <= 0) return(lo)
  if (p >= 1) return(hi)
  repeat {
    mid <- lo + (hi - lo) / 2
    if (mid <= lo || mid >= hi) return(hi)
    if (f(mid) >= p) hi <- mid else lo <- mid
  }
}
