# discrete: the one-sample statistics under a null with jumps (counts,
# ratings, rounded values, atoms beside continuous stretches, step
# functions), computed in src/ext/discrete.cpp.
#
# Under the null, X = F^-1(U) with U uniform, so F_n(t) = U_n(F(t)) and the
# statistic sup_t |F_n(t) - F(t)|, compared on both sides of every jump, is
# sup |U_n(u) - u| over the closure of the range of F.  Its law depends on F
# only through that set: a union of closed intervals of [0, 1], a single
# point for each stretch between two jumps where F is flat.

pkolmogorov_discrete <- function(q, n, null, ..., support = NULL, lower.tail = TRUE,
                                 log.p = FALSE, alternative = c("two.sided", "less", "greater")) {
  r <- range_of(null, list(...), support, parent.frame())
  .Call(.ext$ksx_p_discrete, q, n, r$lo, r$hi, lower.tail, log.p, alternative)
}

qkolmogorov_discrete <- function(p, n, null, ..., support = NULL, lower.tail = TRUE,
                                 log.p = FALSE, alternative = c("two.sided", "less", "greater")) {
  r <- range_of(null, list(...), support, parent.frame())
  .Call(.ext$ksx_q_discrete, p, n, r$lo, r$hi, lower.tail, log.p, alternative)
}

# The range of the null given to the p- and q-functions: from a step
# function, from the support given, or from the support found among the
# whole numbers as ks_test finds it.
range_of <- function(null, args, support, env) {
  if (missing(null) || is.null(null))
    stop_call("'null' must be a step function, or a distribution function (or its name) with its parameters",
              "ksdist_error_null")
  nd <- null_dist(null, args, env, arg = "null")
  r <- null_range(nd, support)
  if (is.null(r))
    stop_call(sprintf("the points where %s jumps could not be found among the whole numbers: give them as 'support'",
                      nd$label), "ksdist_error_support")
  r
}

# The range of the null as list(lo, hi) of sorted disjoint closed intervals,
# from a step function, from given support points (the points where F
# jumps; F continuous elsewhere), or, failing both, from the whole numbers
# around the data (or around 0 with no data) when F jumps only there.  NULL
# when it cannot be found.  xs, Fx, Fl: the sorted data and F and F(x-)
# there, whose jumps must all be support points.
null_range <- function(nd, support, xs = NULL, Fx = NULL, Fl = NULL) {
  F <- nd$F
  if (nd$stepfun && is.null(support)) {
    v <- check_stepfun(nd)
    u <- unique(c(0, v[v > 0 & v < 1], 1))
    return(list(lo = u, hi = u))
  }
  given <- !is.null(support)
  if (!given) {
    support <- lattice_support(F, xs, Fx, Fl)
    if (is.null(support)) return(NULL)
  }
  if (!is.numeric(support) || anyNA(support))
    stop_call("'support' must be a numeric vector of the points where the null distribution jumps",
              "ksdist_error_support")
  s <- support
  if (is.unsorted(s, strictly = TRUE)) s <- sort(unique(as.double(s)))
  # Sorted: only the ends can be infinite.
  K <- length(s)
  a <- 1L
  while (a <= K && s[a] == -Inf) a <- a + 1L
  while (K >= a && s[K] == Inf) K <- K - 1L
  if (K < a) return(list(lo = 0, hi = 1, s = numeric()))
  # The active stretch: below it F is 0 at the support points, above it 1,
  # and those points add only the atoms 0 and 1, which the range has
  # anyway.  F is non-decreasing (checked where it is evaluated), so both
  # ends are found by bisection, and a support of 10^7 points whose mass
  # lies on its first few costs a few dozen evaluations of F.
  first_at <- function(ok, lo, hi) { # the first k in lo..hi with ok(k), else hi + 1
    if (!ok(hi)) return(hi + 1L)
    while (lo < hi) {
      mid <- lo + (hi - lo) %/% 2L
      if (ok(mid)) hi <- mid else lo <- mid + 1L
    }
    lo
  }
  k1 <- min(K, first_at(function(k) F(s[k]) >= 1, a, K))
  k0 <- max(a, first_at(function(k) F(s[k]) > 0, a, k1) - 1L)
  # F at the support points and just before them, 2^18 points at a
  # time (R acts on an interrupt or time limit in between), checked as they
  # come: the pieces [0, F(s1-)], [F(s1), F(s2-)], ..., [F(sK), 1].  The
  # engine levels them (R's own functions dip by an ulp or two), makes atoms
  # of pieces narrower than rounding and merges touching ones.
  len <- k1 - k0 + 1L
  lo <- numeric(len + 1L)
  hi <- numeric(len + 1L)
  hi[len + 1L] <- 1
  last_t <- last_F <- NULL
  for (c0 in seq(k0, k1, by = 2^18)) {
    c1 <- min(k1, c0 + 2^18 - 1)
    sa <- as.double(s[c0:c1])
    Fs <- F(sa)
    check_null_monotone(nd, c(last_t, sa), c(last_F, Fs), ends = c0 == k0)
    Fsl <- support_left_limit(F, sa, Fs, if (c0 > k0) last_t, if (c0 > k0) last_F)
    if (any(Fsl - Fs > value_slack(Fs)))
      stop_call(sprintf("'%s' must be non-decreasing on 'support'", nd$arg), "ksdist_error_null")
    if (given) check_support(nd, sa, Fs, Fsl)
    at <- (c0 - k0) + seq_along(sa)
    lo[at + 1L] <- Fs
    hi[at] <- Fsl
    last_t <- sa[length(sa)]
    last_F <- Fs[length(Fs)]
    .Call(.ext$ksx_poll)
  }
  if (given && !is.null(xs)) check_data_jumps(nd, s, xs, Fx, Fl)
  list(lo = lo, hi = hi, s = as.double(s[k0:k1]))
}

# The values of a step function (nd$cdf) left of its first step, at its
# steps and right of its last, after checking that it is a distribution
# function.
check_stepfun <- function(nd) {
  v <- c(nd$cdf(-Inf), nd$cdf(stats::knots(nd$cdf)), nd$cdf(Inf))
  if (any(v < 0 | v > 1) || any(diff(v) < -value_slack(v[-1L])) || v[1L] > value_slack(0) ||
      v[length(v)] < 1 - value_slack(1))
    stop_call(sprintf("the step function given as '%s' must be a distribution function: non-decreasing from 0 (left of its first step) to 1 (right of its last)",
                      nd$arg), "ksdist_error_null")
  v
}

# F(s-) at support points sa (sorted, F there Fs; the point before them at
# t0 with F(t0) = F0, or none).  At most support points F is flat since the
# previous one: then F(s - h), h one unit in the last place of s (beyond
# R's rounding of whole numbers: 2^-21 for |s| < 2^31), equals F there and
# is F(s-), one evaluation.  Where it does not, the general probe of
# left_limit() decides.
support_left_limit <- function(F, sa, Fs, t0, F0) {
  h <- ifelse(sa == round(sa) & abs(sa) < 2^31, 2^-21, 0)
  below <- ifelse(h > 0, sa - h, .Call(.ext$ksx_prev_double, sa))
  Fb <- F(below)
  Fprev <- c(if (is.null(F0)) NA else F0, Fs[-length(Fs)])
  tprev <- c(if (is.null(t0)) -Inf else t0, sa[-length(sa)])
  flat <- !is.na(Fprev) & tprev < below & abs(Fb - Fprev) <= value_slack(Fb)
  Fl <- Fb
  if (!all(flat)) Fl[!flat] <- left_limit(F, sa[!flat], Fs[!flat])
  pmin(Fl, Fs)
}

# A given support must be where F jumps: every point of it a jump (checked
# on sa, with F and F(x-) there), and every jump of F at the data a point of
# it (s, the whole support, sorted).  In the far tails (F within 1e-9 of 0
# or of 1) a jump may be too small to show in F's doubles, and an extra
# point there changes nothing: such points are let through.
check_support <- function(nd, sa, Fs, Fsl) {
  flat <- sa[Fs - Fsl <= value_slack(Fs) & Fsl > 1e-9 & Fs < 1 - 1e-9]
  if (length(flat))
    stop_call(sprintf("'support' must hold the points where %s jumps, but it does not jump at %s",
                      nd$label, paste(format(utils::head(flat, 3L), digits = 6), collapse = ", ")),
              "ksdist_error_support")
  invisible()
}

check_data_jumps <- function(nd, s, xs, Fx, Fl) {
  jumps <- unique(xs[Fx - Fl > value_slack(Fx)])
  at <- findInterval(jumps, s)
  missed <- jumps[!(at > 0L & s[pmax(at, 1L)] == jumps)]
  if (length(missed))
    stop_call(sprintf("%s jumps at %s, which 'support' does not hold: give every point where it jumps",
                      nd$label, paste(format(utils::head(missed, 3L), digits = 6), collapse = ", ")),
              "ksdist_error_support")
  invisible()
}

# F at many points, 2^18 at a time, so that R can act on an interrupt
# or time limit in between.
values_in_chunks <- function(F, t) {
  n <- length(t)
  if (n <= 2^18) return(F(t))
  out <- numeric(n)
  for (a in seq(1, n, by = 2^18)) {
    b <- min(n, a + 2^18 - 1)
    out[a:b] <- F(t[a:b])
    .Call(.ext$ksx_poll)
  }
  out
}

# When F jumps at whole-number data only (or there are no data), its
# support is looked for among the whole numbers: from the smallest whole k
# with F(k) > 0 to the smallest with F(k) = 1, each found by a doubling
# search and bisection (F is non-decreasing) from the smallest observation
# (or 0), so that data far in a tail cost nothing.  F must be flat between
# neighbours: F(k + 1 - h) = F(k), with h beyond the 1e-7 by which R's
# discrete distribution functions round their argument.  Beyond 2^24
# points the search gives up (NULL).
lattice_support <- function(F, xs, Fx, Fl) {
  cap <- 2^24
  start <- 0
  if (!is.null(xs)) {
    at <- Fx - Fl > value_slack(Fx)
    fin <- xs[is.finite(xs)]
    if (!any(at) || !length(fin) || any(xs[at] != round(xs[at]))) return(NULL)
    start <- min(fin)
    if (start != round(start)) return(NULL)
  }
  # The first whole number, searching from `from` in direction dir, at
  # which ok(k) holds; NULL beyond the cap.
  first <- function(from, dir, ok) {
    if (ok(from)) return(from)
    step <- 1
    last <- from
    repeat {
      if (step > cap) return(NULL)
      nxt <- from + dir * step
      if (ok(nxt)) break
      last <- nxt
      step <- step * 2
    }
    a <- last
    b <- nxt # not ok(a), ok(b)
    while (abs(b - a) > 1) {
      mid <- a + dir * floor(abs(b - a) / 2)
      if (ok(mid)) b <- mid else a <- mid
    }
    b
  }
  lo <- first(start, -1, function(k) F(k - 0.5) == 0)
  hi <- if (is.null(lo)) NULL else first(max(start, lo), 1, function(k) F(k) >= 1)
  if (is.null(lo) || is.null(hi) || hi - lo > cap) return(NULL)
  k <- seq(lo, hi)
  Fk <- values_in_chunks(F, k)
  if (any(values_in_chunks(F, k + 1 - 2^-20)[-length(k)] != Fk[-length(k)])) return(NULL)
  k[c(TRUE, Fk[-1L] > Fk[-length(k)])]
}
