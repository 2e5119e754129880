// Module files and DLL loading on <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/neutral.h"

namespace platform::win32 {

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (address && !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       static_cast<LPCSTR>(address), &module)) {
    return {};
  }
  char path[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  return std::string(path, length);
}

Handle LoadModule(const std::string& path, std::string& why) {
  // The plug-in's own DLLs (the framework) are found beside it, not beside the host.
  HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) why = "LoadLibrary error " + std::to_string(::GetLastError());
  return module;
}

void* FindProc(Handle module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeLibrary(Handle module) {
  if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform::win32
