#include "host/core/version.h"

#include "project_version.h"

namespace velmora {

const char* ProjectVersion() {
  return VELMORA_VERSION;
}

std::string VersionLine(const std::string& program) {
  return program + " " + VELMORA_VERSION;
}

}  // namespace velmora
