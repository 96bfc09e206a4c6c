# The Kolmogorov-Smirnov test: one sample against a fully specified null
# distribution (continuous, discrete or mixed), or two samples, with the
# two-sided or a one-sided alternative.

ks_test <- function(x, ...) UseMethod("ks_test")

# Defaults for exact = NULL: the exact distribution is used up to these
# sizes (one sample: n; two samples: m n), where it costs well under a second.
exact_one_limit <- 1e4
exact_two_limit <- 1e8

ks_test.default <- function(x, y, ..., alternative = c("two.sided", "less", "greater"),
                            exact = NULL, tol = 1e-6, support = NULL) {
  xname <- deparse1(substitute(x))
  yname <- deparse1(substitute(y))
  alternative <- check_alternative(alternative)
  if (!is.null(exact) && (!is.logical(exact) || length(exact) != 1L || is.na(exact)))
    stop_call("'exact' must be NULL, TRUE or FALSE")
  tol <- check_tol(tol)
  x <- check_sample(x, "x")
  x_na <- sum(is.na(x))
  if (x_na) x <- x[!is.na(x)]
  if (length(x) < 1L)
    stop_call("not enough (non-missing) 'x' observations")
  if (missing(y))
    stop_call("'y' must be a second sample (a numeric vector) or a distribution function, its name, or a step function")

  if (is.numeric(y) || is.factor(y) || is_date(y)) {
    extra <- list(...)
    if (length(extra))
      stop_call(sprintf("the two-sample test takes no further arguments, but got %s",
                        describe_args(extra)))
    if (!is.null(support))
      stop_call("'support' belongs to a one-sample test against a distribution with jumps")
    y <- check_sample(y, "y")
    y_na <- sum(is.na(y))
    if (y_na) y <- y[!is.na(y)]
    if (length(y) < 1L)
      stop_call("not enough (non-missing) 'y' observations")
    res <- ks_two(x, y, alternative, exact, tol)
    res$data.name <- paste(na_note(xname, x_na), "and", na_note(yname, y_na))
    res$names <- c(xname, yname)
  } else {
    cdf <- null_function(y, parent.frame())
    res <- ks_one(x, cdf, list(...), alternative, exact, tol, support)
    res$data.name <- na_note(xname, x_na)
    res$names <- c(xname, if (is.character(y)) y else yname)
  }
  res$alternative <- alternative_text(alternative, !is.null(res$y))
  class(res) <- c("ksdist_test", "htest")
  res
}

ks_test.formula <- function(formula, data, subset, na.action, ...) {
  if (missing(formula) || length(formula) != 3L || length(formula[[3L]]) != 1L)
    stop_call("'formula' must be of the form 'values ~ group' with one grouping variable")
  mf <- match.call(expand.dots = FALSE)
  m <- match(c("formula", "data", "subset", "na.action"), names(mf), 0L)
  mf <- mf[c(1L, m)]
  mf[[1L]] <- quote(stats::model.frame)
  mf <- eval(mf, parent.frame())
  values <- mf[[1L]]
  g <- factor(mf[[2L]])
  if (nlevels(g) != 2L)
    stop_call(sprintf("the grouping variable '%s' must have exactly 2 levels, not %d",
                 names(mf)[2L], nlevels(g)))
  groups <- split(values, g)
  res <- ks_test.default(groups[[1L]], groups[[2L]], ...)
  res$data.name <- paste(names(mf)[1L], "by", names(mf)[2L])
  res$names <- paste(names(mf)[2L], "=", levels(g))
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

describe_args <- function(extra) {
  nm <- names(extra)
  if (is.null(nm)) nm <- rep("", length(extra))
  shown <- ifelse(nzchar(nm), nm, "an unnamed argument")
  paste(sQuote(shown, FALSE), collapse = ", ")
}

na_note <- function(name, k) {
  if (k == 0) name
  else sprintf("%s (%d missing value%s removed)", name, k, if (k == 1) "" else "s")
}

stat_name <- function(alternative)
  switch(alternative, two.sided = "D", greater = "D^+", less = "D^-")

# One sample ----------------------------------------------------------------

ks_one <- function(x, cdf, args, alternative, exact, tol, support) {
  n <- length(x)
  xs <- sort(x)
  F <- function(t) do.call(cdf, c(list(t), args))
  Fx <- check_cdf_values(F(xs), n)
  # Left limits, read at the largest double below each point: they differ
  # from the values only where the null jumps.
  Fl <- left_limit(F, xs, Fx)
  jumps <- any(Fx - Fl > 1e-12)
  if (!jumps) Fl <- Fx
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
  if (inherits(cdf, "stepfun") || !is.null(support) || jumps) {
    range <- null_range(cdf, args, support, xs, Fx, Fl)
    if (is.null(range) && jumps)
      warn_call(paste("the null distribution has jumps but its support could not be determined:",
                    "pass 'support' (the points where it jumps) for the exact p-value;",
                    "the p-value for a continuous null is used, which is conservative"))
  }
  discrete <- !is.null(range) && !identical(range, list(lo = 0, hi = 1))
  if (ties && !discrete)
    warn_call(paste("ties are present, which have probability 0 under a continuous null:",
                  "the p-value is that of the statistic as computed from the tied data"))
  use_exact <- if (is.null(exact)) n <= exact_one_limit else exact
  if (use_exact && discrete) {
    p <- .Call(.ext$ksx_discrete_pvalue, D, n, range$lo, range$hi, alternative)
  } else if (use_exact) {
    p <- pkolmogorov(D, n, lower.tail = FALSE, alternative = alternative)
  } else {
    p <- pkolmogorov_limit(sqrt(n) * D, tol = tol, lower.tail = FALSE, alternative = alternative)
  }
  method <- paste(if (use_exact) "Exact" else "Asymptotic", "one-sample Kolmogorov-Smirnov test")
  if (discrete) method <- paste0(method, if (use_exact) ", null distribution with jumps"
                                         else ", null distribution with jumps (conservative)")
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p,
       method = method, exact = use_exact, x = xs, cdf = F, segment = segment,
       discrete = discrete)
}

# Two samples ---------------------------------------------------------------

ks_two <- function(x, y, alternative, exact, tol) {
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
    warn_call("the samples are too large for the exact distribution: the limiting one is used")
  if (use_exact) {
    p <- .Call(.ext$ksx_smirnov_pvalue, K, m, n, alternative, s$blocks)
  } else {
    if (ties)
      warn_call(paste("ties are present: the p-value from the limiting distribution is approximate;",
                    "use exact = TRUE for the exact p-value given the ties"))
    p <- pkolmogorov_limit(sqrt(mn / (m + n)) * D, tol = tol, lower.tail = FALSE,
                           alternative = alternative)
  }
  at <- s$at[k, ]
  method <- paste(if (use_exact) "Exact" else "Asymptotic", "two-sample Kolmogorov-Smirnov test")
  if (use_exact && ties) method <- paste0(method, ", conditional on the ties")
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = p,
       method = method, exact = use_exact, x = s$x, y = s$y,
       segment = c(at[1], at[2] / m, at[3] / n))
}
