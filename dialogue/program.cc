#include "dialogue/program.h"

#include "console/console.h"
#include "dialogue/dialogue.h"
#include "search/search.h"

namespace gxe::dialogue {
namespace {

// The records of the dialogue's calculations, one set for the whole process,
// as the console it talks through is one for the whole process.
search::Records& process_records() {
  static search::Records records;
  return records;
}

}  // namespace

void calculate(search::Records& rec, int study_type, const std::array<double, 2>& lower,
               const std::array<double, 2>& upper) {
  // A power calculation searches the box for the smallest and largest power
  // at the entered size; a sample-size calculation works on a local copy of
  // the target power (the driver overwrites its argument, the record keeps
  // the power entered).
  if (study_type == kPowerStudy) {
    search::power_calc(rec, lower, upper);
  } else {
    double power = rec.model.pow0;
    search::ssize_calc(rec, power, lower, upper);
  }
}

int run_program() {
  search::Records& rec = process_records();
  try {
    std::array<double, 2> lower{};
    std::array<double, 2> upper{};
    int study_type = 0;
    for (;;) {
      init(rec.model, lower, upper, study_type);
      calculate(rec, study_type, lower, upper);
      console::Layout().text("Do you wish another calculation (y/n): ").stay();
      const char answer = console::read_char();
      if (answer != 'y' && answer != 'Y') console::end_program(0);
    }
  } catch (const console::ProgramEnd& end) {
    return end.status;
  }
}

int run_program(std::istream& in, std::ostream& out, std::ostream& err) {
  process_records() = search::Records{};
  console::bind(in, out, err);
  const int status = run_program();
  console::bind_standard();
  return status;
}

}  // namespace gxe::dialogue
