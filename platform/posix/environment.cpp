// The environment on POSIX.
#include "platform/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

bool SetEnvironment(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool UnsetEnvironment(const std::string& name) {
  return ::unsetenv(name.c_str()) == 0;
}

std::string UserDataDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config";
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
    return std::string(entry->pw_dir) + "/.config";
  }
  return ".";
}

}  // namespace platform
