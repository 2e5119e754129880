#include "host/core/output_guard.h"

#include "platform/output_file.h"
#include "platform/registry.h"

namespace velmora {

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
      name = "write-protected";
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
