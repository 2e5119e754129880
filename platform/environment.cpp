#include "platform/environment.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> GetEnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace platform
