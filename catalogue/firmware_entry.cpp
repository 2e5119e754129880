#include "catalogue/firmware_entry.h"

#include "catalogue/registry_values.h"

namespace {
constexpr REGSAM READ_WRITE = KEY_READ | KEY_WRITE;
}  // namespace

CFirmwareEntry::CFirmwareEntry(LPCTSTR description, LPCTSTR deviceType, LPCTSTR firmwarePath,
                               LPCTSTR keyName, DWORD originalInstall)
    : m_strDeviceType(deviceType),
      m_strDescription(description),
      m_strFirmwarePath(firmwarePath),
      m_strKeyName(keyName),
      m_dwOriginalInstall(originalInstall) {}

bool CFirmwareEntry::HasEntryValues(HKEY subkey) {
  return HasValueOfType(subkey, kValueDescription, REG_SZ) &&
         HasValueOfType(subkey, kValueDeviceType, REG_SZ) &&
         HasValueOfType(subkey, kValueFirmwarePath, REG_SZ) &&
         HasValueOfType(subkey, kValueOriginalInstall, REG_DWORD);
}

bool CFirmwareEntry::IsValidEntryKey(HKEY subkey) {
  if (!HasEntryValues(subkey)) return false;
  CString path;
  return ReadStringValue(subkey, kValueFirmwarePath, path) && FileExists(path);
}

bool CFirmwareEntry::Load(LPCTSTR keyName, HKEY subkey) {
  if (!keyName || !subkey || !IsValidEntryKey(subkey)) return false;
  m_strKeyName = keyName;
  ReadStringValue(subkey, kValueDescription, m_strDescription);
  ReadStringValue(subkey, kValueFirmwarePath, m_strFirmwarePath);
  ReadStringValue(subkey, kValueDeviceType, m_strDeviceType);
  m_dwOriginalInstall = ReadDwordValue(subkey, kValueOriginalInstall, 0);
  return true;
}

bool CFirmwareEntry::Save(HKEY firmwareKey, LONG& error) {
  platform::RegKey subkey;
  DWORD disposition = 0;
  error = platform::RegCreateKeyEx(firmwareKey, m_strKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   READ_WRITE, nullptr, subkey.put(), &disposition);
  if (error != ERROR_SUCCESS) return false;
  const bool written = WriteStringValue(subkey.get(), kValueDescription, m_strDescription) &&
                       WriteStringValue(subkey.get(), kValueFirmwarePath, m_strFirmwarePath) &&
                       WriteStringValue(subkey.get(), kValueDeviceType, m_strDeviceType) &&
                       WriteDwordValue(subkey.get(), kValueOriginalInstall, m_dwOriginalInstall);
  subkey.Close();
  if (!written) {
    error = static_cast<LONG>(platform::GetLastError());
    // No partial entry stays behind.
    platform::RegDeleteKey(firmwareKey, m_strKeyName);
    return false;
  }
  return true;
}
