# Calls the three compiled entry points directly with hostile arguments and
# checks every answer:
#   - the call comes back, with a well-formed result or a clean R error (a
#     crash ends the process and so fails the run);
#   - where the arguments are plain numbers and the computation is cheap,
#     the result is the very double (bit for bit) that the straightforward R
#     versions in tests/testthat/helper-reference.R give, after the same
#     answers for arguments outside the domain;
#   - otherwise the result lies in [0, 1] (or is NA/NaN);
#   - computations too long to finish (sizes up to 2^31 - 1) run under an
#     elapsed-time limit and must stop promptly at it.
# Anything else wrong is counted as a finding.
#
#   Rscript tools/fuzz.R [calls] [seed] [seconds]     (from the top folder)
#
# Defaults: 300000 calls, seed 1, at most 600 seconds.  Calls that would need
# more than KSDIST_FUZZ_MAX_BYTES of memory (default 2.5e9) are skipped.
# Ends with "fuzz: N calls, N compared, N limited, N skipped, N clean errors,
# N findings" and exits non-zero on any finding.

args <- commandArgs(trailingOnly = TRUE)
calls <- if (length(args) >= 1) as.numeric(args[[1]]) else 3e5
seed <- if (length(args) >= 2) as.integer(args[[2]]) else 1L
budget <- if (length(args) >= 3) as.numeric(args[[3]]) else 600
max_bytes <- as.numeric(Sys.getenv("KSDIST_FUZZ_MAX_BYTES", "2.5e9"))
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
suppressPackageStartupMessages(library(ksdist))
source(file.path("tests", "testthat", "helper-hooks.R"))
source(file.path("tests", "testthat", "helper-reference.R"))
set.seed(seed)

imax <- .Machine$integer.max
numbers <- c(0, -0, 1, -1, 0.5, 1 / 3, 0.274, 0.02, 0.95, 1.5, 2, 10, 1e-300, -1e-300,
             5e-324, 2.2250738585072014e-308, 1e-7, 1e-16, 0.2, 0.135, 7.39, 7.4, 1e300,
             -1e300, Inf, -Inf, NaN, NA, imax, -imax, imax - 1, 2^31, -2^31, 2^53, 46339,
             23169, 23170, 23169.99, 1e9, -5, 3, 7, 12, 100, 1e5, 2e-9, 1e-3, 0.07)
ints <- c(0L, 1L, 2L, 3L, 5L, 10L, 50L, -1L, -2L, imax, imax - 1L, -imax, NA, 46339L,
          23170L, 100000L, 1000L, 135000000L, 1073741823L, 2000L, 37L, 8L)

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

# Arguments in the module's cheap, checkable range: small matrix orders and
# tables, where the R versions take milliseconds.
cheap_pair <- function() {
  n <- sample(c(1:60, 100, 500, 2000), 1)
  nd <- switch(sample(3, 1), runif(1, -1.5, 21), sample(-1:20, 1), runif(1, 0, 3))
  list(nd / n, n)
}
cheap_triple <- function() {
  m <- sample(0:40, 1)
  n <- sample(0:60, 1)
  k <- floor(runif(1, -1, m * n + 2))
  list((k + sample(c(0, 1e-9, -1e-9, 0.5), 1)) / max(1, m * n), m, n)
}

# What the module's coercions make of an argument.
plain <- function(x) (is.double(x) || is.integer(x) || is.logical(x)) && length(x) >= 1
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

# Expected results with the domain answers of the entry points in front of
# the R versions; NULL when the R version would be too slow.
expect_one <- function(d, n) {
  if (is.na(n)) return(NA_real_)
  if (n < 1) return(NaN)
  if (is.na(d)) return(d)
  t <- d * n
  if (t <= -1) return(0)
  if (!(t < 23170)) return(if (d >= 1) 1 else NaN)
  if (2 * trunc(t) + 1 > 41 || n > 5000) return(NULL)
  pk2x_ref(d, n)
}
expect_two <- function(d, m, n) {
  if (is.na(m) || is.na(n)) return(NA_real_)
  if (m < 0 || n < 0) return(NaN)
  if (is.na(d)) return(d)
  if (max(m, n) > imax - 1 || min(m, n) > imax - max(m, n)) return(NaN)
  if (as.double(m) * n > 2500) return(NULL)
  ps2x_ref(d, m, n)
}
expect_ks2 <- function(x, tol) {
  if (length(x) > 50) return(NULL)
  ks2_ref(as.double(x), tol)
}

# Estimated work (floating-point operations) and memory of one call.
cost_one <- function(d, n) {
  if (is.na(n) || n < 1 || is.na(d)) return(c(0, 0))
  t <- d * n
  if (t <= -1 || t >= 23170) return(c(0, 0))
  m <- 2 * trunc(t) + 1
  c(m^3 * 2 * log2(n + 1), 3 * m^2 * 8)
}
cost_two <- function(m, n) {
  if (is.na(m) || is.na(n) || m < 0 || n < 0) return(c(0, 0))
  c(as.double(m + 1) * (n + 1) * 4, (as.double(max(m, n)) + 1) * 16)
}
quick <- 3e7     # calls below this much work run as they are
limit_s <- 0.5   # the time limit for the others
late_s <- 5      # how late a limited call may stop

finding <- function(what, args) {
  cat("FINDING:", what, "\n")
  utils::str(args)
  findings <<- findings + 1
}
ok_prob <- function(v) is.double(v) && all(is.na(v) | (v >= 0 & v <= 1 + 1e-12))
same_bits <- function(a, b) identical(sprintf("%a", a), sprintf("%a", b))

# Runs a call; long ones under the time limit, as long as they have taken
# less than a quarter of the budget (beyond that they are skipped).  Returns
# the result, an error condition, or NULL after a stop at the limit or a skip.
run_call <- function(expr_fun, work, args) {
  if (work <= quick) return(tryCatch(suppressWarnings(expr_fun()), error = function(e) e))
  if (limited_time > budget / 4) {
    skipped <<- skipped + 1
    return(NULL)
  }
  limited <<- limited + 1
  # Lateness is measured in this process's CPU time: on a loaded machine
  # the wall clock also counts the time other processes ran.
  cpu <- function() sum(proc.time()[c("user.self", "sys.self")])
  t0 <- cpu()
  res <- tryCatch({
    setTimeLimit(elapsed = limit_s, transient = TRUE)
    suppressWarnings(expr_fun())
  }, error = function(e) e)
  setTimeLimit()
  took <- cpu() - t0
  limited_time <<- limited_time + took
  if (took > limit_s + late_s) finding(sprintf("stopped %.1f s after its time limit", took - limit_s), args)
  if (inherits(res, "error") && grepl("reached elapsed time limit", conditionMessage(res))) return(NULL)
  res
}

findings <- 0
errors <- 0
skipped <- 0
compared <- 0
limited <- 0
made <- 0
limited_time <- 0
t0 <- proc.time()[["elapsed"]]
while (made < calls && proc.time()[["elapsed"]] - t0 < budget) {
  made <- made + 1
  which <- sample(3, 1)
  a <- hostile(); b <- hostile(); z <- hostile()
  if (which == 1) {
    # Statistics are often plain vectors; tolerances of every sign and size.
    if (runif(1) < 0.5) a <- sample(numbers, sample(0:20, 1), replace = TRUE)
    if (runif(1) < 0.3) b <- sample(c(1e-2, 1e-6, 1e-10, 1e-16, 0.2, 1, NaN, NA, 0, -1), 1)
    if (is.numeric(a) && length(a) > 1e4) { skipped <- skipped + 1; next }
    keep <- a
    res <- tryCatch(suppressWarnings(.Call("pKS2", a, b, PACKAGE = "ksdist")), error = function(e) e)
    if (inherits(res, "error")) {
      numeric_in <- is.null(a) || is.double(a) || is.integer(a) || is.logical(a)
      if (numeric_in && !is.raw(b)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b))
      errors <- errors + 1
    } else {
      if (!identical(a, keep)) finding("pKS2 modified its input", list(a, b))
      if (!is.double(res) || length(res) != length(a)) {
        finding("pKS2 result of wrong type or length", list(a, b))
      } else if (plain(a) && plain(b) && !is.null(ref <- suppressWarnings(expect_ks2(a, as_real1(b))))) {
        compared <- compared + 1
        if (!same_bits(as.vector(res), ref)) finding("pKS2 differs from the reference", list(a, b, res, ref))
      } else if (!ok_prob(res)) {
        finding("pKS2 result outside [0, 1]", list(a, b, res))
      }
    }
  } else if (which == 2) {
    u <- runif(1)
    if (u < 0.4) { a <- sample(numbers, 1); b <- sample(ints, 1) }
    else if (u < 0.7) { ab <- cheap_pair(); a <- ab[[1]]; b <- as.integer(ab[[2]]) }
    d <- as_real1(a); n <- as_int1(b)
    cost <- cost_one(d, n)
    if (cost[2] > max_bytes) { skipped <- skipped + 1; next }
    res <- run_call(function() .Call("pKolmogorov2x", a, b, PACKAGE = "ksdist"), cost[1], list(a, b))
    if (is.null(res)) next
    if (inherits(res, "error")) {
      if (!is.raw(a) && !is.raw(b)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b))
      errors <- errors + 1
    } else if (!is.double(res) || length(res) != 1) {
      finding("pKolmogorov2x result of wrong type or length", list(a, b))
    } else if (plain(a) && plain(b) && !is.null(ref <- suppressWarnings(expect_one(d, n)))) {
      compared <- compared + 1
      if (!same_bits(res, ref)) finding("pKolmogorov2x differs from the reference", list(a, b, res, ref))
    } else if (!ok_prob(res) && !(res <= 1 + 1e-9)) {
      finding("pKolmogorov2x result outside [0, 1]", list(a, b, res))
    }
  } else {
    u <- runif(1)
    if (u < 0.4) { a <- sample(numbers, 1); b <- sample(ints, 1); z <- sample(ints, 1) }
    else if (u < 0.7) { abz <- cheap_triple(); a <- abz[[1]]; b <- as.integer(abz[[2]]); z <- as.integer(abz[[3]]) }
    d <- as_real1(a); m <- as_int1(b); n <- as_int1(z)
    cost <- cost_two(m, n)
    if (cost[2] > max_bytes) { skipped <- skipped + 1; next }
    res <- run_call(function() .Call("pSmirnov2x", a, b, z, PACKAGE = "ksdist"), cost[1], list(a, b, z))
    if (is.null(res)) next
    if (inherits(res, "error")) {
      if (!is.raw(a) && !is.raw(b) && !is.raw(z)) finding(paste("unexpected error:", conditionMessage(res)), list(a, b, z))
      errors <- errors + 1
    } else if (!is.double(res) || length(res) != 1) {
      finding("pSmirnov2x result of wrong type or length", list(a, b, z))
    } else if (plain(a) && plain(b) && plain(z) && !is.null(ref <- suppressWarnings(expect_two(d, m, n)))) {
      compared <- compared + 1
      if (!same_bits(res, ref)) finding("pSmirnov2x differs from the reference", list(a, b, z, res, ref))
    } else if (!ok_prob(res)) {
      finding("pSmirnov2x result outside [0, 1]", list(a, b, z, res))
    }
  }
}
cat(sprintf("fuzz: %d calls, %d compared, %d limited, %d skipped, %d clean errors, %d findings (seed %d, %.0f s)\n",
            made, compared, limited, skipped, errors, findings, seed, proc.time()[["elapsed"]] - t0))
quit(status = if (findings > 0) 1 else 0)
