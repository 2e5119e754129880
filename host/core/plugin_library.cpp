#include "host/core/plugin_library.h"

#include <vector>

#include "host/core/exit_codes.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/module.h"
#include "project_version.h"

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
  platform::FileStatus status;
  if (!platform::GetFileStatus(path, status)) throw PluginError("no plug-in at " + path);
  std::string why;
  handle_ = platform::LoadDynamicLibrary(path, why);
  if (!handle_) throw PluginError("cannot load the plug-in " + path + ": " + why);
  try {
    getNumberOperations_ = Find<PFN_GetNumberOperations>(kExportGetNumberOperations);
    getOperation_ = Find<PFN_GetOperation>(kExportGetOperation);
    getDescription_ = Find<PFN_GetDescription>(kExportGetDescription);
    getNumberOfPages_ = Find<PFN_GetNumberOfPages>(kExportGetNumberOfPages);
    getPage_ = Find<PFN_GetPage>(kExportGetPage);
    getText_ = Find<PFN_GetText>(kExportGetText);
    doOperation_ = Find<PFN_DoOperation>(kExportDoOperation);
  } catch (...) {
    platform::FreeDynamicLibrary(handle_);
    throw;
  }
}

PluginLibrary::~PluginLibrary() {
  platform::FreeDynamicLibrary(handle_);
}

template <typename Fn>
Fn PluginLibrary::Find(const char* name) {
  void* symbol = platform::FindExport(handle_, name);
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

std::string PluginPathFrom(const std::string& programDir) {
  const std::string dir = programDir.empty() ? std::string("./") : programDir;
  const std::string name = platform::ModuleFileName("DevKV70");
  const std::string beside = dir + name;
  platform::FileStatus status;
  if (platform::GetFileStatus(beside, status)) return beside;
  // An installed velmora keeps the plug-in in the package's private library folder.
  const std::string installed = dir + VELMORA_PRIVATE_LIBDIR_FROM_BIN + "/" + name;
  if (platform::GetFileStatus(installed, status)) return installed;
  return beside;
}

std::string DefaultPluginPath() {
  std::vector<char> buffer(4096, '\0');
  const DWORD n =
      platform::GetModuleFileName(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::string dir;
  platform::SplitPath(std::string(buffer.data(), n), &dir, nullptr, nullptr);
  return PluginPathFrom(dir);
}

}  // namespace velmora
