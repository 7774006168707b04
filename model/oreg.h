#ifndef GXE_MODEL_OREG_H_
#define GXE_MODEL_OREG_H_

// Marginal-to-conditional odds ratios.
//
// The odds ratios entered under the null are both marginal and conditional
// (no interaction, G and E independent among controls). Under the
// alternative, with interaction beg, the conditional odds ratios that keep
// the marginal ones at the entered values differ; `oreg` solves for them and
// prints them as a guide to the centre of the ranges asked for next.

#include <span>

#include "model/records.h"

namespace gxe::model {

// The conversion alone, without a word on the console: fills rec.altodr,
// solves the two conditions and returns the solver's verdict (1: converged;
// otherwise the results are the solver's last iterate). Arguments as for
// `oreg`, all by value or read only; `dependence` (a Hypothesis's, or empty
// for independence) associates gene and exposure among controls, and then
// the entered odds ratios are the null's conditional ones and the
// alternative keeps the marginal ones the null has with that association.
int convert_odds_ratios(Records& rec, double orgm, double oretbm, double ror, int k,
                        std::span<const double> pexp, std::span<const double> pgen,
                        double& oretbc, double& orgc,
                        std::span<const double> dependence = {});

// Solves for the conditional odds ratios of the alternative and prints the
// report. orgm: marginal OR(G); oretbm: marginal top-versus-bottom OR^tb(E);
// ror: ROR^tb as entered (not logged); k: number of exposure categories
// (k > 1); pexp (k entries) and pgen (2 entries): control distributions.
// Results: oretbc = conditional OR^tb(E|G=0), orgc = conditional OR(G|E=0).
// Fills rec.altodr before solving.
void oreg(Records& rec, double& orgm, double& oretbm, double& ror, int& k, std::span<double> pexp,
          std::span<double> pgen, double& oretbc, double& orgc);

// Residuals of the two conditions at x = (conditional per-step log OR of
// exposure among non-carriers, conditional log OR of the gene at E = 0), in
// the callback form of the nonlinear-equation solver. p points to the
// model::Records of the calculation, whose `altodr` is read; n and iflag are
// not used. Always returns 0 (never asks the solver to stop).
int func(void* p, int n, const double* x, double* fvec, int iflag);

}  // namespace gxe::model

#endif  // GXE_MODEL_OREG_H_
