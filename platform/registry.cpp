// The registry calls: handles, key paths and access rights over the SQLite store.
#include "platform/registry.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/handle_table.h"
#include "platform/registry_store.h"

namespace platform {

namespace registry {

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

}  // namespace registry

namespace {

using registry::KeyId;
using registry::Transaction;

struct OpenKey {
  KeyId id;
  REGSAM access;
};

// Open keys take handles from 0x30004 on, four apart.
HandleTable<HKEY, OpenKey>& Handles() {
  static HandleTable<HKEY, OpenKey> table(0x30000, 4);
  return table;
}

// The predefined keys are open from the start, with every right, and never close.
std::optional<OpenKey> FindKey(HKEY handle) {
  if (handle == HKEY_CURRENT_USER) return OpenKey{registry::kCurrentUserId, KEY_ALL_ACCESS};
  if (handle == HKEY_LOCAL_MACHINE) return OpenKey{registry::kLocalMachineId, KEY_ALL_ACCESS};
  return Handles().Find(handle);
}

// Splits "a\b\c" into its names. A trailing backslash is allowed; an empty name inside
// the path, or one longer than Windows allows, makes the path invalid.
std::optional<std::vector<std::string_view>> SplitKeyPath(const char* subKey) {
  std::vector<std::string_view> names;
  if (!subKey) return names;
  std::string_view path(subKey);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return names;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (name.empty() || name.size() > registry::kMaxKeyNameLength) return std::nullopt;
    names.push_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

// The key a handle names, checked inside the transaction: a key deleted since it was
// opened (by this or another process) gives ERROR_KEY_DELETED.
LONG Resolve(Transaction& tx, const OpenKey& key) {
  if (key.id == registry::kCurrentUserId || key.id == registry::kLocalMachineId)
    return ERROR_SUCCESS;
  return tx.KeyExists(key.id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG FindPath(Transaction& tx, KeyId from, const std::vector<std::string_view>& names,
              KeyId& found) {
  found = from;
  for (auto name : names) {
    auto child = tx.FindChild(found, name);
    if (!child) return ERROR_FILE_NOT_FOUND;
    found = *child;
  }
  return ERROR_SUCCESS;
}

// Looks up the handle and checks that it was opened with `needed` rights.
LONG Lookup(HKEY handle, REGSAM needed, OpenKey& key) {
  auto found = FindKey(handle);
  if (!found) return ERROR_INVALID_HANDLE;
  if ((found->access & needed) != needed) return ERROR_ACCESS_DENIED;
  key = *found;
  return ERROR_SUCCESS;
}

std::string_view ValueName(const char* name) {
  return name ? std::string_view(name) : std::string_view();
}

}  // namespace

LONG RegOpenKeyEx(HKEY parent, const char* subKey, DWORD options, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey from{};
  if (LONG error = Lookup(parent, 0, from); error != ERROR_SUCCESS) return error;
  auto names = SplitKeyPath(subKey);
  if (!names) return ERROR_INVALID_PARAMETER;
  KeyId found = 0;
  LONG error = registry::Run(false, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    return FindPath(tx, from.id, *names, found);
  });
  if (error == ERROR_SUCCESS) *result = Handles().Add({found, access});
  return error;
}

LONG RegCreateKeyEx(HKEY parent, const char* subKey, DWORD reserved, char* className, DWORD options,
                    REGSAM access, void* security, PHKEY result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey from{};
  if (LONG error = Lookup(parent, 0, from); error != ERROR_SUCCESS) return error;
  auto names = SplitKeyPath(subKey);
  if (!names) return ERROR_INVALID_PARAMETER;
  KeyId key = 0;
  bool created = false;
  LONG error = registry::Run(true, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    key = from.id;
    created = false;
    for (auto name : *names) {
      if (auto child = tx.FindChild(key, name)) {
        key = *child;
        continue;
      }
      if (!created && (from.access & KEY_CREATE_SUB_KEY) == 0)
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
      key = tx.AddChild(key, name);
      created = true;
    }
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (error != ERROR_SUCCESS) return error;
  *result = Handles().Add({key, access});
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return Handles().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved,
                  char* className, DWORD* classLength, void* lastWriteTime) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  OpenKey from{};
  if (LONG error = Lookup(key, KEY_ENUMERATE_SUB_KEYS, from); error != ERROR_SUCCESS) return error;
  std::string found;
  LONG error = registry::Run(false, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    auto child = tx.ChildAt(from.id, index);
    if (!child) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    found = std::move(*child);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (error != ERROR_SUCCESS) return error;
  if (found.size() + 1 > *nameLength) {
    *nameLength = static_cast<DWORD>(found.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameLength = static_cast<DWORD>(found.size());
  if (className && classLength && *classLength > 0) className[0] = '\0';
  if (classLength) *classLength = 0;
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  OpenKey from{};
  if (LONG error = Lookup(key, KEY_QUERY_VALUE, from); error != ERROR_SUCCESS) return error;
  registry::Value value;
  LONG error = registry::Run(false, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    auto found = tx.GetValue(from.id, ValueName(valueName));
    if (!found) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    value = std::move(*found);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (error != ERROR_SUCCESS) return error;
  if (type) *type = value.type;
  if (!dataSize) return ERROR_SUCCESS;
  auto size = static_cast<DWORD>(value.data.size());
  if (data && *dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (data && size > 0) std::memcpy(data, value.data.data(), size);
  *dataSize = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD dataSize) {
  if (!data && dataSize > 0) return ERROR_INVALID_PARAMETER;
  if (ValueName(valueName).size() > registry::kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  OpenKey from{};
  if (LONG error = Lookup(key, KEY_SET_VALUE, from); error != ERROR_SUCCESS) return error;
  return registry::Run(true, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    tx.SetValue(from.id, ValueName(valueName), type, data, dataSize);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG RegDeleteValue(HKEY key, const char* valueName) {
  OpenKey from{};
  if (LONG error = Lookup(key, KEY_SET_VALUE, from); error != ERROR_SUCCESS) return error;
  return registry::Run(true, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    return static_cast<LONG>(tx.DeleteValue(from.id, ValueName(valueName)) ? ERROR_SUCCESS
                                                                           : ERROR_FILE_NOT_FOUND);
  });
}

LONG RegDeleteKey(HKEY parent, const char* subKey) {
  OpenKey from{};
  if (LONG error = Lookup(parent, 0, from); error != ERROR_SUCCESS) return error;
  auto names = SplitKeyPath(subKey);
  // Deleting the key behind the handle itself, or a predefined key, is not offered.
  if (!names || names->empty()) return ERROR_INVALID_PARAMETER;
  return registry::Run(true, [&](Transaction& tx) {
    if (LONG e = Resolve(tx, from); e != ERROR_SUCCESS) return e;
    KeyId key = 0;
    if (LONG e = FindPath(tx, from.id, *names, key); e != ERROR_SUCCESS) return e;
    if (tx.HasChildren(key)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    tx.DeleteKey(key);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

}  // namespace platform
