# The internal entry points of the second shared object (ksdist_ext), as the
# tests reach them.  Every test calls them through these wrappers only, so
# that a renamed routine changes this file and nothing else.  Arguments keep
# the routines' own conventions: alt 0 two-sided, 1 greater (D^+), 2 less
# (D^-); results are c(value, log) unless said otherwise.

ext_routine <- function(name) {
  r <- get0(name, envir = ksdist:::.ext, inherits = FALSE)
  if (is.null(r)) stop("ksdist_ext has no routine '", name, "'")
  r
}

# Both tails of the one-sample statistic: P(D < d) (upper = FALSE) or
# P(D >= d) (upper = TRUE), for n >= 1.
hook_kolmogorov <- function(d, n, alt = 0L, upper = FALSE) {
  .Call(ext_routine("ksx_hook_kolmogorov"), d, as.integer(n), as.integer(alt), upper)
}

# Both tails of the two-sided law (1 < n d < n) by one method of the exact
# engine: "auto" (as chosen, with its fallbacks), "spectral" (no fallback),
# "direct" (the direct power), "band" (2 p1 - p1^2/2 from the SBT sum),
# "squaring" (repeated squaring), "crossing" (the checkpoint recursion).
# Returns c(lower, upper, log_lower, log_upper, method, modes), the method
# as its number in that list from 0, all NA (method -1) where the method
# declined after a failed check.
kolmogorov_methods <- c("auto", "spectral", "direct", "band", "squaring", "crossing")
hook_kolmogorov_method <- function(d, n, method = "auto") {
  r <- .Call(ext_routine("ksx_hook_kolmogorov_method"), d, as.integer(n), match(method, kolmogorov_methods) - 1L)
  names(r) <- c("lower", "upper", "log_lower", "log_upper", "method", "modes")
  r
}

# qkolmogorov's answer and the number of exact evaluations it took:
# c(q, evals).
hook_kolmogorov_q <- function(p, n, lower = TRUE, logp = FALSE, alt = 0L) {
  .Call(ext_routine("ksx_hook_kolmogorov_q"), p, as.integer(n), as.integer(lower), as.integer(logp), as.integer(alt))
}

# Density of the one-sample statistic, c(density, log density).  With a
# route (0 as the default choice, 1 the checkpoint recursion, 2 the
# differentiated SBT sum, 3 Abel's, 4 the two-sided bound form, 5 the
# differentiated spectral sum, two-sided, NA where it does not apply) it is
# computed that way only and comes back as c(value, log, aux): aux is the
# condition number for routes 2, 3 and 5, the relative half-width for route 4.
hook_kolmogorov_density <- function(d, n, alt = 0L, route = NULL) {
  r <- .Call(ext_routine("ksx_hook_kolmogorov_density"), d, as.integer(n), as.integer(alt),
             if (is.null(route)) 0L else as.integer(route))
  if (is.null(route)) r[1:2] else r
}

# The one-sample statistic against a null with jumps, given by the closure
# of its range: the union of the intervals [lo_r, hi_r].  rel 0: P(D < d),
# 1: P(D <= d), 2: P(D > d), 3: P(D >= d).
hook_discrete <- function(n, d, lo, hi, alt = 0L, rel = 0L) {
  .Call(ext_routine("ksx_hook_discrete"), as.integer(n), d, lo, hi, as.integer(alt), as.integer(rel))
}

# The two-sample statistic on the integer scale S = m n D: P(S <= K)
# (upper = FALSE) or P(S > K) (upper = TRUE), with tie blocks (sizes of the
# runs of equal pooled values, adding up to m + n) or NULL.
hook_smirnov <- function(K, m, n, alt = 0L, blocks = NULL, upper = FALSE) {
  .Call(ext_routine("ksx_hook_smirnov"), K, m, n, alt, blocks, upper)
}

# The C library's pow(x, y), as compiled code calls it.
hook_pow <- function(x, y) .Call(ext_routine("ksx_hook_pow"), as.double(x), as.double(y))

# The largest double below each element of x.
prev_double <- function(x) .Call(ext_routine("ksx_prev_double"), x)
