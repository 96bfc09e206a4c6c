# The exact distribution of the one-sample statistic for a continuous null:
# D_n = sup |F_n - F| (two-sided) or D_n^+ = sup (F_n - F), D_n^- = sup (F - F_n)
# (one-sided; both have the same law).

dkolmogorov <- function(x, n, log = FALSE,
                        alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_d_kolmogorov, x, n, log, alternative)

pkolmogorov <- function(q, n, lower.tail = TRUE, log.p = FALSE,
                        alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_p_kolmogorov, q, n, lower.tail, log.p, alternative)

qkolmogorov <- function(p, n, lower.tail = TRUE, log.p = FALSE,
                        alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_q_kolmogorov, p, n, lower.tail, log.p, alternative)

rkolmogorov <- function(nn, n, alternative = c("two.sided", "less", "greater"))
  .Call(.ext$ksx_r_kolmogorov, draws(nn), n, alternative)
