#include "host/core/run_warnings.h"

namespace velmora {

bool MarksProgramErase(const std::string& status) {
  return status.rfind("Erasing program flash", 0) == 0;
}

std::string IncompleteProgramWarning() {
  return "Warning: the KV70's program flash was erased during this run and may now hold an "
         "incomplete application. Run the upgrade again before using the device.";
}

}  // namespace velmora
