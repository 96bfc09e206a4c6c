# The null distribution of a one-sample test or of the discrete law: its
# distribution function (given as a function, its name, or a step function)
# with its parameters, its values at given points, and its left limits,
# where a jump shows.  Everything a user can get wrong about it is caught
# here, with a message that names the argument: a density, quantile or
# survival function in place of the distribution function, parameters given
# as vectors (which would give each observation a null of its own),
# misspelt arguments, values outside [0, 1] or decreasing.

# The null as list(F, label, stepfun): F(t) gives checked probabilities.
# y: the function, its name ("pnorm", "stats::pnorm") or a step function;
# args: its parameters; arg: the name of the argument that gave it; own: the
# caller's own argument names, suggested for misspelt ones.
null_dist <- function(y, args, env, arg = "y", own = character()) {
  label <- if (is.character(y)) y else if (inherits(y, "stepfun")) "the step function" else "the null function"
  cdf <- null_function(y, env, arg)
  if (inherits(cdf, "stepfun")) {
    if (length(args))
      stop_call(sprintf("a step function given as '%s' takes no parameters, but got %s", arg,
                        describe_args(args)))
  } else {
    check_null_args(cdf, args, label, own)
  }
  F <- function(t) {
    v <- tryCatch(do.call(cdf, c(list(t), args)),
                  error = function(e) stop_call(sprintf("the null distribution function %s failed: %s",
                                                        label, conditionMessage(e))))
    if (!is.numeric(v) || length(v) != length(t) || anyNA(v) || any(v < 0 | v > 1))
      stop_call(sprintf("'%s' must be a distribution function returning one probability in [0, 1] for each value", arg))
    as.double(v)
  }
  list(F = F, cdf = cdf, args = args, label = label, arg = arg, stepfun = inherits(cdf, "stepfun"))
}

# The function that y names or is.  A name of R's density, quantile or
# random-number functions (or of a distribution without its p) is not taken
# for the distribution function: the error names the one meant.
null_function <- function(y, env, arg = "y") {
  if (is.character(y)) {
    if (length(y) != 1L || is.na(y))
      stop_call(sprintf("'%s' must name a single distribution function", arg))
    if (!nzchar(y))
      stop_call(sprintf("'%s' is an empty string: give a distribution function or its name, such as \"pnorm\"%s",
                        arg, if (arg == "y") ", or a second sample" else ""))
    nm_y <- function_name(y, env)
    name <- nm_y$name
    pkg <- nm_y$pkg
    find <- nm_y$find
    qualified <- function(nm) if (is.null(pkg)) nm else paste0(pkg, "::", nm)
    kind <- c(d = "density", q = "quantile", r = "random-number")
    first <- substr(name, 1L, 1L)
    if (first %in% names(kind) && !is.null(find(paste0("p", substring(name, 2L)))))
      stop_call(sprintf("'%s' names the %s function \"%s\", not a distribution function: use \"%s\"",
                        arg, kind[[first]], y, qualified(paste0("p", substring(name, 2L)))),
                "ksdist_error_null")
    if (first != "p" && !is.null(find(paste0("p", name))))
      stop_call(sprintf("'%s' names \"%s\", which is not a distribution function: did you mean \"%s\"?",
                        arg, y, qualified(paste0("p", name))), "ksdist_error_null")
    f <- find(name)
    if (is.null(f))
      stop_call(sprintf("'%s' names no function: \"%s\"", arg, y), "ksdist_error_null")
    return(f)
  }
  if (is.function(y)) return(y)
  stop_call(sprintf("'%s' must be %sa distribution function, its name, or a step function, not %s",
                    arg, if (arg == "y") "a second sample (a numeric vector) or " else "", describe(y)),
            "ksdist_error_null")
}

# The parameters of a null function: single values, named after its own
# arguments (when it has no '...'), and not lower.tail or log.p (which make
# it return something else than the distribution function).
check_null_args <- function(cdf, args, label, own) {
  nm <- names(args)
  if (is.null(nm)) nm <- rep("", length(args))
  turned <- intersect(nm, c("lower.tail", "log.p", "log"))
  if (length(turned))
    stop_call(sprintf("'%s' is passed to %s, which then no longer returns the distribution function: leave it out",
                      turned[1L], label), "ksdist_error_null")
  formal <- names(cdf_formals(cdf))
  if (!"..." %in% formal) {
    unknown <- nm[nzchar(nm) & !nm %in% formal]
    # A name that matches one formal argument partially is R's to match.
    unknown <- unknown[vapply(unknown, function(u) sum(startsWith(formal, u)) != 1L, TRUE)]
    if (length(unknown)) {
      u <- unknown[1L]
      close <- c(own, formal[-1L])[agrepl(u, c(own, formal[-1L]), max.distance = 0.25) |
                                      startsWith(c(own, formal[-1L]), u)]
      stop_call(sprintf("unused argument '%s': it is neither an argument of ks_test nor of %s%s", u, label,
                        if (length(close)) sprintf("; did you mean '%s'?", close[1L]) else ""),
                "ksdist_error_argument")
    }
  }
  long <- which(lengths(args) != 1L)
  if (length(long)) {
    k <- long[1L]
    what <- if (nzchar(nm[k])) sprintf("'%s'", nm[k]) else sprintf("parameter %d", k)
    stop_call(sprintf("the parameters of the null distribution must be single values, but %s has length %d (a vector would give each observation a null of its own)",
                      what, length(args[[k]])), "ksdist_error_null")
  }
  invisible()
}

describe_args <- function(extra) {
  nm <- names(extra)
  if (is.null(nm)) nm <- rep("", length(extra))
  shown <- ifelse(nzchar(nm), nm, "an unnamed argument")
  paste(sQuote(shown, FALSE), collapse = ", ")
}

# Rounding allowed in the values of a distribution function: R's own may
# decrease by an ulp or two (ppois(0:30, 0.5) does).
value_slack <- function(v) 64 * .Machine$double.eps * pmax(v, 2^-1000)

# Checks that F is a distribution function along the sorted points t with
# values Ft: non-decreasing up to rounding, and (where F accepts them) at
# least its values at -Inf and at most those at Inf, which must be 0 and 1
# (those probed when ends).
# A density, a survival function or a quantile function fails here.
check_null_monotone <- function(nd, t, Ft, ends = TRUE) {
  n <- length(Ft)
  fail <- function(what)
    stop_call(sprintf("'%s' must be a distribution function (non-decreasing from 0 to 1), but %s; is it a density or a survival function?",
                      nd$arg, what), "ksdist_error_null")
  if (n >= 2L) {
    drop <- Ft[-n] - Ft[-1L]
    bad <- which(drop > value_slack(Ft[-n]))
    if (length(bad))
      fail(sprintf("its value falls from %.4g at %.6g to %.4g at %.6g", Ft[bad[1L]], t[bad[1L]],
                   Ft[bad[1L] + 1L], t[bad[1L] + 1L]))
  }
  if (nd$stepfun || !ends) return(invisible())
  ends <- tryCatch(suppressWarnings(do.call(nd$cdf, c(list(c(-Inf, Inf)), nd$args))),
                   error = function(e) NULL)
  if (is.numeric(ends) && length(ends) == 2L && !anyNA(ends)) {
    if (ends[1L] > value_slack(0) || ends[2L] < 1 - value_slack(1))
      fail(sprintf("its values at -Inf and Inf are %.4g and %.4g", ends[1L], ends[2L]))
  }
  invisible()
}

# F(t-) at the points t (finite or not; Ft = F(t)).  A jump is a step that
# F's slope just below t cannot explain: with R(h) = F(t) - F(t - h), a
# slope gives R(2h) about 2 R(h), a step within h below t gives R(2h) about
# R(h).  h is one and two units in the last place of t, so the probe is
# local at every scale: rescaling the data and the null together changes
# nothing.  R's discrete distribution functions round their argument (a
# whole number less under 1e-7 counts as the whole number), which hides
# their steps from that probe: whole numbers that look flat there are
# probed again at h = 2^-21 and 2^-20, beyond the rounding (and for
# |t| >= 2^31 one ulp is already beyond it).  Steps smaller than the
# rounding of F's values are not told from it, and would move the
# statistic by less.  Where there is no jump, F(t-) is F(t).
left_limit <- function(F, t, Ft = F(t)) {
  Fl <- Ft
  fin <- which(is.finite(t))
  if (!length(fin)) return(Fl)
  tt <- t[fin]
  Ff <- Ft[fin]
  slack <- value_slack(Ff)
  step_at <- function(i, at1, at2) {
    # Points i, with at1 = t - h and at2 = t - 2h: where they show a step,
    # F(t-) is F(t - h).
    F1 <- values_in_chunks(F, at1)
    R1 <- Ff[i] - F1
    R2 <- Ff[i] - values_in_chunks(F, at2)
    s <- R1 > slack[i] & R2 < 1.5 * R1
    Fl[fin[i[s]]] <<- F1[s]
    R1 > slack[i]
  }
  p1 <- .Call(.ext$ksx_prev_double, tt)
  F1 <- values_in_chunks(F, p1)
  seen <- Ff - F1 > slack
  i <- which(seen)
  if (length(i)) step_at(i, p1[i], .Call(.ext$ksx_prev_double, p1[i]))
  w <- which(!seen & tt == round(tt) & abs(tt) < 2^31 & Ff > slack)
  if (length(w)) step_at(w, tt[w] - 2^-21, tt[w] - 2^-20)
  Fl
}

# The formal arguments of a distribution function (of a primitive, those
# that args() shows).
cdf_formals <- function(f) formals(if (is.primitive(f)) args(f) else f)

# A function's name as given ("pnorm", "stats::pnorm"): its last part, the
# package, and a finder of functions by name in the same place (env, or
# that package's namespace).
function_name <- function(y, env) {
  parts <- strsplit(y, ":::?")[[1L]]
  pkg <- if (length(parts) == 2L) parts[1L] else NULL
  find <- function(nm) {
    if (is.null(pkg)) return(get0(nm, envir = env, mode = "function"))
    ns <- tryCatch(asNamespace(pkg), error = function(e) NULL)
    if (is.null(ns)) return(NULL)
    get0(nm, envir = ns, mode = "function", inherits = FALSE)
  }
  list(name = parts[length(parts)], pkg = pkg, find = find)
}
