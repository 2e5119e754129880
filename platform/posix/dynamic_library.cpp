// Run-time loading through the dynamic loader.
#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace platform {

void* LoadDynamicLibrary(const std::string& path, std::string& why) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* error = ::dlerror();
    why = error ? error : "unknown reason";
  }
  return library;
}

void* FindExport(void* library, const char* name) {
  return ::dlsym(library, name);
}

void FreeDynamicLibrary(void* library) {
  if (library) ::dlclose(library);
}

std::string ModuleFileName(const std::string& base) {
  return base + ".so";
}

}  // namespace platform
