# Writes the tables of fixed cases that the package checks when it loads
# (R/selfcheck.R, between the BEGIN and END lines).  The exact module's:
# each case's expected bit pattern comes from the straightforward R
# versions of the three computations in tests/testthat/helper-reference.R,
# which repeat the compiled code's operations in its order with R's own
# arithmetic (every operation rounded on its own, nothing fused).  The
# second shared object's: the bits of this tree's default build (ksdist
# installed from it), through its test hooks, one case for each way of
# computing a tail or a density.  Run from the top folder after
# R CMD INSTALL of this tree:
#
#   Rscript tools/make-selfcheck.R
#
# The test file test-module-selfcheck.R recomputes every module entry the
# same way, and checks the build against both tables.

source(file.path("tests", "testthat", "helper-hooks.R"))
source(file.path("tests", "testthat", "helper-reference.R"))

# f, arguments, and whether to repeat the case under every matrix kernel.
cases <- list(
  list("pKS2", list(c(0.3, 0.5, 0.8, 0.99, 1, 1.2, 2, 5), 1e-6), FALSE),
  list("pKS2", list(c(0.2, 0.6, 0.99, 1.05, 3), 1e-10), FALSE),
  list("pKS2", list(c(0.5, 2), NaN), FALSE),
  list("pKS2", list(c(0.5, 2), NA_real_), FALSE),
  list("pKolmogorov2x", list(0.274, 10L), TRUE),
  list("pKolmogorov2x", list(0.5, 4L), TRUE),
  list("pKolmogorov2x", list(0.15, 5L), TRUE),
  list("pKolmogorov2x", list(0.02, 1000L), TRUE),
  list("pKolmogorov2x", list(0.06, 600L), TRUE),
  list("pKolmogorov2x", list(0.03, 200L), TRUE),
  # Orders of 96 and above: the tallest tiles, their strips, zero spans.
  list("pKolmogorov2x", list(0.1, 500L), TRUE),
  list("pKolmogorov2x", list(0.0617, 1500L), TRUE),
  # Small matrices whose entries change when pow(h, i) is replaced by
  # repeated multiplication (clang's -fapprox-func does that).
  list("pKolmogorov2x", list(0.088543010082699963, 37L), FALSE),
  list("pKolmogorov2x", list(0.12813881987485251, 19L), FALSE),
  list("pKolmogorov2x", list(NaN, 10L), FALSE),
  list("pSmirnov2x", list(0.3, 10L, 12L), FALSE),
  list("pSmirnov2x", list(0.25, 7L, 3L), FALSE),
  list("pSmirnov2x", list(0.5, 4L, 6L), FALSE),
  list("pSmirnov2x", list(0.4, 5L, 5L), FALSE),
  list("pSmirnov2x", list(0.13, 60L, 77L), FALSE),
  list("pSmirnov2x", list(1.5, 503L, 503L), FALSE),
  list("pSmirnov2x", list(0.1, 503L, 503L), FALSE),
  list("pSmirnov2x", list(NaN, 5L, 5L), FALSE))

reference <- function(f, a) {
  switch(f,
         pKS2 = ks2_ref(a[[1]], a[[2]]),
         pKolmogorov2x = if (is.na(a[[1]])) a[[1]] else pk2x_ref(a[[1]], a[[2]]),
         pSmirnov2x = ps2x_ref(a[[1]], a[[2]], a[[3]]))
}

lines <- character()
for (cs in cases) {
  bits <- sprintf("%a", reference(cs[[1]], cs[[2]]))
  lines <- c(lines, sprintf("  list(f = \"%s\", args = list(%s), every_kernel = %s,\n       bits = c(%s))",
                            cs[[1]], paste(vapply(cs[[2]], function(a) paste(deparse(a, control = c("keepNA", "keepInteger", "digits17"), width.cutoff = 500L), collapse = ""), ""), collapse = ", "),
                            cs[[3]], paste0("\"", bits, "\"", collapse = ", ")))
}
table <- c(".module_cases <- list(", paste0(lines, c(rep(",", length(lines) - 1), "")), ")")

# The second shared object: routine, arguments (c(value, log) results).
suppressPackageStartupMessages(library(ksdist))
ext_cases <- list(
  list("ksx_hook_kolmogorov", list(0.15, 50L, 0L, TRUE)),        # repeated squaring, both tails
  list("ksx_hook_kolmogorov", list(0.15, 50L, 0L, FALSE)),
  list("ksx_hook_kolmogorov", list(0.02, 5000L, 0L, TRUE)),      # spectral sum
  list("ksx_hook_kolmogorov", list(0.026, 30000L, 0L, TRUE)),    # two-sided band, SBT lanes
  list("ksx_hook_kolmogorov", list(0.3, 100L, 0L, FALSE)),       # direct power
  list("ksx_hook_kolmogorov", list(0.3, 40L, 1L, TRUE)),         # SBT sum
  list("ksx_hook_kolmogorov", list(0.02, 300L, 1L, FALSE)),      # Abel's sum
  list("ksx_hook_kolmogorov", list(0.6, 2000L, 0L, TRUE)),       # far below the double range
  list("ksx_hook_kolmogorov_density", list(0.2, 30L, 0L, 0L)),
  list("ksx_hook_kolmogorov_density", list(0.12, 200L, 1L, 0L)),
  list("ksx_hook_smirnov", list(70, 11, 13, 0L, NULL, TRUE)),    # diagonals, plain
  list("ksx_hook_smirnov", list(20, 7, 9, 2L, c(3L, 1L, 2L, 2L, 4L, 1L, 3L), FALSE)), # ties
  list("ksx_hook_smirnov", list(100000, 300, 400, 0L, NULL, TRUE)), # exponent per cell
  list("ksx_hook_smirnov", list(2700 * 3000 - 1, 3000, 3000, 0L, NULL, TRUE)), # reflection
  list("ksx_hook_discrete", list(20L, 0.2, c(0, 0.2, 0.5, 0.9, 1), c(0, 0.2, 0.5, 0.9, 1), 0L, 3L)),
  list("ksx_hook_discrete", list(12L, 0.25, c(0, 0.3, 0.7), c(0.1, 0.5, 1), 1L, 1L)))
ext_lines <- character()
for (cs in ext_cases) {
  bits <- sprintf("%a", do.call(.Call, c(list(ksdist:::.ext[[cs[[1]]]]), cs[[2]])))
  ext_lines <- c(ext_lines, sprintf("  list(f = \"%s\", args = list(%s),\n       bits = c(%s))", cs[[1]],
                                    paste(vapply(cs[[2]], function(a) paste(deparse(a, control = c("keepNA", "keepInteger", "digits17"), width.cutoff = 500L), collapse = ""), ""), collapse = ", "),
                                    paste0("\"", bits, "\"", collapse = ", ")))
}
table <- c(table, ".ext_cases <- list(", paste0(ext_lines, c(rep(",", length(ext_lines) - 1), "")), ")")

path <- file.path("R", "selfcheck.R")
src <- readLines(path)
begin <- grep("^# BEGIN generated by tools/make-selfcheck.R", src)
end <- grep("^# END generated", src)
stopifnot(length(begin) == 1, length(end) == 1, begin < end)
writeLines(c(src[seq_len(begin)], table, src[end:length(src)]), path)
cat("wrote", length(cases), "module cases and", length(ext_cases), "of the second object to", path, "\n")
