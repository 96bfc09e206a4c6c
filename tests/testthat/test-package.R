# The package as installed: the exact module exports its three entry points
# and nothing else and records the run path that finds libR relative to
# itself, a reinstall in the same session runs the new code, and attaching
# the package masks nothing.  The checks in child R processes run only with
# KSDIST_LONG_TESTS=1.

so_path <- function() {
  system.file("libs", paste0("ksdist", .Platform$dynlib.ext), package = "ksdist")
}

test_that("only the three entry points are exported", {
  skip_on_os(c("windows", "mac"))
  skip_if(!nzchar(Sys.which("nm")), "nm not available")
  out <- system2("nm", c("-D", "--defined-only", shQuote(so_path())), stdout = TRUE)
  syms <- sub("^\\S+\\s+\\S+\\s+", "", out)
  syms <- setdiff(syms, c("_init", "_fini"))
  expect_setequal(syms, c("pKS2", "pKolmogorov2x", "pSmirnov2x"))
})

test_that("the run path is recorded", {
  skip_on_os(c("windows", "mac"))
  skip_if(!nzchar(Sys.which("readelf")), "readelf not available")
  out <- system2("readelf", c("-d", shQuote(so_path())), stdout = TRUE)
  expect_true(any(grepl("\\[\\$ORIGIN/\\.\\./\\.\\./\\.\\./\\.\\.:\\$ORIGIN/\\.\\./\\.\\./\\.\\./lib\\]", out)))
})

test_that("a reinstall followed by library() in the same session runs the new code", {
  skip_on_cran()
  skip_unless_long_tests()
  skip_on_os(c("windows", "mac"))
  skip_if_not(file.exists("/proc/self/maps"))
  # In a fresh R process: install (a copy of this installation) into a
  # private library, load it and use the module, detach it with unload,
  # install again (new files, as R CMD INSTALL writes them) and load again.
  # The old shared objects must be gone: none mapped from a deleted file,
  # one DLL of each name, both from the new files.
  script <- tempfile(fileext = ".R")
  writeLines(c(
    sprintf("src <- %s", deparse(system.file(package = "ksdist"))),
    "lib <- tempfile('lib'); dir.create(lib)",
    "install <- function() {",
    "  unlink(file.path(lib, 'ksdist'), recursive = TRUE)",
    "  stopifnot(file.copy(src, lib, recursive = TRUE))",
    "}",
    "call <- function() .Call('pKolmogorov2x', 0.274, 10L, PACKAGE = 'ksdist')",
    "install()",
    "library(ksdist, lib.loc = lib)",
    "x1 <- call()",
    "detach('package:ksdist', unload = TRUE)",
    "install()",
    "library(ksdist, lib.loc = lib)",
    "x2 <- call()",
    "maps <- readLines('/proc/self/maps')",
    "cat('stale', sum(grepl('/ksdist(_ext)?[.]so [(]deleted[)]', maps)), '\\n')",
    "dlls <- getLoadedDLLs()",
    "cat('count', sum(names(dlls) == 'ksdist'), sum(names(dlls) == 'ksdist_ext'), '\\n')",
    "new <- normalizePath(file.path(lib, 'ksdist', 'libs'))",
    "paths <- normalizePath(dirname(c(dlls[['ksdist']][['path']], dlls[['ksdist_ext']][['path']])))",
    "cat('fresh', all(paths == new), '\\n')",
    "cat('same', identical(x1, x2), '\\n')"), script)
  out <- system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)),
                 stdout = TRUE, stderr = TRUE,
                 env = paste0("R_LIBS=", paste(.libPaths(), collapse = ":")))
  out <- paste(out, collapse = "\n")
  expect_match(out, "stale 0 ")
  expect_match(out, "count 1 1 ")
  expect_match(out, "fresh TRUE ")
  expect_match(out, "same TRUE ")
})

test_that("with the exact module unloaded, the functions that use it give an R error", {
  skip_on_cran()
  skip_unless_long_tests()
  skip_on_os(c("windows", "mac"))
  # Both ways of unloading, in fresh R processes; a crash would end the
  # child without the last line.
  unloads <- c("library.dynam.unload('ksdist', system.file(package = 'ksdist'))",
               sprintf("dyn.unload(%s)", deparse(so_path())))
  for (unload in unloads) {
    script <- tempfile(fileext = ".R")
    writeLines(c("library(ksdist)", unload,
                 "for (f in list(function() psmirnov2(0.5, 5, 7), function() pkolmogorov_limit(0.9)))",
                 "  cat('error', inherits(try(f(), silent = TRUE), 'try-error'), '\\n')",
                 "cat('still running\\n')"), script)
    out <- paste(system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)),
                         stdout = TRUE, stderr = TRUE,
                         env = paste0("R_LIBS=", paste(.libPaths(), collapse = ":"))), collapse = "\n")
    expect_match(out, "(error TRUE \\n){2}still running")
  }
})

test_that("the exports mask nothing of base R", {
  base <- c("stats", "graphics", "grDevices", "utils", "datasets", "methods", "base")
  others <- unlist(lapply(base, function(p) ls(paste0("package:", p), all.names = TRUE)))
  expect_gt(length(others), 1000)
  expect_length(intersect(getNamespaceExports("ksdist"), others), 0)
})

test_that("attaching the package in a fresh session reports no masking", {
  skip_on_cran()
  skip_unless_long_tests()
  lib <- dirname(system.file(package = "ksdist"))
  out <- system2(file.path(R.home("bin"), "Rscript"),
                 c("-e", shQuote(sprintf(".libPaths(c('%s', .libPaths())); library(ksdist); cat('attached\\n')", lib))),
                 stdout = TRUE, stderr = TRUE)
  expect_true(any(grepl("attached", out)))
  expect_false(any(grepl("masked", out)))
})
