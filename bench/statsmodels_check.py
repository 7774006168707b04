#!/usr/bin/python3
"""The simulation check as a statistician would write it with statsmodels.

For some designs of gxe_simulate_designs, draws the same kind of studies with
numpy, fits the logistic model with intercept, genotype, exposure score and
their product to each grouped table with statsmodels' GLM (Binomial family),
and runs the two-sided Wald test of the product term. Prints the time per
1,000 replicates and whether the two simulated powers agree within their
Monte-Carlo errors. Run by hand, after building the release preset:

    /usr/bin/python3 bench/statsmodels_check.py \
        --binary build/release/bench/gxe_simulate_designs --replicates 2000
"""

import argparse
import csv
import io
import math
import subprocess
import time
import warnings

import numpy as np
import statsmodels.api as sm
from scipy.stats import norm


def read_designs(binary):
    out = subprocess.run([binary, "--csv"], check=True, capture_output=True, text=True).stdout
    return {row["name"]: row for row in csv.DictReader(io.StringIO(out))}


def cell_probabilities(k, carrier, or_g, or_e, ror):
    """Cells ordered non-carriers at scores 0..k-1, then carriers."""
    g = np.repeat([0.0, 1.0], k)
    s = np.tile(np.arange(k, dtype=float), 2)
    pexp = np.full(2 * k, 1.0 / k)
    pgen = np.where(g == 1, carrier, 1 - carrier)
    controls = pgen * pexp
    be, beg = math.log(or_e) / (k - 1), math.log(ror) / (k - 1)
    cases = controls * np.exp(math.log(or_g) * g + be * s + beg * g * s)
    x = np.column_stack([np.ones(2 * k), g, s, g * s])
    return cases / cases.sum(), controls / controls.sum(), x


def simulate(d, replicates, seed):
    k = int(d["k"])
    p_case, p_control, x = cell_probabilities(
        k, float(d["carrier"]), float(d["or_g"]), float(d["or_e"]), float(d["ror"]))
    n_cases = round(float(d["cases"]))
    n_controls = round(float(d["c"]) * float(d["cases"]))
    z = norm.isf(float(d["alpha"]) / 2)
    rng = np.random.default_rng(seed)
    rejections = failed = 0
    start = time.perf_counter()
    for _ in range(replicates):
        y = rng.multinomial(n_cases, p_case)
        c = rng.multinomial(n_controls, p_control)
        seen = y + c > 0  # a cell without subjects adds nothing (and would give 0/0)
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                fit = sm.GLM(np.column_stack([y, c])[seen], x[seen],
                             family=sm.families.Binomial()).fit()
        except Exception:  # perfect separation, singular information
            failed += 1
            continue
        if not fit.converged or not np.isfinite(fit.bse[3]):
            failed += 1
            continue
        if abs(fit.params[3] / fit.bse[3]) > z:
            rejections += 1
    seconds = time.perf_counter() - start
    return rejections / replicates, failed, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default="build/release/bench/gxe_simulate_designs")
    parser.add_argument("--replicates", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--designs", nargs="*",
                        default=["known_example", "readme_example", "sparse_carriers"])
    args = parser.parse_args()
    designs = read_designs(args.binary)
    print("| design | C++ power +/- se (10,000) | statsmodels power +/- se (%d) | difference / "
          "combined se | statsmodels failed | statsmodels s per 1,000 |" % args.replicates)
    print("|---|---|---|---|---|---|")
    for name in args.designs:
        d = designs[name]
        power, failed, seconds = simulate(d, args.replicates, args.seed)
        se = math.sqrt(power * (1 - power) / args.replicates)
        cpp, cpp_se = float(d["simulated"]), float(d["se"])
        zdiff = (power - cpp) / math.hypot(se, cpp_se)
        print("| %s | %.4f +/- %.4f | %.4f +/- %.4f | %+.2f | %d | %.2f |" % (
            name, cpp, cpp_se, power, se, zdiff, failed, 1000 * seconds / args.replicates))


if __name__ == "__main__":
    main()
