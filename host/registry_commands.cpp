// velmora registry import|export, and --registry.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/commands.h"
#include "host/exit_codes.h"
#include "host/output_guard.h"
#include "platform/registry.h"

namespace velmora {

void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "velmora: %s\n", text.c_str());
  std::fflush(stderr);
}

bool UseRegistry(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "--registry needs a file name";
    return false;
  }
  std::error_code ec;
  const std::filesystem::path file(path);
  if (std::filesystem::is_directory(file, ec)) {
    error = "--registry " + path + ": is a directory; give the database file's name";
    return false;
  }
  const std::filesystem::path dir = std::filesystem::absolute(file, ec).parent_path();
  if (!std::filesystem::is_directory(dir, ec)) {
    error = "--registry " + path + ": there is no directory " + dir.string();
    return false;
  }
  ::setenv("VELMORA_REGISTRY", path.c_str(), 1);
  return true;
}

bool RegistryUsable() {
  const LONG error = platform::CheckRegistryStore();
  if (error == ERROR_SUCCESS) return true;
  if (error == ERROR_BADDB) {
    Complain(NotARegistryText(platform::RegistryPath()));
  } else {
    Complain("cannot open the registry " + platform::RegistryPath() + ": error " +
             ErrorText(error));
  }
  return false;
}

int RegistryImportCommand(const std::string& file, Console& console) {
  if (!RegistryUsable()) return kExitUsage;
  std::string why;
  const LONG error = platform::RegImportFile(file, &why);
  if (error != ERROR_SUCCESS) {
    Complain("cannot import " + file + ": " + (why.empty() ? "error " + ErrorText(error) : why));
    return kExitFailed;
  }
  console.PrintLine("Imported " + file + " into " + platform::RegistryPath());
  return kExitSucceeded;
}

int RegistryExportCommand(const std::string& file, const std::string& key, bool unicode,
                          Console& console) {
  if (const std::optional<std::string> problem = OutputProblem(file)) {
    Complain("cannot export to " + file + ": " + *problem);
    return kExitUsage;
  }
  if (!RegistryUsable()) return kExitUsage;
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::absolute(file, ec).parent_path();
  if (!std::filesystem::is_directory(dir, ec)) {
    Complain("cannot export to " + file + ": there is no directory " + dir.string());
    return kExitUsage;
  }
  const LONG error = platform::RegExportFile(file, key, unicode);
  switch (error) {
    case ERROR_SUCCESS:
      console.PrintLine("Exported " + (key.empty() ? std::string("the whole registry") : key) +
                        " to " + file);
      return kExitSucceeded;
    case ERROR_FILE_NOT_FOUND:
      if (!key.empty()) {
        Complain("there is no key " + key);
        return kExitFailed;
      }
      break;
    case ERROR_INVALID_PARAMETER:
      Complain("\"" + key +
               "\" is not a key name (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)");
      return kExitUsage;
    default:
      break;
  }
  Complain("cannot export to " + file + ": error " + ErrorText(error));
  return kExitFailed;
}

}  // namespace velmora
