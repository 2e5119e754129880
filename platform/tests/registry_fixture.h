// A fresh registry store per test, in a directory of its own.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"

namespace platform::testing {

class FreshRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("platform-registry-");
    ASSERT_FALSE(dir_.empty());
    platform_test::SetEnv("VELMORA_REGISTRY", (dir_ / "registry.db").string());
  }
  void TearDown() override {
    platform_test::UnsetEnv("VELMORA_REGISTRY");
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 public:
  static LONG SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
  }
  static LONG SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  static std::string GetString(HKEY key, const char* name) {
    char buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
      return "<missing>";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    return std::string(buffer, size ? size - 1 : 0);
  }
  // Creates the key path under HKEY_LOCAL_MACHINE and closes it.
  static void Create(const char* path) {
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, key.put(), &disposition),
              static_cast<LONG>(ERROR_SUCCESS))
        << path;
  }
  static std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[260];
      DWORD length = sizeof name;
      LONG error = RegEnumKeyEx(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (error != ERROR_SUCCESS) {
        EXPECT_EQ(error, static_cast<LONG>(ERROR_NO_MORE_ITEMS));
        break;
      }
      names.emplace_back(name, length);
    }
    return names;
  }

 protected:
  std::filesystem::path dir_;
};

}  // namespace platform::testing
