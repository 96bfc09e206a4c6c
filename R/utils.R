# Argument checking and small helpers shared by the user-facing functions.

# A numeric (double or integer) vector argument, returned as double.  A
# logical vector of NAs is accepted too, as R's own p- and q-functions do.
check_numeric <- function(x, name) {
  if (!is.numeric(x) && !(is.logical(x) && all(is.na(x))))
    stop(sprintf("'%s' must be a numeric vector, not %s", name, describe(x)),
         call. = FALSE)
  as.double(x)
}

describe <- function(x) {
  if (is.null(x)) "NULL" else sprintf("an object of type '%s'", typeof(x))
}

# Sample sizes: positive whole numbers within the 32-bit range, NA allowed.
check_size <- function(n, name) {
  n <- check_numeric(n, name)
  ok <- is.na(n) | (is.finite(n) & n >= 1 & n == floor(n) & n <= .Machine$integer.max)
  if (!all(ok)) {
    bad <- n[!ok][1]
    stop(sprintf("'%s' must contain positive whole numbers (at most %d); got %s",
                 name, .Machine$integer.max, format(bad)), call. = FALSE)
  }
  n
}

check_flag <- function(x, name) {
  if (!is.logical(x) || length(x) != 1L || is.na(x))
    stop(sprintf("'%s' must be TRUE or FALSE", name), call. = FALSE)
  x
}

check_tol <- function(tol) {
  if (!is.numeric(tol) || length(tol) != 1L || !is.finite(tol) || tol <= 0)
    stop("'tol' must be a single positive finite number", call. = FALSE)
  as.double(tol)
}

# R's recycling rule for the arguments of a vectorised function: the longest
# length wins, and any zero-length argument gives a zero-length result.
recycle <- function(...) {
  args <- list(...)
  len <- if (any(lengths(args) == 0L)) 0L else max(lengths(args))
  lapply(args, rep_len, length.out = len)
}

# Largest working memory the exact computations may ask for, in bytes.
max_bytes <- function() {
  b <- getOption("ksdist.max_bytes", 4 * 1024^3)
  if (!is.numeric(b) || length(b) != 1L || is.na(b) || b <= 0)
    stop("option 'ksdist.max_bytes' must be a single positive number", call. = FALSE)
  b
}

format_bytes <- function(b) {
  if (b >= 1024^3) sprintf("%.1f GiB", b / 1024^3) else sprintf("%.0f MiB", b / 1024^2)
}

# Turns lower-tail probabilities into what the caller asked for.  Rounding
# in the exact computations may leave a result a few units in the last
# place outside [0, 1]; it is clamped first.
finish_p <- function(p, lower.tail, log.p) {
  p <- pmin(pmax(p, 0), 1)
  if (!lower.tail) p <- 1 - p
  if (log.p) log(p) else p
}

# The result of a quantile function before anything is computed: NA
# everywhere, NaN for a NaN probability, and NaN with R's usual warning for
# probabilities outside [0, 1].  The entries still NA (and not NaN) with
# their arguments present are the ones to compute.
quantile_start <- function(p) {
  out <- rep(NA_real_, length(p))
  out[is.nan(p)] <- NaN
  bad <- !is.na(p) & (p < 0 | p > 1)
  if (any(bad)) {
    warning("NaNs produced: 'p' outside [0, 1]", call. = FALSE)
    out[bad] <- NaN
  }
  out
}

# Number of draws of an r-function: as R's own, a vector longer than one
# asks for as many draws as it has elements.
draws <- function(nn) {
  if (length(nn) > 1L) return(length(nn))
  if (!is.numeric(nn) || length(nn) != 1L || is.na(nn) || nn < 0 || !is.finite(nn))
    stop("invalid arguments", call. = FALSE)
  floor(nn)
}
