// The file of a loaded module, from the dynamic loader and the kernel.
#include <dlfcn.h>
#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/module_path.h"

namespace platform {

namespace {

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

// The loader's record of the file, made absolute. For the main program the loader
// records no usable name, so the kernel's link to it is used.
std::string ModuleFilePath(const void* address) {
  Dl_info info{};
  if (!address || ::dladdr(address, &info) == 0) return ExecutablePath();
  Dl_info mainInfo{};
  auto mainPhdr = reinterpret_cast<const void*>(::getauxval(AT_PHDR));
  if (mainPhdr && ::dladdr(mainPhdr, &mainInfo) != 0 && mainInfo.dli_fbase == info.dli_fbase) {
    return ExecutablePath();
  }
  if (!info.dli_fname || !*info.dli_fname) return ExecutablePath();
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace platform
