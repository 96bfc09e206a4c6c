# Reference values of Kolmogorov's limiting distribution for the tests
# (test-limit-dpqr.R), in 200-bit arithmetic (Rmpfr): both tails as
# logarithms (so that values far below the double range are kept) and the
# density, written to tests/testthat/ref-limit.csv as hexadecimal doubles.
#
#   Rscript tools/make-limit-references.R     (from the top folder; seconds)
#
# Both series are summed until their terms are negligible at that precision:
#   1 - K(x) = 2 sum_{k>=1} (-1)^(k-1) exp(-2 k^2 x^2)
#   K(x)     = sqrt(2 pi)/x sum_{j>=1} exp(-(2j-1)^2 pi^2 / (8 x^2))
# and each tail is taken from the series that does not cancel; the two are
# checked against each other where both converge well.
suppressPackageStartupMessages(library(Rmpfr))
prec <- 200
x <- c(0.05, 0.1, 0.2, 0.3, 0.5, 0.7, 0.8, 0.82, 0.83, 0.9, 1, 1.2, 1.36, 1.63, 2, 3, 4, 4.5, 6, 10, 20, 30)
one <- mpfr(1, prec)
pi_ <- Const("pi", prec)
upper_alt <- function(xm) {
  s <- mpfr(0, prec)
  for (k in 1:400) s <- s + (-1)^(k - 1) * exp(-2 * k^2 * xm^2)
  2 * s
}
lower_theta <- function(xm) {
  s <- mpfr(0, prec)
  for (j in 1:400) s <- s + exp(-(2 * j - 1)^2 * pi_^2 / (8 * xm^2))
  sqrt(2 * pi_) / xm * s
}
dens_alt <- function(xm) {
  s <- mpfr(0, prec)
  for (k in 1:400) s <- s + (-1)^(k - 1) * k^2 * exp(-2 * k^2 * xm^2)
  8 * xm * s
}
rows <- lapply(x, function(v) {
  xm <- mpfr(v, prec) # the double v exactly
  if (v >= 0.6) { U <- upper_alt(xm); L <- one - U; lL <- log1p(-U); lU <- log(U) } else { L <- lower_theta(xm); U <- one - L; lL <- log(L); lU <- log1p(-L) }
  if (v >= 0.6 && v <= 2) stopifnot(abs(as.numeric(log(L) - log(one - upper_alt(xm)))) < 1e-40,
                                    abs(as.numeric(log(L) - log(lower_theta(xm)))) < 1e-40)
  D <- if (v >= 0.3) dens_alt(xm) else {
    # derivative of the theta form
    s <- mpfr(0, prec)
    for (j in 1:400) { c <- (2 * j - 1)^2 * pi_^2 / 8; s <- s + exp(-c / xm^2) * (2 * c / xm^4 - 1 / xm^2) }
    sqrt(2 * pi_) * s
  }
  c(v, as.numeric(lL), as.numeric(lU), as.numeric(log(D)))
})
tab <- as.data.frame(do.call(rbind, rows))
names(tab) <- c("x", "log_lower", "log_upper", "log_density")
tab[] <- lapply(tab, function(v) sprintf("%a", v))
write.csv(tab, file.path("tests", "testthat", "ref-limit.csv"), row.names = FALSE)
cat(nrow(tab), "references written\n")
