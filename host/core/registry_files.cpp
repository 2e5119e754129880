#include "host/core/registry_files.h"

#include <filesystem>
#include <system_error>

#include "host/core/exit_codes.h"
#include "host/core/output_guard.h"
#include "platform/registry.h"

namespace velmora {

bool RegistryFileResult::ok() const {
  return status == kExitSucceeded;
}

std::optional<std::string> RegistryProblem() {
  const LONG error = platform::CheckRegistryStore();
  if (error == ERROR_SUCCESS) return std::nullopt;
  if (error == ERROR_BADDB) return NotARegistryText(platform::RegistryPath());
  return "cannot open the registry " + platform::RegistryPath() + ": error " + ErrorText(error);
}

RegistryFileResult ImportRegistryFile(const std::string& file) {
  if (std::optional<std::string> problem = RegistryProblem()) return {kExitUsage, *problem};
  std::string why;
  const LONG error = platform::RegImportFile(file, &why);
  if (error != ERROR_SUCCESS) {
    return {kExitFailed,
            "cannot import " + file + ": " + (why.empty() ? "error " + ErrorText(error) : why)};
  }
  return {kExitSucceeded, "Imported " + file + " into " + platform::RegistryPath()};
}

namespace {

RegistryFileResult ExportProblem(LONG error, const std::string& file, const std::string& key) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      if (!key.empty()) return {kExitFailed, "there is no key " + key};
      break;
    case ERROR_INVALID_PARAMETER:
      return {
          kExitUsage,
          "\"" + key + "\" is not a key name (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)"};
    default:
      break;
  }
  return {kExitFailed, "cannot export to " + file + ": error " + ErrorText(error)};
}

}  // namespace

RegistryFileResult ExportRegistryFile(const std::string& file, const std::string& key,
                                      bool unicode) {
  if (file == "-") {
    if (std::optional<std::string> problem = RegistryProblem()) return {kExitUsage, *problem};
    RegistryFileResult result{kExitSucceeded, ""};
    if (const LONG error = platform::RegExportText(result.output, key, unicode))
      return ExportProblem(error, "standard output", key);
    return result;
  }
  if (const std::optional<std::string> problem = OutputProblem(file)) {
    return {kExitUsage, "cannot export to " + file + ": " + *problem};
  }
  if (std::optional<std::string> problem = RegistryProblem()) return {kExitUsage, *problem};
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::absolute(file, ec).parent_path();
  if (!std::filesystem::is_directory(dir, ec)) {
    return {kExitUsage, "cannot export to " + file + ": there is no directory " + dir.string()};
  }
  const LONG error = platform::RegExportFile(file, key, unicode);
  if (error == ERROR_SUCCESS) {
    return {kExitSucceeded,
            "Exported " + (key.empty() ? std::string("the whole registry") : key) + " to " + file};
  }
  return ExportProblem(error, file, key);
}

}  // namespace velmora
