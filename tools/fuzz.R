# Calls the three compiled entry points directly with hostile arguments and
# checks that every call comes back, with a well-formed result or a clean R
# error.  A crash ends the process (and so fails the run); anything else
# wrong is counted as a finding.
#
#   Rscript tools/fuzz.R [calls] [seed] [seconds]     (from the top folder)
#
# Defaults: 300000 calls, seed 1, at most 600 seconds.  Arguments whose exact
# computation would take long are recognised by the size rule below and
# skipped, not run.  Ends with "fuzz: N calls, N skipped, N clean errors,
# N findings" and exits non-zero on any finding.

args <- commandArgs(trailingOnly = TRUE)
calls <- if (length(args) >= 1) as.numeric(args[[1]]) else 3e5
seed <- if (length(args) >= 2) as.integer(args[[2]]) else 1L
budget <- if (length(args) >= 3) as.numeric(args[[3]]) else 600
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
suppressPackageStartupMessages(library(ksdist))
set.seed(seed)

imax <- .Machine$integer.max
numbers <- c(0, -0, 1, -1, 0.5, 1 / 3, 0.274, 0.02, 0.95, 1.5, 2, 10, 1e-300, -1e-300,
             5e-324, 2.2250738585072014e-308, 1e-7, 1e-16, 0.2, 0.135, 7.39, 7.4, 1e300,
             -1e300, Inf, -Inf, NaN, NA, imax, -imax, imax - 1, 2^31, -2^31, 2^53, 46339,
             23169, 23170, 23169.99, 1e9, -5, 3, 7, 12, 100, 1e5)
ints <- c(0L, 1L, 2L, 3L, 5L, 10L, 50L, -1L, -2L, imax, imax - 1L, -imax, NA, 46339L,
          23170L, 100000L, 1000L)

# One hostile argument: any R type, lengths 0, 1 or many.
hostile <- function() {
  switch(sample(14, 1),
    NULL,
    sample(c(TRUE, FALSE, NA), sample(0:3, 1), replace = TRUE),
    sample(ints, sample(0:4, 1), replace = TRUE),
    sample(numbers, sample(0:4, 1), replace = TRUE),
    sample(numbers, 1),
    sample(numbers, 1),
    runif(sample(1:50, 1), -1, 3),
    complex(real = sample(numbers, 1), imaginary = sample(c(0, 1), 1)),
    sample(c("0.5", "abc", "1e400", NA, "", "3"), sample(0:2, 1), replace = TRUE),
    as.list(sample(numbers, sample(0:2, 1))),
    sample(list(sum, function(x) x, quote(a + b), as.name("x")), 1)[[1]],
    globalenv(),
    as.raw(sample(0:255, sample(0:2, 1))),
    sample(ints, 1))
}

# What the module's coercions will make of an argument, to size the work.
as_real1 <- function(x) {
  if (is.atomic(x) && length(x) >= 1 && !is.raw(x))
    suppressWarnings(as.double(if (is.complex(x)) Re(x[[1]]) else x[[1]]))
  else NA_real_
}
as_int1 <- function(x) {
  if (is.atomic(x) && length(x) >= 1 && !is.raw(x))
    suppressWarnings(as.integer(if (is.complex(x)) Re(x[[1]]) else x[[1]]))
  else NA_integer_
}

# The size rule: estimated floating-point work of one call.
cost_one <- function(d, n) {
  if (is.na(n) || n < 1 || is.na(d)) return(0)
  t <- d * n
  if (t <= -1 || t >= 23170) return(0)
  m <- 2 * trunc(t) + 1
  m^3 * 2 * log2(n + 1) + n
}
cost_two <- function(m, n) {
  if (is.na(m) || is.na(n) || m < 0 || n < 0) return(0)
  as.double(m + 1) * (n + 1) * 4
}
limit <- 3e7

finding <- function(what, args) {
  cat("FINDING:", what, "\n")
  utils::str(args)
  findings <<- findings + 1
}
ok_prob <- function(v) is.double(v) && all(is.na(v) | (v >= 0 & v <= 1 + 1e-12))

findings <- 0
errors <- 0
skipped <- 0
made <- 0
t0 <- proc.time()[["elapsed"]]
while (made < calls && proc.time()[["elapsed"]] - t0 < budget) {
  made <- made + 1
  which <- sample(3, 1)
  a <- hostile(); b <- hostile(); z <- hostile()
  if (which == 1) {
    # Statistics are often plain vectors; tolerances of every sign and size.
    if (runif(1) < 0.5) a <- sample(numbers, sample(0:20, 1), replace = TRUE)
    if (is.numeric(a) && length(a) > 1e4) { skipped <- skipped + 1; next }
    keep <- a
    res <- tryCatch(suppressWarnings(.Call("pKS2", a, b, PACKAGE = "ksdist")), error = function(e) e)
    if (inherits(res, "error")) {
      numeric_in <- is.null(a) || is.double(a) || is.integer(a) || is.logical(a)
      if (numeric_in && !is.raw(b)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b))
      errors <- errors + 1
    } else {
      if (!identical(a, keep)) finding("pKS2 modified its input", list(a, b))
      if (!is.double(res) || length(res) != length(a)) finding("pKS2 result of wrong type or length", list(a, b))
      else if (!ok_prob(res)) finding("pKS2 result outside [0, 1]", list(a, b, res))
    }
  } else if (which == 2) {
    if (runif(1) < 0.6) { a <- sample(numbers, 1); b <- sample(ints, 1) }
    if (cost_one(as_real1(a), as_int1(b)) > limit) { skipped <- skipped + 1; next }
    res <- tryCatch(suppressWarnings(.Call("pKolmogorov2x", a, b, PACKAGE = "ksdist")), error = function(e) e)
    if (inherits(res, "error")) {
      if (!is.raw(a) && !is.raw(b)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b))
      errors <- errors + 1
    } else if (!is.double(res) || length(res) != 1) {
      finding("pKolmogorov2x result of wrong type or length", list(a, b))
    } else if (!ok_prob(res) && !(res <= 1 + 1e-9)) {
      finding("pKolmogorov2x result outside [0, 1]", list(a, b, res))
    }
  } else {
    if (runif(1) < 0.6) { a <- sample(numbers, 1); b <- sample(ints, 1); z <- sample(ints, 1) }
    if (cost_two(as_int1(b), as_int1(z)) > limit) { skipped <- skipped + 1; next }
    res <- tryCatch(suppressWarnings(.Call("pSmirnov2x", a, b, z, PACKAGE = "ksdist")), error = function(e) e)
    if (inherits(res, "error")) {
      if (!is.raw(a) && !is.raw(b) && !is.raw(z)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b, z))
      errors <- errors + 1
    } else if (!is.double(res) || length(res) != 1) {
      finding("pSmirnov2x result of wrong type or length", list(a, b, z))
    } else if (!ok_prob(res)) {
      finding("pSmirnov2x result outside [0, 1]", list(a, b, z, res))
    }
  }
}
cat(sprintf("fuzz: %d calls, %d skipped, %d clean errors, %d findings (seed %d, %.0f s)\n",
            made, skipped, errors, findings, seed, proc.time()[["elapsed"]] - t0))
quit(status = if (findings > 0) 1 else 0)
