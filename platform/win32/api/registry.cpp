// The Windows registry on <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/neutral.h"

namespace platform::win32 {

std::uint32_t RegOpen(int root, const std::string& path, bool write, bool create, Handle& key) {
  HKEY base = root == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const REGSAM access = KEY_READ | (write ? KEY_WRITE : 0);
  HKEY opened = nullptr;
  LONG error;
  if (create) {
    error = ::RegCreateKeyExA(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &opened, nullptr);
  } else {
    error = ::RegOpenKeyExA(base, path.c_str(), 0, access, &opened);
  }
  key = error == ERROR_SUCCESS ? opened : nullptr;
  return static_cast<std::uint32_t>(error);
}

std::uint32_t RegSubkeyAt(Handle key, std::uint32_t index, std::string& name) {
  char buffer[256];
  DWORD length = sizeof buffer;
  const LONG error = ::RegEnumKeyExA(static_cast<HKEY>(key), index, buffer, &length, nullptr,
                                     nullptr, nullptr, nullptr);
  if (error == ERROR_SUCCESS) name.assign(buffer, length);
  return static_cast<std::uint32_t>(error);
}

std::uint32_t RegValueAt(Handle key, std::uint32_t index, RegValue& value) {
  DWORD nameMax = 0;
  DWORD dataMax = 0;
  LONG error = ::RegQueryInfoKeyA(static_cast<HKEY>(key), nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, &nameMax, &dataMax, nullptr, nullptr);
  if (error != ERROR_SUCCESS) return static_cast<std::uint32_t>(error);
  std::string name(nameMax + 1, '\0');
  value.data.assign(dataMax + 1, 0);
  DWORD nameLength = nameMax + 1;
  DWORD dataLength = dataMax + 1;
  DWORD type = 0;
  error = ::RegEnumValueA(static_cast<HKEY>(key), index, name.data(), &nameLength, nullptr, &type,
                          value.data.data(), &dataLength);
  if (error != ERROR_SUCCESS) return static_cast<std::uint32_t>(error);
  value.name.assign(name.data(), nameLength);
  value.type = type;
  value.data.resize(dataLength);
  return 0;
}

std::uint32_t RegReadValue(Handle key, const std::string& name, RegValue& value) {
  DWORD type = 0;
  DWORD size = 0;
  LONG error =
      ::RegQueryValueExA(static_cast<HKEY>(key), name.c_str(), nullptr, &type, nullptr, &size);
  while (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
    value.data.assign(size, 0);
    error = ::RegQueryValueExA(static_cast<HKEY>(key), name.c_str(), nullptr, &type,
                               value.data.data(), &size);
    if (error == ERROR_SUCCESS) {
      value.name = name;
      value.type = type;
      value.data.resize(size);
      return 0;
    }
  }
  return static_cast<std::uint32_t>(error);
}

std::uint32_t RegWriteValue(Handle key, const std::string& name, std::uint32_t type,
                            const std::uint8_t* data, std::size_t size) {
  return static_cast<std::uint32_t>(::RegSetValueExA(static_cast<HKEY>(key), name.c_str(), 0, type,
                                                     data, static_cast<DWORD>(size)));
}

std::uint32_t RegRemoveValue(Handle key, const std::string& name) {
  return static_cast<std::uint32_t>(::RegDeleteValueA(static_cast<HKEY>(key), name.c_str()));
}

std::uint32_t RegRemoveSubkey(Handle key, const std::string& name) {
  return static_cast<std::uint32_t>(::RegDeleteKeyA(static_cast<HKEY>(key), name.c_str()));
}

std::uint32_t RegSubkeyCount(Handle key, std::uint32_t& count) {
  DWORD subkeys = 0;
  const LONG error =
      ::RegQueryInfoKeyA(static_cast<HKEY>(key), nullptr, nullptr, nullptr, &subkeys, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  count = subkeys;
  return static_cast<std::uint32_t>(error);
}

Handle RegLockCreate() {
  return ::CreateMutexA(nullptr, FALSE, "Local\\VelmoraRegistry");
}

void RegLockTake(Handle lock) {
  if (lock) ::WaitForSingleObject(lock, INFINITE);  // WAIT_ABANDONED still gives it to us
}

void RegLockRelease(Handle lock) {
  if (lock) ::ReleaseMutex(lock);
}

}  // namespace platform::win32
