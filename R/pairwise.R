# Two-sample Kolmogorov-Smirnov tests between every pair of groups, as
# pairwise.wilcox.test() does it: the p-values of ks_test() (exact, also
# with ties, wherever the sizes allow), adjusted together by p.adjust(), as
# a "pairwise.htest" table (row group against column group).

pairwise_ks_test <- function(x, ...) UseMethod("pairwise_ks_test")

pairwise_ks_test.default <- function(x, g, p.adjust.method = "holm",
                                     alternative = c("two.sided", "less", "greater"),
                                     exact = NULL, ...) {
  dname <- paste(deparse1(substitute(x)), "and", deparse1(substitute(g)))
  p.adjust.method <- check_p_adjust(p.adjust.method)
  alternative <- check_alternative(alternative)
  x <- check_sample(x, "x")
  if (missing(g) || is.null(g))
    stop_call("'g' must be the grouping of 'x': a factor (or vector) with one value per observation",
              "ksdist_error_argument")
  if (!is.null(dim(g)) && NCOL(g) > 1L || is.list(g))
    stop_call("'g' must be a single grouping vector, not a matrix, data frame or list",
              "ksdist_error_argument")
  if (length(g) != length(x))
    stop_call(sprintf("'x' and 'g' must have the same length, but have lengths %d and %d",
                      length(x), length(g)), "ksdist_error_argument")
  keep <- !is.na(x) & !is.na(g)
  dropped <- sum(!keep)
  if (dropped)
    dname <- sprintf("%s (%d observation%s with missing values removed)", dname, dropped,
                     if (dropped == 1L) "" else "s")
  # factor() keeps the order of a factor's levels and drops those left
  # without observations.
  g <- factor(g[keep])
  x <- x[keep]
  if (nlevels(g) < 2L)
    stop_call(sprintf("'g' must have at least 2 groups with observations, but has %d", nlevels(g)),
              "ksdist_error_argument")
  groups <- split(x, g)
  kinds <- character()
  ties <- logical()
  stat <- matrix(NA_real_, nlevels(g) - 1L, nlevels(g) - 1L,
                 dimnames = list(levels(g)[-1L], levels(g)[-nlevels(g)]))
  warned <- character()
  compare <- function(i, j) {
    r <- withCallingHandlers(
      ks_test.default(groups[[i]], groups[[j]], alternative = alternative, exact = exact, ...),
      # One warning of each kind for the whole table, not one per pair.
      warning = function(w) {
        if (conditionMessage(w) %in% warned) invokeRestart("muffleWarning")
        warned <<- c(warned, conditionMessage(w))
      })
    kinds <<- c(kinds, if (isTRUE(r$exact)) "exact" else if (!is.null(r$B)) "Monte Carlo" else "asymptotic")
    ties <<- c(ties, grepl("conditional on the ties", r$method, fixed = TRUE))
    stat[i - 1L, j] <<- r$statistic
    r$p.value
  }
  pval <- stats::pairwise.table(compare, levels(g), p.adjust.method)
  method <- pairwise_method(kinds, ties, alternative)
  structure(list(method = method, data.name = dname, p.value = pval,
                 p.adjust.method = p.adjust.method, statistic = stat, alternative = alternative),
            class = "pairwise.htest")
}

# values ~ group, as ks_test()'s formula method takes it, with any number
# of groups.
pairwise_ks_test.formula <- function(formula, data, subset, na.action, ...) {
  if (missing(formula) || !inherits(formula, "formula") || length(formula) != 3L ||
      length(attr(stats::terms(formula[-2L]), "term.labels")) != 1L)
    stop_call("'formula' must be of the form 'values ~ group'", "ksdist_error_argument")
  fr <- formula_frame(match.call(expand.dots = FALSE), data, parent.frame())
  res <- pairwise_ks_test.default(fr$values, fr$mf[[-fr$response]], ...)
  res$data.name <- paste(names(fr$mf)[fr$response], "and", names(fr$mf)[-fr$response])
  res
}

check_p_adjust <- function(method) {
  choices <- stats::p.adjust.methods
  if (identical(method, choices)) return(choices[1L])
  if (!is.character(method) || length(method) != 1L || is.na(method) ||
      is.na(k <- pmatch(method, choices)))
    stop_call(sprintf("'p.adjust.method' must be one of %s (see p.adjust)",
                      paste(dQuote(choices, FALSE), collapse = ", ")), "ksdist_error_argument")
  choices[k]
}

# The method line after "Pairwise comparisons using": how the p-values
# were computed (all the same way, or how many pairs each way), whether
# any is conditional on ties, and a one-sided alternative in the table's
# terms (each row's group is the test's x, each column's its y).
pairwise_method <- function(kinds, ties, alternative) {
  tab <- table(factor(kinds, c("exact", "Monte Carlo", "asymptotic")))
  tab <- tab[tab > 0]
  method <- "two-sample Kolmogorov-Smirnov tests"
  if (length(tab) == 1L) {
    method <- paste(names(tab), method)
  } else {
    method <- sprintf("%s (%s)", method,
                      paste(sprintf("%s for %d pair%s", names(tab), tab, ifelse(tab == 1L, "", "s")),
                            collapse = ", "))
  }
  if (any(ties)) method <- paste0(method, if (all(ties)) ", conditional on the ties"
                                          else ", conditional on the ties where there are any")
  if (alternative != "two.sided")
    method <- paste0(method, sprintf(", one-sided: the CDF of the row's group lies %s that of the column's",
                                     if (alternative == "greater") "above" else "below"))
  method
}
