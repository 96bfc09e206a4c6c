# Two-sample Smirnov distribution: exact distribution function and
# quantiles.

psmirnov <- function(q, m, n, lower.tail = TRUE, log.p = FALSE) {
  q <- check_numeric(q, "q")
  m <- check_size(m, "m")
  n <- check_size(n, "n")
  check_flag(lower.tail, "lower.tail")
  check_flag(log.p, "log.p")
  a <- recycle(q, m, n)
  q <- a[[1]]
  m <- a[[2]]
  n <- a[[3]]
  p <- rep(NA_real_, length(q))
  p[is.nan(q)] <- NaN
  for (i in which(!is.na(q) & !is.na(m) & !is.na(n)))
    p[i] <- psmirnov_one(q[i], m[i], n[i])
  finish_p(p, lower.tail, log.p)
}

# P(D_{m,n} < q) for one q and present sizes.
psmirnov_one <- function(q, m, n) {
  # D lies in (0, 1]: outside, the answer needs no computation.
  if (q <= 0) return(0)
  if (q > 1) return(1)
  # One vector over the larger sample, and for large tables a second one of
  # per-cell exponents.
  bytes <- 2 * (max(m, n) + 1) * 8
  if (m + n > .Machine$integer.max || bytes > max_bytes()) {
    stop(sprintf(paste0(
      "the exact two-sample distribution for m = %s, n = %s cannot be computed ",
      "within the memory limit (option 'ksdist.max_bytes'); use the limiting ",
      "distribution pkolmogorov_limit(sqrt(m * n / (m + n)) * q) instead"),
      format(m), format(n)), call. = FALSE)
  }
  .Call("pSmirnov2x", q, as.integer(m), as.integer(n), PACKAGE = "ksdist")
}

# The statistic takes only the values k/(m n).  qsmirnov returns the
# smallest such value x with P(D_{m,n} <= x) >= p, found by bisection on k.
qsmirnov <- function(p, m, n) {
  p <- check_numeric(p, "p")
  m <- check_size(m, "m")
  n <- check_size(n, "n")
  a <- recycle(p, m, n)
  p <- a[[1]]
  m <- a[[2]]
  n <- a[[3]]
  out <- quantile_start(p)
  for (i in which(is.na(out) & !is.nan(out) & !is.na(p) & !is.na(m) & !is.na(n))) {
    mn <- m[i] * n[i]
    # P(D <= k/(m n)), read half a step above the attained value.
    below <- function(k) if (k >= mn) 1 else psmirnov_one((k + 0.5) / mn, m[i], n[i])
    lo <- -1   # P(D <= -1/(m n)) = 0 < p for p > 0
    hi <- mn   # P(D <= 1) = 1 >= p
    if (p[i] <= 0) hi <- 0
    while (hi - lo > 1) {
      mid <- floor((lo + hi) / 2)
      if (below(mid) >= p[i]) hi <- mid else lo <- mid
    }
    out[i] <- hi / mn
  }
  out
}
