// One firmware file registered with the host: a subkey of the firmware catalogue named
// after the entry, with its description, device type, file path and install flag.
#pragma once
#include "framework/afx.h"
#include "platform/registry.h"

// Value names of an entry subkey.
inline constexpr char kValueDescription[] = "Description";
inline constexpr char kValueDeviceType[] = "DeviceType";
inline constexpr char kValueFirmwarePath[] = "FirmwarePath";
inline constexpr char kValueOriginalInstall[] = "OriginalInstall";

// Entries are always destroyed as what they are, so the class is final and its
// destructor need not be virtual.
class CFirmwareEntry final {
 public:
  CFirmwareEntry() = default;
  CFirmwareEntry(LPCTSTR description, LPCTSTR deviceType, LPCTSTR firmwarePath, LPCTSTR keyName,
                 DWORD originalInstall);

  // Fills the entry from an open entry subkey; false when either is missing or the
  // subkey is not a valid entry.
  virtual bool Load(LPCTSTR keyName, HKEY subkey);
  // Writes the entry as the subkey `m_strKeyName` of the open firmware key, replacing the
  // values of a subkey of that name. On failure nothing of the entry is left and `error`
  // holds the registry's error code.
  virtual bool Save(HKEY firmwareKey, LONG& error);

  // All four values present with their types, non-empty, and the file exists.
  static bool IsValidEntryKey(HKEY subkey);
  // The four values present with their types and non-empty (the file not looked at).
  static bool HasEntryValues(HKEY subkey);

  CString m_strDeviceType;
  CString m_strDescription;
  CString m_strFirmwarePath;
  CString m_strKeyName;
  DWORD m_dwOriginalInstall = 0;
};
