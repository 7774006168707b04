#include "cli/simulation.h"

#include <vector>

namespace gxe::cli {
namespace {

// The study of the calculation at one of its extremes.
simulate::Study study_at(const plan::Scenario& s, const plan::Result& r, const plan::Extreme& x) {
  const plan::Design& d = s.design;
  simulate::Study study;
  const int k = d.categories();
  study.exposure_prevalences = d.quantiles != 0 ? std::vector<double>(k, 1.0 / k)
                                                : d.exposure_prevalences;
  study.carrier_prevalence = d.gene_prevalence;
  study.controls_per_case = d.controls_per_case;
  study.or_g = x.or_g;
  study.or_e = x.or_e;
  study.ror = d.ror;
  study.cases = r.n_cases;
  study.alpha = s.settings.alpha;
  return study;
}

}  // namespace

SimulationResult simulate_extremes(const plan::Scenario& scenario, const plan::Result& result,
                                   const SimulationSettings& settings, ProgressLine& progress,
                                   const std::string& what) {
  SimulationResult out;
  out.simulation.replicates = static_cast<double>(settings.replicates);
  const plan::Extreme* points[] = {&result.least, &result.most};
  plan::SimulatedPoint* answers[] = {&out.simulation.least, &out.simulation.most};
  for (int i = 0; i < 2; ++i) {
    // A box of one point has one extreme: simulated once.
    if (i == 1 && result.most.or_g == result.least.or_g && result.most.or_e == result.least.or_e) {
      out.simulation.most = out.simulation.least;
      break;
    }
    simulate::Options options;
    options.replicates = settings.replicates;
    options.seed = settings.seed;
    options.threads = settings.threads;
    const std::string label =
        what + (i == 0 ? ", least favourable point" : ", most favourable point");
    options.progress = [&](long done, long total) {
      progress.update("simulating " + label, static_cast<double>(done),
                      static_cast<double>(total));
    };
    const simulate::Outcome o = simulate::simulate_power(study_at(scenario, result, *points[i]),
                                                         options);
    if (!o.ok()) {
      out.error = "simulation: " + o.error->message();
      return out;
    }
    *answers[i] = plan::SimulatedPoint{o.check.power, o.check.se,
                                       static_cast<double>(o.check.failed), o.check.wald_power};
  }
  return out;
}

}  // namespace gxe::cli
