# The two-sided Kolmogorov-Smirnov test.

# exact = NULL uses the exact distribution when it is valid (no ties) and
# cheap: for one sample when n D < 200 (a matrix of order below 400), for two
# samples when m n <= 1e8.
exact_one_limit <- 200
exact_two_limit <- 1e8

ks_test <- function(x, y, ..., exact = NULL, tol = 1e-6) {
  xname <- deparse1(substitute(x))
  yname <- deparse1(substitute(y))
  if (!is.null(exact) && (!is.logical(exact) || length(exact) != 1L || is.na(exact)))
    stop("'exact' must be NULL, TRUE or FALSE", call. = FALSE)
  tol <- check_tol(tol)
  x <- check_numeric(x, "x")
  x_na <- sum(is.na(x))
  x <- x[!is.na(x)]
  if (length(x) < 1L)
    stop("not enough (non-missing) 'x' observations", call. = FALSE)
  if (missing(y))
    stop("'y' must be a numeric vector or a distribution function (or its name)",
         call. = FALSE)

  if (is.numeric(y)) {
    y <- as.double(y)
    y_na <- sum(is.na(y))
    y <- y[!is.na(y)]
    if (length(y) < 1L)
      stop("not enough (non-missing) 'y' observations", call. = FALSE)
    res <- ks_two(x, y, exact, tol)
    res$data.name <- paste(na_note(xname, x_na), "and", na_note(yname, y_na))
  } else if (is.function(y) || is.character(y)) {
    if (is.character(y)) {
      if (length(y) != 1L || is.na(y))
        stop("'y' must name a single distribution function", call. = FALSE)
      fname <- y
      y <- get0(fname, envir = parent.frame(), mode = "function")
      if (is.null(y))
        stop(sprintf("'y' names no function: \"%s\"", fname), call. = FALSE)
    }
    res <- ks_one(x, y, list(...), exact, tol)
    res$data.name <- na_note(xname, x_na)
  } else {
    stop(sprintf("'y' must be a numeric vector or a distribution function (or its name), not %s",
                 describe(y)), call. = FALSE)
  }
  res$alternative <- "two-sided"
  class(res) <- c("ksdist_test", "htest")
  res
}

na_note <- function(name, k) {
  if (k == 0) name
  else sprintf("%s (%d missing value%s removed)", name, k, if (k == 1) "" else "s")
}

warn_ties <- function(what) {
  warning(sprintf(paste("ties are present: the exact %s does not apply;",
                        "the p-value from the limiting distribution is approximate"),
                  what), call. = FALSE)
}

ks_one <- function(x, cdf, args, exact, tol) {
  n <- length(x)
  xs <- sort(x)
  Fx <- do.call(cdf, c(list(xs), args))
  if (!is.numeric(Fx) || length(Fx) != n || anyNA(Fx) || any(Fx < 0 | Fx > 1))
    stop("'y' must be a distribution function returning one probability in [0, 1] for each 'x'",
         call. = FALSE)
  i <- seq_len(n)
  above <- i / n - Fx        # the empirical function just after x_(i)
  below <- Fx - (i - 1) / n  # ... and just before it
  D <- max(above, below)
  at <- if (max(above) >= max(below)) which.max(above) else which.max(below)

  use_exact <- if (is.null(exact)) n * D < exact_one_limit else exact
  if (anyDuplicated(xs) > 0) {
    warn_ties("one-sample distribution")
    use_exact <- FALSE
  }
  p <- if (use_exact) pkolmogorov(D, n, lower.tail = FALSE)
       else pkolmogorov_limit(sqrt(n) * D, tol = tol, lower.tail = FALSE)
  list(statistic = c(D = D), p.value = p,
       method = paste(if (use_exact) "Exact" else "Asymptotic",
                      "one-sample Kolmogorov-Smirnov test"),
       exact = use_exact, x = xs, cdf = function(t) do.call(cdf, c(list(t), args)),
       where = xs[at])
}

ks_two <- function(x, y, exact, tol) {
  m <- length(x)
  n <- length(y)
  xs <- sort(x)
  ys <- sort(y)
  z <- sort(unique(c(xs, ys)))
  # Both empirical functions at every pooled value, as counts: the statistic
  # is K/(m n) with K an integer, computed exactly.
  i <- findInterval(z, xs)
  j <- findInterval(z, ys)
  gap <- abs(i * n - j * m)
  K <- max(gap)
  D <- K / (m * n)

  use_exact <- if (is.null(exact)) m * n <= exact_two_limit else exact
  if (length(z) < m + n) {
    warn_ties("two-sample distribution")
    use_exact <- FALSE
  }
  p <- if (use_exact) psmirnov(D, m, n, lower.tail = FALSE)
       else pkolmogorov_limit(sqrt(m * n / (m + n)) * D, tol = tol, lower.tail = FALSE)
  list(statistic = c(D = D), p.value = p,
       method = paste(if (use_exact) "Exact" else "Asymptotic",
                      "two-sample Kolmogorov-Smirnov test"),
       exact = use_exact, x = xs, y = ys, where = z[which.max(gap)])
}
