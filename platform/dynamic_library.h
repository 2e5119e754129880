// Loading a module (a device plug-in) at run time and finding its exports by name.
#pragma once
#include <string>

namespace platform {

// Loads the module at `path`; null with `why` set when it cannot be loaded.
void* LoadDynamicLibrary(const std::string& path, std::string& why);
// The address of an exported function, or null.
void* FindExport(void* library, const char* name);
void FreeDynamicLibrary(void* library);
// The file name the build gives a plug-in module: "DevKV70.so" or "DevKV70.dll".
std::string ModuleFileName(const std::string& base);

}  // namespace platform
