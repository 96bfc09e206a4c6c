# Direct access to the compiled entry points, and small tools for comparing
# doubles bit for bit.

ks2 <- function(x, tol = 1e-6) .Call("pKS2", x, tol, PACKAGE = "ksdist")
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

# Number of units in the last place between two positive doubles.
ulp_diff <- function(a, b) {
  e <- floor(log2(pmax(abs(a), abs(b))))
  abs(a - b) / 2^(e - 52)
}

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
