// A device plug-in loaded with dlopen and seen only through its seven exports.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "framework/afxwin.h"
#include "framework/plugin_abi.h"

namespace velmora {

// Why a plug-in could not be used; the message names the file and the reason.
class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PluginLibrary {
 public:
  // Loads the module and looks up every export; throws PluginError when the file is
  // missing, cannot be loaded or lacks an export.
  explicit PluginLibrary(const std::string& path);
  // Unloads it: page objects handed out before are gone afterwards.
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& Path() const { return path_; }

  int OperationCount() const;
  // Empty when the plug-in has no such operation or no such text.
  std::string OperationName(int index) const;
  std::string OperationDescription(int index) const;
  int PageCount(int index) const;
  CPropertyPage* Page(int index, int page) const;
  std::optional<std::string> Text(int index, int textIndex) const;

  // Runs the operation on the calling thread; the record must stay valid meanwhile.
  int DoOperation(RunRecord& record) const;

 private:
  template <typename Fn>
  Fn Find(const char* name);

  std::string path_;
  void* handle_ = nullptr;
  PFN_GetNumberOperations getNumberOperations_ = nullptr;
  PFN_GetOperation getOperation_ = nullptr;
  PFN_GetDescription getDescription_ = nullptr;
  PFN_GetNumberOfPages getNumberOfPages_ = nullptr;
  PFN_GetPage getPage_ = nullptr;
  PFN_GetText getText_ = nullptr;
  PFN_DoOperation doOperation_ = nullptr;
};

// DevKV70.so beside the running executable, else where a package installs it (the
// private library folder, ../lib/<multiarch>/velmora from the program's folder).
std::string DefaultPluginPath();
// The same from a program's folder (ending in a separator, or empty for ".").
std::string PluginPathFrom(const std::string& programDir);

}  // namespace velmora
