#ifndef GXE_DIALOGUE_PROGRAM_H_
#define GXE_DIALOGUE_PROGRAM_H_

// The calculation loop: dialogue, calculation and report, then "Do you wish
// another calculation (y/n): " until the user declines.
//
// The dialogue keeps one set of records for the whole process: each dialogue
// writes its design into them over what the previous calculation left (an
// answer left empty keeps the value before it), and each calculation works on
// them.

#include <array>
#include <iosfwd>

#include "search/search.h"

namespace gxe::dialogue {

// The calculation of one study design on the records `rec`: the range search
// of its study type over the box [lower, upper] (search variables) and its
// report.
void calculate(search::Records& rec, int study_type, const std::array<double, 2>& lower,
               const std::array<double, 2>& upper);

// Runs calculations on the console's current streams, with the process's
// records, until the program ends; returns the exit status (0 when the user
// declines another calculation).
int run_program();

// The whole program on the given streams, as a fresh process would run it:
// the process's records start as zeros. The console is bound back to the
// standard streams before returning. For tests and fuzzing.
int run_program(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace gxe::dialogue

#endif  // GXE_DIALOGUE_PROGRAM_H_
