# Calls every exported function of the package with hostile arguments and
# checks that each call comes back with a well-formed result or a clean R
# error: probabilities in [0, 1] (logs at most 0), quantiles in the support,
# results of the recycled length.  A crash ends the process, and so fails
# the run; every call runs under a short time limit, so that an argument
# asking for a long computation is cut off (and counted) instead of hanging.
#
#   Rscript tools/fuzz-r.R [calls] [seed]         (from the top folder)
#
# Ends with "fuzz-r: N calls, N clean errors, N cut off, N findings" and
# exits non-zero on any finding.

args <- commandArgs(trailingOnly = TRUE)
calls <- if (length(args) >= 1) as.numeric(args[[1]]) else 20000
seed <- if (length(args) >= 2) as.integer(args[[2]]) else 1L
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
suppressPackageStartupMessages(library(ksdist))
set.seed(seed)

numbers <- c(0, -0, 1, -1, 0.5, 1 / 3, 0.274, 0.02, 0.95, 1.5, 2, 1e-300, 5e-324, 1e-16,
             1e300, Inf, -Inf, NaN, NA, 2147483647, 2^31, 3, 7, 12, 100, 1e5, 0.999999, 1 - 1e-16)
sizes <- c(1, 2, 3, 5, 10, 37, 100, 1000, 1, 2, 3, 5, 10, 37, 100, 0, -1, 2.5, NA, NaN, Inf,
           2147483647, 1e6)
# Mostly well-formed arguments, so that the computations themselves are
# exercised, with hostile ones mixed in.
hostile <- function(pool) {
  switch(sample(12, 1),
    sample(pool[!is.na(pool)], sample(1:3, 1), replace = TRUE),
    sample(pool[!is.na(pool)], 1), runif(sample(1:5, 1)),
    NULL, sample(c(TRUE, FALSE, NA), sample(0:2, 1), replace = TRUE),
    sample(pool, sample(0:4, 1), replace = TRUE), sample(pool, 1), sample(pool, 1),
    c(a = sample(pool, 1), b = sample(pool, 1)), matrix(sample(pool, 4, replace = TRUE), 2),
    "0.5", list(0.5))
}
flag <- function() sample(list(TRUE, FALSE, NA, "yes", c(TRUE, FALSE)), 1, prob = c(10, 10, 1, 1, 1))[[1]]
alt <- function() sample(list("two.sided", "less", "greater", "g", "bogus", NA, c("two.sided", "less", "greater")),
                         1, prob = c(6, 4, 4, 1, 1, 1, 4))[[1]]

findings <- 0
errors <- 0
cut <- 0
finding <- function(what, a) {
  cat("FINDING:", what, "\n")
  utils::str(a)
  findings <<- findings + 1
}
# Checks a result: type, length, range.
check <- function(res, a, kind, lens) {
  if (!is.double(res)) return(finding("result is not double", a))
  if (kind != "r" && length(res) != (if (any(lens == 0)) 0 else max(lens)))
    return(finding("result of the wrong length", a))
  v <- res[!is.na(res)]
  # A logical argument is read as R reads one: its first element, so
  # log = c(TRUE, FALSE) asks for logs.
  first <- function(v) length(v) >= 1 && isTRUE(suppressWarnings(as.logical(v[[1]])))
  logp <- first(a$log.p) || first(a$log)
  bad <- switch(kind,
    p = if (logp) any(v > 0) else any(v < 0 | v > 1),
    d = if (logp) FALSE else any(v < 0),
    q = any(v < 0),
    r = any(v < 0 | v > 1e300))
  if (bad) finding(paste("result out of range for a", kind, "function"), list(a, res))
}

run <- function(f, a, kind, lens) {
  res <- tryCatch({
    setTimeLimit(elapsed = 2, transient = TRUE)
    on.exit(setTimeLimit())
    suppressWarnings(do.call(f, a))
  }, error = function(e) e)
  setTimeLimit()
  if (inherits(res, "error")) {
    if (grepl("time limit", conditionMessage(res))) cut <<- cut + 1 else errors <<- errors + 1
    return(invisible())
  }
  check(res, a, kind, lens)
}

t0 <- proc.time()[["elapsed"]]
for (k in seq_len(calls)) {
  which <- sample(12, 1)
  q <- hostile(numbers)
  n <- hostile(sizes)
  m <- hostile(sizes)
  lens <- c(length(q), length(n))
  switch(which,
    run(pkolmogorov, list(q, n, lower.tail = flag(), log.p = flag(), alternative = alt()), "p", lens),
    run(qkolmogorov, list(q, n, lower.tail = flag(), log.p = flag(), alternative = alt()), "q", lens),
    run(rkolmogorov, list(sample(0:3, 1), n, alternative = alt()), "r", lens),
    run(pkolmogorov_limit, list(q, tol = sample(c(1e-6, 1e-15, 0.5, -1), 1), lower.tail = flag(),
                                log.p = flag(), alternative = alt()), "p", length(q)),
    run(qkolmogorov_limit, list(q, lower.tail = flag(), log.p = flag(), alternative = alt()), "q", length(q)),
    run(dkolmogorov_limit, list(q, log = flag(), alternative = alt()), "d", length(q)),
    run(rkolmogorov_limit, list(sample(0:3, 1), alternative = alt()), "r", 1),
    run(psmirnov2, list(q, m, n, lower.tail = flag(), log.p = flag(), alternative = alt()), "p",
        c(lens, length(m))),
    run(qsmirnov2, list(q, m, n, lower.tail = flag(), log.p = flag(), alternative = alt()), "q",
        c(lens, length(m))),
    run(dsmirnov2, list(q, m, n, log = flag(), alternative = alt()), "d", c(lens, length(m))),
    run(rsmirnov2, list(sample(0:3, 1), m, n, alternative = alt()), "r", 1),
    run(pkolmogorov_discrete, list(q, n, stats::ecdf(c(1, 2, 2, 3)), lower.tail = flag(),
                                   log.p = flag(), alternative = alt()), "p", lens))
}
cat(sprintf("fuzz-r: %d calls, %d clean errors, %d cut off, %d findings (seed %d, %.0f s)\n",
            calls, errors, cut, findings, seed, proc.time()[["elapsed"]] - t0))
quit(status = if (findings > 0) 1 else 0)
