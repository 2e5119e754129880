#include "host/core/run_warnings.h"

#include "platform/comm_rfc2217.h"

namespace velmora {

bool MarksProgramErase(const std::string& status) {
  return status.rfind("Erasing program flash", 0) == 0;
}

bool MarksUncheckedCompleteness(const std::string& status) {
  return status.find("completeness could not be checked") != std::string::npos;
}

std::string IncompleteProgramWarning() {
  return "Warning: the KV70's program flash was erased during this run and may now hold an "
         "incomplete application. Run the upgrade again before using the device.";
}

std::string PortOpenProblem(int comPort) {
  const std::string com = "COM" + std::to_string(comPort);
  const std::string why = platform::Rfc2217OpenFailure("\\\\.\\" + com);
  return why.empty() ? std::string() : com + ": " + why + ".";
}

}  // namespace velmora
