# How late each long call acts on a time limit: every call runs in a fresh
# R process under setTimeLimit(elapsed = 0.5); the table gives the time from
# the start of the call to its end (a prompt stop is about 0.5 s) and how it
# ended.  A process still running after `cap` seconds is killed.
#
#   Rscript bench/timelimits.R [library] [cap]   (default: the installed ksdist, 60 s)
args <- commandArgs(trailingOnly = TRUE)
lib <- if (length(args) >= 1 && nzchar(args[1])) args[1] else ""
cap <- if (length(args) >= 2) as.numeric(args[2]) else 60
setup <- c("set.seed(1)", "q <- runif(3e6, 0.05, 0.3)", "u <- runif(3e7, 0.1, 3)", "pk <- runif(3e6)",
           "x <- rnorm(3e5)", "y <- rnorm(3e5 + 1)")
calls <- c("pkolmogorov(q, 100)",
           "pkolmogorov(0.001, 1e6, lower.tail = FALSE)",
           "dkolmogorov(0.003, 1e6)",
           "qkolmogorov(0.95, 3e5)",
           "rkolmogorov(1e6, 1e4)",
           "dsmirnov2((0:2e4) / 120000, 300, 400)",
           "psmirnov2(0.002, 1e6, 1e6 + 1)",
           "qsmirnov2(0.5, 1e6, 1e6 + 1)",
           "rsmirnov2(1e6, 3000, 4000)",
           "pkolmogorov_limit(u)",
           "dkolmogorov_limit(u)",
           "qkolmogorov_limit(pk)",
           "rkolmogorov_limit(3e6)",
           "pkolmogorov_discrete(0.3, 20, 'ppois', lambda = 2, support = 0:3e7)",
           "ks_test(x, y, exact = TRUE)")
rscript <- file.path(R.home("bin"), "Rscript")
cat(sprintf("%-70s %8s  %s\n", "call", "took s", "ended"))
for (cl in calls) {
  code <- c(if (nzchar(lib)) sprintf(".libPaths(c(%s, .libPaths()))", deparse(lib)),
            "suppressMessages(library(ksdist))", setup,
            # One top-level expression: a transient limit ends with it.
            "t0 <- proc.time()[[3]]",
            sprintf("r <- local({setTimeLimit(elapsed = 0.5, transient = TRUE); on.exit(setTimeLimit()); tryCatch({%s; 'finished'}, error = function(e) conditionMessage(e))})", cl),
            "cat(sprintf('RESULT %.2f %s\\n', proc.time()[[3]] - t0, substr(gsub('\\n', ' ', r), 1, 40)))")
  f <- tempfile(fileext = ".R")
  writeLines(code, f)
  out <- suppressWarnings(system2("timeout", c(cap, rscript, f), stdout = TRUE, stderr = TRUE))
  res <- grep("^RESULT", out, value = TRUE)
  if (length(res)) {
    parts <- strsplit(sub("^RESULT ", "", res), " ")[[1]]
    cat(sprintf("%-70s %8s  %s\n", cl, parts[1], paste(parts[-1], collapse = " ")))
  } else {
    cat(sprintf("%-70s %8s  %s\n", cl, paste0(">", cap), "killed"))
  }
}
