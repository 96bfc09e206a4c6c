# Bit patterns of the exact module on random and chosen cases, for its bit
# tests (test-module-kolmogorov.R and test-module-smirnov.R), written to
# tests/testthat/ref-module-bits.csv.  Each expected double comes from the
# straightforward R versions in tests/testthat/helper-reference.R, which
# repeat the compiled code's operations in its order with R's own
# arithmetic (every operation rounded on its own, nothing fused); the
# interpreted matrix products take seconds, which is why the tests read the
# table and recompute only a sample of it.  Run from the top folder (it
# installs the package, as tools/run-tests.R does, for the C library's pow):
#
#   Rscript tools/make-module-bits.R
#
# Columns: set (the group of cases a test takes), f (the entry point), d
# (hex), m (NA for one sample), n, bits (the expected result, hex).
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
source(file.path("tests", "testthat", "helper-hooks.R"))
source(file.path("tests", "testthat", "helper-reference.R"))

rows <- list()
add <- function(set, d, m, n) {
  bits <- if (is.na(m[1])) mapply(pk2x_ref, d, n) else mapply(ps2x_ref, d, m, n)
  rows[[length(rows) + 1]] <<- data.frame(set = set, f = if (is.na(m[1])) "pKolmogorov2x" else "pSmirnov2x",
                                          d = sprintf("%a", d), m = m, n = n, bits = sprintf("%a", bits))
}

# One sample, "kernels": matrix orders up to 45 cover every tile and edge
# shape of the product (orders mod 4 and mod 8), powers up to 200 every mix
# of squarings and odd steps, and small d the rescaling of the factorial
# loop; n d an exact integer gives h = 1.
set.seed(101)
cases <- 1500
n <- sample(1:200, cases, replace = TRUE)
nd <- runif(cases, 0, 22)
nd[1:100] <- sample(0:22, 100, replace = TRUE)
add("kernels", pmin(nd / n, 1.2), NA, n)

# One sample, "random": the smallest n and orders up to 73.
set.seed(7)
n <- c(1, 2, 3, sample(4:60, 25, replace = TRUE))
d <- c(0.9, 0.7, 0.5, runif(25, 0, 0.6))
add("random", d, NA, n)

# Two samples, "kernels": statistics at, just beside and between the
# attained values k/(m n), and beyond both ends.
set.seed(202)
cases <- 2500
m <- sample(1:30, cases, replace = TRUE)
n <- sample(1:30, cases, replace = TRUE)
k <- floor(runif(cases, -1, m * n + 2))
add("kernels", (k + sample(c(0, 1e-9, -1e-9, 0.5), cases, replace = TRUE)) / (m * n), m, n)

# Two samples, "random": statistics anywhere.
set.seed(11)
cs <- t(replicate(40, c(m = sample(1:25, 1), n = sample(1:25, 1), d = runif(1, 0, 1.05))))
add("random", cs[, "d"], cs[, "m"], cs[, "n"])

# Two samples, "wide": rows wider than one block of columns, so that values
# cross block boundaries and blocks are rescaled as sweeps leave them;
# small m leaves rows over after the four-row sweeps.
set.seed(404)
cases <- 36
m <- sample(c(1:7, 20:60), cases, replace = TRUE)
n <- sample(63:420, cases, replace = TRUE)
k <- floor(runif(cases, 0, 1.05) * m * n)
add("wide", (k + sample(c(0, 0.5), cases, replace = TRUE)) / (m * n), m, n)

# Two samples, "per-cell": with the whole table inside the band the smallest
# value is 1/C(1006, 503), about 2^-1000.7: small enough for the rows with an
# exponent per cell, yet every value is still a normal double.
add("per-cell", c(1.5, 0.99), c(503, 503), c(503, 503))

out <- do.call(rbind, rows)
write.csv(out, file.path("tests", "testthat", "ref-module-bits.csv"), row.names = FALSE)
cat(nrow(out), "bit patterns written\n")
