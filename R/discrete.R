# Null distributions with jumps: discrete (counts, ratings, rounded values),
# mixed (atoms plus continuous stretches) and step functions.
#
# Under the null, X = F^-1(U) with U uniform, so F_n(t) = U_n(F(t)) and the
# statistic sup_t |F_n(t) - F(t)|, compared on both sides of every jump, is
# sup |U_n(u) - u| over the closure of the range of F.  Its law depends on F
# only through that set: a union of closed intervals of [0, 1], a single
# point for each stretch between two jumps where F is flat.

# The range of the null as list(lo, hi) of sorted disjoint closed intervals,
# from a step function, from given support points (the points where F
# jumps; F continuous elsewhere), or, failing both, from the whole numbers
# around the data when F jumps only there.  NULL when it cannot be found.
null_range <- function(cdf, args, support, xs = NULL, Fx = NULL, Fl = NULL) {
  if (inherits(cdf, "stepfun") && is.null(support)) {
    kn <- stats::knots(cdf)
    v <- c(cdf(kn[1L] - 1), cdf(kn))
    if (any(v < 0 | v > 1) || is.unsorted(v))
      stop_call("the step function given as the null must be a distribution function (non-decreasing, in [0, 1])")
    u <- unique(c(0, v[v > 0 & v < 1], 1))
    return(list(lo = u, hi = u))
  }
  F <- function(t) do.call(cdf, c(list(t), args))
  if (is.null(support)) {
    support <- lattice_support(F, xs, Fx, Fl)
    if (is.null(support)) return(NULL)
  }
  if (!is.numeric(support) || anyNA(support))
    stop_call("'support' must be a numeric vector of the points where the null distribution jumps")
  s <- sort(unique(as.double(support[is.finite(support)])))
  if (!length(s)) return(list(lo = 0, hi = 1))
  Fs <- check_cdf_values(F(s), length(s))
  Fsl <- left_limit(F, s, Fs)
  if (is.unsorted(Fs) || any(Fsl > Fs))
    stop_call("the null distribution function must be non-decreasing on 'support'")
  # [0, F(s1-)], [F(s_k), F(s_k+1 -)], ..., [F(s_K), 1]; a stretch where F
  # is flat is the single point at its height.
  lo <- c(0, Fs)
  hi <- c(Fsl, 1)
  flat <- hi - lo <= 1e-15
  hi[flat] <- lo[flat]
  # Merge touching pieces (F continuous across a support point).
  keep <- c(TRUE, lo[-1] > hi[-length(hi)])
  grp <- cumsum(keep)
  list(lo = unname(tapply(lo, grp, min)), hi = unname(tapply(hi, grp, max)))
}

# When F jumps at whole-number data only, its support is looked for among the
# whole numbers: downwards from the smallest observation while F has mass
# below, upwards from the largest while F is below 1.  F must be flat between
# neighbours, F(k + 1 - h) = F(k) exactly, with h beyond the 1e-7 by which
# R's discrete distribution functions round their argument.  Beyond 1e5
# points the search gives up.
lattice_support <- function(F, xs, Fx, Fl) {
  if (is.null(xs)) return(NULL)
  at <- Fx - Fl > 1e-12
  fin <- xs[is.finite(xs)]
  if (!any(at) || !length(fin) || any(xs[at] != round(xs[at]))) return(NULL)
  lo <- min(fin)
  hi <- max(fin)
  if (lo != round(lo) || hi != round(hi)) return(NULL)
  step <- 64
  while (F(lo - 0.5) > 0) {
    lo <- lo - step
    step <- step * 2
    if (hi - lo > 1e5) return(NULL)
  }
  step <- 64
  while (F(hi) < 1) {
    hi <- hi + step
    step <- step * 2
    if (hi - lo > 1e5) return(NULL)
  }
  k <- seq(lo, hi)
  Fk <- check_cdf_values(F(k), length(k))
  below_next <- check_cdf_values(F(k + 1 - 1e-6 * pmax(1, abs(k + 1))), length(k))
  if (any(below_next != Fk)) return(NULL)
  k[c(TRUE, Fk[-1] > Fk[-length(k)])]
}

# The distribution of the one-sample statistic under a null with jumps,
# given as a step function (such as an ecdf()), or as a distribution
# function (or its name) with its support points.
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

range_of <- function(null, args, support, env) {
  if (missing(null) || is.null(null))
    stop_call("'null' must be a step function, or a distribution function (or its name) with 'support'")
  cdf <- if (inherits(null, "stepfun")) null else null_function(null, env)
  if (!inherits(cdf, "stepfun") && is.null(support))
    stop_call("'support' must give the points where the null distribution function jumps")
  null_range(cdf, args, support)
}
