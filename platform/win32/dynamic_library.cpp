// Run-time loading through LoadLibrary and GetProcAddress (win32/api/module.cpp).
#include "platform/dynamic_library.h"

#include "platform/win32/neutral.h"

namespace platform {

void* LoadDynamicLibrary(const std::string& path, std::string& why) {
  return win32::LoadModule(path, why);
}

void* FindExport(void* library, const char* name) {
  return win32::FindProc(library, name);
}

void FreeDynamicLibrary(void* library) {
  win32::FreeLibrary(library);
}

std::string ModuleFileName(const std::string& base) {
  return base + ".dll";
}

}  // namespace platform
