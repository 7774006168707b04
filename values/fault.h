#ifndef GXE_VALUES_FAULT_H_
#define GXE_VALUES_FAULT_H_

// An input that breaks a rule, as one record for every library and front
// end: which input, its value as shown, and the rule. Each front end renders
// the same record in its own form (an option, a batch column, an R argument),
// so a rule is worded once.
//
// The checks shared by the planning library and the simulation live here as
// well, so the two accept exactly the same designs.

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace gxe::values {

//
// A rule may refer to other inputs by their column names in braces, "needs
// {genetic_model}", which each front end writes as it names its inputs
// (--genetic-model on the command line).
struct Fault {
  std::string input;  // by its column name ("gene_prevalence"); empty when no single input is
  std::string value;  // as shown (numbers in shortest round-trip form); may be empty
  std::string rule;   // what is allowed: "must be greater than 0", "is not one of a, b"

  // The rule with each {name} written by `name_of(name)`.
  std::string rule_naming(const std::function<std::string(std::string_view)>& name_of) const;
  // The rule with the names as they are.
  std::string plain_rule() const;
  // "gene_prevalence = 1.5: must be greater than 0 and less than 1",
  // "quantiles is required, or exposure_prevalences: ..." without a value,
  // or the rule alone when no input is named.
  std::string message() const;
};

// A fault of a number, its value in shortest round-trip form.
Fault fault(std::string_view input, double value, std::string_view rule);

// The number k of exposure categories a design may have.
inline constexpr int kMinCategories = 2;
inline constexpr int kMaxCategories = 100;

inline constexpr std::string_view kFiniteRule = "must be a finite number";
inline constexpr std::string_view kPositiveRule = "must be greater than 0";
inline constexpr std::string_view kProbabilityRule = "must be greater than 0 and less than 1";

// The fault of a number that must be finite and positive (a count, an odds
// ratio, controls per case), or a probability in (0, 1) (a prevalence, a
// level, a power); nothing when it holds.
std::optional<Fault> check_positive(std::string_view input, double x);
std::optional<Fault> check_probability(std::string_view input, double x);

// The prevalences of the k exposure categories among controls: from 2 to 100
// of them, each finite and from 0 to 1 (a category may be empty), summing to
// 1 within 1e-6.
std::optional<Fault> check_exposure_prevalences(std::string_view input,
                                                std::span<const double> prevalences);

}  // namespace gxe::values

#endif  // GXE_VALUES_FAULT_H_
