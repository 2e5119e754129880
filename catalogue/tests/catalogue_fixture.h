// A registry store and a scratch directory of their own for each catalogue test, with
// helpers that write entry subkeys exactly as given (valid or not) and read them back.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/firmware_list.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"

namespace catalogue_test {

constexpr LONG kOk = ERROR_SUCCESS;

// A value to store: a string (REG_SZ with its zero), a 32-bit number, or raw bytes of
// any type.
struct RawValue {
  DWORD type;
  std::string bytes;

  static RawValue Sz(const std::string& text) { return {REG_SZ, text + '\0'}; }
  static RawValue Dword(DWORD value) {
    return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value)};
  }
};

struct NamedValue {
  const char* name;
  std::optional<RawValue> value;  // none: the value is left out
};

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("catalogue-");
    ASSERT_FALSE(dir_.empty());
    platform_test::SetEnv("VELMORA_REGISTRY", (dir_ / "registry.db").string());
  }
  void TearDown() override {
    platform_test::UnsetEnv("VELMORA_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 public:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Creates a file with some content and returns its path.
  std::string MakeFile(const std::string& name,
                       const std::string& content = "S00600004844521B\n") const {
    const std::string path = Path(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static void CreateKey(const std::string& path) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                                       nullptr),
              kOk)
        << path;
  }
  static void CreateFirmwareKey() { CreateKey(kFirmwareKeyPath); }

  static void SetValue(HKEY key, const char* name, const RawValue& value) {
    ASSERT_EQ(platform::RegSetValueEx(key, name, 0, value.type,
                                      reinterpret_cast<const BYTE*>(value.bytes.data()),
                                      static_cast<DWORD>(value.bytes.size())),
              kOk);
  }

  // An entry subkey with exactly the values given.
  static void WriteRawEntry(const std::string& keyName, const std::vector<NamedValue>& values) {
    const std::string path = std::string(kFirmwareKeyPath) + "\\" + keyName;
    CreateKey(path);
    platform::RegKey key;
    ASSERT_EQ(
        platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put()),
        kOk);
    for (const auto& v : values) {
      if (v.value) SetValue(key.get(), v.name, *v.value);
    }
  }

  // A well-formed entry subkey.
  static void WriteEntry(const std::string& keyName, const std::string& description,
                         const std::string& deviceType, const std::string& path,
                         DWORD originalInstall = 0) {
    WriteRawEntry(keyName, {{kValueDescription, RawValue::Sz(description)},
                            {kValueDeviceType, RawValue::Sz(deviceType)},
                            {kValueFirmwarePath, RawValue::Sz(path)},
                            {kValueOriginalInstall, RawValue::Dword(originalInstall)}});
  }

  // Names of the catalogue's subkeys, in registry order; none when the key is missing.
  static std::vector<std::string> Subkeys(const std::string& path = kFirmwareKeyPath) {
    std::vector<std::string> names;
    platform::RegKey key;
    if (platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != kOk)
      return names;
    for (DWORD i = 0;; ++i) {
      char name[260];
      DWORD length = sizeof name;
      if (platform::RegEnumKeyEx(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          kOk)
        break;
      names.emplace_back(name, length);
    }
    return names;
  }

  // A value of an entry subkey: its type and bytes, or none.
  static std::optional<RawValue> ReadValue(const std::string& keyName, const char* valueName) {
    const std::string path = std::string(kFirmwareKeyPath) + "\\" + keyName;
    platform::RegKey key;
    if (platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != kOk) {
      return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (platform::RegQueryValueEx(key.get(), valueName, nullptr, &type, nullptr, &size) != kOk) {
      return std::nullopt;
    }
    std::string bytes(size, '\0');
    platform::RegQueryValueEx(key.get(), valueName, nullptr, &type,
                              reinterpret_cast<BYTE*>(bytes.data()), &size);
    return RawValue{type, bytes};
  }

  // Descriptions of the listed entries, in list order.
  static std::vector<std::string> Descriptions(const CFirmwareList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.GetCount(); ++i)
      out.emplace_back(list.GetAt(i)->m_strDescription.str());
    return out;
  }

 protected:
  std::filesystem::path dir_;
};

inline bool operator==(const RawValue& a, const RawValue& b) {
  return a.type == b.type && a.bytes == b.bytes;
}
inline void PrintTo(const RawValue& v, std::ostream* os) {
  *os << "type " << v.type << " (" << v.bytes.size() << " bytes)";
}

}  // namespace catalogue_test
