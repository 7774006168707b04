#ifndef GXE_PLAN_REQUEST_TEXT_H_
#define GXE_PLAN_REQUEST_TEXT_H_

// A request from the texts a user typed, one per input (the command line's
// options, the web page's fields), and its errors worded as the command
// line words them. Each text is read strictly (values/number.h) in the form
// its input takes: one number, a comma list, a range LO:HI or one of the
// column's choices; then the texts make a Request, which plan::expand
// checks against the rules of the calculation.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "plan/columns.h"
#include "plan/request.h"
#include "plan/simulation.h"
#include "values/fault.h"

namespace gxe::plan {

// How an input's text is read.
enum class TextForm {
  number,  // one number: quantiles, or_e, or_g, or_ge
  list,    // a comma list of numbers: cases, power, ror, the prevalences, c, alpha
  range,   // LO:HI, under the range's low column: or_e_low, or_g_low, ...
  choice,  // one of the column's choices: search, test, direction, genetic_model
};

// The form of an input column's text; nothing for a column that is not
// typed as an input (a result, a range's high end, mode).
std::optional<TextForm> text_form(Column c);

// "LO:HI", two numbers separated by one colon, or why the text is not one.
struct RangeReading {
  Range range;
  std::string problem;
};
RangeReading read_range(std::string_view text);

// The rule a range given as two columns breaks when only one bound is
// given, for the empty one: "is empty while or_e_low is given: give both
// bounds of the range, or neither for the one value of the conversion".
std::string one_bound_rule(Column low, bool low_given);

// Why `text` is not a value of the form `form` takes (of column `c` for a
// choice): the problem after the quoted text, "is not a number"; empty when
// it is one.
std::string text_problem(TextForm form, Column c, std::string_view text);

// The text typed for an input, or null when it was not given.
using TextOf = std::function<const std::string*(Column)>;

// The request the texts make, each text having passed text_problem.
Request request_from_texts(Mode mode, const TextOf& text_of);

// A rule's references to other inputs, {cases}, as the command line names
// them: --cases.
std::string option_rule(const values::Fault& fault);

// A request's error about a value typed as `typed`, as it follows the
// input's name: the text and the rule ("\"1.5\" must be greater than 0 and
// less than 1"); the item at fault and its list ("\"0\" in \"500,0\" must
// be greater than 0"); or, for a value of several numbers (a range, the
// exposure prevalences), the text, then the number the rule is about
// ("\"2:1\": or_e_low = 2: ..."). Other inputs named by their options.
std::string typed_value_message(const RequestError& error, std::string_view typed);

// Why the text of a simulation setting (`simulate`, `seed`, `threads`) is
// not one: its problem as a number, or the rule plan::check gives; empty
// when it is one.
std::string setting_problem(double SimulationSettings::*setting, std::string_view text);

// Why a size by simulation cannot be made, after the name of the setting
// (--size-by, size_by): it needs replicates, and, when `mode` is given, a
// sample-size calculation. Empty when it can, or when the size is by the
// formula. `size_by` is the text typed for it.
std::string size_by_problem(const SimulationSettings& settings, std::string_view size_by,
                            std::optional<Mode> mode);

}  // namespace gxe::plan

#endif  // GXE_PLAN_REQUEST_TEXT_H_
