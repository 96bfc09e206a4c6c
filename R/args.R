# Argument checks and conditions shared by the user-facing functions.  The
# d/p/q/r functions check their arguments in the compiled code (src/ext/
# args.cpp); what is checked here is what R itself must resolve first.

# Errors and warnings name the call the user typed: the outermost call of
# one of the package's exported functions on the stack (for ks_test, the
# generic's call), as the errors of the compiled routines do.  Conditions
# carry the class "ksdist_error" or "ksdist_warning" (and a more specific
# one when given), so that callers can catch them.
user_call <- function() {
  ns <- topenv(environment(user_call))
  exports <- getNamespaceExports(ns)
  calls <- sys.calls()
  for (i in seq_along(calls)) {
    f <- calls[[i]][[1L]]
    if (is.name(f) && as.character(f) %in% exports &&
        identical(topenv(environment(sys.function(i))), ns))
      return(calls[[i]])
  }
  NULL
}

stop_call <- function(msg, class = NULL)
  stop(structure(class = c(class, "ksdist_error", "error", "condition"),
                 list(message = msg, call = user_call())))

warn_call <- function(msg, class = NULL)
  warning(structure(class = c(class, "ksdist_warning", "warning", "condition"),
                    list(message = msg, call = user_call())))

describe <- function(x) {
  if (is.null(x)) "NULL" else sprintf("an object of type '%s'", typeof(x))
}

check_alternative <- function(alternative) {
  choices <- c("two.sided", "less", "greater")
  if (identical(alternative, choices)) return("two.sided")
  if (!is.character(alternative) || length(alternative) != 1L || is.na(alternative) ||
      is.na(k <- pmatch(alternative, choices)))
    stop_call("'alternative' must be one of \"two.sided\", \"less\", \"greater\"")
  choices[k]
}

check_prob_arg <- function(p, name) {
  if (!is.numeric(p) || length(p) != 1L || is.na(p) || p <= 0 || p >= 1)
    stop_call(sprintf("'%s' must be a single number between 0 and 1", name), "ksdist_error_argument")
  as.double(p)
}

check_tol <- function(tol) {
  if (!is.numeric(tol) || length(tol) != 1L || !is.finite(tol) || tol <= 0)
    stop_call("'tol' must be a single positive finite number")
  as.double(tol)
}

is_date <- function(x) inherits(x, c("Date", "POSIXt", "difftime"))

# Observations: a numeric vector, with a message that says what was
# expected for the common mistakes.
check_sample <- function(x, name) {
  what <- if (is.factor(x)) "a factor"
          else if (is_date(x)) sprintf("a date or time (class '%s'); use as.numeric(%s) to test its numeric values",
                                       class(x)[1L], name)
          else if (is.data.frame(x)) "a data frame; pass one of its columns"
          else if (is.list(x)) "a list"
          else if (is.character(x)) "a character vector"
          else if (is.complex(x)) "a complex vector"
          else if (!is.numeric(x) && !(is.logical(x) && all(is.na(x)))) describe(x)
          else NULL
  if (!is.null(what))
    stop_call(sprintf("'%s' must be a numeric vector of observations, not %s", name, what))
  as.double(x)
}

# The observations of x without its missing values, and how many were
# missing.
observations <- function(x, name) {
  x <- check_sample(x, name)
  na <- sum(is.na(x))
  if (na) x <- x[!is.na(x)]
  if (length(x) < 1L)
    stop_call(sprintf("not enough (non-missing) '%s' observations", name), "ksdist_error_argument")
  list(x = x, na = na)
}

# Ties in a sample tested against a continuous null.
warn_ties_continuous <- function()
  warn_call(paste("ties are present, which have probability 0 under a continuous null:",
                  "the p-value is that of the statistic as computed from the tied data"),
            "ksdist_warning_ties")

# Number of draws of an r-function: as R's own, a vector longer than one
# asks for as many draws as it has elements.
draws <- function(nn) {
  if (length(nn) > 1L) return(length(nn))
  if (!is.numeric(nn) || length(nn) != 1L || is.na(nn) || nn < 0 || nn > 2^52)
    stop_call("invalid arguments")
  floor(nn)
}

# Whether a computation expected to take `seconds` shows its progress: the
# option ksdist.progress is TRUE (above 3 s), FALSE (never), or the time in
# seconds above which it does; unset, above 3 s in an interactive session.
# The compiled code reads the option the same way.
progress_wanted <- function(seconds) {
  o <- getOption("ksdist.progress")
  if (is.null(o)) return(interactive() && seconds > 3)
  if (is.numeric(o)) return(length(o) == 1L && !is.na(o) && o >= 0 && seconds > o)
  isTRUE(as.logical(o)) && seconds > 3
}

# The time limit of exact computations, option ksdist.max_seconds (default
# 60 s), read as the compiled code reads it.
max_seconds <- function() {
  o <- getOption("ksdist.max_seconds")
  if (is.null(o)) return(60)
  if (!is.numeric(o) || length(o) != 1L || is.na(o) || o <= 0)
    stop_call("option 'ksdist.max_seconds' must be a single positive number of seconds",
              "ksdist_error_option")
  o
}

# "45 s", "3.2 minutes", "2.1 hours", "4.5 days", as the compiled code says it.
format_seconds <- function(s) {
  if (s < 90) sprintf("%.2g s", s)
  else if (s < 5400) sprintf("%.1f minutes", s / 60)
  else if (s < 172800) sprintf("%.1f hours", s / 3600)
  else sprintf("%.3g days", s / 86400)
}

# The model frame of a formula method's call (m, from match.call() with
# expand.dots = FALSE), built as t.test() builds it, with its response as a
# plain vector: a matrix response is refused, since it would be pooled into
# one sample.
formula_frame <- function(m, data, env) {
  if (!missing(data) && is.matrix(data)) m$data <- as.data.frame(data)
  m[[1L]] <- quote(stats::model.frame)
  m$... <- NULL
  mf <- eval(m, env)
  response <- attr(attr(mf, "terms"), "response")
  values <- mf[[response]]
  if (!is.null(dim(values)) && NCOL(values) > 1L)
    stop_call(sprintf("the response '%s' has %d columns: test one variable at a time",
                      names(mf)[response], NCOL(values)), "ksdist_error_argument")
  list(mf = mf, response = response, values = as.vector(values))
}
