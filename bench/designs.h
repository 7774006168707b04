#ifndef GXE_BENCH_DESIGNS_H_
#define GXE_BENCH_DESIGNS_H_

// Designs on which the formulas are compared with simulated studies: each a
// point of the alternative with the null at the same odds ratios, equally
// frequent exposure categories.

#include <array>

namespace gxe::bench {

struct Design {
  const char* name;
  int k;
  double carrier;
  double c;
  double or_g;
  double or_e;
  double ror;
  double cases;
  double alpha;
};

inline constexpr std::array<Design, 13> kDesigns = {{
    {"known_example", 5, 0.1, 1, 1, 1, 3, 400, 0.05},
    {"readme_example", 4, 0.3, 1, 1.5, 2, 2, 500, 0.05},
    {"balanced_large", 3, 0.5, 1, 1, 1, 1.4, 3000, 0.05},
    {"rare_carriers", 4, 0.05, 1, 1, 1, 2.5, 1000, 0.05},
    {"strong_ror_few_cases", 3, 0.3, 1, 1, 1, 4, 200, 0.05},
    {"k2_strong_ror", 2, 0.2, 1, 1, 1, 3, 300, 0.05},
    {"four_controls", 4, 0.1, 4, 1, 1, 2.5, 300, 0.05},
    {"protective_ror", 4, 0.3, 1, 1, 1, 0.4, 300, 0.05},
    {"harmful_g_and_e", 4, 0.2, 1, 2, 3, 2.5, 400, 0.05},
    {"small_cells_k10", 10, 0.05, 1, 1, 1, 3, 300, 0.05},
    {"sparse_carriers", 4, 0.02, 1, 1, 1, 4, 300, 0.05},
    {"sparse_protective", 5, 0.05, 1, 1, 1, 0.25, 300, 0.05},
    {"genome_wide_alpha", 3, 0.3, 1, 1, 1, 2, 5000, 5e-8},
}};

}  // namespace gxe::bench

#endif  // GXE_BENCH_DESIGNS_H_
