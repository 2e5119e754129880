#include "host/core/install_settings.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "host/core/output_guard.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace velmora {

namespace {

std::string RegistryErrorText(LONG error) {
  return "registry error " + velmora::ErrorText(error);
}

}  // namespace

std::string DefaultDataDirectory() {
  if (const char* data = std::getenv("VELMORA_DATA"); data && *data) return data;
  const std::filesystem::path registry(platform::RegistryPath());
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(registry, ec);
  return (ec ? registry : absolute).parent_path().string();
}

bool MakeDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

InstallReport EnsureInstallSettings(const std::string& dataDirectory) {
  InstallReport report;
  platform::RegKey host;
  LONG error = platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                                        host.put(), nullptr);
  if (error != ERROR_SUCCESS) {
    report.problem = "cannot open HKEY_LOCAL_MACHINE\\" + std::string(kHostKeyPath) + ": " +
                     RegistryErrorText(error);
    return report;
  }
  DWORD type = 0;
  DWORD size = 0;
  error =
      platform::RegQueryValueEx(host.get(), kInstallDirectoryValue, nullptr, &type, nullptr, &size);
  if (error == ERROR_SUCCESS && type == REG_SZ && size > 1) {
    std::vector<char> value(size + 1, '\0');
    error = platform::RegQueryValueEx(host.get(), kInstallDirectoryValue, nullptr, &type,
                                      reinterpret_cast<BYTE*>(value.data()), &size);
    if (error == ERROR_SUCCESS) report.installDirectory = value.data();
  }
  if (report.installDirectory.empty()) {
    if (!MakeDirectories(dataDirectory)) {
      report.problem = "cannot create the data directory " + dataDirectory;
      return report;
    }
    error = platform::RegSetValueEx(host.get(), kInstallDirectoryValue, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(dataDirectory.c_str()),
                                    static_cast<DWORD>(dataDirectory.size() + 1));
    if (error != ERROR_SUCCESS) {
      report.problem =
          "cannot write " + std::string(kInstallDirectoryValue) + ": " + RegistryErrorText(error);
      return report;
    }
    report.installDirectory = dataDirectory;
    report.wroteInstallDirectory = true;
  }
  // Registered files are copied into <install directory>\Firmware, which the copy does
  // not create.
  MakeDirectories(platform::ToNativePath(report.installDirectory + "\\Firmware"));

  platform::RegKey firmware;
  DWORD disposition = 0;
  error = platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, kFirmwareKeyPath, 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                                   firmware.put(), &disposition);
  if (error != ERROR_SUCCESS) {
    report.problem = "cannot create HKEY_LOCAL_MACHINE\\" + std::string(kFirmwareKeyPath) + ": " +
                     RegistryErrorText(error);
    return report;
  }
  report.createdFirmwareKey = disposition == REG_CREATED_NEW_KEY;
  return report;
}

}  // namespace velmora
