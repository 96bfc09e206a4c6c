# The exact module's three entry points, called by name as its contract
# says, small tools for comparing doubles bit for bit, the reference tables,
# and the switches that decide what runs.

pks2 <- function(x, tol = 1e-6) .Call("pKS2", x, tol, PACKAGE = "ksdist")
pk2x <- function(d, n) .Call("pKolmogorov2x", d, n, PACKAGE = "ksdist")
ps2x <- function(d, m, n) .Call("pSmirnov2x", d, m, n, PACKAGE = "ksdist")

# Hexadecimal bit pattern of a double, e.g. "0x1.4924924924925p-1".
hex <- function(x) sprintf("%a", x)

# The double k units in the last place away from x (x > 0, normal range).
ulps <- function(x, k) {
  e <- floor(log2(x))
  # Exact at powers of two only from above; the tests use it away from them.
  x + k * 2^(e - 52)
}

# A reference table of this folder (made by a generator in tools/), with
# the named columns of hexadecimal doubles read back exactly.
read_ref <- function(file, hex = character()) {
  ref <- utils::read.csv(test_path(file), stringsAsFactors = FALSE)
  for (h in hex) ref[[h]] <- as.numeric(ref[[h]])
  ref
}

# Relative error of x against an exact value given as hi + lo (two doubles,
# as the module's reference tables store it): measured to far below one
# unit in the last place.  An exact 0 gives |x|.
rel_exact <- function(x, hi, lo = 0) ifelse(hi == 0, abs(x), abs((x - hi) - lo) / hi)

# Under valgrind, R's own interpreter arithmetic (which uses the x87 unit's
# long doubles in places) is emulated with double precision, so the R
# reference computations change in their last bits while the module's do
# not.  Bit comparisons against those references are skipped there; the
# memory checks are what valgrind is for.
skip_if_valgrind <- function() {
  testthat::skip_if(nzchar(Sys.getenv("KSDIST_VALGRIND")), "R reference arithmetic differs under valgrind")
}

# The same comparison for single expectations inside larger tests.
expect_ref_bits <- function(object, ref) {
  if (nzchar(Sys.getenv("KSDIST_VALGRIND"))) return(invisible(object))
  testthat::expect_identical(hex(object), hex(ref))
}

# Tests that start child R processes or need gigabytes of memory run only
# with KSDIST_LONG_TESTS=1 (which CI sets, tools/run-tests.R's callers may).
long_tests <- function() !Sys.getenv("KSDIST_LONG_TESTS") %in% c("", "0", "false", "FALSE")
skip_unless_long_tests <- function() {
  testthat::skip_if_not(long_tests(), "child processes or GBs of memory: set KSDIST_LONG_TESTS=1")
}

# The module's expected bit patterns (tools/make-module-bits.R) for one
# entry point, all sets of cases or the named ones.
ref_bits <- function(f, set = NULL) {
  ref <- read_ref("ref-module-bits.csv", c("d", "bits"))
  ref[ref$f == f & (is.null(set) | ref$set %in% set), ]
}
