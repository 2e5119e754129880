// Import and export of REGEDIT4 files: the work of "velmora registry import|export",
// told back as a result that a front end shows.
#pragma once
#include <optional>
#include <string>

namespace velmora {

struct RegistryFileResult {
  int status;           // exit status (exit_codes.h)
  std::string message;  // what was done, or why not
  bool ok() const;
  std::string output{};  // an export to standard output ("-"): the file's bytes
};

RegistryFileResult ImportRegistryFile(const std::string& file);
// `key` empty: the whole registry; `unicode`: the Windows registry editor's UTF-16 form.
// `file` "-": the text is given back in `output` for standard output, and `message` is
// empty.
RegistryFileResult ExportRegistryFile(const std::string& file, const std::string& key,
                                      bool unicode = false);

// Why the registry database in use cannot be used (another kind of file, or it cannot be
// opened); nullopt when it can.
std::optional<std::string> RegistryProblem();

}  // namespace velmora
