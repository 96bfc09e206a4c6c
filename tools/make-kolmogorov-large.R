# The reference table of the two-sided one-sample law at large n,
# tests/testthat/ref-kolmogorov-large.csv (test-kolmogorov-large.R), from the
# independent oracle tools/kolmogorov-oracle.cpp (a standalone program in
# __float128 and double-double that shares no code with the package):
#
#   crossing-f128  n <= 1e4: the checkpoint recursion of the Poisson process
#                  with __float128 states, every weight from lgammaq/expq;
#                  checked against Steck's determinant in exact rationals
#                  (steck_cdf, tests/testthat/helper-oracles.R) at n = 10 and
#                  100 (4.3e-30 at most); bound 1e-26.
#   crossing-dd    n = 1e5, 1e6 and the random rows (n in 300 ... 5000): the
#                  same recursion with double-double states; |lower + upper
#                  - 1| <= 3.6e-27 at 1e6; bound 1e-24.
#   sbt-half       d >= 1/2: P(D_n >= d) = 2 P(D_n^+ >= d) exactly, the SBT
#                  sum in __float128.
#   sbt-band       P(D^+ >= d) = p1 < 1e-30: 2 p1 - p1^2/2, within p1/4.
#
# The recursion's rounding drift sits in the larger tail; the smaller (a sum
# or a mass of positive terms) is accurate relative to itself, so the table
# takes the smaller tail as computed and the larger as 1 minus it, the log
# of a tail above 1/2 as log1p(-other).
#
# Rows: n in {10, 100, 1000, 1e4, 1e5} with sqrt(n) d from 0.18 to 6, deep
# upper tails near 1e-50 ... 1e-1000, exact binary d with n d an integer or
# a half-integer, d near 1; a few rows at n = 1e6; 120 random (n, d).
#
#   Rscript tools/make-kolmogorov-large.R          rebuilds the table from the
#       oracle's outputs kept in tools/kolmogorov-large-raw/ (seconds);
#   Rscript tools/make-kolmogorov-large.R --run    runs the oracle on every
#       row first (hours: the n = 1e6 rows take up to 20 minutes each);
#   Rscript tools/make-kolmogorov-large.R --run 10 100   only those n.
#
# Columns: n, d (hex), method, relerr_bound, lower, upper, log_lower,
# log_upper (hex doubles, each the reference correctly rounded).
suppressMessages(library(Rmpfr))
prec <- 200
args <- commandArgs(trailingOnly = TRUE)
raw <- file.path("tools", "kolmogorov-large-raw")

# ---- the rows --------------------------------------------------------------
grid <- function() {
  xs <- c(0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2, 1.36, 1.5, 1.63, 1.8,
          2, 2.2, 2.5, 2.8, 3, 3.3, 3.6, 3.9, 4.2, 4.5, 5, 5.5, 6)
  deep <- sqrt((log(2) + c(50, 100, 300, 1000) * log(10)) / 2)
  exact <- list("10" = c(0.25, 0.5, 0.75, 0.9375), "100" = c(0.125, 0.25, 0.0625, 0.5625),
                "1000" = c(0.03125, 0.0625, 0.125, 0.015625), "10000" = c(0.0078125, 0.015625, 0.0625),
                "1e+05" = c(0.00390625, 0.001953125, 0.0078125, 0.03125), "1e+06" = c(0.0009765625))
  rows <- NULL
  for (n in c(10, 100, 1000, 1e4, 1e5)) {
    d <- c(xs / sqrt(n), deep / sqrt(n), exact[[format(n)]], if (n <= 100) c(0.99, 0.999999))
    d <- sort(unique(d[d > 0 & d < 1]))
    rows <- rbind(rows, data.frame(n = n, d = d, set = "grid"))
  }
  rows <- rbind(rows, data.frame(n = 1e6, d = c(c(0.3, 2.0, 3.0, 4.08, 3.9) / 1000, deep / 1000,
                                                 exact[["1e+06"]]), set = "grid"))
  # Crossing recursion while p1 (about exp(-2 x^2)) is above ~1e-32, else SBT.
  x <- sqrt(rows$n) * rows$d
  rows$kind <- ifelse(exp(-2 * x^2) > 1e-32 & rows$d < 0.5, "cross", "sbt")
  # Small sqrt(n) d (lower tails 1e-15 ... 1e-7).
  sx <- c(0.18, 0.2, 0.22, 0.25)
  for (n in c(10, 100, 1000, 1e4)) rows <- rbind(rows, data.frame(n = n, d = sx / sqrt(n), set = "smallx_q", kind = "cross"))
  rows <- rbind(rows, data.frame(n = c(rep(1e5, 4), 1e6), d = c(sx / sqrt(1e5), 0.2 / 1000),
                                 set = "smallx_dd", kind = "cross"))
  # Random rows: n log-uniform in 300 ... 5000, sqrt(n) d uniform in 0.2 ... 5.5.
  set.seed(20261209)
  n <- round(exp(runif(120, log(300), log(5000))))
  x <- runif(120, 0.2, 5.5)
  rbind(rows, data.frame(n = n, d = x / sqrt(n), set = "random", kind = "cross"))
}
rows <- grid()
key <- function(n, d) paste(as.integer(n), sprintf("%a", d))

# ---- running the oracle ----------------------------------------------------
if (length(args) && args[1] == "--run") {
  only <- as.numeric(args[-1])
  exe <- file.path(tempdir(), "kolmogorov-oracle")
  if (system2("g++", c("-O2", "-ffp-contract=off", "-o", exe, file.path("tools", "kolmogorov-oracle.cpp"),
                       "-lquadmath")) != 0) stop("could not build the oracle")
  run <- function(r, mode, out) {
    if (length(only)) r <- r[r$n %in% only, ]
    if (!nrow(r)) return()
    res <- system2(exe, mode, input = key(r$n, r$d), stdout = TRUE)
    old <- if (file.exists(out)) readLines(out) else character()
    keep <- old[!(sub("^(\\S+ \\S+).*", "\\1", old) %in% key(r$n, r$d))]
    writeLines(c(keep, res), out)
  }
  dir.create(raw, showWarnings = FALSE)
  run(rows[rows$kind == "sbt", ], "sbt", file.path(raw, "sbt.txt"))
  g <- rows[rows$kind == "cross" & rows$set == "grid", ]
  for (n in unique(g$n)) run(g[g$n == n, ], if (n >= 1e5) "dd" else "", file.path(raw, sprintf("cross_%d.txt", as.integer(n))))
  run(rows[rows$set == "smallx_q", ], "", file.path(raw, "cross_smallx_q.txt"))
  run(rows[rows$set == "smallx_dd", ], "dd", file.path(raw, "cross_smallx_dd.txt"))
  run(rows[rows$set == "random", ], "dd", file.path(raw, "cross_random.txt"))
}

# ---- assembling ------------------------------------------------------------
rd <- function(f) if (file.exists(f) && file.size(f) > 0) read.table(f, colClasses = "character") else NULL
out <- list()
for (f in Sys.glob(file.path(raw, "cross_*.txt"))) {
  t <- rd(f)
  if (is.null(t)) next
  n <- as.numeric(t[, 1])
  is_dd <- n >= 1e5 | grepl("random|_dd", f)
  lo <- mpfr(t[, 3], prec)
  up <- mpfr(t[, 4], prec)
  small_lo <- lo < up
  up[small_lo] <- 1 - lo[small_lo]
  lo[!small_lo] <- 1 - up[!small_lo]
  ll <- log(lo)
  ll[!small_lo] <- log1p(-up[!small_lo])
  lu <- log(up)
  lu[small_lo] <- log1p(-lo[small_lo])
  out[[f]] <- data.frame(n = n, d = t[, 2], method = ifelse(is_dd, "crossing-dd", "crossing-f128"),
                         relerr_bound = ifelse(is_dd, 1e-24, 1e-26),
                         lower = sprintf("%a", asNumeric(lo)), upper = sprintf("%a", asNumeric(up)),
                         log_lower = sprintf("%a", asNumeric(ll)), log_upper = sprintf("%a", asNumeric(lu)))
}
t <- rd(file.path(raw, "sbt.txt"))
if (!is.null(t)) {
  d <- as.numeric(t[, 2])
  lp1 <- mpfr(t[, 3], prec)
  p1 <- exp(lp1)
  half <- d >= 0.5
  lu <- log(mpfr(2, prec)) + lp1 + log1p(-p1 / 4) * as.numeric(!half)
  up <- exp(lu)
  out$sbt <- data.frame(n = as.numeric(t[, 1]), d = t[, 2], method = ifelse(half, "sbt-half", "sbt-band"),
                        relerr_bound = ifelse(half, 1e-30, asNumeric(p1 / 4 + 1e-30)),
                        lower = sprintf("%a", asNumeric(1 - up)), upper = sprintf("%a", asNumeric(up)),
                        log_lower = sprintf("%a", asNumeric(log1p(-up))), log_upper = sprintf("%a", asNumeric(lu)))
}
tab <- do.call(rbind, out)
tab <- tab[key(tab$n, as.numeric(tab$d)) %in% key(rows$n, rows$d), ]
tab <- tab[order(tab$n, as.numeric(tab$d)), ]
tab$n <- format(tab$n, scientific = FALSE, trim = TRUE)
tab$relerr_bound <- sprintf("%.3g", tab$relerr_bound)
write.csv(tab, file.path("tests", "testthat", "ref-kolmogorov-large.csv"), row.names = FALSE)
cat(nrow(tab), "rows of", nrow(rows), "\n")
