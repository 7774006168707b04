library(testthat)
library(gxeplan)

test_check("gxeplan")
