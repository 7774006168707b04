#ifndef GXE_DIALOGUE_PROGRAM_H_
#define GXE_DIALOGUE_PROGRAM_H_

// The calculation loop: dialogue, calculation and report, then "Do you wish
// another calculation (y/n): " until the user declines.

#include <array>
#include <iosfwd>

namespace gxe::dialogue {

// The calculation of one study design: the range search of its study type
// over the box [lower, upper] (search variables) and its report.
void calculate(int study_type, const std::array<double, 2>& lower,
               const std::array<double, 2>& upper);

// Runs calculations on the console's current streams until the program ends;
// returns the exit status (0 when the user declines another calculation).
int run_program();

// The whole program on the given streams, as a fresh process would run it:
// the model and derivative records start as zeros. The console is bound back
// to the standard streams before returning. For tests and fuzzing.
int run_program(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace gxe::dialogue

#endif  // GXE_DIALOGUE_PROGRAM_H_
