# Makes the README's figure that is not the output of one of its chunks, in
# man/figures/ (the plot() of a test is drawn by tools/make-readme.R from the
# README's own chunk, so that it is exactly what plot() gives by default):
#   exactness.png   where exact p-values matter: the exact law against the
#                   limiting one over n, and a small upper tail computed
#                   directly against 1 minus the lower tail
#
#   Rscript tools/make-figures.R      (from the top folder; installs the tree first)
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
library(ksdist)
out <- file.path("man", "figures")
dir.create(out, showWarnings = FALSE, recursive = TRUE)

png(file.path(out, "exactness.png"), width = 2000, height = 900, res = 200, type = "cairo")
op <- par(mfrow = c(1, 2), mar = c(4.2, 4.4, 2.6, 1))
# Left: the p-value of sqrt(n) D = 1.358 (the limiting 5% point) under the
# exact law of D_n, for each n.
n <- unique(round(exp(seq(log(2), log(2000), length.out = 120))))
exact <- pkolmogorov(1.358099 / sqrt(n), n, lower.tail = FALSE)
plot(n, exact, log = "x", type = "l", lwd = 2, col = "steelblue",
     ylim = range(c(exact, 0.05)), xlab = "sample size n", ylab = "p-value",
     main = expression(P(sqrt(n) * D[n] >= 1.358)))
abline(h = pkolmogorov_limit(1.358099, lower.tail = FALSE), lty = 2, col = "grey30")
legend("bottomright", c("exact", "limiting law"), lty = c(1, 2), lwd = c(2, 1),
       col = c("steelblue", "grey30"), bty = "n")
# Right: an upper tail computed directly, and as 1 minus the lower tail.
d <- seq(0.05, 0.6, length.out = 200)
direct <- pkolmogorov(d, 100, lower.tail = FALSE, log.p = TRUE) / log(10)
naive <- log10(pmax(1 - pkolmogorov(d, 100), 1e-300))
plot(d, direct, type = "l", lwd = 2, col = "steelblue", ylim = c(min(direct), 0),
     xlab = "d", ylab = expression(log[10] * P(D[100] >= d)), main = "Upper tail, n = 100")
lines(d[naive > -299], naive[naive > -299], col = "firebrick", lwd = 1.5, lty = 3)
legend("bottomleft", c("computed directly", "1 - lower tail"), lty = c(1, 3), lwd = c(2, 1.5),
       col = c("steelblue", "firebrick"), bty = "n")
par(op)
dev.off()
cat("wrote", file.path(out, "exactness.png"), "\n")
