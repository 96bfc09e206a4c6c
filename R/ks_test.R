# The Kolmogorov-Smirnov test: one sample against a fully specified null
# distribution (continuous, discrete or mixed) or against a family with
# parameters estimated from the sample (R/estimate.R), or two samples, with
# the two-sided or a one-sided alternative.  Where the exact law is not
# used, B asks for a Monte Carlo p-value instead of the limiting law.

ks_test <- function(x, ...) UseMethod("ks_test")

# Defaults for exact = NULL: the exact distribution is used for one sample
# up to these sizes (continuous null; null with jumps), where it costs about
# a second at most; for two samples where its estimated cost is at most
# exact_two_seconds.
exact_one_limit <- 1e6
exact_discrete_limit <- 1e5
exact_two_seconds <- 1

# ks_test's own arguments, suggested for misspelt ones.
ks_test_args <- c("alternative", "exact", "tol", "support", "sig.level", "estimate", "B")

ks_test.default <- function(x, y, ..., alternative = c("two.sided", "less", "greater"),
                            exact = NULL, tol = 1e-6, support = NULL, sig.level = 0.05,
                            estimate = NULL, B = NULL) {
  xname <- deparse1(substitute(x))
  yname <- deparse1(substitute(y))
  alternative <- check_alternative(alternative)
  if (!is.null(exact) && (!is.logical(exact) || length(exact) != 1L || is.na(exact)))
    stop_call("'exact' must be NULL, TRUE or FALSE", "ksdist_error_argument")
  tol <- check_tol(tol)
  sig.level <- check_prob_arg(sig.level, "sig.level")
  if (!is.null(B)) B <- check_B(B)
  obs <- observations(x, "x")
  x <- obs$x
  x_na <- obs$na
  if (missing(y))
    stop_call("'y' must be a second sample (a numeric vector) or a distribution function, its name, or a step function",
              "ksdist_error_argument")

  if (is.numeric(y) || is.factor(y) || is_date(y)) {
    extra <- list(...)
    if (length(extra)) {
      nm <- names(extra)
      close <- if (is.null(nm)) character() else
        ks_test_args[agrepl(nm[nzchar(nm)][1L], ks_test_args, max.distance = 0.25)]
      stop_call(sprintf("the two-sample test takes no further arguments, but got %s%s",
                        describe_args(extra),
                        if (length(close)) sprintf("; did you mean '%s'?", close[1L]) else ""),
                "ksdist_error_argument")
    }
    if (!is.null(support))
      stop_call("'support' belongs to a one-sample test against a distribution with jumps",
                "ksdist_error_argument")
    if (!is.null(estimate))
      stop_call("'estimate' belongs to a one-sample test against a distribution with parameters; two samples are compared as they are",
                "ksdist_error_argument")
    obs <- observations(y, "y")
    y <- obs$x
    y_na <- obs$na
    res <- ks_two(x, y, alternative, exact, tol, sig.level, B)
    res$data.name <- paste(na_note(xname, x_na), "and", na_note(yname, y_na))
    res$names <- c(xname, yname)
  } else if (!is.null(estimate)) {
    # The exact laws and the support of a null with jumps do not apply to
    # a statistic against a fitted null: its p-value is a bootstrap's.
    if (!is.null(exact))
      stop_call("'exact' does not apply with estimated parameters: the p-value comes from a parametric bootstrap of B replicates",
                "ksdist_error_argument")
    if (!is.null(support))
      stop_call("'support' does not apply with estimated parameters: the p-value comes from a parametric bootstrap of B replicates",
                "ksdist_error_argument")
    res <- ks_estimated(x, y, list(...), estimate, B, alternative, sig.level, parent.frame(), yname)
    res$data.name <- na_note(xname, x_na)
    res$names <- c(xname, if (is.character(y)) y else yname)
  } else {
    nd <- null_dist(y, list(...), parent.frame(), "y", ks_test_args)
    check_plugin(x, nd)
    res <- ks_one(x, nd, alternative, exact, tol, support, sig.level, B)
    res$data.name <- na_note(xname, x_na)
    res$names <- c(xname, if (is.character(y)) y else yname)
  }
  res$alternative <- alternative_text(alternative, !is.null(res$y))
  res$sig.level <- sig.level
  class(res) <- c("ksdist_test", "htest")
  res
}

# values ~ group with a grouping term of two levels, as t.test() takes it
# (any expression: factor(am), data$g, ...), or values ~ 1 for a one-sample
# test against the null given as y.
ks_test.formula <- function(formula, data, subset, na.action, ...) {
  if (missing(formula) || !inherits(formula, "formula") || length(formula) != 3L)
    stop_call("'formula' must be of the form 'values ~ group' (two groups) or 'values ~ 1' (one sample)",
              "ksdist_error_argument")
  one <- identical(formula[[3L]], 1) || identical(formula[[3L]], 1L)
  if (!one && length(attr(stats::terms(formula[-2L]), "term.labels")) != 1L)
    stop_call("'formula' must have one grouping term on its right-hand side (or 1 for a one-sample test)",
              "ksdist_error_argument")
  fr <- formula_frame(match.call(expand.dots = FALSE), data, parent.frame())
  mf <- fr$mf
  response <- fr$response
  values <- fr$values
  if (one) {
    res <- ks_test.default(values, ...)
    res$data.name <- names(mf)[response]
    res$names[1L] <- names(mf)[response]
    return(res)
  }
  g <- factor(mf[[-response]])
  if (nlevels(g) != 2L) {
    if (nlevels(g) > 2L)
      stop_call(sprintf("the grouping variable '%s' has %d levels: ks_test compares two groups; pairwise_ks_test() compares every pair",
                        names(mf)[-response], nlevels(g)), "ksdist_error_argument")
    stop_call(sprintf("the grouping variable '%s' must have exactly 2 levels, not %d",
                      names(mf)[-response], nlevels(g)), "ksdist_error_argument")
  }
  groups <- split(values, g)
  res <- ks_test.default(groups[[1L]], groups[[2L]], ...)
  res$data.name <- paste(names(mf), collapse = " by ")
  res$names <- paste(names(mf)[-response], "=", levels(g))
  res$xlab <- names(mf)[response]
  res
}

alternative_text <- function(alternative, two) {
  switch(alternative,
         two.sided = "two-sided",
         less = if (two) "the CDF of x lies below that of y"
                else "the CDF of x lies below the null hypothesis",
         greater = if (two) "the CDF of x lies above that of y"
                   else "the CDF of x lies above the null hypothesis")
}

na_note <- function(name, k) {
  if (k == 0) name
  else sprintf("%s (%d missing value%s removed)", name, k, if (k == 1) "" else "s")
}

stat_name <- function(alternative)
  switch(alternative, two.sided = "D", greater = "D^+", less = "D^-")

# One sample ----------------------------------------------------------------

# The statistic of the sorted sample xs against the null nd, compared on
# both sides of every jump: the null at the data (Fx) and just before
# (Fl), D^+ and D^-, and the segment that plot() draws.
one_stat <- function(xs, nd, alternative) {
  n <- length(xs)
  F <- nd$F
  Fx <- F(xs)
  check_null_monotone(nd, xs, Fx)
  # Left limits: they differ from the values only where the null jumps.
  Fl <- left_limit(F, xs, Fx)
  i <- seq_len(n)
  above <- i / n - Fx        # the empirical function at x_(i) ...
  below <- Fl - (i - 1) / n  # ... and just before it
  dp <- max(0, above)
  dm <- max(0, below)
  D <- switch(alternative, two.sided = max(dp, dm), greater = dp, less = dm)
  up <- alternative != "less" && (alternative == "greater" || dp >= dm)
  k <- if (up) which.max(above) else which.max(below)
  # The largest distance, as drawn by plot(): from F to F_n at x_(k), or
  # from F(x_(k)-) to F_n(x_(k)-).
  segment <- if (up) c(xs[k], Fx[k], k / n) else c(xs[k], Fl[k], (k - 1) / n)
  list(D = D, Fx = Fx, Fl = Fl, jumps = any(Fl < Fx), ties = n > 1L && any(xs[-1L] == xs[-n]),
       segment = segment)
}

ks_one <- function(x, nd, alternative, exact, tol, support, sig.level, B = NULL) {
  n <- length(x)
  xs <- sort(x)
  st <- one_stat(xs, nd, alternative)
  D <- st$D
  jumps <- st$jumps
  range <- NULL
  if (nd$stepfun || !is.null(support) || jumps) {
    range <- null_range(nd, support, xs, st$Fx, st$Fl)
    if (is.null(range) && jumps)
      warn_call(paste("the null distribution has jumps but its support could not be determined:",
                      "pass 'support' (the points where it jumps) for the exact p-value;",
                      "the p-value for a continuous null is used, which is conservative"),
                "ksdist_warning_support")
  }
  discrete <- !is.null(range) && !identical(range, list(lo = 0, hi = 1))
  if (st$ties && !discrete) warn_ties_continuous()
  use_exact <- if (is.null(exact)) n <= (if (discrete) exact_discrete_limit else exact_one_limit) else exact
  se <- NULL
  if (use_exact && discrete) {
    p <- .Call(.ext$ksx_discrete_pvalue, D, n, range$lo, range$hi, alternative)
    crit <- .Call(.ext$ksx_q_discrete, sig.level, n, range$lo, range$hi, FALSE, FALSE, alternative)
  } else if (use_exact) {
    p <- c(pkolmogorov(D, n, lower.tail = FALSE, alternative = alternative),
           pkolmogorov(D, n, lower.tail = FALSE, log.p = TRUE, alternative = alternative))
    crit <- qkolmogorov(sig.level, n, lower.tail = FALSE, alternative = alternative)
  } else if (!is.null(B)) {
    Dstar <- run_replicates(B, max(1L, 2^17 %/% n),
                            function(k) mc_one(k, n, if (discrete) range, alternative))
    mcp <- mc_pvalue(Dstar, D, sig.level)
    p <- mcp$p
    se <- mcp$se
    crit <- mcp$crit
  } else {
    lim <- corrected_limit(n)
    p <- limit_pvalue(lim$to(D), tol, alternative)
    crit <- lim$from(qkolmogorov_limit(sig.level, lower.tail = FALSE, alternative = alternative))
  }
  mc <- !use_exact && !is.null(B)
  method <- paste(if (use_exact) "Exact" else if (mc) "Monte Carlo" else "Asymptotic",
                  "one-sample Kolmogorov-Smirnov test")
  if (discrete) method <- paste0(method, if (use_exact || mc) ", null distribution with jumps"
                                         else ", null distribution with jumps (conservative)")
  if (mc) method <- sprintf("%s (%s replicates)", method, format(B, scientific = FALSE))
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p[1L],
       log.p.value = p[2L], p.value.se = se, critical.value = crit, B = if (mc) B,
       method = method, exact = use_exact, x = xs, cdf = nd$F, segment = st$segment,
       discrete = discrete)
}

# k replicates of the statistic of n draws from a fully specified null:
# under it X = F^-1(U) with U uniform, so F(X) is U itself where F is
# continuous.  A null with jumps has the range (lo, hi), closed pieces of
# [0, 1]: a U that falls in a gap between two pieces, (hi_j, lo_{j+1}),
# belongs to the atom at the jump, where F(X) = lo_{j+1} and F(X-) = hi_j.
mc_one <- function(k, n, range, alternative) {
  if (!is.null(range) && all(range$lo == range$hi) && length(range$lo) < n)
    return(mc_atoms(k, n, cummax(range$lo), alternative))
  U <- sorted_rows(stats::runif(k * n), k, n)
  if (is.null(range)) return(row_statistic(U, U, alternative))
  lo <- cummax(range$lo)
  hi <- cummax(range$hi)
  j <- findInterval(U, hi, left.open = TRUE)
  gap <- U < lo[j + 1L]
  Fx <- ifelse(gap, lo[j + 1L], U)
  Fl <- ifelse(gap, c(0, hi)[j + 1L], U)
  row_statistic(matrix(Fx, k), matrix(Fl, k), alternative)
}

# A purely discrete null, its range the atoms u_1 < ... < u_K (the values
# F takes): a sample is the counts C_j of the atoms, multinomial with
# probabilities u_j - u_(j-1), and with S_j = C_1 + ... + C_j the statistic
# is the largest S_j/n - u_j (D^+) and u_(j-1) - S_(j-1)/n (D^-) over all
# atoms, the values of F_n - F at and just before each point where F
# jumps: K steps a replicate instead of n.
mc_atoms <- function(k, n, u, alternative) {
  K <- length(u)
  C <- stats::rmultinom(k, n, diff(c(0, u)))
  for (j in seq_len(K)[-1L]) C[j, ] <- C[j - 1L, ] + C[j, ]
  S <- t(C)                                # k x K, S_j in column j
  Fx <- matrix(u, k, K, byrow = TRUE)
  Sl <- cbind(0, S[, -K, drop = FALSE])    # S_(j-1)
  Fl <- matrix(c(0, u[-K]), k, K, byrow = TRUE)
  dp <- pmax(0, row_max(S / n - Fx))
  dm <- pmax(0, row_max(Fl - Sl / n))
  switch(alternative, two.sided = pmax(dp, dm), greater = dp, less = dm)
}

# A fully specified null whose parameters are the sample's own estimates is
# the classic slip (the p-value is then far too large): the common
# continuous families are checked for parameters equal to the estimates
# from x, which no value fixed in advance matches by chance.
check_plugin <- function(x, nd) {
  fam <- closed_family(nd$cdf)
  if (is.null(fam) || !fam$name %in% c("pnorm", "plnorm", "pexp") || length(x) < 3L ||
      any(!is.finite(x)))
    return(invisible())
  given <- name_params(nd$cdf, nd$args)
  same <- function(a, b) is.numeric(a) && length(a) == 1L && isTRUE(abs(a - b) <= 1e-9 * abs(b))
  sds <- function(v) c(stats::sd(v), sqrt(mean((v - mean(v))^2)))
  hit <- switch(fam$name,
    pnorm = c(mean = same(given$mean, mean(x)), sd = any(vapply(sds(x), function(s) same(given$sd, s), TRUE))),
    plnorm = if (all(x > 0)) c(meanlog = same(given$meanlog, mean(log(x))),
                               sdlog = any(vapply(sds(log(x)), function(s) same(given$sdlog, s), TRUE))),
    pexp = c(rate = same(given$rate, 1 / mean(x))))
  hit <- names(hit)[hit]
  if (length(hit))
    warn_call(sprintf("%s %s the estimate%s from 'x' itself: if %s estimated from the same data, the p-value is far too large; use estimate = %s for a test that allows for it",
                      paste(sQuote(hit, FALSE), collapse = " and "), if (length(hit) > 1L) "are" else "is",
                      if (length(hit) > 1L) "s" else "", if (length(hit) > 1L) "they were" else "it was",
                      if (length(hit) > 1L) sprintf("c(%s)", paste(dQuote(hit, FALSE), collapse = ", "))
                      else dQuote(hit, FALSE)),
             "ksdist_warning_estimated")
  invisible()
}

# The limiting law's p-value and its logarithm.
limit_pvalue <- function(x, tol, alternative)
  c(pkolmogorov_limit(x, tol = tol, lower.tail = FALSE, alternative = alternative),
    pkolmogorov_limit(x, tol = tol, lower.tail = FALSE, log.p = TRUE, alternative = alternative))

# The limiting law with the usual finite-sample corrections, as a map from
# the statistic to the argument of the limiting law and back (for the
# critical value).  One sample: sqrt(n) D shifted by 1/(6 sqrt(n)) +
# (sqrt(n) D - 1)/(4 n), the first terms of the expansion of the exact law
# in powers of 1/sqrt(n) (relative error of the p-value about 1e-5 at
# n = 10^4 and 5% points, against 9e-3 unshifted).  Two samples: Stephens'
# D (sqrt(N) + 0.12 + 0.11/sqrt(N)) with N = m n/(m + n) (the lattice of
# attained values dominates what remains: about 1e-3 at N = 5000).
corrected_limit <- function(n, two = FALSE) {
  r <- sqrt(n)
  if (two) {
    k <- r + 0.12 + 0.11 / r
    list(to = function(D) k * D, from = function(x) x / k)
  } else {
    list(to = function(D) r * D + 1 / (6 * r) + (r * D - 1) / (4 * n),
         from = function(x) (x - 1 / (6 * r) + 1 / (4 * n)) / (1 + 1 / (4 * n)) / r)
  }
}

# Two samples ---------------------------------------------------------------

ks_two <- function(x, y, alternative, exact, tol, sig.level, B = NULL) {
  m <- length(x)
  n <- length(y)
  # Both empirical functions after each block of equal pooled values, as
  # counts: the statistic is K/(m n) with K a whole number, computed in
  # 64-bit integers, and exact as a double (m n is at most 2^50 wherever
  # the exact law is computed).
  s <- .Call(.ext$ksx_smirnov_statistic, x, y)
  k <- match(alternative, c("two.sided", "greater", "less"))
  K <- s$K[k]
  mn <- as.double(m) * n
  D <- K / mn
  exact_ok <- .Call(.ext$ksx_smirnov_exact_size, m, n)
  ties <- !is.null(s$blocks)
  lim <- corrected_limit(mn / (m + n), two = TRUE)
  qlim <- qkolmogorov_limit(sig.level, lower.tail = FALSE, alternative = alternative)
  # The exact p-value and critical value: one tail at K and a handful at
  # the critical value (about five evaluations for the quantile).
  cost <- if (!exact_ok) Inf else
    .Call(.ext$ksx_smirnov_seconds, K, m, n, alternative, s$blocks) +
      6 * .Call(.ext$ksx_smirnov_seconds, ceiling(lim$from(qlim) * mn), m, n, alternative, s$blocks)
  use_exact <- (if (is.null(exact)) cost <= exact_two_seconds else exact) && exact_ok
  if (use_exact && cost > max_seconds())
    stop_call(sprintf(paste("the exact p-value would take about %s here (an estimate), more than the limit of %s",
                            "(option 'ksdist.max_seconds'): use exact = FALSE (the limiting law),",
                            "B = 10000 (a Monte Carlo p-value), or raise the limit"),
                      format_seconds(cost), format_seconds(max_seconds())), "ksdist_error_time")
  mc <- !use_exact && !is.null(B)
  if (isTRUE(exact) && !exact_ok)
    warn_call(sprintf("the samples are too large for the exact distribution: %s is used",
                      if (mc) "a Monte Carlo p-value" else "the limiting one"),
              "ksdist_warning_size")
  se <- NULL
  if (use_exact) {
    p <- .Call(.ext$ksx_smirnov_pvalue, K, m, n, alternative, s$blocks)
    crit <- .Call(.ext$ksx_q_smirnov2, sig.level, m, n, FALSE, FALSE, alternative, s$blocks)
  } else if (mc) {
    # Permutations of the pooled sample: its values (ties included) are
    # kept and only which of them belong to x is drawn, so the p-value is
    # conditional on the pooled sample, as the exact one is on the ties.
    z <- sort(c(x, y))
    N <- m + n
    ends <- c(which(z[-1L] != z[-N]), N)
    Kstar <- run_replicates(B, max(1L, 2^20 %/% N),
                            function(k) mc_two(k, m, n, ends, alternative))
    mcp <- mc_pvalue(Kstar, K, sig.level, tol = 0)
    p <- mcp$p
    se <- mcp$se
    crit <- mcp$crit / mn
  } else {
    if (ties)
      warn_call(paste("ties are present: the p-value from the limiting distribution is approximate;",
                      "use exact = TRUE for the exact p-value given the ties"), "ksdist_warning_ties")
    p <- limit_pvalue(lim$to(D), tol, alternative)
    crit <- lim$from(qlim)
  }
  at <- s$at[k, ]
  method <- paste(if (use_exact) "Exact" else if (mc) "Monte Carlo" else "Asymptotic",
                  "two-sample Kolmogorov-Smirnov test")
  if ((use_exact || mc) && ties) method <- paste0(method, ", conditional on the ties")
  if (mc) method <- sprintf("%s (%s permutations of the pooled sample)", method,
                            format(B, scientific = FALSE))
  # Why not exact, where the user did not ask for the limiting law.
  if (!use_exact && !isFALSE(exact))
    method <- paste0(method, if (!exact_ok) " (the exact law is out of reach for m n above 2^50)"
                             else sprintf(" (the exact law would take about %s: exact = TRUE to compute it)",
                                          format_seconds(cost)))
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p[1L],
       log.p.value = p[2L], p.value.se = se, critical.value = crit, B = if (mc) B,
       method = method, exact = use_exact, x = s$x, y = s$y,
       segment = c(at[1], at[2] / m, at[3] / n))
}

# k permutation replicates of the two-sample statistic in counts, K = m n D:
# m of the N pooled positions drawn for x, the counts of x (cx) and y (cy)
# at the end of each block of equal values (ends), and the largest of
# n cx - m cy (D^+), of m cy - n cx (D^-) or of either.
mc_two <- function(k, m, n, ends, alternative) {
  N <- m + n
  m <- as.double(m)
  n <- as.double(n)
  vapply(seq_len(k), function(r) {
    lab <- logical(N)
    lab[sample.int(N, m)] <- TRUE
    cx <- cumsum(lab)[ends]
    d <- n * cx - m * (ends - cx)
    switch(alternative, two.sided = max(abs(d)), greater = max(0, d), less = max(0, -d))
  }, 0)
}

# Printing --------------------------------------------------------------------

# As print.htest, but the p-value as computed: format.pval() shows values it
# can show as it always does, and below its threshold (where it would print
# "< 2.2e-16") the value itself, from its logarithm when it is below the
# double range.
print.ksdist_test <- function(x, digits = getOption("digits"), ...) {
  cat("\n")
  cat(strwrap(x$method, prefix = "\t"), sep = "\n")
  cat("\n")
  cat("data:  ", x$data.name, "\n", sep = "")
  se <- if (!is.null(x$p.value.se))
    sprintf(" (Monte Carlo standard error %s)", format(x$p.value.se, digits = max(1L, digits - 5L)))
  cat(paste(names(x$statistic), "=", format(x$statistic, digits = max(1L, digits - 2L))),
      ", p-value = ", format_pvalue(x$p.value, x$log.p.value, max(1L, digits - 3L)), se, "\n", sep = "")
  cat("alternative hypothesis: ", x$alternative, "\n", sep = "")
  if (!is.null(x$estimate)) {
    cat("maximum-likelihood estimates:\n")
    print(x$estimate, digits = digits, ...)
  }
  cat("\n")
  invisible(x)
}

format_pvalue <- function(p, logp, digits) {
  if (is.na(p)) return("NA")
  if (p >= .Machine$double.eps) return(format.pval(p, digits = digits))
  if (p > 0) return(format(p, digits = digits))
  if (is.na(logp) || logp == -Inf) return("0")
  # 10^(logp / log(10)) as m e-k.
  e <- logp / log(10)
  k <- floor(e)
  sprintf("%se%d", format(10^(e - k), digits = digits), as.integer(k))
}
