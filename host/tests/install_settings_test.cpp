// First-run settings in a registry of the test's own.
#include "host/core/install_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class InstallSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velmora-install-" + platform_test::UniqueName("") + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    platform_test::SetEnv("VELMORA_REGISTRY", (dir_ / "registry.db").string());
    platform_test::UnsetEnv("VELMORA_DATA");
  }
  void TearDown() override {
    platform_test::UnsetEnv("VELMORA_REGISTRY");
    fs::remove_all(dir_);
  }

  std::string ReadInstallDirectory() {
    platform::RegKey key;
    if (platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
      return "?";
    std::vector<char> value(1024, '\0');
    DWORD size = static_cast<DWORD>(value.size() - 1);
    DWORD type = 0;
    if (platform::RegQueryValueEx(key.get(), kInstallDirectoryValue, nullptr, &type,
                                  reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS) {
      return "?";
    }
    return value.data();
  }

  bool FirmwareKeyExists() {
    platform::RegKey key;
    return platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFirmwareKeyPath, 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
  }

  fs::path dir_;
};

TEST_F(InstallSettingsTest, DataDirectoryIsBesideTheRegistryUnlessGiven) {
  EXPECT_EQ(DefaultDataDirectory(), dir_.string());
  platform_test::SetEnv("VELMORA_DATA", "/somewhere/else");
  EXPECT_EQ(DefaultDataDirectory(), "/somewhere/else");
  platform_test::UnsetEnv("VELMORA_DATA");
}

TEST_F(InstallSettingsTest, FirstRunWritesInstallDirectoryAndCreatesTheCatalogueKey) {
  const std::string data = (dir_ / "data").string();
  const InstallReport report = EnsureInstallSettings(data);
  EXPECT_TRUE(report.problem.empty()) << report.problem;
  EXPECT_TRUE(report.wroteInstallDirectory);
  EXPECT_TRUE(report.createdFirmwareKey);
  EXPECT_EQ(ReadInstallDirectory(), data);
  EXPECT_TRUE(fs::is_directory(data));
  EXPECT_TRUE(fs::is_directory(dir_ / "data" / "Firmware"));
  EXPECT_TRUE(FirmwareKeyExists());
}

TEST_F(InstallSettingsTest, AnExistingValueAndCatalogueAreLeftAlone) {
  const std::string mine = (dir_ / "mine").string();
  EnsureInstallSettings(mine);
  platform::RegKey entry;
  ASSERT_EQ(platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE,
                                     (std::string(kFirmwareKeyPath) + "\\Entry").c_str(), 0,
                                     nullptr, 0, KEY_ALL_ACCESS, nullptr, entry.put(), nullptr),
            ERROR_SUCCESS);
  entry.Close();
  const InstallReport again = EnsureInstallSettings((dir_ / "other").string());
  EXPECT_FALSE(again.wroteInstallDirectory);
  EXPECT_FALSE(again.createdFirmwareKey);
  EXPECT_EQ(again.installDirectory, mine);
  EXPECT_EQ(ReadInstallDirectory(), mine);
  EXPECT_FALSE(fs::exists(dir_ / "other"));
  platform::RegKey still;
  EXPECT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE,
                                   (std::string(kFirmwareKeyPath) + "\\Entry").c_str(), 0, KEY_READ,
                                   still.put()),
            ERROR_SUCCESS);
}

TEST_F(InstallSettingsTest, ADataDirectoryThatCannotBeMadeIsReportedAndNothingIsWritten) {
  const fs::path blocker = dir_ / "file";
  {
    std::FILE* f = std::fopen(blocker.string().c_str(), "w");
    std::fclose(f);
  }
  const InstallReport report = EnsureInstallSettings((blocker / "data").string());
  EXPECT_FALSE(report.problem.empty());
  EXPECT_FALSE(report.wroteInstallDirectory);
  EXPECT_EQ(ReadInstallDirectory(), "?");
}

}  // namespace
}  // namespace velmora
