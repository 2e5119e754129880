#include "host/core/plugin_library.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "host/core/exit_codes.h"

namespace velmora {

namespace {

// Texts come back with strncpy semantics: a text that fills the buffer has no
// terminator, so the buffer is one byte longer than we admit and that byte stays zero.
constexpr std::uint32_t kTextBufferLength = 4096;

template <typename Query>
std::optional<std::string> QueryText(Query query) {
  std::vector<char> buffer(kTextBufferLength + 1, '\0');
  if (!query(buffer.data(), kTextBufferLength)) return std::nullopt;
  return std::string(buffer.data());
}

}  // namespace

int ExitStatusForResult(int result) {
  switch (result) {
    case OPERATION_SUCCEEDED:
      return kExitSucceeded;
    case OPERATION_CANCELED:
      return kExitCancelled;
    default:
      return kExitFailed;
  }
}

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw PluginError("no plug-in at " + path);
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    throw PluginError("cannot load the plug-in " + path + ": " + (why ? why : "unknown reason"));
  }
  try {
    getNumberOperations_ = Find<PFN_GetNumberOperations>(kExportGetNumberOperations);
    getOperation_ = Find<PFN_GetOperation>(kExportGetOperation);
    getDescription_ = Find<PFN_GetDescription>(kExportGetDescription);
    getNumberOfPages_ = Find<PFN_GetNumberOfPages>(kExportGetNumberOfPages);
    getPage_ = Find<PFN_GetPage>(kExportGetPage);
    getText_ = Find<PFN_GetText>(kExportGetText);
    doOperation_ = Find<PFN_DoOperation>(kExportDoOperation);
  } catch (...) {
    ::dlclose(handle_);
    throw;
  }
}

PluginLibrary::~PluginLibrary() {
  if (handle_) ::dlclose(handle_);
}

template <typename Fn>
Fn PluginLibrary::Find(const char* name) {
  void* symbol = ::dlsym(handle_, name);
  if (!symbol) throw PluginError(path_ + " is not a device plug-in: it lacks " + name);
  return reinterpret_cast<Fn>(symbol);
}

int PluginLibrary::OperationCount() const {
  return getNumberOperations_();
}

std::string PluginLibrary::OperationName(int index) const {
  return QueryText([&](char* b, std::uint32_t n) { return getOperation_(index, b, n) != 0; })
      .value_or(std::string());
}

std::string PluginLibrary::OperationDescription(int index) const {
  return QueryText([&](char* b, std::uint32_t n) { return getDescription_(index, b, n) != 0; })
      .value_or(std::string());
}

int PluginLibrary::PageCount(int index) const {
  return getNumberOfPages_(index);
}

CPropertyPage* PluginLibrary::Page(int index, int page) const {
  return reinterpret_cast<CPropertyPage*>(getPage_(index, page));
}

std::optional<std::string> PluginLibrary::Text(int index, int textIndex) const {
  return QueryText([&](char* b, std::uint32_t n) { return getText_(index, textIndex, b, n) != 0; });
}

int PluginLibrary::DoOperation(RunRecord& record) const {
  return doOperation_(&record);
}

std::string DefaultPluginPath() {
  std::vector<char> buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  std::string exe = n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
  const size_t slash = exe.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  return dir + "/DevKV70.so";
}

}  // namespace velmora
