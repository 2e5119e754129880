#include "host/core/output_guard.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "framework/plugin_abi.h"
#include "host/core/real_device_help.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/output_file.h"
#include "platform/registry.h"

namespace velmora {

namespace {

std::string StringValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (platform::RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0) {
    return {};
  }
  std::string value(size, '\0');
  if (platform::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                                &size) != ERROR_SUCCESS) {
    return {};
  }
  value.resize(std::min<std::size_t>(size, value.size()));
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  std::error_code ea;
  std::error_code eb;
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, ea), ea);
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  return !ea && !eb && !pa.empty() && pa == pb;
}

std::vector<RunFile> CatalogueFiles() {
  std::vector<RunFile> files;
  platform::RegKey catalogue;
  if (platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFirmwareKeyPath, 0, KEY_READ, catalogue.put()) !=
      ERROR_SUCCESS) {
    return files;
  }
  for (DWORD index = 0;; ++index) {
    char name[260];
    DWORD length = sizeof name;
    if (platform::RegEnumKeyEx(catalogue.get(), index, name, &length, nullptr, nullptr, nullptr,
                               nullptr) != ERROR_SUCCESS) {
      break;
    }
    platform::RegKey entry;
    if (platform::RegOpenKeyEx(catalogue.get(), name, 0, KEY_READ, entry.put()) != ERROR_SUCCESS)
      continue;
    const std::string path = StringValue(entry.get(), "FirmwarePath");
    if (!path.empty()) {
      files.push_back({"the firmware file of the catalogue entry \"" + std::string(name) + "\"",
                       platform::ToNativePath(path)});
    }
  }
  return files;
}

std::vector<RunFile> RunInputs(const std::optional<std::string>& firmwareFile) {
  std::vector<RunFile> inputs = CatalogueFiles();
  if (const std::optional<std::string> monitor =
          platform::GetEnvironmentValue(kMonitorImageVariable);
      monitor && !monitor->empty()) {
    inputs.push_back({"the flash monitor program (--monitor-image)", *monitor});
  }
  if (firmwareFile && !firmwareFile->empty()) {
    inputs.push_back({"the firmware file given with --firmware", *firmwareFile});
  }
  return inputs;
}

std::optional<std::string> OutputClash(const std::vector<RunFile>& outputs,
                                       const std::vector<RunFile>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const RunFile& out = outputs[i];
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (SameFile(out.path, outputs[j].path)) {
        return out.what + " " + out.path + " and " + outputs[j].what + " " + outputs[j].path +
               " name one file; each would write over the other. Give each its own file.";
      }
    }
    for (const RunFile& in : inputs) {
      if (SameFile(out.path, in.path)) {
        return out.what + " " + out.path + ": that is " + in.what +
               ", which this run reads; writing there would destroy it. Choose another file.";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> OutputProblem(const std::string& path) {
  if (platform::IsRegistryStoreFile(path)) {
    return "that is the registry database (" + platform::RegistryPath() +
           "); writing there would destroy it. Choose another file.";
  }
  const platform::OutputKind kind = platform::KindOfOutput(path);
  switch (kind) {
    case platform::OutputKind::kMissing:
    case platform::OutputKind::kRegular:
    case platform::OutputKind::kCharDevice:
      return std::nullopt;
    default:
      return std::string("is ") + platform::OutputKindText(kind) + ", not a file; give a file name";
  }
}

std::string ErrorText(long error) {
  const char* name = nullptr;
  switch (error) {
    case ERROR_SUCCESS:
      name = "success";
      break;
    case ERROR_FILE_NOT_FOUND:
      name = "not found";
      break;
    case ERROR_PATH_NOT_FOUND:
      name = "no such directory";
      break;
    case ERROR_TOO_MANY_OPEN_FILES:
      name = "too many open files";
      break;
    case ERROR_ACCESS_DENIED:
      name = "access denied";
      break;
    case ERROR_INVALID_HANDLE:
      name = "invalid handle";
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
      name = "not enough memory";
      break;
    case ERROR_INVALID_DATA:
      name = "invalid data";
      break;
    case ERROR_WRITE_PROTECT:
      name = "read-only file system";
      break;
    case ERROR_WRITE_FAULT:
      name = "write fault";
      break;
    case ERROR_READ_FAULT:
      name = "read fault";
      break;
    case ERROR_GEN_FAILURE:
      name = "device failure";
      break;
    case ERROR_SHARING_VIOLATION:
      name = "in use by another program";
      break;
    case ERROR_NOT_SUPPORTED:
      name = "not supported";
      break;
    case ERROR_FILE_EXISTS:
      name = "already exists";
      break;
    case ERROR_INVALID_PARAMETER:
      name = "invalid parameter";
      break;
    case ERROR_DISK_FULL:
      name = "disk full";
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      name = "file name too long";
      break;
    case ERROR_CANT_RESOLVE_FILENAME:
      name = "too many levels of symbolic links";
      break;
    case ERROR_INVALID_NAME:
      name = "invalid name";
      break;
    case ERROR_BUSY:
      name = "busy";
      break;
    case ERROR_BADDB:
      name = "not a registry database";
      break;
    case ERROR_KEY_DELETED:
      name = "key deleted";
      break;
    default:
      break;
  }
  return std::to_string(error) + (name ? std::string(" (") + name + ")" : std::string());
}

std::string NotARegistryText(const std::string& path) {
  return path +
         " is not a Velmora registry file (give another with --registry or VELMORA_REGISTRY)";
}

}  // namespace velmora
