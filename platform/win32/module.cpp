// The file of a loaded module, from the Windows loader (win32/api/module.cpp).
#include "platform/module_path.h"
#include "platform/win32/neutral.h"

namespace platform {

std::string ModuleFilePath(const void* address) {
  return win32::ModulePathOf(address);
}

}  // namespace platform
