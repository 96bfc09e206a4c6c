# The null distribution of a one-sample test: its distribution function
# (given as a function, its name, or a step function), its values at the
# data, and its left limits, where a jump shows.

# The null distribution function of a one-sample test: a function, the name
# of one, or a step function.
null_function <- function(y, env) {
  if (is.character(y)) {
    if (length(y) != 1L || is.na(y))
      stop_call("'y' must name a single distribution function")
    if (!nzchar(y))
      stop_call("'y' is an empty string: give a distribution function or its name, such as \"pnorm\", or a second sample")
    f <- get0(y, envir = env, mode = "function")
    if (is.null(f))
      stop_call(sprintf("'y' names no function: \"%s\"", y))
    return(f)
  }
  if (is.function(y)) return(y)
  stop_call(sprintf("'y' must be a second sample (a numeric vector) or a distribution function, its name, or a step function, not %s",
               describe(y)))
}

check_cdf_values <- function(v, n) {
  if (!is.numeric(v) || length(v) != n || anyNA(v) || any(v < 0 | v > 1))
    stop_call("'y' must be a distribution function returning one probability in [0, 1] for each 'x'")
  as.double(v)
}

# F(t-) for a distribution function F evaluated at the points t: F at the
# largest double below t, or, where F rounds its argument (R's discrete
# distribution functions treat t within 1e-7 below a whole number as that
# number), F just below the flat stretch that ends in the jump.  Where F has
# no jump at t the result is F(t) itself.
left_limit <- function(F, t, Ft = F(t)) {
  a <- check_cdf_values(F(.Call(.ext$ksx_prev_double, t)), length(t))
  jump <- Ft - a > 1e-12
  hidden <- !jump & is.finite(t)
  if (any(hidden)) {
    th <- t[hidden]
    h <- 1e-6 * pmax(1, abs(th))
    b <- check_cdf_values(F(th - h), length(th))
    c <- check_cdf_values(F(th - h / 2), length(th))
    flat <- b == c & Ft[hidden] - c > 1e-12
    a[hidden] <- ifelse(flat, c, Ft[hidden])
  }
  a
}

