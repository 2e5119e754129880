#include "catalogue/install_settings.h"

#include "catalogue/registry_values.h"
#include "platform/files.h"
#include "platform/registry.h"

bool GetFirmwareDirectory(CString& directory) {
  platform::RegKey host;
  if (platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_READ | KEY_WRITE,
                             host.put()) != ERROR_SUCCESS) {
    return false;
  }
  CString install;
  if (!ReadStringValue(host.get(), kInstallDirectoryValue, install)) return false;
  // Taken as it stands: a trailing separator gives a doubled one, as the host expects.
  // The separator is the system's, so that the paths the user is shown have one kind.
  directory = install + platform::PathSeparator() + "Firmware";
  return true;
}
