# The exact module's load-time check of its bits (R/selfcheck.R).

test_that("the stored bit patterns are those of the reference operation order", {
  skip_if_valgrind()
  # tools/make-selfcheck.R made the table from these same R versions.
  for (cs in ksdist:::.module_cases) {
    a <- cs$args
    ref <- switch(cs$f,
                  pKS2 = ks2_ref(a[[1]], a[[2]]),
                  pKolmogorov2x = if (is.na(a[[1]])) a[[1]] else pk2x_ref(a[[1]], a[[2]]),
                  pSmirnov2x = ps2x_ref(a[[1]], a[[2]], a[[3]]))
    expect_identical(cs$bits, sprintf("%a", ref), label = cs$f)
  }
})

test_that("this build passes the check under every kernel", {
  expect_null(ksdist:::.module_bit_mismatch())
  # The check leaves the kernel choice as it found it.
  withr::with_envvar(c(KSDIST_KERNEL = "sse2"), {
    expect_null(ksdist:::.module_bit_mismatch())
    expect_identical(Sys.getenv("KSDIST_KERNEL"), "sse2")
  })
  expect_identical(Sys.getenv("KSDIST_KERNEL", unset = NA), NA_character_)
})

test_that("a wrong bit pattern is reported with the case and the likely flags", {
  cases <- ksdist:::.module_cases
  k <- which(vapply(cases, function(cs) cs$f == "pKolmogorov2x" && cs$every_kernel, TRUE))[1]
  good <- cases[[k]]$bits
  # One unit in the last place off, as a fused multiply-add would make it.
  cases[[k]]$bits <- sprintf("%a", ulps(as.numeric(good), 1))
  bad <- ksdist:::.module_bit_mismatch(cases)
  expect_match(bad, "^pKolmogorov2x\\([0-9.]+, [0-9]+\\)( with the [a-z0-9]+ kernel)? gave 0x")
  expect_match(bad, paste("gave", good), fixed = TRUE)
  msg <- ksdist:::.module_bit_message(bad)
  for (flag in c("-ffast-math", "-ffp-contract=fast", "-freciprocal-math", "-fassociative-math",
                 "-mfpmath=387", "~/.R/Makevars", "reinstall"))
    expect_match(msg, flag, fixed = TRUE)
  # Missing values are compared by their kind as well.
  nan_case <- list(list(f = "pSmirnov2x", args = list(NaN, 5L, 5L), every_kernel = FALSE, bits = "NA"))
  expect_match(ksdist:::.module_bit_mismatch(nan_case), "gave NaN instead of NA")
})

test_that("every kernel name is accepted and gives the same bits", {
  skip_if_valgrind()
  d <- c(0.274, 0.02, 0.06, 0.9)
  n <- c(10L, 1000L, 600L, 50L)
  best <- mapply(pk2x, d, n)
  for (k in c("avx512", "avx2", "sse2", "scalar", "no-such-kernel", "")) {
    withr::with_envvar(c(KSDIST_KERNEL = k),
                       expect_identical(hex(mapply(pk2x, d, n)), hex(best), label = k))
  }
})
