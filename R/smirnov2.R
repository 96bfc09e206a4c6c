# The exact distribution of the two-sample statistic: D = sup |F_m - G_n|
# (two-sided), D^+ = sup (F_m - G_n) or D^- = sup (G_n - F_m) (one-sided), for
# samples of sizes m (x) and n (y), without ties or given the pattern of ties
# of the pooled sample.  D takes only the values k/(m n).

dsmirnov2 <- function(x, m, n, log = FALSE, alternative = c("two.sided", "less", "greater"),
                      pooled = NULL)
  .Call(.ext$ksx_d_smirnov2, x, m, n, log, alternative, tie_blocks(pooled, m, n))

psmirnov2 <- function(q, m, n, lower.tail = TRUE, log.p = FALSE,
                      alternative = c("two.sided", "less", "greater"), pooled = NULL)
  .Call(.ext$ksx_p_smirnov2, q, m, n, lower.tail, log.p, alternative, tie_blocks(pooled, m, n))

qsmirnov2 <- function(p, m, n, lower.tail = TRUE, log.p = FALSE,
                      alternative = c("two.sided", "less", "greater"), pooled = NULL)
  .Call(.ext$ksx_q_smirnov2, p, m, n, lower.tail, log.p, alternative, tie_blocks(pooled, m, n))

rsmirnov2 <- function(nn, m, n, alternative = c("two.sided", "less", "greater"), pooled = NULL)
  .Call(.ext$ksx_r_smirnov2, draws(nn), m, n, alternative, tie_blocks(pooled, m, n))

# The tie pattern of the pooled sample as the sizes of its blocks of equal
# values in increasing order; NULL when there is none to take into account.
tie_blocks <- function(pooled, m, n) {
  if (is.null(pooled)) return(NULL)
  pooled <- check_sample(pooled, "pooled")
  if (anyNA(pooled))
    stop_call("'pooled' must not contain missing values")
  if (length(m) != 1L || length(n) != 1L || !is.numeric(m) || !is.numeric(n) ||
      is.na(m) || is.na(n) || length(pooled) != m + n)
    stop_call("with 'pooled', 'm' and 'n' must be single sizes adding up to the length of 'pooled'")
  b <- tabulate(match(pooled, sort(unique(pooled))))
  if (length(b) == length(pooled)) NULL else b
}
