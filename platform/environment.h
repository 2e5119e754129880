// The process environment: the one place the plug-in's layers ask for a variable's value,
// and where the host and tests set one the system's way.
#pragma once
#include <optional>
#include <string>

namespace platform {

// The value of the environment variable `name`; nothing when it is unset or empty (an
// empty value is how a shell script leaves a setting off).
std::optional<std::string> GetEnvironmentValue(const char* name);

// Both return false when the system refuses (no memory, a malformed name).
bool SetEnvironment(const std::string& name, const std::string& value);
bool UnsetEnvironment(const std::string& name);

// Where a user's own data goes: ~/.config on Linux, %APPDATA% on Windows; "." when the
// system names none.
std::string UserDataDirectory();

}  // namespace platform
