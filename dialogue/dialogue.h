#ifndef GXE_DIALOGUE_DIALOGUE_H_
#define GXE_DIALOGUE_DIALOGUE_H_

// The study-design dialogue. It asks for the design of one case-control
// study, checks every answer (an out-of-range answer gets its message and the
// question again, without limit), turns the answers into the parameters of the
// trend-interaction model and writes them into the model records it is given:
//   null: be, bg, beg = 0, pexp (1..k), pgen, ccr;  alt: pexp, pgen, ccr, beg;
//   cells.ncat = k;  size (power) or pow0 (sample size).
// Half-way through, right after ROR^tb, the marginal-to-conditional
// conversion `model::oreg` shows the conditional odds ratios the alternative
// implies.

#include <array>

#include "model/records.h"

namespace gxe::dialogue {

// Study types returned by `init`.
inline constexpr int kSampleSizeStudy = 0;
inline constexpr int kPowerStudy = 1;

// One dialogue. Results: the search box in search variables, element 0 for
// ln OR(G|E=0) and element 1 for ln OR^tb(E|G=0)/(k-1), and the study type.
// Returns only with a complete, valid design; malformed input or the end of
// input ends the program inside (console::ProgramEnd).
void init(model::Records& rec, std::array<double, 2>& lower, std::array<double, 2>& upper,
          int& study_type);

}  // namespace gxe::dialogue

#endif  // GXE_DIALOGUE_DIALOGUE_H_
