# Kolmogorov's limiting distributions: of sqrt(n) D_n (two-sided) and of
# sqrt(n) D_n^+ or sqrt(n) D_n^- (one-sided).

dkolmogorov_limit <- function(x, log = FALSE, alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_d_limit, x, log, alternative)

pkolmogorov_limit <- function(q, tol = 1e-6, lower.tail = TRUE, log.p = FALSE,
                              alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_p_limit, q, tol, lower.tail, log.p, alternative)

qkolmogorov_limit <- function(p, tol = 1e-6, lower.tail = TRUE, log.p = FALSE,
                              alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_q_limit, p, tol, lower.tail, log.p, alternative)

rkolmogorov_limit <- function(nn, alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_r_limit, draws(nn), alternative)
