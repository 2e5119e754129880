#include "catalogue/registry_values.h"

#include <cstring>
#include <vector>

#include "platform/files.h"

namespace {

bool Fail(LONG error) {
  platform::SetLastError(static_cast<DWORD>(error));
  return false;
}

}  // namespace

bool HasValueOfType(HKEY key, const char* name, DWORD type) {
  if (!key || !name) return false;
  DWORD actualType = REG_NONE;
  DWORD size = 0;
  if (platform::RegQueryValueEx(key, name, nullptr, &actualType, nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  if (actualType != type) return false;
  return type == REG_SZ ? size >= 2 : size > 0;
}

bool ReadStringValue(HKEY key, const char* name, CString& text) {
  text.Empty();
  if (!key || !name) return false;
  DWORD size = 0;
  if (platform::RegQueryValueEx(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  // One byte more than asked for, so that a value stored without its zero still ends.
  std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
  if (platform::RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                                &size) != ERROR_SUCCESS) {
    return false;
  }
  text = CString(buffer.data(), static_cast<int>(strnlen(buffer.data(), size)));
  return true;
}

DWORD ReadDwordValue(HKEY key, const char* name, DWORD defaultValue) {
  if (!key || !name) return defaultValue;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (platform::RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                &size) != ERROR_SUCCESS) {
    return defaultValue;
  }
  return value;
}

bool WriteStringValue(HKEY key, const char* name, const char* text) {
  if (!key || !name || !text) return Fail(ERROR_INVALID_PARAMETER);
  const auto size = static_cast<DWORD>(std::strlen(text) + 1);
  const LONG error =
      platform::RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
  return error == ERROR_SUCCESS || Fail(error);
}

bool WriteDwordValue(HKEY key, const char* name, DWORD value) {
  if (!key || !name) return Fail(ERROR_INVALID_PARAMETER);
  const LONG error = platform::RegSetValueEx(key, name, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&value), sizeof value);
  return error == ERROR_SUCCESS || Fail(error);
}

bool FileExists(const char* path) {
  if (!path || !*path) return false;
  platform::FileStatus status;
  return platform::GetFileStatus(path, status);
}
