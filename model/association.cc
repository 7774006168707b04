// The gene-exposure association among controls, stored into a hypothesis.

#include <cmath>
#include <span>

#include "model/association_impl.h"
#include "model/model.h"
#include "model/records.h"

namespace gxe::model {

void set_association(Hypothesis& h, double or_ge, int k) {
  h.dependence.fill(0.0);
  if (or_ge == 1.0) return;
  const int kk = impl::bounded_categories(k);
  const double gamma = std::log(or_ge) / (static_cast<double>(kk) - 1.0);
  impl::ControlTable<double> pi{};
  impl::control_distribution(h.pgen[1], gamma, std::span<const double>(h.pexp.data(), kk), kk,
                             pi);
  for (int g = 1; g <= 2; ++g) {
    for (int e = 1; e <= kk; ++e) {
      const double product = h.pgen[g - 1] * h.pexp[e - 1];
      h.dependence[dependence_at(g, e)] =
          product > 0.0 ? pi[(g - 1) * kMaxCategories + (e - 1)] / product - 1.0 : 0.0;
    }
  }
}

}  // namespace gxe::model
