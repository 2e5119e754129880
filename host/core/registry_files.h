// Import and export of REGEDIT4 files: the work of "velmora registry import|export",
// told back as a result that a front end shows.
#pragma once
#include <string>

namespace velmora {

struct RegistryFileResult {
  int status;           // exit status (exit_codes.h)
  std::string message;  // what was done, or why not
  bool ok() const;
};

RegistryFileResult ImportRegistryFile(const std::string& file);
// `key` empty: the whole registry.
RegistryFileResult ExportRegistryFile(const std::string& file, const std::string& key);

}  // namespace velmora
