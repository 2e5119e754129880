// The environment on Windows, through the C runtime (which keeps the system's copy in
// step), and the roaming application-data folder.
#include "platform/environment.h"

#include <cstdlib>

namespace platform {

bool SetEnvironment(const std::string& name, const std::string& value) {
  // An empty value would remove the variable; callers that mean that say so.
  return !value.empty() && ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnvironment(const std::string& name) {
  return ::_putenv_s(name.c_str(), "") == 0;
}

std::string UserDataDirectory() {
  if (const char* appData = std::getenv("APPDATA"); appData && *appData) return appData;
  return ".";
}

}  // namespace platform
