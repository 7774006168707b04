#include "values/fault.h"

#include <cmath>

#include "values/number.h"

namespace gxe::values {
namespace {

constexpr double kPrevalenceSumTolerance = 1e-6;

}  // namespace

std::string Fault::rule_naming(
    const std::function<std::string(std::string_view)>& name_of) const {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t open = rule.find('{', at);
    const std::size_t close = rule.find('}', open == std::string::npos ? at : open);
    if (open == std::string::npos || close == std::string::npos) break;
    out.append(rule, at, open - at);
    out += name_of(std::string_view(rule).substr(open + 1, close - open - 1));
    at = close + 1;
  }
  return out.append(rule, at);
}

std::string Fault::plain_rule() const {
  return rule_naming([](std::string_view name) { return std::string(name); });
}

std::string Fault::message() const {
  if (input.empty()) return plain_rule();
  if (value.empty()) return input + " " + plain_rule();
  return input + " = " + value + ": " + plain_rule();
}

Fault fault(std::string_view input, double value, std::string_view rule) {
  return Fault{std::string(input), format_number(value), std::string(rule)};
}

std::optional<Fault> check_positive(std::string_view input, double x) {
  if (!std::isfinite(x)) return fault(input, x, kFiniteRule);
  if (!(x > 0.0)) return fault(input, x, kPositiveRule);
  return std::nullopt;
}

std::optional<Fault> check_probability(std::string_view input, double x) {
  if (!std::isfinite(x)) return fault(input, x, kFiniteRule);
  if (!(x > 0.0 && x < 1.0)) return fault(input, x, kProbabilityRule);
  return std::nullopt;
}

std::optional<Fault> check_exposure_prevalences(std::string_view input,
                                                std::span<const double> prevalences) {
  const std::size_t k = prevalences.size();
  if (k < static_cast<std::size_t>(kMinCategories) ||
      k > static_cast<std::size_t>(kMaxCategories)) {
    return Fault{std::string(input), std::to_string(k) + " values",
                 "must give from 2 to 100 prevalences, one per exposure category"};
  }
  double sum = 0.0;
  for (const double p : prevalences) {
    if (!std::isfinite(p)) return fault(input, p, "must be finite numbers");
    if (p < 0.0 || p > 1.0) return fault(input, p, "must each be from 0 to 1");
    sum += p;
  }
  if (!(std::fabs(sum - 1.0) <= kPrevalenceSumTolerance)) {
    return fault(input, sum, "must sum to 1 (within 1e-6); they sum to this");
  }
  return std::nullopt;
}

}  // namespace gxe::values
