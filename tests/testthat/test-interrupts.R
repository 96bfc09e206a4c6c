# Long exact computations, in the module and in the second shared object,
# answer interrupts and time limits promptly, release what they took, and
# leave the session usable.  The checks in child R processes (a real
# interrupt, an address-space limit, a band needing GBs) run only with
# KSDIST_LONG_TESTS=1.

rss_kb <- function() {
  gc()
  line <- grep("^VmRSS:", readLines("/proc/self/status"), value = TRUE)
  as.numeric(gsub("[^0-9]", "", line))
}

# Runs expr under an elapsed-time limit; returns the error message and the
# seconds it took to come back.
under_limit <- function(expr, seconds) {
  on.exit(setTimeLimit())
  t0 <- proc.time()[["elapsed"]]
  setTimeLimit(elapsed = seconds, transient = TRUE)
  msg <- tryCatch({ force(expr); "finished" }, error = conditionMessage)
  setTimeLimit()
  list(msg = msg, took = proc.time()[["elapsed"]] - t0)
}

test_that("a time limit stops the one-sample matrix power and frees its blocks", {
  skip_on_cran()
  skip_if_not(file.exists("/proc/self/status"))
  # m = 4001: three blocks of 128 MB and over a minute of products.
  before <- rss_kb()
  for (k in 1:4) {
    r <- under_limit(pk2x(0.5, 4000L), 0.3)
    expect_match(r$msg, "reached elapsed time limit")
    expect_lt(r$took, 10)
  }
  # The sanitizer's allocator holds freed blocks back for a while.
  if (!nzchar(Sys.getenv("KSDIST_SANITIZER"))) expect_lt(rss_kb() - before, 100 * 1024)
  expect_equal(pk2x(0.274, 10L), 0.628, tolerance = 1e-3)
})

test_that("a time limit stops every kernel inside one product", {
  skip_on_cran()
  # The scalar kernel once polled only between products (a minute each at
  # m = 4001); the strips beside the tiles (m = 8001 leaves one column) and
  # the search for zero spans read columns of large blocks.
  for (k in c("scalar", "sse2", NA)) {
    r <- withr::with_envvar(c(KSDIST_KERNEL = k), under_limit(pk2x(0.5, 4000L), 0.3))
    expect_match(r$msg, "reached elapsed time limit")
    expect_lt(r$took, 5)
  }
  r <- under_limit(pk2x(2, 2000L), 0.3)
  expect_match(r$msg, "reached elapsed time limit")
  expect_lt(r$took, 5)
})

test_that("a time limit stops the two-sample rows", {
  skip_on_cran()
  skip_if_not(file.exists("/proc/self/status"))
  before <- rss_kb()
  for (k in 1:4) {
    r <- under_limit(ps2x(1.5, 100000L, 100000L), 0.3)
    expect_match(r$msg, "reached elapsed time limit")
    expect_lt(r$took, 10)
  }
  if (!nzchar(Sys.getenv("KSDIST_SANITIZER"))) expect_lt(rss_kb() - before, 50 * 1024)
  expect_identical(ps2x(0.4, 5L, 5L), 8 / 63)
})

test_that("a time limit stops the direct two-sample tails and the density", {
  r <- under_limit(hook_smirnov(1e10, 2e5, 2e5 + 1, 0L, NULL, TRUE), 0.3)
  expect_match(r$msg, "reached elapsed time limit")
  expect_lt(r$took, 10)
  skip_on_cran()
  r <- under_limit(hook_kolmogorov_density(0.003, 1e6, 0L, 1L), 0.3)
  expect_match(r$msg, "reached elapsed time limit")
  expect_lt(r$took, 10)
})

run_r <- function(code, prefix = "") {
  script <- tempfile(fileext = ".R")
  writeLines(c(sprintf(".libPaths(%s)", paste(deparse(.libPaths()), collapse = "")), code), script)
  cmd <- sprintf("%s'%s' --vanilla '%s' 2>&1", prefix, file.path(R.home("bin"), "Rscript"), script)
  list(cmd = cmd, script = script)
}

test_that("a user interrupt stops a long computation and the session goes on", {
  skip_on_cran()
  skip_unless_long_tests()
  skip_on_os("windows")
  skip_if_not_installed("processx")
  skip_if_not_installed("ps")
  code <- c(
    "library(ksdist)",
    "cat('started\\n')",
    "r <- tryCatch(.Call('pKolmogorov2x', 0.5, 4000L, PACKAGE = 'ksdist'),",
    "              interrupt = function(e) 'interrupted')",
    "cat(r, '\\n')",
    "cat('after', .Call('pKolmogorov2x', 0.274, 10L, PACKAGE = 'ksdist'), '\\n')")
  r <- run_r(code)
  p <- processx::process$new("bash", c("-c", r$cmd), stdout = "|")
  out <- ""
  for (i in 1:100) {
    out <- paste0(out, p$read_output())
    if (grepl("started", out)) break
    Sys.sleep(0.1)
  }
  Sys.sleep(0.5)
  # Interrupt the R process itself, not the shell around it.
  kids <- ps::ps_children(ps::ps_handle(p$get_pid()))
  for (k in kids) ps::ps_interrupt(k)
  p$wait(15000)
  out <- paste0(out, p$read_all_output())
  if (p$is_alive()) p$kill()
  expect_match(out, "interrupted")
  expect_match(out, "after 0.628")
})

test_that("an allocation that fails releases the blocks already taken", {
  skip_on_cran()
  skip_unless_long_tests()
  # AddressSanitizer reserves more address space than the limit allows.
  skip_if(nzchar(Sys.getenv("KSDIST_SANITIZER")), "address space limit under a sanitizer")
  skip_if_not(file.exists("/proc/self/status"))
  # With 3 GB of address space the first 1.1 GB block of m = 12001 fits and
  # the second does not: R reports the failure, and the first block must
  # be gone afterwards so that the next computation can have the memory.
  code <- c(
    "library(ksdist)",
    "vm <- function() as.numeric(gsub('[^0-9]', '', grep('^VmSize:', readLines('/proc/self/status'), value = TRUE)))",
    "before <- vm()",
    "for (k in 1:3) {",
    "  r <- tryCatch(.Call('pKolmogorov2x', 0.5, 12000L, PACKAGE = 'ksdist'), error = conditionMessage)",
    "  cat('attempt', k, ':', r, '\\n')",
    "}",
    "cat('grew', round((vm() - before) / 1024), 'MB\\n')",
    "cat('after', .Call('pKolmogorov2x', 0.274, 10L, PACKAGE = 'ksdist'), '\\n')")
  r <- run_r(code, prefix = "ulimit -v 3000000; ")
  out <- paste(system(r$cmd, intern = TRUE), collapse = "\n")
  expect_identical(lengths(regmatches(out, gregexpr("could not allocate", out))), 3L)
  grew <- as.numeric(sub(".*grew (-?[0-9]+) MB.*", "\\1", out))
  expect_lt(grew, 100)
  expect_match(out, "after 0.628")
})

# Sizes near 2^31.  Work counted in int used to overflow there: an interrupt
# or time limit was then never acted on, and a loop up to n = INT_MAX never
# ended.  Each case runs in a child process with a hard deadline, so that a
# regression fails the test instead of hanging the suite.
run_capped <- function(code, seconds) {
  r <- run_r(code)
  out <- suppressWarnings(system2("timeout", c(seconds, "bash", "-c", shQuote(r$cmd)),
                                  stdout = TRUE, stderr = TRUE))
  paste(out, collapse = "\n")
}

mem_available_gb <- function() {
  line <- grep("^MemAvailable:", readLines("/proc/meminfo"), value = TRUE)
  as.numeric(gsub("[^0-9]", "", line)) / 2^20
}

test_that("a time limit stops the two-sample rows on a band wider than 2^27 cells", {
  skip_on_cran()
  skip_unless_long_tests()
  skip_on_os(c("windows", "mac"))
  skip_if(!nzchar(Sys.which("timeout")), "no timeout command")
  skip_if(mem_available_gb() < 6, "needs about 2.5 GB of memory")
  # n = 1.35e8 with no band to speak of: 16 * width > 2^31.  A limit of 1 s
  # stops the rows early; one of 20 s late enough for the rows that carry
  # per-cell exponents to be running.
  for (limit in c(1, 20)) {
    code <- c(
      "library(ksdist)",
      sprintf("lim <- %d", limit),
      "f <- function() {",
      "  t0 <- proc.time()[['elapsed']]",
      "  setTimeLimit(elapsed = lim, transient = TRUE)",
      "  r <- tryCatch(.Call('pSmirnov2x', 1.5, 200L, 135000000L, PACKAGE = 'ksdist'),",
      "                error = conditionMessage)",
      "  setTimeLimit()",
      "  cat('result:', r, '\\n')",
      "  cat('late by', proc.time()[['elapsed']] - t0 - lim, '\\n')",
      "}",
      "f()")
    out <- run_capped(code, limit + 40)
    expect_match(out, "reached elapsed time limit")
    late <- as.numeric(sub(".*late by (-?[0-9.e+-]+).*", "\\1", out))
    expect_lt(late, 5, label = sprintf("lateness at a %d s limit", limit))
  }
})

test_that("the one-sample factorial loop ends for n = INT_MAX", {
  skip_on_cran()
  # The matrix is 9 x 9; the loop over i = 1..n is the whole cost.  Its
  # outcome (0: P is far below 1e-420) is known without running it to the
  # end, and with a 32-bit index it never ended at all.
  for (cs in list(c(2e-9, .Machine$integer.max), c(2e-9, .Machine$integer.max - 1),
                  c(3e-9, 1.5e9))) {
    v <- NULL
    r <- under_limit(v <- pk2x(cs[1], as.integer(cs[2])), 5)
    expect_identical(r$msg, "finished")
    expect_identical(v, 0)
  }
})

# Every exported function that can run long, the vectorised layer and the
# R code that prepares arguments included, acts on a time limit: each call
# below would take from seconds to hours.  How late (within 0.1 s, measured
# by bench/timelimits.R) is a benchmark's business; here it must come back well
# before it would have finished, with R's own error.
test_that("a time limit stops every exported function that runs long", {
  skip_on_cran()
  set.seed(1)
  q <- runif(3e6, 0.05, 0.3)
  u <- runif(3e7, 0.1, 3)
  pk <- runif(3e6)
  x <- rnorm(3e5)
  y <- rnorm(3e5 + 1)
  calls <- list(
    quote(pkolmogorov(q, 100)),
    quote(pkolmogorov(1e-4, 2147483647, lower.tail = FALSE)),
    quote(dkolmogorov(0.0046, 1e6)),
    quote(qkolmogorov(0.95, 2147483647)),
    quote(rkolmogorov(1e6, 1e4)),
    quote(dsmirnov2((0:2e4) / 120000, 300, 400)),
    quote(psmirnov2(0.002, 1e6, 1e6 + 1)),
    quote(qsmirnov2(0.5, 1e6, 1e6 + 1)),
    quote(rsmirnov2(1e6, 3000, 4000)),
    quote(pkolmogorov_limit(u)),
    quote(dkolmogorov_limit(u)),
    quote(qkolmogorov_limit(pk)),
    quote(rkolmogorov_limit(3e6)),
    quote(pkolmogorov_discrete(0.3, 20, "pgeom", prob = 1e-6, support = 0:1e7)),
    quote(ks_test(x, y, exact = TRUE)))
  for (cl in calls) {
    r <- under_limit(eval(cl), 0.5)
    expect_match(r$msg, "reached elapsed time limit", label = deparse(cl))
    expect_lt(r$took, 3, label = deparse(cl))
  }
})
