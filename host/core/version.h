// The version of what the project ships (the hosts, the simulator and both packages
// carry the same one), for --version and for the service records, which keep which
// software did a run.
#pragma once
#include <string>

namespace velmora {

// "1.0.0": the project's version from the build.
const char* ProjectVersion();

// "velmora 1.0.0": a program's --version line.
std::string VersionLine(const std::string& program);

// The host's own version, as a record of a run keeps it: the project's.
inline std::string VelmoraVersion() {
  return ProjectVersion();
}

}  // namespace velmora
