# Installs this source tree into a private library and runs the test suite
# against that installation, so that the tests always see the current code.
#
#   Rscript tools/run-tests.R [filter]
#
# Ends with a line "N passed, N failed" (expectations) and exits non-zero when
# anything failed or errored.

args <- commandArgs(trailingOnly = TRUE)
filter <- if (length(args)) args[[1]] else NULL

root <- normalizePath(".")
if (!file.exists(file.path(root, "DESCRIPTION")))
  stop("run this from the package's top folder")

source(file.path(root, "tools", "install-here.R"))
if (is.null(install_here(root))) {
  cat("0 passed, 1 failed\n")
  quit(status = 1)
}

Sys.setenv(NOT_CRAN = "true")
library(testthat)
res <- test_dir(file.path(root, "tests", "testthat"), package = "ksdist",
                load_package = "installed", filter = filter,
                stop_on_failure = FALSE, reporter = ProgressReporter$new(show_praise = FALSE))
df <- as.data.frame(res)
passed <- sum(df$passed)
failed <- sum(df$failed) + sum(df$error)
skipped <- sum(df$skipped)
cat(sprintf("%d passed, %d failed, %d skipped\n", passed, failed, skipped))
quit(status = if (failed > 0 || nrow(df) == 0) 1 else 0)
