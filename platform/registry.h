// The registry: keys and typed values under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER,
// kept in one SQLite database so that the host and the plug-in (and a second host
// process) can share it. Windows semantics: key names compare without regard to letter
// case and keep the case they were created with; subkeys enumerate in case-insensitive
// name order; a key with subkeys cannot be deleted; Windows error numbers.
// Every call is its own transaction, with a busy time-out.
//
// Database: $VELMORA_REGISTRY, else ~/.config/velmora/registry.db (directory created).
#pragma once
#include <string>

#include "winbase.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

namespace platform {

// Handles carry the access they were opened with: setting or deleting a value needs
// KEY_SET_VALUE, querying KEY_QUERY_VALUE, enumerating KEY_ENUMERATE_SUB_KEYS, creating a
// subkey KEY_CREATE_SUB_KEY (else ERROR_ACCESS_DENIED). A handle whose key was deleted
// meanwhile, by this or another process, gives ERROR_KEY_DELETED.
// All return Windows error numbers: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key
// or value), ERROR_ACCESS_DENIED (deleting a key with subkeys; store not writable),
// ERROR_NO_MORE_ITEMS (enumeration end), ERROR_MORE_DATA (buffer too small),
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_BUSY (store locked too long).
LONG RegOpenKeyEx(HKEY parent, const char* subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyEx(HKEY parent, const char* subKey, DWORD reserved, char* className, DWORD options,
                    REGSAM access, void* security, PHKEY result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
// Name of the index-th subkey in case-insensitive order; nameLength in: buffer size in
// characters, out: length without terminator (also on ERROR_MORE_DATA).
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved,
                  char* className, DWORD* classLength, void* lastWriteTime);
// Type and data of a value; data may be null to ask for the size. REG_SZ data includes
// its terminating zero in the size, as stored.
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* dataSize);
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD dataSize);
LONG RegDeleteValue(HKEY key, const char* valueName);
// Deletes a key that has no subkeys, with its values.
LONG RegDeleteKey(HKEY parent, const char* subKey);

// The database file in use (after VELMORA_REGISTRY and the default are applied).
std::string RegistryPath();

// Opens the store as every call does: ERROR_SUCCESS; ERROR_BADDB when the file is not a
// Velmora registry (another SQLite database, a text written over it, a damaged file); a
// missing file is created. Commands check this first, so that such a file is named as
// what it is rather than read as an empty registry.
LONG CheckRegistryStore();

// Whether writing `path` would write over the store: the database itself or one of the
// files SQLite keeps beside it, under any name that reaches them.
bool IsRegistryStoreFile(const std::string& path);

// REGEDIT4 text files. Import merges keys and values into the store; export writes the
// given key (full name such as "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell") and everything
// below it, or the whole store when keyName is empty. Both return Windows error numbers;
// on a malformed import file `error` says which line and why, and nothing is written.
// Import reads REGEDIT4 and "Windows Registry Editor Version 5.00" files, in UTF-8 or in
// UTF-16 with a byte-order mark. Export writes REGEDIT4 text, or with `unicode` the
// version 5.00 form in UTF-16LE with a byte-order mark, as Windows' registry editor
// does. Export refuses the store itself (ERROR_ACCESS_DENIED) and writes through
// WriteOutputFile (output_file.h).
LONG RegImportFile(const std::string& path, std::string* error = nullptr);
LONG RegExportFile(const std::string& path, const std::string& keyName = {}, bool unicode = false);
// The same export into `text` (standard output's content, say); nothing is written.
LONG RegExportText(std::string& text, const std::string& keyName = {}, bool unicode = false);

// RAII owner of an open key.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key) {}
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* put() {
    Close();
    return &key_;
  }
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void Close() {
    if (key_) {
      RegCloseKey(key_);
      key_ = nullptr;
    }
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace platform
