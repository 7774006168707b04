# The Wald and likelihood-ratio formulas against glm() fits of the expected
# table: the alternative's cell table per case (cases summing to 1, controls
# c times the control distribution), the full model's vcov giving varh1 and
# the deviance difference of the model without the interaction giving the
# likelihood-ratio noncentrality per case. At a box of one point the
# engine's least favourable power is the power there.
expected_table <- function(k, prevalence, c, or_g, or_e, ror, exposure = rep(1 / k, k)) {
  s <- rep(0:(k - 1), 2)
  g <- rep(0:1, each = k)
  pi <- ifelse(g == 1, prevalence, 1 - prevalence) * rep(exposure, 2)
  odds <- exp(g * log(or_g) + s * log(or_e) / (k - 1) + g * s * log(ror) / (k - 1))
  data.frame(g = g, s = s, cases = odds * pi / sum(odds * pi), controls = c * pi)
}

test_that("the Wald and likelihood-ratio powers are those of glm's fits", {
  designs <- list(
    list(k = 4, prevalence = 0.3, c = 1, or_g = 1.5, or_e = 2, ror = 2, cases = 500),
    list(k = 5, prevalence = 0.1, c = 1, or_g = 1, or_e = 1, ror = 3, cases = 400),
    list(k = 3, prevalence = 0.2, c = 4, or_g = 0.8, or_e = 1.4, ror = 0.5, cases = 700),
    list(k = 6, prevalence = 0.6, c = 0.5, or_g = 2.5, or_e = 0.6, ror = 1.4, cases = 2500))
  z <- qnorm(0.975)
  for (d in designs) {
    cells <- expected_table(d$k, d$prevalence, d$c, d$or_g, d$or_e, d$ror)
    control <- glm.control(epsilon = 1e-15, maxit = 100)
    full <- suppressWarnings(glm(cbind(cases, controls) ~ g * s, family = binomial,
                                 data = cells, control = control))
    reduced <- suppressWarnings(glm(cbind(cases, controls) ~ g + s, family = binomial,
                                    data = cells, control = control))
    beg <- log(d$ror) / (d$k - 1)
    varh1 <- vcov(full)["g:s", "g:s"]
    shift <- sqrt(d$cases) * abs(beg) / sqrt(varh1)
    wald <- pnorm(shift - z) + pnorm(-shift - z)
    lambda <- d$cases * (deviance(reduced) - deviance(full))
    lr <- pchisq(z^2, df = 1, ncp = lambda, lower.tail = FALSE)
    at <- function(test) {
      gxe_power(d$cases, ror = d$ror, gene_prevalence = d$prevalence, quantiles = d$k,
                controls_per_case = d$c, or_e_range = d$or_e, or_g_range = d$or_g,
                test = test)$power_min
    }
    expect_equal(at("wald"), wald, tolerance = 1e-8)
    expect_equal(at("lr"), lr, tolerance = 1e-8)
  }
})

test_that("each test's size is the fewest whole cases that reach the target", {
  for (test in c("null-variance", "wald", "lr")) {
    args <- list(ror = 2.5, gene_prevalence = 0.2, quantiles = 4, or_e_range = c(1, 2),
                 or_g_range = c(0.8, 1.5), test = test)
    size <- do.call(gxe_size, c(list(0.85), args))
    expect_identical(size$test, test)
    fed_back <- do.call(gxe_power, c(list(size$n_cases - c(0, 1)), args))
    expect_identical(fed_back$power_min[1], size$power_min)
    expect_lt(fed_back$power_min[2], 0.85)
  }
})
