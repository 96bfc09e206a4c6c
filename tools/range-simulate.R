# Compares the exact distribution of D against a Poisson(3) null with a
# simulation of 1e6 samples from the null, for n = 100 and n = 1000, two-
# and one-sided, and times the exact computation at n = 1e4.  Run after
# installing the package, from the top folder:
#   Rscript tools/range-simulate.R [draws]
# Prints, for each case, the exact P(D >= d), the simulated frequency, its
# standard error and the difference in standard errors.
suppressMessages(library(ksdist))
args <- commandArgs(trailingOnly = TRUE)
draws <- if (length(args)) as.numeric(args[1]) else 1e6
source(file.path("tests", "testthat", "helper-hooks.R"))
kr <- function(n, d, u, alt, rel) hook_discrete(n, d, u, u, alt, rel)

lambda <- 3
K <- 0
while (ppois(K, lambda) < 1) K <- K + 1
u <- ppois(0:K, lambda)
u[K + 1] <- 1
p <- diff(c(0, u))
atoms <- c(0, u)

simulate <- function(n, draws, chunk = 1e5) {
  out <- matrix(0, draws, 3)
  done <- 0
  while (done < draws) {
    m <- min(chunk, draws - done)
    C <- rmultinom(m, n, p)
    for (j in 2:nrow(C)) C[j, ] <- C[j - 1, ] + C[j, ]
    dev <- C / n - u
    out[done + seq_len(m), 2] <- pmax(0, apply(dev, 2, max))
    out[done + seq_len(m), 3] <- pmax(0, apply(-dev, 2, max))
    done <- done + m
  }
  out[, 1] <- pmax(out[, 2], out[, 3])
  out
}

set.seed(2024)
worst <- 0
for (n in c(100, 1000)) {
  D <- simulate(n, draws)
  for (alt in 0:2) {
    for (prob in c(0.5, 0.9, 0.99)) {
      d <- unname(quantile(D[, alt + 1], prob, type = 1)) # an attained value
      exact <- kr(n, d, atoms, alt, 3L)[1]
      freq <- mean(D[, alt + 1] >= d - 1e-11)
      se <- sqrt(exact * (1 - exact) / draws)
      z <- (freq - exact) / se
      worst <- max(worst, abs(z))
      cat(sprintf("n=%5d alt=%d d=%.6f exact P(D>=d)=%.6f simulated=%.6f se=%.6f z=%+.2f\n",
                  n, alt, d, exact, freq, se, z))
    }
  }
}
cat(sprintf("largest |z| = %.2f\n", worst))

n <- 1e4
for (d in c(0.005, 0.01, 0.0136, 0.02)) {
  t <- system.time(for (i in 1:20) v <- kr(n, d, atoms, 0L, 3L))[["elapsed"]] / 20
  cat(sprintf("n=1e4 d=%.4f P(D>=d)=%.6g  %.4f s\n", d, v[1], t))
}
