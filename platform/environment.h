// The process environment: the one place the plug-in's layers ask for a variable's value.
#pragma once
#include <optional>
#include <string>

namespace platform {

// The value of the environment variable `name`; nothing when it is unset or empty (an
// empty value is how a shell script leaves a setting off).
std::optional<std::string> GetEnvironmentValue(const char* name);

}  // namespace platform
