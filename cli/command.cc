#include "cli/command.h"

#include <ostream>

#include "cli/status.h"

namespace gxe::cli {

int wrong_use(std::ostream& err, const std::string& message) {
  err << "gxeplan: " << message << '\n';
  return kWrongUse;
}

}  // namespace gxe::cli
