# power_ks_test: the power of the Kolmogorov-Smirnov test, or the sample
# size that reaches a given power.  One sample: exact (the probability that
# the exact test rejects, under a true distribution G, computed by the
# engine of src/ext/power.cpp).  Two samples: by simulation of the exact
# test, with its Monte Carlo standard error.
#
# One sample.  Let F be the null, q the exact quantile of its law at
# sig.level and X_(1) <= ... <= X_(n) a sample from G.  The test rejects
# when its p-value P(D >= d) is at most sig.level, as ks_test does: for a
# continuous null when D >= q, for a null with jumps when D > q (its law
# has atoms, and a value within 1e-11 of q counts as q).  For a null with
# jumps the test keeps the null exactly when, for every i,
#   i/n - F(X_(i)) <= q       and       F(X_(i)-) - (i-1)/n <= q
# (strict inequalities for a continuous null), conditions on X_(i) alone.
# With X = G^-1(V), V uniform, they read V_(i) > l_i and V_(i) < r_i (up to
# events of probability 0), where
#   l_i = P_G(F(X) < i/n - q),     r_i = P_G(F(X-) <= (i-1)/n + q)
# (P_G(F(X) <= .) and P_G(F(X-) < .) for a continuous null): the band of
# the test mapped through G o F^-1.  Computing them is a matter of where F
# crosses a level, and what G puts below that point, at it, or on a flat
# stretch of F:
#  * F continuous: l_i = G(x) with x the largest double where F <= i/n - q,
#    r_i = G(x) with x the largest where F < (i-1)/n + q (found by
#    bisection on the doubles themselves, so at any scale); an atom of G
#    at x is counted with the side of x it belongs to, and a flat stretch
#    of F is where the bisection does not stop, so whatever G puts on it
#    goes with the level of the stretch.
#  * F with jumps (its support known, as for ks_test): its range is a set
#    of pieces [lo_k, hi_k], the k-th stretch [s_k, s_k+1) of x mapping onto
#    the k-th piece (an atom when F is flat there).  X at a jump s_k has
#    F(X) = lo_k but F(X-) = hi_k-1, so G's atom at s_k counts for r (the
#    lower deviation is measured from F(s_k-)) where it counts against l;
#    inside a stretch F is continuous and the bisection applies within it.
#    The statistic of a null with jumps has atoms, and a level within 1e-11
#    of an end of a piece is taken as that end, as the exact law of
#    pkolmogorov_discrete takes it: D equal to q up to rounding keeps the
#    null.
# The two sides are the two families of checks of the boundary-crossing
# recursion: the order statistics of n uniforms within bounds.

power_ks_test <- function(n = NULL, null, true, sig.level = 0.05, power = NULL,
                          alternative = c("two.sided", "less", "greater"), ...,
                          m = NULL, support = NULL, nsim = 10000, seed = NULL) {
  check_no_dots(list(...), c("m", "support", "nsim", "seed", "sig.level", "power", "alternative"))
  alternative <- check_alternative(alternative)
  sig.level <- check_prob_arg(sig.level, "sig.level")
  if (is.null(n) == is.null(power))
    stop_call("exactly one of 'n' and 'power' must be NULL: it is the one computed",
              "ksdist_error_argument")
  if (!is.null(power)) power <- check_prob_arg(power, "power")
  if (!is.null(n)) n <- check_sizes(n, "n")
  if (missing(true))
    stop_call("'true' must be the true distribution: a distribution function, its name, or a step function (for two samples, list(x = , y = ))",
              "ksdist_error_argument")
  env <- parent.frame()
  true_expr <- substitute(true)
  null_expr <- if (!missing(null)) substitute(null)
  two <- is.list(true) && !is.function(true) && !inherits(true, "stepfun")
  if (two) {
    if (!missing(null) && !is.null(null))
      stop_call("for two samples 'null' plays no part (the null is that both come from one distribution): leave it out",
                "ksdist_error_argument")
    if (!is.null(support))
      stop_call("'support' belongs to a one-sample test against a null with jumps", "ksdist_error_argument")
    labels <- if (is.call(true_expr) && identical(true_expr[[1L]], quote(list)) && length(true_expr) == 3L)
      c(arg_label(true_expr[[2L]], true[[1L]]), arg_label(true_expr[[3L]], true[[2L]]))
      else c("true$x", "true$y")
    return(power_two(n, m, true, sig.level, power, alternative, nsim, seed, env, labels))
  }
  if (!is.null(m))
    stop_call("'m', the size of a second sample, needs two distributions: true = list(x = , y = )",
              "ksdist_error_argument")
  if (missing(null) || is.null(null))
    stop_call("'null' must be the null distribution: a distribution function, its name, or a step function",
              "ksdist_error_null")
  nd <- null_dist(null, list(), env, arg = "null")
  gd <- true_dist(true, env)
  law <- law_with_truth(null_law(nd, support), gd)
  if (is.null(power)) {
    res <- lapply(n, function(k) power_one(k, law, gd, sig.level, alternative))
    pw <- vapply(res, `[[`, 0, "power")
    crit <- vapply(res, `[[`, 0, "critical")
  } else {
    s <- sample_size_one(power, law, gd, sig.level, alternative)
    n <- s$n
    pw <- s$power
    crit <- s$critical
  }
  note <- one_sample_note(law, alternative, if (!is.null(power)) s)
  structure(list(n = n, null = arg_label(null_expr, null), true = arg_label(true_expr, true), critical.value = crit,
                 sig.level = sig.level, power = pw, alternative = alternative_words(alternative),
                 note = note,
                 method = paste0("Exact power of the one-sample Kolmogorov-Smirnov test",
                                 if (!law$continuous) ", null distribution with jumps")),
            class = "power.htest")
}

# Arguments ------------------------------------------------------------------

check_no_dots <- function(extra, own) {
  if (!length(extra)) return(invisible())
  nm <- names(extra)
  if (is.null(nm)) nm <- rep("", length(extra))
  u <- nm[1L]
  if (!nzchar(u))
    stop_call("power_ks_test takes its options by name: an unnamed argument is left over (parameters of a distribution go inside a function, e.g. function(q) pnorm(q, 1))",
              "ksdist_error_argument")
  close <- own[agrepl(u, own, max.distance = 0.25) | startsWith(own, u)]
  stop_call(sprintf("unused argument '%s'%s", u,
                    if (length(close)) sprintf("; did you mean '%s'?", close[1L]) else ""),
            "ksdist_error_argument")
}

check_sizes <- function(n, name) {
  if (!is.numeric(n) || !length(n) || anyNA(n) || any(n < 1 | n > .Machine$integer.max | n != floor(n)))
    stop_call(sprintf("'%s' must be whole numbers of at least 1 (a sample size)", name),
              "ksdist_error_argument")
  as.double(n)
}

# How an argument is shown: a name as given, else the expression typed.
arg_label <- function(expr, value) {
  if (is.character(value)) return(value)
  s <- deparse1(expr)
  if (nchar(s) > 50) paste0(substr(s, 1, 47), "...") else s
}

alternative_words <- function(alternative)
  switch(alternative, two.sided = "two.sided",
         less = "less (the true CDF lies below the null)",
         greater = "greater (the true CDF lies above the null)")

# The true distribution function, checked as the null is, but named as
# what it is in messages.
true_dist <- function(y, env, arg = "true") {
  label <- if (is.character(y)) y else if (inherits(y, "stepfun")) "a step function" else "a function"
  cdf <- null_function(y, env, arg)
  if (inherits(cdf, "stepfun")) check_stepfun(list(cdf = cdf, arg = arg))
  F <- function(t) {
    v <- tryCatch(cdf(t),
                  error = function(e) stop_call(sprintf("the true distribution function given as '%s' failed: %s",
                                                        arg, conditionMessage(e))))
    if (!is.numeric(v) || length(v) != length(t) || anyNA(v) || any(v < 0 | v > 1))
      stop_call(sprintf("'%s' must be a distribution function returning one probability in [0, 1] for each value", arg),
                "ksdist_error_null")
    as.double(v)
  }
  list(F = F, cdf = cdf, args = list(), label = label, arg = arg, stepfun = inherits(cdf, "stepfun"))
}

# The null's law ---------------------------------------------------------------

# What the exact law of D and the bounds need of the null: continuous, or
# its jumps s (sorted, the active stretch only), with F(s) and F(s-), and
# the pieces of its range lo, hi (as null_range() makes them: piece k + 1
# is [F(s_k), F(s_k+1 -)], the first [0, F(s_1-)] and the last [F(s_K), 1]).
null_law <- function(nd, support) {
  F <- nd$F
  base <- list(F = F, nd = nd, label = nd$label)
  # A continuous null must reach 0 and 1 at its ends (checked as ks_test
  # checks it, where F accepts infinite arguments).
  check_null_monotone(nd, numeric(), numeric())
  if (nd$stepfun && is.null(support)) {
    check_stepfun(nd)
    s <- stats::knots(nd$cdf)
    Fs <- values_in_chunks(F, s)
    # The active stretch: F below 1 before, above 0 after.
    keep <- c(Fs[-1L] > 0, TRUE) & c(TRUE, Fs[-length(Fs)] < 1)
    s <- s[keep]
    Fs <- Fs[keep]
    Fl <- c(nd$cdf(-Inf), Fs[-length(Fs)])
  } else {
    if (!is.null(support) && !length(support))
      stop_call("'support' must be a numeric vector of the points where the null distribution jumps",
                "ksdist_error_support")
    r <- null_range(nd, support)
    if (is.null(r) || !length(r$s)) return(c(base, list(continuous = TRUE)))
    s <- r$s
    Fs <- r$lo[-1L]
    Fl <- r$hi[-length(r$hi)]
  }
  # Pieces as the engine of the discrete law levels them: running maxima.
  lo <- cummax(c(0, Fs))
  hi <- pmax(c(pmin(Fl, Fs), 1), lo)
  c(base, list(continuous = FALSE, s = s, lo = lo, hi = hi))
}

# The critical value: the exact test rejects when D > q.  For the reported
# critical value, the smallest value c of D with P(D >= c) <= sig.level:
# q itself for a continuous law, the next atom of D above q for a law with
# jumps (so the rejection region is D >= c).
critical_value <- function(n, law, sig.level, alternative) {
  if (law$continuous) {
    q <- qkolmogorov(sig.level, n, lower.tail = FALSE, alternative = alternative)
    return(list(q = q, c = q))
  }
  q <- .Call(.ext$ksx_q_discrete, sig.level, n, law$lo, law$hi, FALSE, FALSE, alternative)
  # The atoms of D: upper deviations k/n - F(s_j) (F(X) has an atom at
  # each F(s_j)) and lower ones F(s_j-) - k/n.  The candidates above q in
  # increasing order; the first with mass is the critical value.
  K <- length(law$lo)
  cand <- numeric()
  k0 <- -1:2
  if (alternative != "less") {
    u <- law$lo[-1L]
    k <- outer(ceiling(n * (q + u)), k0, `+`)
    cand <- c(cand, (k / n - u)[k >= 0 & k <= n])
  }
  if (alternative != "greater") {
    u <- law$hi[-K]
    k <- outer(floor(n * (u - q)), k0, `+`)
    cand <- c(cand, (u - k / n)[k >= 0 & k <= n])
  }
  cand <- sort(cand[cand > q + 2 * discrete_tol])
  tail_q <- .Call(.ext$ksx_discrete_pvalue, q, n, law$lo, law$hi, alternative)[1L]
  # No atom at q: P(D >= q) = P(D > q) <= sig.level, and q is the value.
  if (tail_q <= sig.level) return(list(q = q, c = q))
  above <- .Call(.ext$ksx_p_discrete, q, n, law$lo, law$hi, FALSE, FALSE, alternative) # P(D > q)
  for (v in utils::head(cand, 64L)) {
    if (v - cand[1L] > 2 / n) break
    if (.Call(.ext$ksx_p_discrete, v, n, law$lo, law$hi, FALSE, FALSE, alternative) < above * (1 - 1e-9))
      return(list(q = q, c = v))
  }
  # No value of D above q (the test cannot reject at this level), or D has
  # a continuous part just above q (a null with continuous stretches): the
  # test rejects when D > q.
  list(q = q, c = if (above > 0) q else Inf)
}

# Tolerance of the discrete law (src/ext/discrete.h): values of D this
# close are one value.
discrete_tol <- 1e-11

# Bounds ------------------------------------------------------------------------

# For levels t (any order), the largest double x in [lo, hi) with F(x) < t
# (strict) or F(x) <= t, where lo satisfies it (or is -Inf) and hi does not
# (or is Inf); F at lo and hi may be given (Flo, Fhi; NA where unknown).
# Returns x and the next double above it (where the condition fails), and
# F at both (NA at infinite ends).
#
# Every probe of F inside the bracket [lo, hi] moves one of its ends, so
# the bracket stays valid whatever the probes are: the guesses only decide
# how fast it closes.  Where F is known at two finite ends, two probes
# straddle the secant point at 2^-12 of the width on either side (for a
# smooth F the secant is that good once the bracket is small, and the
# width then falls by 2^-11 a round); elsewhere, and for a level whose
# bracket did not halve in the last round, the probe is the midpoint in the
# order of the doubles (so that 64 such rounds at most close any bracket,
# at any scale).  The levels are first solved on every 64th of them in
# increasing order, whose solutions then bracket the others.
last_below <- function(F, t, strict, lo, hi, Flo = rep(NA_real_, length(t)),
                       Fhi = rep(NA_real_, length(t)), coarse = TRUE) {
  nt <- length(t)
  if (coarse && nt > 256L) {
    o <- order(t)
    coarse <- o[unique(c(seq(1L, nt, by = 64L), nt))]
    b <- last_below(F, t[coarse], strict, lo[coarse], hi[coarse], Flo[coarse], Fhi[coarse])
    # The solution for a level lies between those of the coarse levels
    # around it (F is non-decreasing).
    rank <- integer(nt)
    rank[o] <- seq_len(nt)
    crank <- rank[coarse]
    left <- findInterval(rank, crank)
    right <- pmin(left + 1L, length(coarse))
    left <- pmax(left, 1L)
    newlo <- b$x[left]
    newhi <- b$next_x[right]
    up <- newlo > lo
    lo[up] <- newlo[up]
    Flo[up] <- b$F[left][up]
    down <- newhi < hi
    hi[down] <- newhi[down]
    Fhi[down] <- b$Fnext[right][down]
    lo[coarse] <- b$x
    hi[coarse] <- b$next_x
    Flo[coarse] <- b$F
    Fhi[coarse] <- b$Fnext
  }
  bisect <- rep(FALSE, nt)
  pass <- function(v, tt) if (strict) v < tt else v <= tt
  act <- seq_len(nt)
  repeat {
    mid <- .Call(.ext$ksx_between_double, lo[act], hi[act])
    keep <- mid != lo[act]
    act <- act[keep]
    if (!length(act)) break
    mid <- mid[keep]
    open <- act
    width <- hi[open] - lo[open]
    sec <- is.finite(width) & !is.na(Flo[open]) & !is.na(Fhi[open]) & Fhi[open] > Flo[open] & !bisect[open]
    p1 <- mid
    p2 <- rep(NA_real_, length(open))
    if (any(sec)) {
      k <- open[sec]
      xs <- lo[k] + (t[k] - Flo[k]) / (Fhi[k] - Flo[k]) * (hi[k] - lo[k])
      e <- (hi[k] - lo[k]) * 2^-12
      a1 <- xs - e
      a2 <- xs + e
      ok1 <- !is.na(a1) & a1 > lo[k] & a1 < hi[k]
      ok2 <- !is.na(a2) & a2 > lo[k] & a2 < hi[k] & (!ok1 | a2 > a1)
      p1[sec] <- ifelse(ok1, a1, ifelse(ok2, a2, p1[sec]))
      p2[sec] <- ifelse(ok1 & ok2, a2, NA_real_)
    }
    two <- !is.na(p2)
    v <- F(c(p1, p2[two]))
    F1 <- v[seq_along(p1)]
    F2 <- rep(NA_real_, length(open))
    F2[two] <- v[-seq_along(p1)]
    ok1 <- pass(F1, t[open])
    ok2 <- two & pass(F2, t[open])
    # p2 > p1 where both exist.
    nlo <- lo[open]
    nhi <- hi[open]
    nFlo <- Flo[open]
    nFhi <- Fhi[open]
    a <- ok2
    nlo[a] <- p2[a]
    nFlo[a] <- F2[a]
    a <- !ok2 & ok1
    nlo[a] <- p1[a]
    nFlo[a] <- F1[a]
    a <- two & !ok2 & ok1
    nhi[a] <- p2[a]
    nFhi[a] <- F2[a]
    a <- !ok1 & !ok2 # (F may dip by an ulp: p2 passing decides)
    nhi[a] <- p1[a]
    nFhi[a] <- F1[a]
    bisect[open] <- !(nhi - nlo <= 0.5 * width)
    lo[open] <- nlo
    hi[open] <- nhi
    Flo[open] <- nFlo
    Fhi[open] <- nFhi
  }
  list(x = lo, next_x = hi, F = Flo, Fnext = Fhi)
}

# Levels within discrete_tol of an end of a piece of the range become that
# end.
snap_levels <- function(t, ends) {
  ends <- sort(unique(ends))
  k <- findInterval(t, ends)
  below <- ends[pmax(k, 1L)]
  above <- ends[pmin(k + 1L, length(ends))]
  out <- t
  near_b <- k >= 1L & abs(t - below) <= discrete_tol
  near_a <- k < length(ends) & abs(above - t) <= discrete_tol
  out[near_b] <- below[near_b]
  out[near_a & !near_b] <- above[near_a & !near_b]
  out
}

# G-probabilities of the sets {F(X) < a} (side "l") or {F(X-) <= a} (side
# "r") for levels a, with the null F given by law and the truth by gd.
# Continuous F: with strict = TRUE for l and FALSE for r the sets are
# {F(X) <= a} and {F(X) < a} instead (the continuous test rejects when
# D >= q).
band_probs <- function(a, side, law, gd) {
  out <- numeric(length(a))
  G <- gd$F
  F <- law$F
  if (law$continuous) {
    # Rejects when D >= q: l = P(F(X) <= a), r = P(F(X) < a).
    strict <- side == "r"
    low <- if (strict) a <= 0 else a < 0
    out[low] <- 0
    out[a > 1] <- 1
    k <- which(!low & a <= 1)
    if (length(k)) {
      b <- last_below(F, a[k], strict, rep(-Inf, length(k)), rep(Inf, length(k)))
      out[k] <- g_at(G, b$x)
      check_bisection(law, gd, b, out[k])
      check_no_jump(law, b, a[k], strict)
    }
    return(out)
  }
  lo <- law$lo
  hi <- law$hi
  K <- length(law$s)
  a <- snap_levels(a, c(lo, hi))
  # Piece j (1-based) holds the stretch [s_(j-1), s_j), s_0 = -Inf, s_(K+1) = Inf.
  sl <- c(-Inf, law$s)
  sr <- c(law$s, Inf)
  if (side == "l") {
    # P(F(X) < a): the stretches whose piece lies below a, and the part of
    # the stretch whose piece holds a.
    j <- findInterval(a, lo, left.open = TRUE)
    out[j == 0L] <- 0
    whole <- j >= 1L & a > hi[pmax(j, 1L)]
    out[whole] <- c(law$Gl, 1)[j[whole]]
    part <- which(j >= 1L & !whole)
    strict <- TRUE
  } else {
    # P(F(X-) <= a): as well the jump that ends the last stretch counted,
    # whose F(X-) is the top of its piece.
    j <- findInterval(a, lo)
    out[a >= 1] <- 1
    out[a < 0] <- 0
    whole <- a >= 0 & a < 1 & j >= 1L & a >= hi[pmax(j, 1L)]
    out[whole] <- c(law$Gs, 1)[j[whole]]
    part <- which(a >= 0 & a < 1 & j >= 1L & !whole)
    strict <- FALSE
  }
  if (length(part)) {
    jp <- j[part]
    b <- last_below(F, a[part], strict, sl[jp], sr[jp], lo[jp], rep(NA_real_, length(jp)))
    v <- g_at(G, b$x)
    # The bisection can end on the next jump itself (R's discrete
    # distribution functions take a point within 1e-7 below a whole number
    # for the number): where the level is the top of the piece, the whole
    # stretch is below it.
    top <- side == "l" & a[part] == hi[jp] & jp <= K & !is.na(b$Fnext) & b$Fnext >= lo[jp + 1L] - value_slack(lo[jp + 1L])
    v[top] <- law$Gl[jp[top]]
    check_bisection(law, gd, b, v)
    out[part] <- v
    check_no_jump(law, b, a[part], strict, lo[pmin(jp + 1L, length(lo))])
  }
  out
}

# The points found for increasing levels must increase, and both
# functions be non-decreasing along them: a slip in either function (a
# density, a survival function) stops here rather than giving a number.
check_bisection <- function(law, gd, b, Gx) {
  fin <- is.finite(b$x)
  x <- b$x[fin]
  if (is.unsorted(x))
    stop_call("'null' must be a distribution function (non-decreasing from 0 to 1); is it a density or a survival function?",
              "ksdist_error_null")
  o <- !is.na(b$F[fin])
  check_null_monotone(law$nd, x[o], b$F[fin][o], ends = FALSE)
  check_null_monotone(gd, x, Gx[fin], ends = FALSE)
}

# G at points x (infinite ones are 0 and 1 without asking G).
g_at <- function(G, x) {
  v <- ifelse(x == Inf, 1, 0)
  f <- which(is.finite(x))
  if (length(f)) v[f] <- G(x[f])
  v
}

# A bisection that ends across a jump of F (other than the next jump of a
# null with known support) has found a jump the null was not declared to
# have: its law would not be the one used.
check_no_jump <- function(law, b, a, strict, next_level = NULL) {
  fin <- is.finite(b$x) & is.finite(b$next_x) & !is.na(b$F) & !is.na(b$Fnext)
  if (!any(fin)) return(invisible())
  step <- b$Fnext - b$F
  bad <- fin & step > 1e-9
  if (!is.null(next_level)) bad <- bad & b$Fnext < next_level - value_slack(next_level)
  if (any(bad)) {
    k <- which(bad)[1L]
    stop_call(sprintf("the null distribution %s jumps at %s (from %.6g to %.6g), but is taken for %s: give the points where it jumps as 'support'",
                      law$label, format(b$next_x[k], digits = 10), b$F[k], b$Fnext[k],
                      if (law$continuous) "continuous" else "continuous there"),
              "ksdist_error_support")
  }
  invisible()
}

# The bounds l (lower, for the upper deviations) and r (upper, for the
# lower deviations) on the order statistics of the uniforms, NULL for a
# side the alternative does not look at.
power_bounds <- function(n, q, law, gd, alternative) {
  i <- seq_len(n)
  fix <- function(v) cummax(pmin(1, pmax(0, v)))
  l <- if (alternative != "less") fix(band_probs(i / n - q, "l", law, gd))
  r <- if (alternative != "greater") fix(band_probs((i - 1) / n + q, "r", law, gd))
  list(l = l, r = r)
}

# G at the jumps of a null with known support, and just before them (once
# for every size asked).
law_with_truth <- function(law, gd) {
  if (law$continuous) return(law)
  Gs <- gd$F(law$s)
  Gl <- pmin(left_limit(gd$F, law$s, Gs), Gs)
  check_null_monotone(gd, law$s, Gs, ends = TRUE)
  law$Gs <- Gs
  law$Gl <- Gl
  law
}

# The exact power at sample size n: c(power, P(keep the null), critical);
# law with the truth at its jumps (law_with_truth()).
power_one <- function(n, law, gd, sig.level, alternative, crit = NULL) {
  if (is.null(crit)) crit <- critical_value(n, law, sig.level, alternative)
  if (!is.finite(crit$c))
    return(list(power = 0, stay = 1, critical = crit$c, q = crit$q))
  b <- power_bounds(n, crit$q, law, gd, alternative)
  v <- .Call(.ext$ksx_order_bounds, n, b$l, b$r)
  list(power = v[2L], stay = v[1L], critical = crit$c, q = crit$q, log = v[3:4])
}

# Sample size -----------------------------------------------------------------

# How far the truth departs from the null in the direction the test looks:
# sup (G - F) for "greater", sup (F - G) for "less", the larger for
# "two.sided", read off the bounds at levels k/1000 (the band with q = 0).
departure <- function(law, gd, alternative) {
  N <- 1000
  b <- power_bounds(N, 0, law, gd, alternative)
  up <- if (!is.null(b$l)) max(b$l - seq_len(N) / N) else -Inf
  down <- if (!is.null(b$r)) max((seq_len(N) - 1) / N - b$r) else -Inf
  max(up, down)
}

# The sample size: for a continuous null, the smallest n whose exact power
# reaches the target (the power grows with n there); for a null with jumps,
# whose power is a saw-tooth in n, the smallest n from which the power
# stays at or above the target through n + 9 (window sizes in all).  Both
# are checked exactly at the end: the power at n - 1 is below the target.
# The search before that brackets the answer by doubling from a first
# guess, then closes the bracket by interpolating the probit of the power
# in sqrt(n), with bisection steps where that does not halve it.  Beyond
# 2000, for a continuous null, the search uses the critical value of the
# limiting law with Stephens' scaling, corrected by its ratio to the exact
# one at the last size computed exactly (exact critical values are the
# costly part there); the final answer is computed exactly.
sample_size_one <- function(target, law, gd, sig.level, alternative, n_max = 1e5, window = 10L) {
  exact_at <- new.env(parent = emptyenv())
  exact <- function(n) {
    key <- format(n, scientific = FALSE)
    if (is.null(exact_at[[key]])) exact_at[[key]] <- power_one(n, law, gd, sig.level, alternative)
    exact_at[[key]]
  }
  lim <- qkolmogorov_limit(sig.level, lower.tail = FALSE, alternative = alternative)
  stephens <- function(n) lim / (sqrt(n) + 0.12 + 0.11 / sqrt(n))
  rho <- 1
  approx_at <- new.env(parent = emptyenv())
  approx <- function(n) {
    if (n < 1) return(0)
    if (!law$continuous || n <= 2000) return(exact(n)$power)
    key <- format(n, scientific = FALSE)
    if (is.null(approx_at[[key]])) {
      q <- stephens(n) * rho
      approx_at[[key]] <- power_one(n, law, gd, sig.level, alternative, crit = list(q = q, c = q))$power
    }
    approx_at[[key]]
  }
  delta <- departure(law, gd, alternative)
  if (!(delta > 1e-6))
    stop_call(sprintf("'true' does not depart from 'null' %s: the power stays near 'sig.level' however large n is",
                      switch(alternative, two.sided = "anywhere", greater = "upwards (alternative \"greater\")",
                             less = "downwards (alternative \"less\")")),
              "ksdist_error_power")
  too_big <- function()
    stop_call(sprintf("the power does not reach %s below n = %s: the sample size is beyond what the exact power is computed for here",
                      format(target), format(n_max, scientific = FALSE)), "ksdist_error_power")
  # The crossing of f (as if it increased): the smallest size hi with
  # f(hi) >= target and f(hi - 1) < target, from sizes evaluated first.
  # Secant steps on the probit of the power against sqrt(n), through the
  # last two sizes evaluated, kept inside the bracket (and, before there is
  # one, to at most four times the largest size below the target); a
  # bisection step after two that did not halve the bracket.
  cross <- function(f, start) {
    lo <- 0
    hi <- Inf
    seen <- numeric()
    visit <- function(m) {
      seen <<- c(seen, m)
      if (f(m) >= target) hi <<- min(hi, m) else lo <<- max(lo, m)
    }
    for (m in start) visit(m)
    slow <- 0L
    zt <- stats::qnorm(target)
    while (!(hi - lo <= 1)) {
      width <- hi - lo
      last <- utils::tail(seen, 2L)
      m <- NA
      if (slow < 2L && length(last) == 2L && last[1L] != last[2L]) {
        z <- stats::qnorm(pmin(pmax(c(f(last[1L]), f(last[2L])), 1e-12), 1 - 1e-12))
        if (z[2L] != z[1L]) {
          r <- sqrt(last[1L]) + (zt - z[1L]) / (z[2L] - z[1L]) * (sqrt(last[2L]) - sqrt(last[1L]))
          if (is.finite(r) && r > 0) m <- round(r^2)
        }
      }
      if (is.finite(hi)) {
        if (is.na(m)) m <- floor((lo + hi) / 2)
        m <- min(hi - 1, max(lo + 1, m))
      } else {
        if (lo >= n_max) too_big()
        if (is.na(m)) m <- 2 * max(lo, 1)
        m <- min(n_max, 4 * max(lo, 1), max(lo + 1, m))
      }
      visit(m)
      slow <- if (is.finite(width) && hi - lo > width / 2) slow + 1L else 0L
    }
    hi
  }
  # A first size from the departure (the power of a test at the one point
  # of largest departure: too large a size, as the supremum gains from the
  # others), and a second from the probit of the power there growing like
  # sqrt(n) from that at n = 0, sig.level.
  guess <- ((lim + stats::qnorm(target) * 0.5) / delta)^2
  n1 <- min(n_max, max(8, round(guess / 8)))
  start <- n1
  p1 <- approx(n1)
  if (p1 < target && p1 > sig.level) {
    b <- (stats::qnorm(p1) - stats::qnorm(sig.level)) / sqrt(n1)
    start <- c(n1, min(n_max, max(n1 + 1, round(((stats::qnorm(target) - stats::qnorm(sig.level)) / b)^2))))
  }
  n <- cross(approx, start)
  if (law$continuous) {
    # Exact at the end: n reaches the target and n - 1 does not; where the
    # approximate critical value moved the crossing, the search is redone
    # with its ratio to the exact one.
    # Below n the power is checked with the critical value of the limiting
    # law scaled to the exact one at n (within about 1e-9 relative of the
    # exact critical value one size away: the power moves by less than
    # 1e-8), exactly where it lies within 1e-6 of the target.
    below <- function(n) {
      if (n <= 2000) return(exact(n)$power)
      p <- approx(n)
      if (abs(p - target) > 1e-6) p else exact(n)$power
    }
    for (round in 1:4) {
      e <- exact(n)
      if (n > 2000) {
        rho <- e$critical / stephens(n)
        rm(list = ls(approx_at), envir = approx_at)
      }
      if (e$power >= target && (n == 1 || below(n - 1) < target)) break
      if (round < 4) n <- cross(approx, c(n - 1, n))
    }
    while (exact(n)$power < target) {
      if (n >= n_max) too_big()
      n <- n + 1
    }
    while (n > 1 && below(n - 1) >= target) n <- n - 1
    first <- n
  } else {
    # The saw-tooth: the power must stay up through n + window - 1.
    first <- n
    j <- n + 1
    while (j <= n + window - 1) {
      if (exact(j)$power < target) {
        n <- j + 1
        if (n > n_max) too_big()
      }
      j <- j + 1
    }
  }
  e <- exact(n)
  list(n = n, power = e$power, critical = e$critical, first = first,
       below = if (n <= 1) NA_real_ else if (law$continuous) below(n - 1) else exact(n - 1)$power,
       window = window,
       continuous = law$continuous, target = target)
}

one_sample_note <- function(law, alternative, search = NULL) {
  what <- paste0("exact: the critical value of the exact null law",
                 if (!law$continuous) " (with jumps: the test rejects when P(D >= d) <= sig.level)",
                 " and the probability that the test rejects under 'true'")
  if (is.null(search)) return(what)
  size <- if (search$continuous)
    sprintf("n is the smallest sample size whose power reaches %s (at n - 1 it is %s)",
            format(search$target), format_below(search$below, search$target))
  else
    sprintf("against a null with jumps the power is not monotone in n; n is the smallest size from which it stays at or above %s through n + %d (at n - 1 it is %s)%s",
            format(search$target), search$window - 1L, format_below(search$below, search$target),
            if (search$first < search$n) sprintf("; it first reaches it at n = %d", as.integer(search$first)) else "")
  paste0(what, "\n      ", size)
}

# A power just below the target with the digits that show it is below.
format_below <- function(p, target) {
  if (is.na(p)) return("not defined")
  for (d in 4:15) if (signif(p, d) < target) return(format(signif(p, d), digits = d))
  format(p, digits = 17)
}

# Two samples ------------------------------------------------------------------

# The power of the exact two-sample test (ksdist's exact law, conditional
# on the ties where the simulated samples have any) for samples of sizes n
# from true$x and m from true$y, by simulation; exact, without simulation,
# where both are the same continuous distribution (the power is then the
# size of the exact test, P(D > q) under the null).
#
# Draws are by inversion, X = the smallest double with G(X) >= U, found by
# the same search as the bounds of the one-sample power, so the stream
# depends on nothing but the uniforms.  They come in blocks of 1000
# samples, each block with seeds of its own drawn first from the stream
# (set by 'seed', or the session's), filled element by element across the
# block: the first k elements of every sample are the same whatever n is,
# so that powers at different sizes share their random numbers (the
# sample-size search relies on it).
two_block <- 1000L

power_two <- function(n, m, true, sig.level, power, alternative, nsim, seed, env, labels) {
  if (length(true) != 2L || (!is.null(names(true)) && !all(names(true) %in% c("x", "y", ""))) ||
      (!is.null(names(true)) && all(nzchar(names(true))) && !setequal(names(true), c("x", "y"))))
    stop_call("for two samples 'true' must be list(x = , y = ): the distribution of each sample (a distribution function, its name, or a step function)",
              "ksdist_error_argument")
  if (!is.null(names(true)) && all(nzchar(names(true)))) true <- true[c("x", "y")]
  if (!is.numeric(nsim) || length(nsim) != 1L || is.na(nsim) || nsim < 1 || nsim != floor(nsim) || nsim > 1e8)
    stop_call("'nsim' must be a whole number of simulated samples from 1 to 1e8", "ksdist_error_argument")
  if (!is.null(seed) && (!is.numeric(seed) || length(seed) != 1L || !is.finite(seed)))
    stop_call("'seed' must be NULL or a single number (as for set.seed)", "ksdist_error_argument")
  if (!is.null(m)) m <- check_sizes(m, "m")
  if (length(m) > 1L)
    stop_call("'m' must be a single size (or NULL for m = n)", "ksdist_error_argument")
  gx <- true_dist(true[[1L]], env, "true$x")
  gy <- true_dist(true[[2L]], env, "true$y")
  check_null_monotone(gx, numeric(), numeric())
  check_null_monotone(gy, numeric(), numeric())
  gx$table <- inverse_table(gx)
  gy$table <- inverse_table(gy)
  check_null_monotone(gx, gx$table$lo[-1L], gx$table$Flo[-1L], ends = FALSE)
  check_null_monotone(gy, gy$table$lo[-1L], gy$table$Flo[-1L], ends = FALSE)
  same <- identical(true[[1L]], true[[2L]]) && is_continuous(gx)
  # The RNG: a given seed is used and the session's state put back after.
  if (!is.null(seed)) {
    had <- exists(".Random.seed", envir = globalenv(), inherits = FALSE)
    old <- if (had) get(".Random.seed", envir = globalenv(), inherits = FALSE)
    on.exit(if (had) assign(".Random.seed", old, envir = globalenv())
            else if (exists(".Random.seed", envir = globalenv(), inherits = FALSE))
              rm(".Random.seed", envir = globalenv()), add = TRUE)
    set.seed(seed)
  }
  nblocks <- ceiling(nsim / two_block)
  seeds <- if (!same) sample.int(.Machine$integer.max, 2L * nblocks)
  at <- function(k, mk) power_two_at(k, mk, gx, gy, sig.level, alternative, nsim, seeds, same)
  if (is.null(power)) {
    res <- lapply(n, function(k) at(k, if (is.null(m)) k else m))
    search <- NULL
  } else {
    if (same)
      stop_call("'true$x' and 'true$y' are the same distribution: the power is the size of the test whatever the sample sizes",
                "ksdist_error_power")
    search <- sample_size_two(power, m, at, sig.level)
    n <- search$n
    res <- list(search$res)
  }
  mm <- if (is.null(m)) n else rep(m, length(n))
  pw <- vapply(res, `[[`, 0, "power")
  se <- vapply(res, `[[`, 0, "se")
  note <- if (same)
    "exact: 'true$x' and 'true$y' are the same continuous distribution, so the power is the size of the exact test, P(D > q) under the null"
  else paste0(sprintf("simulated: %d pairs of samples, each tested with the exact law (given the ties where they have any); mc.se is the Monte Carlo standard error of the power",
                      as.integer(nsim)),
              if (!is.null(search))
                sprintf("\n      n is the smallest size whose simulated power reaches %s, the same random numbers at every size (at n - 1 it is %s)",
                        format(power), format_below(search$below, power)))
  structure(list(n = n, m = mm, true = sprintf("x ~ %s, y ~ %s", labels[1L], labels[2L]),
                 critical.value = vapply(res, `[[`, 0, "critical"), sig.level = sig.level,
                 power = pw, mc.se = se, nsim = if (same) NA_integer_ else as.integer(nsim),
                 alternative = alternative, note = note,
                 method = paste(if (same) "Exact" else "Simulated",
                                "power of the two-sample Kolmogorov-Smirnov test")),
            class = "power.htest")
}

# Whether G shows no jump at 4096 of its quantiles (a jump of more than
# 1/4096 would show at one of them): the two samples then have no ties.
is_continuous <- function(g) {
  if (g$stepfun) return(FALSE)
  tb <- g$table
  x <- tb$lo[-1L]
  fin <- is.finite(x) & is.finite(tb$hi[-4096L])
  !any(fin & tb$Fhi[-4096L] - tb$Flo[-1L] > 1e-9)
}

# X = the smallest double with G(X) >= u, for uniforms u in (0, 1): the
# search of last_below from the brackets of a table of G's quantiles at
# the levels k/4096 (made once per distribution: g$table).
inverse_table <- function(g) {
  lev <- seq_len(4095L) / 4096
  b <- last_below(g$F, lev, TRUE, rep(-Inf, length(lev)), rep(Inf, length(lev)))
  list(lo = c(-Inf, b$x), Flo = c(NA, b$F), hi = c(b$next_x, Inf), Fhi = c(b$Fnext, NA))
}

draw_inverse <- function(g, u) {
  tb <- g$table
  if (is.null(tb)) tb <- inverse_table(g)
  # u in [k/4096, (k + 1)/4096): G < k/4096 <= u at the lower end, G >=
  # (k + 1)/4096 > u at the upper.
  k <- floor(u * 4096) + 1
  b <- last_below(g$F, u, TRUE, tb$lo[k], tb$hi[k], tb$Flo[k], tb$Fhi[k], coarse = FALSE)
  b$next_x
}

# The critical value of the exact two-sample test without ties: it rejects
# when D > q; the value reported is the first atom of D above q.
two_critical <- function(n, m, sig.level, alternative) {
  q <- qsmirnov2(sig.level, n, m, lower.tail = FALSE, alternative = alternative)
  mn <- as.double(n) * m
  K <- round(q * mn)
  g <- gcd(n, m)
  for (k in seq_len(200L)) {
    v <- (K + k * g) / mn
    if (v > 1) break
    if (dsmirnov2(v, n, m, alternative = alternative) > 0) return(list(q = q, K = K, c = v))
  }
  list(q = q, K = K, c = if (q < 1) q else Inf)
}

# The two-sample statistic of each row of x (samples of size n) against
# the same row of y (size m), in units of 1/(n m): after i x's and j y's of
# the pooled sorted row, F_x - F_y = (i m - j n)/(n m), compared at the
# ends of blocks of tied values only (as ks_test compares them); k: 1
# two-sided (max |.|), 2 greater (max), 3 less (max of -.).  Whole numbers
# below 2^53, so exact.  ties: whether the row has tied values.
two_statistics <- function(x, y, k) {
  B <- nrow(x)
  n <- ncol(x)
  m <- ncol(y)
  N <- n + m
  v <- cbind(x, y)
  o <- order(rep(seq_len(B), N), v, method = "radix")
  v <- matrix(v[o], B, N, byrow = TRUE)
  isx <- matrix((o - 1) %/% B < n, B, N, byrow = TRUE)
  i <- 0
  kmax <- kmin <- numeric(B)
  for (col in seq_len(N)) {
    i <- i + isx[, col]
    d <- i * m - (col - i) * n
    end <- if (col < N) v[, col] != v[, col + 1L] else rep(TRUE, B)
    kmax <- ifelse(end & d > kmax, d, kmax)
    kmin <- ifelse(end & d < kmin, d, kmin)
  }
  ties <- rowSums(v[, -1L, drop = FALSE] == v[, -N, drop = FALSE]) > 0
  K <- switch(k, pmax(kmax, -kmin), kmax, -kmin)
  list(K = K, ties = ties)
}

gcd <- function(a, b) {
  while (b > 0) {
    t <- a %% b
    a <- b
    b <- t
  }
  a
}

power_two_at <- function(n, m, gx, gy, sig.level, alternative, nsim, seeds, same) {
  if (!.Call(.ext$ksx_smirnov_exact_size, n, m))
    stop_call("the samples are too large for the exact two-sample law (m n above 2^50)", "ksdist_error_argument")
  cr <- two_critical(n, m, sig.level, alternative)
  if (same) {
    p <- psmirnov2(cr$q, n, m, lower.tail = FALSE, alternative = alternative)
    return(list(power = p, se = 0, critical = cr$c))
  }
  k <- match(alternative, c("two.sided", "greater", "less"))
  reject <- 0
  done <- 0L
  for (b in seq_len(ceiling(nsim / two_block))) {
    B <- min(two_block, nsim - done)
    set.seed(seeds[2L * b - 1L])
    ux <- stats::runif(two_block * n)
    set.seed(seeds[2L * b])
    uy <- stats::runif(two_block * m)
    # Element j of sample r is u[(j - 1) * block + r]: the first k
    # elements do not depend on n.  Only the B samples used are drawn.
    x <- matrix(draw_inverse(gx, matrix(ux, two_block, n)[seq_len(B), ]), B, n)
    y <- matrix(draw_inverse(gy, matrix(uy, two_block, m)[seq_len(B), ]), B, m)
    st <- two_statistics(x, y, k)
    reject <- reject + sum(st$K[!st$ties] > cr$K)
    for (r in which(st$ties)) {
      blocks <- rle(sort(c(x[r, ], y[r, ])))$lengths
      reject <- reject + (.Call(.ext$ksx_smirnov_pvalue, st$K[r], n, m, alternative, blocks)[1L] <= sig.level)
    }
    done <- done + B
  }
  p <- reject / nsim
  list(power = p, se = sqrt(p * (1 - p) / nsim), critical = cr$c)
}

# The sample size of x (y has m, or as many when m is NULL) whose
# simulated power reaches the target: doubling, then bisection, on the
# powers at every size from the same random numbers.
sample_size_two <- function(target, m, at, sig.level, n_max = 1e5) {
  seen <- new.env(parent = emptyenv())
  f <- function(n) {
    key <- format(n, scientific = FALSE)
    if (is.null(seen[[key]])) seen[[key]] <- at(n, if (is.null(m)) n else m)
    seen[[key]]
  }
  lo <- 0
  hi <- 2
  while (f(hi)$power < target) {
    if (hi >= n_max)
      stop_call(sprintf("the simulated power does not reach %s below n = %s", format(target),
                        format(n_max, scientific = FALSE)), "ksdist_error_power")
    lo <- hi
    hi <- min(n_max, 2 * hi)
  }
  while (hi - lo > 1) {
    mid <- floor((lo + hi) / 2)
    if (f(mid)$power >= target) hi <- mid else lo <- mid
  }
  list(n = hi, res = f(hi), below = if (hi > 1) f(hi - 1)$power else NA_real_)
}
