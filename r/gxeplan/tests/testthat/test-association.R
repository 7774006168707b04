# Gene and exposure associated among controls, checked against R's own glm:
# the control distribution built here from its definition (margins held by
# uniroot), the expected table of each hypothesis, and the variance of the
# interaction from glm's vcov give the power formula the package reports.

control_distribution <- function(p, q, or_ge) {
  k <- length(q)
  s <- seq_len(k) - 1
  gamma <- log(or_ge) / (k - 1)
  u <- uniroot(function(u) sum(q * plogis(u + gamma * s)) - p,
               qlogis(p) + c(-1, 1) * (abs(log(or_ge)) + 1), tol = 1e-14)$root
  rbind(q * plogis(-(u + gamma * s)), q * plogis(u + gamma * s))  # rows: g = 0, 1
}

# Per-case variance of the interaction estimate in the expected table of one
# hypothesis: c controls and one case per case enrolled.
interaction_variance <- function(pi, c, bg, be, beg) {
  k <- ncol(pi)
  cells <- expand.grid(s = seq_len(k) - 1, g = 0:1)
  control <- c * as.vector(t(pi))
  case <- exp(bg * cells$g + be * cells$s + beg * cells$g * cells$s) * as.vector(t(pi))
  case <- case / sum(case)
  fit <- suppressWarnings(glm(cbind(case, control) ~ g * s, family = binomial, data = cells,
                              control = glm.control(epsilon = 1e-14, maxit = 100)))
  vcov(fit)["g:s", "g:s"]
}

test_that("the power with an association is the formula on glm's variances", {
  designs <- list(
    list(q = rep(0.25, 4), p = 0.3, c = 1, or_e = 2, or_g = 1.5, ror = 2, or_ge = 2.5, n = 800),
    list(q = c(0.5, 0.3, 0.2), p = 0.1, c = 2, or_e = 1.5, or_g = 1.2, ror = 0.5, or_ge = 0.4,
         n = 1500),
    list(q = rep(0.2, 5), p = 0.6, c = 1, or_e = 1, or_g = 1, ror = 1.8, or_ge = 4, n = 600))
  for (d in designs) {
    row <- as.data.frame(gxe_power(d$n, ror = d$ror, gene_prevalence = d$p,
                                   exposure_prevalences = d$q, controls_per_case = d$c,
                                   or_e = d$or_e, or_g = d$or_g, or_ge = d$or_ge))
    k <- length(d$q)
    pi <- control_distribution(d$p, d$q, d$or_ge)
    varh0 <- interaction_variance(pi, d$c, log(d$or_g), log(d$or_e) / (k - 1), 0)
    beg <- log(d$ror) / (k - 1)
    varh1 <- interaction_variance(pi, d$c, log(row$or_g_conditional),
                                  log(row$or_e_conditional) / (k - 1), beg)
    power <- pnorm((sqrt(d$n) * abs(beg) - qnorm(0.975) * sqrt(varh0)) / sqrt(varh1))
    expect_equal(row$power_min, power, tolerance = 1e-8)
    expect_identical(row$or_ge, d$or_ge)
  }
})

test_that("independence is the default, and a wrong association is refused", {
  base <- gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4)
  expect_identical(as.data.frame(gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4,
                                           or_ge = 1)),
                   as.data.frame(base))
  expect_error(gxe_power(500, ror = 2, gene_prevalence = 0.3, quantiles = 4, or_ge = 0),
               "or_ge = 0: must be greater than 0", fixed = TRUE)
})

test_that("a searched prevalence and association: no corner of the box is less favourable", {
  design <- list(ror = 2, quantiles = 4, or_e = 2, or_g = 1.5, or_e_range = c(1.5, 2.5),
                 or_g_range = c(1, 2))
  searched <- as.data.frame(do.call(gxe_power, c(list(1000), design,
    list(gene_prevalence_range = c(0.2, 0.4), or_ge_range = c(0.7, 1.5)))))
  expect_true(searched$gene_prevalence_at_min >= 0.2 && searched$gene_prevalence_at_min <= 0.4)
  expect_true(searched$or_ge_at_min >= 0.7 && searched$or_ge_at_min <= 1.5)
  for (p in c(0.2, 0.4)) {
    for (or_ge in c(0.7, 1.5)) {
      corner <- as.data.frame(do.call(gxe_power, c(list(1000), design,
        list(gene_prevalence = p, or_ge = or_ge))))
      expect_lte(searched$power_min, corner$power_min + 1e-12)
      expect_gte(searched$power_max, corner$power_max - 1e-12)
    }
  }
})
