#include "dialogue/program.h"

#include "derivatives/records.h"
#include "console/console.h"
#include "dialogue/dialogue.h"
#include "model/records.h"
#include "search/search.h"

namespace gxe::dialogue {

void calculate(int study_type, const std::array<double, 2>& lower,
               const std::array<double, 2>& upper) {
  // A power calculation searches the box for the smallest and largest power
  // at the entered size; a sample-size calculation works on a local copy of
  // model::pow0 (the driver overwrites its argument, the record keeps the
  // power entered).
  if (study_type == kPowerStudy) {
    search::power_calc(lower, upper);
  } else {
    double power = model::pow0;
    search::ssize_calc(power, lower, upper);
  }
}

int run_program() {
  try {
    std::array<double, 2> lower{};
    std::array<double, 2> upper{};
    int study_type = 0;
    for (;;) {
      init(lower, upper, study_type);
      calculate(study_type, lower, upper);
      console::Layout().text("Do you wish another calculation (y/n): ").stay();
      const char answer = console::read_char();
      if (answer != 'y' && answer != 'Y') console::end_program(0);
    }
  } catch (const console::ProgramEnd& end) {
    return end.status;
  }
}

int run_program(std::istream& in, std::ostream& out, std::ostream& err) {
  model::reset_records();
  derivatives::reset_derivative_records();
  console::bind(in, out, err);
  const int status = run_program();
  console::bind_standard();
  return status;
}

}  // namespace gxe::dialogue
