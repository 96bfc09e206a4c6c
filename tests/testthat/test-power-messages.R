# Bad calls of power_ks_test and ks_band: each is refused with a classed
# condition whose message names the argument (and the user's call).

g <- function(q) pnorm(q, 0.5)

bad_calls <- list(
  # call, condition class, words the message must have
  list(quote(power_ks_test(10, "pnorm", g, power = 0.8)), "ksdist_error_argument", "exactly one of 'n' and 'power'"),
  list(quote(power_ks_test(null = "pnorm", true = g)), "ksdist_error_argument", "exactly one of 'n' and 'power'"),
  list(quote(power_ks_test(0, "pnorm", g)), "ksdist_error_argument", "'n' must be whole numbers"),
  list(quote(power_ks_test(2.5, "pnorm", g)), "ksdist_error_argument", "'n' must be whole numbers"),
  list(quote(power_ks_test(c(10, NA), "pnorm", g)), "ksdist_error_argument", "'n' must be whole numbers"),
  list(quote(power_ks_test("10", "pnorm", g)), "ksdist_error_argument", "'n' must be whole numbers"),
  list(quote(power_ks_test(10, "pnorm", g, sig.level = 1.5)), "ksdist_error_argument", "'sig.level' must be a single number between 0 and 1"),
  list(quote(power_ks_test(10, "pnorm", g, sig.level = c(0.01, 0.05))), "ksdist_error_argument", "'sig.level'"),
  list(quote(power_ks_test(null = "pnorm", true = g, power = 1)), "ksdist_error_argument", "'power' must be a single number"),
  list(quote(power_ks_test(10, "pnorm", g, alternative = "both")), "ksdist_error", "'alternative' must be one of"),
  list(quote(power_ks_test(10, "dnorm", g)), "ksdist_error_null", "'null' names the density function"),
  list(quote(power_ks_test(10, "pnorm", "qnorm")), "ksdist_error_null", "'true' names the quantile function"),
  list(quote(power_ks_test(10, "pnorm", "no_such_function_here")), "ksdist_error_null", "'true' names no function"),
  list(quote(power_ks_test(10, "pnorm")), "ksdist_error_argument", "'true' must be the true distribution"),
  list(quote(power_ks_test(10, true = g)), "ksdist_error_null", "'null' must be the null distribution"),
  list(quote(power_ks_test(10, "pnorm", 3)), "ksdist_error_null", "'true' must be a distribution function"),
  list(quote(power_ks_test(10, "pnorm", function(q) 1 - pnorm(q))), "ksdist_error_null", "'true' must be a distribution function"),
  list(quote(power_ks_test(10, function(q) dnorm(q), g)), "ksdist_error_null", "'null' must be a distribution function"),
  list(quote(power_ks_test(10, "pnorm", function(q) stop("no"))), "ksdist_error", "given as 'true' failed: no"),
  list(quote(power_ks_test(10, "pnorm", g, nsims = 5)), "ksdist_error_argument", "unused argument 'nsims'; did you mean 'nsim'"),
  list(quote(power_ks_test(10, "pnorm", g, 0.05, NULL, "two.sided", 3)), "ksdist_error_argument", "takes its options by name"),
  list(quote(power_ks_test(10, "pnorm", g, m = 5)), "ksdist_error_argument", "'m', the size of a second sample"),
  list(quote(power_ks_test(10, "pnorm", list(x = "pnorm", y = g))), "ksdist_error_argument", "'null' plays no part"),
  list(quote(power_ks_test(10, true = list(a = "pnorm", b = g))), "ksdist_error_argument", "list\\(x = , y = \\)"),
  list(quote(power_ks_test(10, true = list("pnorm", g, g))), "ksdist_error_argument", "list\\(x = , y = \\)"),
  list(quote(power_ks_test(10, true = list(x = "pnorm", y = g), nsim = 0)), "ksdist_error_argument", "'nsim' must be a whole number"),
  list(quote(power_ks_test(10, true = list(x = "pnorm", y = g), seed = "a")), "ksdist_error_argument", "'seed' must be NULL or a single number"),
  list(quote(power_ks_test(10, true = list(x = "pnorm", y = g), m = c(3, 4))), "ksdist_error_argument", "'m' must be a single size"),
  list(quote(power_ks_test(true = list(x = "pnorm", y = "pnorm"), power = 0.8)), "ksdist_error_power", "the power is the size of the test"),
  list(quote(power_ks_test(10, function(q) ppois(q, 3), g, support = "0:10")), "ksdist_error_support", "'support' must be a numeric vector"),
  list(quote(power_ks_test(10, function(q) ifelse(q < 0, 0, 0.3 + 0.7 * pexp(q)), g)), "ksdist_error_support", "jumps at 0 .* give the points where it jumps as 'support'"),
  list(quote(power_ks_test(10, "pnorm", g, support = 1:3)), "ksdist_error_support", "does not jump at"),
  # Step functions that are not distribution functions, as null or truth.
  list(quote(power_ks_test(20, stepfun(1:3, c(0, 0.2, 0.5, 0.8)), function(q) ppois(q, 2))), "ksdist_error_null",
       "step function given as 'null' must be a distribution function"),
  list(quote(power_ks_test(20, function(q) ppois(q, 2), stepfun(1:3, c(0.1, 0.2, 0.5, 1)))), "ksdist_error_null",
       "step function given as 'true' must be a distribution function"),
  list(quote(power_ks_test(20, true = list(x = stepfun(1:2, c(0, 0.5, 0.9)), y = "pnorm"), nsim = 10)),
       "ksdist_error_null", "step function given as 'true\\$x' must be"),
  list(quote(power_ks_test(null = "pnorm", true = "pnorm", power = 0.8)), "ksdist_error_power", "does not depart from 'null'"),
  list(quote(power_ks_test(null = "pnorm", true = function(q) pnorm(q, 1), power = 0.8, alternative = "greater")),
       "ksdist_error_power", "upwards"),
  list(quote(ks_band("a")), "ksdist_error", "'x' must be a numeric vector of observations"),
  list(quote(ks_band(c(NA, NA))), "ksdist_error_argument", "not enough"),
  list(quote(ks_band(1:5, level = 1)), "ksdist_error_argument", "'level' must be a single number between 0 and 1"),
  list(quote(ks_band(1:5, level = NA)), "ksdist_error_argument", "'level'"),
  list(quote(ks_band(1:5, alternative = "less")), "ksdist_error_argument", "'alternative' must be one of \"two.sided\", \"upper\", \"lower\""),
  list(quote(plot(ks_band(1:5), null = "dnorm")), "ksdist_error_null", "density function"))

test_that("every bad call is refused with a classed error naming the argument and the call", {
  pdf(NULL)
  on.exit(dev.off())
  for (b in bad_calls) {
    err <- tryCatch(eval(b[[1]]), error = function(e) e)
    label <- deparse1(b[[1]])
    expect_s3_class(err, b[[2]])
    expect_match(conditionMessage(err), b[[3]], label = label)
    # The call the user typed, not an internal one.
    if (inherits(err, "ksdist_error") && deparse1(b[[1]][[1]]) != "plot")
      expect_true(deparse1(conditionCall(err)[[1]]) %in% c("power_ks_test", "ks_band", "plot"), label = label)
  }
})
