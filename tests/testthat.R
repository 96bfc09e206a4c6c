library(testthat)
library(ksdist)

test_check("ksdist")
