// velmora registry import|export, and the complaints of every command.
#include <cstdio>
#include <optional>

#include "host/core/exit_codes.h"
#include "host/core/registry_files.h"
#include "host/terminal/commands.h"

namespace velmora {

void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "velmora: %s\n", text.c_str());
  std::fflush(stderr);
}

namespace {

int Report(const RegistryFileResult& result, Console& console) {
  if (result.ok() && !result.output.empty()) {
    // The export itself is standard output: nothing else may go there.
    std::fwrite(result.output.data(), 1, result.output.size(), stdout);
    if (std::fflush(stdout) != 0) {
      Complain("cannot write the export to standard output");
      return kExitFailed;
    }
  } else if (result.ok()) {
    console.PrintLine(result.message);
  } else {
    Complain(result.message);
  }
  return result.status;
}

}  // namespace

bool RegistryUsable() {
  if (const std::optional<std::string> problem = RegistryProblem()) {
    Complain(*problem);
    return false;
  }
  return true;
}

int RegistryImportCommand(const std::string& file, Console& console) {
  return Report(ImportRegistryFile(file), console);
}

int RegistryExportCommand(const std::string& file, const std::string& key, bool unicode,
                          Console& console) {
  return Report(ExportRegistryFile(file, key, unicode), console);
}

}  // namespace velmora
