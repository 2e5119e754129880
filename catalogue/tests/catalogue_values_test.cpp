// The registry value helpers beneath the catalogue, and the firmware directory.
#include <gtest/gtest.h>

#include "catalogue/install_settings.h"
#include "catalogue/registry_values.h"
#include "catalogue/tests/catalogue_fixture.h"
#include "platform/files.h"
#include "platform/testing/system_for_tests.h"

namespace catalogue_test {
namespace {

constexpr char kKey[] = "SOFTWARE\\Quarnell\\Values";

class ValuesTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    CreateKey(kKey);
    ASSERT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, key_.put()), kOk);
  }
  void TearDown() override {
    key_.Close();
    CatalogueTest::TearDown();
  }
  HKEY key() const { return key_.get(); }

 private:
  platform::RegKey key_;
};

struct TypeCase {
  const char* name;
  std::optional<RawValue> stored;
  DWORD asked;
  bool expected;
};

const TypeCase kTypeCases[] = {
    {"OneCharacterString", RawValue::Sz("a"), REG_SZ, true},
    {"EmptyString", RawValue::Sz(""), REG_SZ, false},
    {"StringWithoutItsZero", RawValue{REG_SZ, "a"}, REG_SZ, false},
    {"DwordAsDword", RawValue::Dword(0), REG_DWORD, true},
    {"DwordAsString", RawValue::Dword(0x41), REG_SZ, false},
    {"StringAsDword", RawValue::Sz("1"), REG_DWORD, false},
    {"ZeroByteDword", RawValue{REG_DWORD, ""}, REG_DWORD, false},
    {"OneByteBinary", RawValue{REG_BINARY, "x"}, REG_BINARY, true},
    {"Missing", std::nullopt, REG_SZ, false},
};

class HasValueOfTypeTest : public ValuesTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(HasValueOfTypeTest, TypeAndSizeDecide) {
  const TypeCase& c = GetParam();
  // The system registry's narrow calls give every string its zero back; only a store
  // that keeps the bytes as written can hold one without.
  if (std::string(c.name) == "StringWithoutItsZero" && !platform_test::RegistryIsAFile())
    GTEST_SKIP() << "the system registry adds the zero";
  if (c.stored) SetValue(key(), "V", *c.stored);
  EXPECT_EQ(HasValueOfType(key(), "V", c.asked), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HasValueOfTypeTest, ::testing::ValuesIn(kTypeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValuesTest, AMissingKeyOrNameFailsAtOnce) {
  SetValue(key(), "V", RawValue::Sz("text"));
  CString text = "old";
  EXPECT_FALSE(HasValueOfType(nullptr, "V", REG_SZ));
  EXPECT_FALSE(HasValueOfType(key(), nullptr, REG_SZ));
  EXPECT_FALSE(ReadStringValue(nullptr, "V", text));
  EXPECT_EQ(text, "");
  text = "old";
  EXPECT_FALSE(ReadStringValue(key(), nullptr, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(ReadDwordValue(nullptr, "V", 7u), 7u);
  EXPECT_EQ(ReadDwordValue(key(), nullptr, 7u), 7u);
  EXPECT_FALSE(WriteStringValue(nullptr, "V", "x"));
  EXPECT_FALSE(WriteStringValue(key(), nullptr, "x"));
  EXPECT_FALSE(WriteStringValue(key(), "V", nullptr)) << "a missing text";
  EXPECT_FALSE(WriteDwordValue(nullptr, "V", 1));
  EXPECT_FALSE(WriteDwordValue(key(), nullptr, 1));
  EXPECT_EQ(ReadStringValue(key(), "V", text) ? text : CString(), "text") << "left alone";
}

struct ReadCase {
  const char* name;
  std::optional<RawValue> stored;
  bool ok;
  const char* text;
};

const ReadCase kReadCases[] = {
    {"String", RawValue::Sz("C:\\Tool\\fw.x"), true, "C:\\Tool\\fw.x"},
    {"EmptyString", RawValue::Sz(""), true, ""},
    {"NoSizeAtAll", RawValue{REG_SZ, ""}, true, ""},
    {"WithoutZero", RawValue{REG_BINARY, "xy"}, true, "xy"},
    {"TypeNotChecked", RawValue::Dword(0x00636261), true, "abc"},
    {"Missing", std::nullopt, false, ""},
};

class ReadStringTest : public ValuesTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadStringTest, ReadsWhatIsStored) {
  const ReadCase& c = GetParam();
  if (c.stored) SetValue(key(), "V", *c.stored);
  CString text = "left over";
  EXPECT_EQ(ReadStringValue(key(), "V", text), c.ok);
  EXPECT_EQ(text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadStringTest, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValuesTest, DwordsReadTheirValueOrTheDefault) {
  SetValue(key(), "Flag", RawValue::Dword(0xDEADBEEF));
  SetValue(key(), "Long", RawValue{REG_BINARY, "12345678"});
  EXPECT_EQ(ReadDwordValue(key(), "Flag", 5), 0xDEADBEEFu);
  EXPECT_EQ(ReadDwordValue(key(), "Missing", 5), 5u);
  EXPECT_EQ(ReadDwordValue(key(), "Long", 5), 5u) << "does not fit in 4 bytes";
}

TEST_F(ValuesTest, WritesStoreTypeAndSizeWithTheZero) {
  ASSERT_TRUE(WriteStringValue(key(), "S", "KV70"));
  ASSERT_TRUE(WriteStringValue(key(), "E", ""));
  ASSERT_TRUE(WriteDwordValue(key(), "D", 0x01020304));
  platform::RegKey check;
  ASSERT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, check.put()), kOk);
  DWORD type = 0, size = 0;
  ASSERT_EQ(platform::RegQueryValueEx(check.get(), "S", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 5u);
  ASSERT_EQ(platform::RegQueryValueEx(check.get(), "E", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(size, 1u);
  ASSERT_EQ(platform::RegQueryValueEx(check.get(), "D", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(ReadDwordValue(check.get(), "D", 0), 0x01020304u);
}

TEST_F(ValuesTest, AFailedWriteLeavesTheRegistryErrorAsLastError) {
  platform::RegKey readOnly;
  ASSERT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, readOnly.put()), kOk);
  platform::SetLastError(0);
  EXPECT_FALSE(WriteStringValue(readOnly.get(), "S", "x"));
  EXPECT_EQ(platform::GetLastError(), ERROR_ACCESS_DENIED);
  platform::SetLastError(0);
  EXPECT_FALSE(WriteDwordValue(readOnly.get(), "D", 1));
  EXPECT_EQ(platform::GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(CatalogueTest, FileExistsWantsAStatus) {
  const std::string file = MakeFile("fw.x");
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_TRUE(FileExists(Path("").c_str())) << "a directory has a status too";
  EXPECT_FALSE(FileExists(Path("missing.x").c_str()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(nullptr));
}

// --- The firmware directory -------------------------------------------------------------

struct DirectoryCase {
  const char* name;
  const char* install;
  const char* expected;
};

// In `expected`, '|' stands for the system's separator ('/' here, '\\' on Windows): the
// paths the user is shown take one kind.
const DirectoryCase kDirectoryCases[] = {
    {"Plain", "C:\\Program Files\\Tool", "C:\\Program Files\\Tool|Firmware"},
    {"TrailingSeparatorDoubles", "C:\\Tool\\", "C:\\Tool\\|Firmware"},
    {"UnixPath", "/opt/velmora", "/opt/velmora|Firmware"},
    {"Empty", "", "|Firmware"},
};

class FirmwareDirectoryTest : public CatalogueTest,
                              public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(FirmwareDirectoryTest, InstallDirectorySeparatorFirmware) {
  CreateKey(kHostKeyPath);
  platform::RegKey host;
  ASSERT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_ALL_ACCESS, host.put()),
            kOk);
  SetValue(host.get(), kInstallDirectoryValue, RawValue::Sz(GetParam().install));
  CString directory = "unchanged";
  ASSERT_TRUE(GetFirmwareDirectory(directory));
  std::string expected = GetParam().expected;
  expected.replace(expected.find('|'), 1, platform::PathSeparator());
  EXPECT_EQ(directory, expected.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, FirmwareDirectoryTest, ::testing::ValuesIn(kDirectoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CatalogueTest, FirmwareDirectoryFailsWithoutTheSettingAndLeavesTheText) {
  CString directory = "unchanged";
  EXPECT_FALSE(GetFirmwareDirectory(directory)) << "no host key";
  EXPECT_EQ(directory, "unchanged");
  CreateKey(kHostKeyPath);
  EXPECT_FALSE(GetFirmwareDirectory(directory)) << "no value";
  EXPECT_EQ(directory, "unchanged");
  EXPECT_EQ(Subkeys(kHostKeyPath), std::vector<std::string>{}) << "nothing was created";
}

TEST_F(CatalogueTest, FirmwareDirectoryIsReadAfreshEachTime) {
  CreateKey(kHostKeyPath);
  platform::RegKey host;
  ASSERT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_ALL_ACCESS, host.put()),
            kOk);
  SetValue(host.get(), kInstallDirectoryValue, RawValue::Sz("A"));
  CString directory;
  ASSERT_TRUE(GetFirmwareDirectory(directory));
  EXPECT_EQ(directory, std::string("A") + platform::PathSeparator() + "Firmware");
  SetValue(host.get(), kInstallDirectoryValue, RawValue::Sz("B"));
  ASSERT_TRUE(GetFirmwareDirectory(directory));
  EXPECT_EQ(directory, std::string("B") + platform::PathSeparator() + "Firmware");
}

}  // namespace
}  // namespace catalogue_test
