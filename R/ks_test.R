# The Kolmogorov-Smirnov test: one sample against a fully specified null
# distribution (continuous, discrete or mixed), or two samples, with the
# two-sided or a one-sided alternative.

ks_test <- function(x, ...) UseMethod("ks_test")

# Defaults for exact = NULL: the exact distribution is used up to these
# sizes (one sample, continuous null: n; with jumps: n; two samples: m n),
# where it costs about a second at most.
exact_one_limit <- 1e6
exact_discrete_limit <- 1e4
exact_two_limit <- 1e8

# ks_test's own arguments, suggested for misspelt ones.
ks_test_args <- c("alternative", "exact", "tol", "support", "sig.level")

ks_test.default <- function(x, y, ..., alternative = c("two.sided", "less", "greater"),
                            exact = NULL, tol = 1e-6, support = NULL, sig.level = 0.05) {
  xname <- deparse1(substitute(x))
  yname <- deparse1(substitute(y))
  alternative <- check_alternative(alternative)
  if (!is.null(exact) && (!is.logical(exact) || length(exact) != 1L || is.na(exact)))
    stop_call("'exact' must be NULL, TRUE or FALSE", "ksdist_error_argument")
  tol <- check_tol(tol)
  if (!is.numeric(sig.level) || length(sig.level) != 1L || is.na(sig.level) ||
      sig.level <= 0 || sig.level >= 1)
    stop_call("'sig.level' must be a single number between 0 and 1", "ksdist_error_argument")
  x <- check_sample(x, "x")
  x_na <- sum(is.na(x))
  if (x_na) x <- x[!is.na(x)]
  if (length(x) < 1L)
    stop_call("not enough (non-missing) 'x' observations", "ksdist_error_argument")
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
    y <- check_sample(y, "y")
    y_na <- sum(is.na(y))
    if (y_na) y <- y[!is.na(y)]
    if (length(y) < 1L)
      stop_call("not enough (non-missing) 'y' observations", "ksdist_error_argument")
    res <- ks_two(x, y, alternative, exact, tol, sig.level)
    res$data.name <- paste(na_note(xname, x_na), "and", na_note(yname, y_na))
    res$names <- c(xname, yname)
  } else {
    nd <- null_dist(y, list(...), parent.frame(), "y", ks_test_args)
    res <- ks_one(x, nd, alternative, exact, tol, support, sig.level)
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
  m <- match.call(expand.dots = FALSE)
  if (!missing(data) && is.matrix(data)) m$data <- as.data.frame(data)
  m[[1L]] <- quote(stats::model.frame)
  m$... <- NULL
  mf <- eval(m, parent.frame())
  response <- attr(attr(mf, "terms"), "response")
  values <- mf[[response]]
  if (!is.null(dim(values)) && NCOL(values) > 1L)
    stop_call(sprintf("the response '%s' has %d columns: test one variable at a time",
                      names(mf)[response], NCOL(values)), "ksdist_error_argument")
  values <- as.vector(values)
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

ks_one <- function(x, nd, alternative, exact, tol, support, sig.level) {
  n <- length(x)
  xs <- sort(x)
  F <- nd$F
  Fx <- F(xs)
  check_null_monotone(nd, xs, Fx)
  # Left limits: they differ from the values only where the null jumps.
  Fl <- left_limit(F, xs, Fx)
  jumps <- any(Fl < Fx)
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

  ties <- anyDuplicated(xs) > 0
  range <- NULL
  if (nd$stepfun || !is.null(support) || jumps) {
    range <- null_range(nd, support, xs, Fx, Fl)
    if (is.null(range) && jumps)
      warn_call(paste("the null distribution has jumps but its support could not be determined:",
                      "pass 'support' (the points where it jumps) for the exact p-value;",
                      "the p-value for a continuous null is used, which is conservative"),
                "ksdist_warning_support")
  }
  discrete <- !is.null(range) && !identical(range, list(lo = 0, hi = 1))
  if (ties && !discrete)
    warn_call(paste("ties are present, which have probability 0 under a continuous null:",
                    "the p-value is that of the statistic as computed from the tied data"),
              "ksdist_warning_ties")
  use_exact <- if (is.null(exact)) n <= (if (discrete) exact_discrete_limit else exact_one_limit) else exact
  if (use_exact && discrete) {
    p <- .Call(.ext$ksx_discrete_pvalue, D, n, range$lo, range$hi, alternative)
    crit <- .Call(.ext$ksx_q_discrete, sig.level, n, range$lo, range$hi, FALSE, FALSE, alternative)
  } else if (use_exact) {
    p <- c(pkolmogorov(D, n, lower.tail = FALSE, alternative = alternative),
           pkolmogorov(D, n, lower.tail = FALSE, log.p = TRUE, alternative = alternative))
    crit <- qkolmogorov(sig.level, n, lower.tail = FALSE, alternative = alternative)
  } else {
    p <- limit_pvalue(sqrt(n) * D, tol, alternative)
    crit <- qkolmogorov_limit(sig.level, lower.tail = FALSE, alternative = alternative) / sqrt(n)
  }
  method <- paste(if (use_exact) "Exact" else "Asymptotic", "one-sample Kolmogorov-Smirnov test")
  if (discrete) method <- paste0(method, if (use_exact) ", null distribution with jumps"
                                         else ", null distribution with jumps (conservative)")
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p[1L],
       log.p.value = p[2L], critical.value = crit, method = method, exact = use_exact,
       x = xs, cdf = F, segment = segment, discrete = discrete)
}

# The limiting law's p-value and its logarithm.
limit_pvalue <- function(x, tol, alternative)
  c(pkolmogorov_limit(x, tol = tol, lower.tail = FALSE, alternative = alternative),
    pkolmogorov_limit(x, tol = tol, lower.tail = FALSE, log.p = TRUE, alternative = alternative))

# Two samples ---------------------------------------------------------------

ks_two <- function(x, y, alternative, exact, tol, sig.level) {
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
  use_exact <- (if (is.null(exact)) mn <= exact_two_limit else exact) && exact_ok
  if (isTRUE(exact) && !exact_ok)
    warn_call("the samples are too large for the exact distribution: the limiting one is used",
              "ksdist_warning_size")
  if (use_exact) {
    p <- .Call(.ext$ksx_smirnov_pvalue, K, m, n, alternative, s$blocks)
    crit <- .Call(.ext$ksx_q_smirnov2, sig.level, m, n, FALSE, FALSE, alternative, s$blocks)
  } else {
    if (ties)
      warn_call(paste("ties are present: the p-value from the limiting distribution is approximate;",
                      "use exact = TRUE for the exact p-value given the ties"), "ksdist_warning_ties")
    scale <- sqrt(mn / (m + n))
    p <- limit_pvalue(scale * D, tol, alternative)
    crit <- qkolmogorov_limit(sig.level, lower.tail = FALSE, alternative = alternative) / scale
  }
  at <- s$at[k, ]
  method <- paste(if (use_exact) "Exact" else "Asymptotic", "two-sample Kolmogorov-Smirnov test")
  if (use_exact && ties) method <- paste0(method, ", conditional on the ties")
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p[1L],
       log.p.value = p[2L], critical.value = crit, method = method, exact = use_exact,
       x = s$x, y = s$y, segment = c(at[1], at[2] / m, at[3] / n))
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
  cat(paste(names(x$statistic), "=", format(x$statistic, digits = max(1L, digits - 2L))),
      ", p-value = ", format_pvalue(x$p.value, x$log.p.value, max(1L, digits - 3L)), "\n", sep = "")
  cat("alternative hypothesis: ", x$alternative, "\n", sep = "")
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
