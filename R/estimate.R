# One-sample tests whose null has parameters estimated from the same data:
# maximum-likelihood estimates, the statistic against the fitted null, and
# its p-value by a parametric bootstrap that estimates again on every
# replicate.
#
# Plugging estimates into the null makes it lie closer to the data than the
# true distribution does, so D is smaller than under a fully specified null
# and the exact law of D (pkolmogorov) gives p-values far too large.  The
# law of D with estimated parameters is that of the same procedure applied
# to samples from the fitted null: draw B samples of size n from it, fit
# each again, compute D* against its own fit, and count how often D* >= D.
# For a location-scale family (after a log for the lognormal) D is a
# function of the standardised sample only, so its law is free of the true
# parameters and the bootstrap p-value is exact up to Monte Carlo error; for
# other families (Poisson, geometric, ...) it is the law at the estimates,
# which converges to the right one as n grows.
#
# The replicates are computed as matrices, a chunk of rows at a time, one
# row per replicate: sorted draws, row-wise estimates, the fitted null at
# every point and the statistic as row maxima.  Families without closed
# forms are fitted one replicate at a time by optim().

# Families -------------------------------------------------------------------

# Each family, by its distribution function's name in stats: the
# parameters that can be estimated, a function fit(X, par, est) that fills
# the estimated parameters in par (vectors, one value per row of the
# sorted sample matrix X) and leaves the others, the random generator, its
# name in messages, whether it jumps at the whole numbers (lattice: then
# F(x-) = F(x - 1)), a check of the data against its support (what it
# takes, or NULL), and when a fit is degenerate (a continuous family's
# scale, rate or range collapsed to a point).
ls_fit <- function(loc, sc) function(X, par, est) {
  if (loc %in% est) par[[loc]] <- rowMeans(X)
  if (sc %in% est) par[[sc]] <- sqrt(rowMeans((X - par[[loc]])^2))
  par
}

est_families <- list(
  pnorm = list(params = c("mean", "sd"), fit = ls_fit("mean", "sd"), r = "rnorm",
               what = "normal",
               degenerate = function(par) par$sd == 0),
  plnorm = list(params = c("meanlog", "sdlog"), r = "rlnorm", what = "lognormal",
                fit = function(X, par, est) ls_fit("meanlog", "sdlog")(log(X), par, est),
                support = function(x, par) if (any(x <= 0)) "positive numbers",
                degenerate = function(par) par$sdlog == 0),
  pexp = list(params = "rate", r = "rexp", what = "exponential",
              fit = function(X, par, est) { par$rate <- 1 / rowMeans(X); par },
              support = function(x, par) if (any(x < 0)) "non-negative numbers",
              degenerate = function(par) !is.finite(par$rate)),
  punif = list(params = c("min", "max"), r = "runif", what = "uniform",
               fit = function(X, par, est) {
                 if ("min" %in% est) par$min <- X[, 1L]
                 if ("max" %in% est) par$max <- X[, ncol(X)]
                 par
               },
               support = function(x, par) {
                 lo <- is.numeric(par$min) && any(x < par$min)
                 hi <- is.numeric(par$max) && any(x > par$max)
                 if (lo || hi)
                   if (is.numeric(par$min) && is.numeric(par$max))
                     sprintf("numbers from min = %s to max = %s", format(par$min), format(par$max))
                   else if (lo) sprintf("numbers from min = %s up", format(par$min))
                   else sprintf("numbers up to max = %s", format(par$max))
               },
               degenerate = function(par) par$min >= par$max),
  plogis = list(params = c("location", "scale"), r = "rlogis", what = "logistic",
                fit = function(X, par, est) logistic_fit(X, par, est),
                degenerate = function(par) par$scale == 0),
  ppois = list(params = "lambda", r = "rpois", what = "Poisson", lattice = TRUE,
               fit = function(X, par, est) { par$lambda <- rowMeans(X); par },
               support = function(x, par) if (any(x < 0 | x != round(x))) "non-negative whole numbers"),
  pgeom = list(params = "prob", r = "rgeom", what = "geometric", lattice = TRUE,
               fit = function(X, par, est) { par$prob <- 1 / (1 + rowMeans(X)); par },
               support = function(x, par) if (any(x < 0 | x != round(x))) "non-negative whole numbers"),
  pbinom = list(params = "prob", r = "rbinom", what = "binomial", lattice = TRUE,
                fit = function(X, par, est) { par$prob <- rowMeans(X) / par$size; par },
                support = function(x, par)
                  if (any(x < 0 | x != round(x) | x > par$size))
                    sprintf("whole numbers from 0 to size = %s", format(par$size)))
)

# The family of a distribution function that is one of stats' own, or NULL.
closed_family <- function(cdf) {
  ns <- asNamespace("stats")
  for (nm in names(est_families))
    if (identical(cdf, get(nm, envir = ns))) return(c(est_families[[nm]], name = nm))
  NULL
}

# The logistic has no closed-form estimates.  With a = 1/scale and
# b = location/scale its log-likelihood n log a + sum g(a x - b), g = log of
# the standard density, is concave in (a, b) (g is concave), so Newton's
# method with step halving converges from any start; each row is first
# standardised by its mean and standard deviation (the estimates are
# equivariant), which keeps the iteration well conditioned at any location
# and scale.  All rows iterate together.
logistic_fit <- function(X, par, est) {
  n <- ncol(X)
  loc_est <- "location" %in% est
  sc_est <- "scale" %in% est
  # Standardise: y = (x - c) / d, so the fit on y gives location c + d l and
  # scale d s.  A fixed location or scale is used as c or d.
  c0 <- if (loc_est) rowMeans(X) else par$location
  d0 <- if (sc_est) sqrt(rowMeans((X - c0)^2)) else par$scale
  # Rows of equal values have no finite fit; their scale is set to 0 below.
  flat <- d0 == 0
  d0 <- ifelse(flat, 1, d0)
  Y <- (X - c0) / d0
  rows <- nrow(Y)
  # Start from the moments (the logistic's sd is scale pi / sqrt(3)): with
  # both estimated the standardised rows have mean 0 and sd 1.
  a <- rep(if (sc_est) pi / sqrt(3) else 1, rows)
  if (sc_est && !loc_est) a <- a / sqrt(rowMeans(Y^2))
  a[!is.finite(a) | a <= 0] <- 1
  b <- rep(0, rows)
  loglik <- function(a, b, Y) n * log(a) + rowSums(stats::dlogis(a * Y - b, log = TRUE))
  # The likelihood is evaluated only to guard large steps: near the
  # optimum (steps below 1e-3 relative) Newton's step on this smooth
  # concave function, well conditioned after standardising, always
  # increases it.  NA: not evaluated at the current point.
  ll <- rep(NA_real_, rows)
  live <- seq_len(rows)
  # With h = tanh(z/2): g'(z) = -h and g''(z) = (h^2 - 1)/2, so every sum
  # needed comes from sums of h, h y, h^2, h^2 y, h^2 y^2 and the rows'
  # constant sums of y and y^2.
  sy <- rowSums(Y)
  syy <- rowSums(Y * Y)
  for (it in 1:100) {
    Yl <- if (length(live) == rows) Y else Y[live, , drop = FALSE]
    al <- a[live]
    bl <- b[live]
    h <- tanh((al / 2) * Yl - bl / 2)
    h2 <- h * h
    if (sc_est) {
      h2y <- h2 * Yl
      sa <- n / al - rowSums(h * Yl)
      haa <- -n / al^2 + (rowSums(h2y * Yl) - syy[live]) / 2
    }
    if (loc_est) {
      sb <- rowSums(h)
      hbb <- (rowSums(h2) - n) / 2
    }
    if (sc_est && loc_est) {
      hab <- -(rowSums(h2y) - sy[live]) / 2
      det <- haa * hbb - hab^2
      da <- -(hbb * sa - hab * sb) / det
      db <- -(haa * sb - hab * sa) / det
    } else if (sc_est) {
      da <- -sa / haa
      db <- 0 * al
    } else {
      da <- 0 * al
      db <- -sb / hbb
    }
    da[!is.finite(da)] <- 0
    db[!is.finite(db)] <- 0
    # Halve the step where it is large and leaves a > 0 or lowers the
    # likelihood.
    step <- rep(1, length(live))
    guard <- which(abs(da) > 1e-3 * al | abs(db) > 1e-3 * pmax(1, abs(bl)))
    lll <- ll[live]
    if (length(guard)) {
      need <- guard[is.na(lll[guard])]
      if (length(need)) lll[need] <- loglik(al[need], bl[need], Yl[need, , drop = FALSE])
    }
    nll <- rep(NA_real_, length(live))
    for (halving in 1:60) {
      if (!length(guard)) break
      na <- al[guard] + step[guard] * da[guard]
      nb <- bl[guard] + step[guard] * db[guard]
      v <- rep(-Inf, length(guard))
      pos <- na > 0
      if (any(pos)) v[pos] <- loglik(na[pos], nb[pos], Yl[guard[pos], , drop = FALSE])
      nll[guard] <- v
      bad <- !(v >= lll[guard] - 1e-12 * abs(lll[guard]))
      if (!any(bad)) break
      step[guard[bad]] <- step[guard[bad]] / 2
      guard <- guard[bad]
    }
    na <- al + step * da
    nb <- bl + step * db
    a[live] <- na
    b[live] <- nb
    ll[live] <- nll
    # Convergence is quadratic: after a full step below 1e-8 the error is
    # of the order of its square, below rounding.
    done <- step == 1 & abs(da) <= 1e-8 * na & abs(db) <= 1e-8 * pmax(1, abs(nb))
    live <- live[!done]
    if (!length(live)) break
  }
  if (loc_est) par$location <- ifelse(flat, c0, c0 + d0 * b / a)
  if (sc_est) par$scale <- ifelse(flat, 0, d0 / a)
  par
}

# Statistics of many samples at once ----------------------------------------

# The largest element of each row.
row_max <- function(M) M[cbind(seq_len(nrow(M)), max.col(M, ties.method = "first"))]

# D, D^+ or D^- of each row, from the null at the sorted sample (Fx) and
# just before it (Fl), with the same arithmetic as ks_one: i/n - F(x_(i))
# above and F(x_(i)-) - (i - 1)/n below.
row_statistic <- function(Fx, Fl, alternative) {
  b <- nrow(Fx)
  n <- ncol(Fx)
  i <- rep(seq_len(n), each = b)
  dp <- if (alternative != "less") pmax(0, row_max(i / n - Fx))
  dm <- if (alternative != "greater") pmax(0, row_max(Fl - (i - 1) / n))
  switch(alternative, two.sided = pmax(dp, dm), greater = dp, less = dm)
}

# b samples of size n as the rows of a b x n matrix, each row sorted.  The
# draws come one sample after the other (each sample's n draws in a row of
# the generator's stream), so the replicates do not depend on how many are
# drawn at a time.
sorted_rows <- function(draws, b, n) {
  o <- order(rep(seq_len(b), each = n), draws, method = "radix")
  t(matrix(draws[o], n, b))
}

# Counting the replicates -----------------------------------------------------

# Runs chunk(k) (which returns k replicate statistics) until B are done,
# `per` at a time: R acts on an interrupt between chunks, and a progress
# bar appears once the run looks like it will take long (progress_wanted).  The chunks
# depend only on B and per, never on the clock, so set.seed() reproduces
# the result.
run_replicates <- function(B, per, chunk, clock = function() proc.time()[["elapsed"]]) {
  out <- numeric(B)
  done <- 0
  bar <- NULL
  t0 <- clock()
  on.exit(if (!is.null(bar)) close(bar))
  while (done < B) {
    k <- min(per, B - done)
    out[done + seq_len(k)] <- chunk(k)
    done <- done + k
    .Call(.ext$ksx_poll)
    if (is.null(bar) && done < B && progress_wanted((clock() - t0) * B / done))
      bar <- utils::txtProgressBar(max = B, style = 3)
    if (!is.null(bar)) utils::setTxtProgressBar(bar, done)
  }
  out
}

# The Monte Carlo p-value (1 + #{T* >= t}) / (B + 1), which is a valid
# p-value for any B (the observed sample is one more draw from the same
# law), its standard error sqrt(p (1 - p) / B), and the critical value at
# sig.level: the test rejects (p <= sig.level) exactly when the statistic
# exceeds it.  Replicates within rounding of t count as ties, as R's own
# simulated p-values do (tol = 0 for statistics that are whole numbers).
mc_pvalue <- function(stat, obs, sig.level, tol = 64 * .Machine$double.eps) {
  B <- length(stat)
  k <- sum(stat >= obs * (1 - tol))
  p <- (1 + k) / (B + 1)
  r <- floor(sig.level * (B + 1) * (1 + 64 * .Machine$double.eps)) - 1
  crit <- if (r < 0) Inf else -sort(-stat, partial = r + 1)[r + 1]
  list(p = c(p, log(p)), se = sqrt(p * (1 - p) / B), crit = crit)
}

# Default numbers of replicates, so that a call takes about a second: up to
# 10^4 for the families computed as matrices (fewer for long samples, not
# below 1000), 1000 for those fitted one replicate at a time.
default_B <- function(n, closed) {
  if (!closed) return(1000)
  for (B in c(10000, 5000, 2000)) if (B * n <= 1e6) return(B)
  1000
}

# The estimated-parameter test ----------------------------------------------

# The parameters of a distribution function: its arguments after the first,
# without those that change what it returns.
null_params <- function(cdf) {
  f <- names(cdf_formals(cdf))
  setdiff(f[-1L], c("lower.tail", "log.p", "log", "..."))
}

# The given parameters named after the arguments of cdf they match (by
# name, partially or by position, as a call would match them).
name_params <- function(cdf, args) {
  if (!length(args)) return(args)
  f <- if (is.primitive(cdf)) args(cdf) else cdf
  first <- names(cdf_formals(f))[1L]
  call <- as.call(c(list(as.name("F"), as.name(".q")), args))
  mc <- tryCatch(match.call(f, call), error = function(e) NULL)
  if (is.null(mc)) return(args)
  out <- as.list(mc)[-1L]
  out[names(out) != first]
}

check_B <- function(B) {
  if (!is.numeric(B) || length(B) != 1L || is.na(B) || B < 1 || B != round(B) || B > 2^31 - 1)
    stop_call("'B' must be a whole number of at least 1: the number of Monte Carlo replicates",
              "ksdist_error_argument")
  as.double(B)
}

# The checks of 'estimate' against the null nd (label: its name for
# messages); fixed: its given parameters, named.
check_estimate <- function(estimate, nd, fixed, label) {
  if (!is.character(estimate) || !length(estimate) || anyNA(estimate) || !all(nzchar(estimate)))
    stop_call(sprintf("'estimate' must name the parameters of the null to estimate, such as c(\"mean\", \"sd\"), not %s",
                      if (is.character(estimate)) "an empty or missing name" else describe(estimate)),
              "ksdist_error_argument")
  if (nd$stepfun)
    stop_call("'estimate' needs a null with parameters, but a step function has none",
              "ksdist_error_estimate")
  params <- null_params(nd$cdf)
  has_dots <- "..." %in% names(cdf_formals(nd$cdf))
  dup <- estimate[duplicated(estimate)]
  if (length(dup))
    stop_call(sprintf("'estimate' names '%s' twice", dup[1L]), "ksdist_error_argument")
  unknown <- setdiff(estimate, params)
  if (length(unknown)) {
    u <- unknown[1L]
    close <- params[agrepl(u, params, max.distance = 0.25) | startsWith(params, u)]
    stop_call(sprintf("'estimate' names '%s', which is not a parameter of %s%s%s", u, label,
                      if (length(params)) sprintf(" (its parameters are %s)", paste(sQuote(params, FALSE), collapse = ", "))
                      else if (has_dots) " (it takes its parameters through '...', whose names cannot be known)"
                      else " (it has none)",
                      if (length(close)) sprintf("; did you mean '%s'?", close[1L]) else ""),
              "ksdist_error_estimate")
  }
  # Two forms of one parameter (pgamma's scale = 1/rate): the default of
  # one is written in terms of the other.
  fm <- cdf_formals(nd$cdf)
  for (p in estimate) {
    alias <- intersect(setdiff(all.vars(fm[[p]]), p), estimate)
    if (length(alias))
      stop_call(sprintf("'%s' and '%s' are two forms of one parameter of %s: estimate one of them",
                        alias[1L], p, label), "ksdist_error_estimate")
  }
  both <- intersect(estimate, names(fixed))
  if (length(both))
    stop_call(sprintf("'%s' is both given and estimated: give its value, or estimate it, not both", both[1L]),
              "ksdist_error_estimate")
  invisible()
}

# The values of a closed-form family's parameters that are not estimated:
# given, or the function's defaults (constants for all of them); one
# without a default must be given (or estimated, where it can be: pbinom's
# size, a whole number, cannot).
family_par <- function(fam, cdf, fixed, estimate, label) {
  given_only <- setdiff(estimate, fam$params)
  if (length(given_only))
    stop_call(sprintf("'%s' of %s is given, not estimated: of its parameters only %s can be estimated",
                      given_only[1L], label, paste(sQuote(fam$params, FALSE), collapse = " and ")),
              "ksdist_error_estimate")
  fm <- formals(cdf)
  par <- list()
  for (p in null_params(cdf)) {
    if (p %in% names(fixed)) {
      par[[p]] <- fixed[[p]]
    } else if (!p %in% estimate) {
      if (identical(fm[[p]], quote(expr = )))
        stop_call(sprintf("'%s' of %s must be given%s", p, label,
                          if (p %in% fam$params) " or estimated" else ""),
                  "ksdist_error_estimate")
      par[[p]] <- eval(fm[[p]], par, baseenv())
    }
  }
  for (p in names(par))
    if (!is.numeric(par[[p]]) || length(par[[p]]) != 1L || !is.finite(par[[p]]))
      stop_call(sprintf("'%s' of %s must be a finite number to estimate the other parameters", p, label),
                "ksdist_error_estimate")
  par
}

# The one-sample test with the parameters named in estimate fitted to x.
# x: the observations (no NA); y: the null as given; args: its given
# parameters; env: where its name is looked up; yname: how y was written.
ks_estimated <- function(x, y, args, estimate, B, alternative, sig.level, env, yname = NULL) {
  nd0 <- null_dist(y, args, env, "y", ks_test_args)
  label <- nd0$label
  # A function passed by its name (pnorm, not "pnorm") is called by it.
  if (is.function(y) && !is.null(yname) && make.names(yname) == yname) label <- yname
  fixed <- name_params(nd0$cdf, args)
  check_estimate(estimate, nd0, fixed, label)
  if (any(!is.finite(x)))
    stop_call(sprintf("estimating parameters needs finite observations, but 'x' has %d infinite value%s",
                      sum(!is.finite(x)), if (sum(!is.finite(x)) == 1L) "" else "s"),
              "ksdist_error_estimate")
  n <- length(x)
  xs <- sort(x)
  fam <- closed_family(nd0$cdf)
  if (!is.null(fam)) {
    par <- family_par(fam, nd0$cdf, fixed, estimate, label)
    if (!is.null(fam$support) && !is.null(bad <- fam$support(xs, par)))
      stop_call(sprintf("the %s distribution has no parameters that fit 'x': it takes %s only",
                        fam$what, bad), "ksdist_error_estimate")
    fitter <- closed_fitter(fam, par, estimate, n)
  } else {
    fitter <- numeric_fitter(y, nd0, fixed, estimate, env, label, n)
  }
  theta <- fitter$fit_observed(xs)
  # Estimates on the boundary: a discrete family's point mass (a Poisson
  # with lambda = 0 for all zeros) is one of its members and the test goes
  # on (D = 0, p = 1); a continuous family's (scale 0 for equal values) is
  # not, and no continuous null gives tied data.
  if (!is.null(fam$degenerate) && isTRUE(fam$degenerate(theta)))
    stop_call(sprintf("the fitted %s distribution is degenerate (%s): %s, which no continuous distribution gives; the test has no meaning here",
                      fam$what, paste(sprintf("%s = %s", estimate, vapply(theta[estimate], format, "")), collapse = ", "),
                      if (n == 1L) "there is a single observation" else "the observations are all equal"),
              "ksdist_error_estimate")
  for (p in estimate) {
    v <- theta[[p]]
    if (!is.numeric(v) || length(v) != 1L || !is.finite(v))
      stop_call(sprintf("the maximum-likelihood estimate of '%s' is not a finite number (%s)", p, format(v)),
                "ksdist_error_estimate")
  }
  est <- unlist(theta[estimate])
  # The fitted null, through the same checks as a null given outright, for
  # the statistic's location, the plot and the warnings about ties.
  nd <- null_dist(y, c(fixed, as.list(est)), env, "y", ks_test_args)
  st <- one_stat(xs, nd, alternative)
  if (st$ties && !st$jumps) warn_ties_continuous()
  # D as the replicates compute it, so that a replicate equal to the data
  # gives the same double.
  D <- fitter$stat(matrix(xs, 1L), alternative)
  if (is.null(B)) B <- default_B(n, !is.null(fam))
  Dstar <- run_replicates(B, fitter$per, function(k) fitter$replicates(k, theta, alternative))
  failed <- sum(is.na(Dstar))
  if (failed) {
    warn_call(sprintf("the fit failed on %d of %d replicates; they are counted as at least as extreme as the data (a conservative p-value)",
                      failed, B), "ksdist_warning_estimate")
    Dstar[is.na(Dstar)] <- Inf
  }
  mc <- mc_pvalue(Dstar, D, sig.level)
  what <- paste(estimate, collapse = " and ")
  if (length(estimate) > 2L) what <- paste(paste(estimate[-length(estimate)], collapse = ", "), "and",
                                           estimate[length(estimate)])
  method <- sprintf("One-sample Kolmogorov-Smirnov test of %s with estimated %s, parametric bootstrap (%s replicates)",
                    label, what, format(B, big.mark = "", scientific = FALSE))
  list(statistic = stats::setNames(D, stat_name(alternative)), p.value = mc$p[1L],
       log.p.value = mc$p[2L], p.value.se = mc$se, critical.value = mc$crit, B = B,
       estimate = est, method = method, exact = FALSE, x = xs, cdf = nd$F,
       segment = st$segment, discrete = st$jumps)
}

# Fitting and replicating: closed forms --------------------------------------

closed_fitter <- function(fam, par, estimate, n) {
  rfun <- get(fam$r, envir = asNamespace("stats"))
  cdf <- get(fam$name, envir = asNamespace("stats"))
  lattice <- isTRUE(fam$lattice)
  fit <- function(X) fam$fit(X, par, estimate)
  stat <- function(X, alternative, th = fit(X)) {
    b <- nrow(X)
    K <- max(X)
    if (lattice && K + 2 <= ncol(X)) {
      # Few values: F at 0..K for each row once, with F(-1) = 0 before, and
      # F(x) and F(x - 1) looked up (the same doubles as evaluating them).
      Tab <- cbind(0, matrix(do.call(cdf, c(list(rep(0:K, each = b)), th)), b))
      at <- seq_len(b) + X * b
      Fx <- matrix(Tab[at + b], b)
      Fl <- matrix(Tab[at], b)
    } else {
      Fx <- matrix(do.call(cdf, c(list(X), th)), b)
      Fl <- if (lattice) matrix(do.call(cdf, c(list(X - 1), th)), b) else Fx
    }
    row_statistic(Fx, Fl, alternative)
  }
  # Chunks of about 2^17 values (1 MB a matrix) stay in cache: twice as
  # fast as 2^20 for the logistic, and the replicates do not depend on it.
  list(per = max(1L, 2^17 %/% n),
       fit_observed = function(xs) fit(matrix(xs, 1L)),
       stat = function(X, alternative) stat(X, alternative),
       replicates = function(k, theta, alternative) {
         X <- sorted_rows(do.call(rfun, c(list(k * n), theta)), k, n)
         stat(X, alternative)
       })
}

# Fitting and replicating: numerical maximisation ------------------------------

# A distribution function's companion ("d", "r" or "q" for "p"): from the
# name it was given by, or for a function object that is one of stats' own,
# from stats.  NULL when there is none.
companion <- function(y, cdf, letter, env) {
  if (is.character(y)) {
    nm <- function_name(y, env)
    if (!startsWith(nm$name, "p")) return(NULL)
    return(nm$find(paste0(letter, substring(nm$name, 2L))))
  }
  ns <- asNamespace("stats")
  for (nm in ls(ns, pattern = "^p")) {
    f <- get(nm, envir = ns)
    if (is.function(f) && identical(f, cdf))
      return(get0(paste0(letter, substring(nm, 2L)), envir = ns, mode = "function", inherits = FALSE))
  }
  NULL
}

numeric_fitter <- function(y, nd0, fixed, estimate, env, label, n) {
  cdf <- nd0$cdf
  dens <- companion(y, cdf, "d", env)
  if (is.null(dens))
    stop_call(if (is.character(y))
                sprintf("estimating the parameters of %s needs its density \"d%s\" for the likelihood, which was not found",
                        label, substring(sub(".*:", "", y), 2L))
              else "estimating parameters needs the density of the null for the likelihood: give 'y' by name (such as \"pgamma\") so that its density (\"dgamma\") is found beside it",
              "ksdist_error_estimate")
  rfun <- companion(y, cdf, "r", env)
  qfun <- if (is.null(rfun)) companion(y, cdf, "q", env)
  if (is.null(rfun) && is.null(qfun))
    stop_call(sprintf("the parametric bootstrap draws samples from the fitted %s: it needs its random generator (\"r...\") or quantile function (\"q...\") beside it, and neither was found",
                      label), "ksdist_error_estimate")
  uselog <- "log" %in% names(formals(dens))
  logarg <- if (uselog) list(log = TRUE)
  # Parameters with a positive default (rates, scales, shapes) are searched
  # on the log scale, those with a default of 0 or less (locations,
  # non-centrality) as they are; one without a default on the log scale if
  # the density is undefined at negative values.
  fm <- formals(cdf)
  default <- vapply(estimate, function(p) {
    v <- tryCatch(eval(fm[[p]], fixed, baseenv()), error = function(e) NULL)
    if (is.numeric(v) && length(v) == 1L && is.finite(v)) v else NA_real_
  }, 0)
  pos <- is.na(default) | default > 0
  to <- function(th) { th[pos] <- log(th[pos]); th }
  from <- function(ph) { ph[pos] <- exp(ph[pos]); stats::setNames(ph, estimate) }
  # Minus the log-likelihood, +Inf where the density is 0 or undefined (the
  # search steps back from there).
  nll <- function(ph, x) {
    v <- do.call(dens, c(list(x), fixed, as.list(from(ph)), logarg))
    s <- -sum(if (uselog) v else log(v))
    if (is.na(s)) Inf else s
  }
  # The log-likelihood at parameters as they are (no transformation).
  loglik <- function(x, th) {
    s <- tryCatch(suppressWarnings({
      v <- do.call(dens, c(list(x), fixed, as.list(th), logarg))
      sum(if (uselog) v else log(v))
    }), error = function(e) NA_real_)
    if (is.na(s)) -Inf else s
  }
  # Nelder-Mead, restarted from where it stopped (restarts > 1) to be sure
  # of the optimum; the replicates start at the data's estimates, near
  # their own.  R warns that it is unreliable in one dimension; restarted,
  # it agrees there with optimize() and closed forms to about 1e-6 relative
  # (gamma shape, Weibull scale, Cauchy location), the precision that a
  # flat maximum of the likelihood allows, far below the spread of the
  # estimates.
  maximise <- function(x, ph0, restarts, reltol) {
    tryCatch(suppressWarnings({
      if (!is.finite(nll(ph0, x))) return(NULL)
      ph <- ph0
      for (k in seq_len(restarts)) {
        o <- stats::optim(ph, nll, x = x, control = list(reltol = reltol, maxit = 5000))
        ph <- o$par
      }
      if (o$convergence != 0) NULL else from(ph)
    }), error = function(e) NULL)
  }
  # The start: the most likely point of a small grid around the defaults,
  # over orders of magnitude for positive parameters.
  find_start <- function(x) {
    grid <- lapply(estimate, function(p) {
      d <- default[[p]]
      if (!is.na(d) && d <= 0) unique(c(d, stats::median(x), d - 1, d + 1))
      else unique(c(if (!is.na(d)) d, 1, 0.5, 2, 0.1, 10, 0.01, 100))
    })
    cand <- as.matrix(expand.grid(grid, KEEP.OUT.ATTRS = FALSE))
    if (nrow(cand) > 4096) cand <- cand[seq_len(4096), , drop = FALSE]
    ll <- apply(cand, 1L, function(th) loglik(x, stats::setNames(th, estimate)))
    if (!any(is.finite(ll))) return(NULL)
    best <- stats::setNames(cand[which.max(ll), ], estimate)
    for (p in estimate[is.na(default)]) {
      neg <- best
      neg[[p]] <- -best[[p]]
      if (is.finite(loglik(x, neg))) pos[[p]] <<- FALSE
    }
    best
  }
  Fof <- function(th) function(t) do.call(cdf, c(list(t), fixed, as.list(th)))
  stat_row <- function(xs, th, alternative) {
    F <- Fof(th)
    Fx <- F(xs)
    Fl <- left_limit(F, xs, Fx)
    row_statistic(matrix(Fx, 1L), matrix(Fl, 1L), alternative)
  }
  theta_hat <- NULL
  draw <- function(k, th) {
    if (!is.null(rfun)) {
      sorted_rows(do.call(rfun, c(list(k * n), fixed, as.list(th))), k, n)
    } else {
      sorted_rows(do.call(qfun, c(list(stats::runif(k * n)), fixed, as.list(th))), k, n)
    }
  }
  list(per = 50L,
       fit_observed = function(xs) {
         start <- find_start(xs)
         if (is.null(start))
           stop_call(sprintf("the likelihood of %s is 0 (or undefined) at every starting value tried for %s: are the data outside its support?",
                             label, paste(sQuote(estimate, FALSE), collapse = ", ")),
                     "ksdist_error_estimate")
         th <- maximise(xs, to(start), 3L, 1e-12)
         if (is.null(th))
           stop_call(sprintf("the numerical maximisation of the likelihood of %s did not converge (from %s)",
                             label, paste(sprintf("%s = %s", estimate, format(start)), collapse = ", ")),
                     "ksdist_error_estimate")
         theta_hat <<- th
         c(fixed, as.list(th))
       },
       stat = function(X, alternative) stat_row(X[1L, ], theta_hat, alternative),
       replicates = function(k, theta, alternative) {
         X <- draw(k, theta_hat)
         vapply(seq_len(k), function(r) {
           th <- maximise(X[r, ], to(theta_hat), 1L, 1e-8)
           if (is.null(th)) NA_real_ else stat_row(X[r, ], th, alternative)
         }, 0)
       })
}
