# The shared object exports the three entry points and nothing else, and
# records the run path that finds libR relative to the installed module.

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
