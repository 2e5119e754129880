// Inside the platform layer only: the file a module was loaded from, one backend per
// system (posix/module.cpp, win32/module.cpp).
#pragma once
#include <string>

namespace platform {

// The absolute path of the module whose code or data holds `address`; null names the
// running executable. Empty when it cannot be found.
std::string ModuleFilePath(const void* address);

}  // namespace platform
