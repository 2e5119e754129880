// The catalogue as the host and the plug-in share it: two processes adding and listing
// at once, and a .reg export that carries it to another store.
#include <gtest/gtest.h>

#include "catalogue/install_settings.h"
#include "catalogue/tests/catalogue_fixture.h"
#include "platform/testing/system_for_tests.h"

namespace catalogue_test {
namespace {

// Adds `count` entries named prefix<i>, listing the catalogue after each; true when
// every addition succeeded and each listing held the entries added so far.
bool AddAndList(const std::string& prefix, const std::string& file, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = prefix + std::to_string(i);
    CFirmwareEntry entry(name.c_str(), "KV70", file.c_str(), name.c_str(), 0);
    LONG error = 0;
    if (!CFirmwareList::AddToRegistry(entry, error)) return false;
    CFirmwareList list;
    list.Enumerate("KV70");
    int mine = 0;
    for (int j = 0; j < list.GetCount(); ++j) {
      if (list.GetAt(j)->m_strKeyName.Find(prefix.c_str()) == 0) ++mine;
    }
    if (mine != i + 1) return false;
  }
  return true;
}

TEST_F(CatalogueTest, TwoProcessesAddingAndListingAtOnceLoseNothing) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  constexpr int kCount = 15;
  if (!platform_test::ProcessCopy::Supported()) GTEST_SKIP() << "no fork on this system";
  platform_test::ProcessCopy child([&] { return AddAndList("child", file, kCount); });
  ASSERT_TRUE(child.Started());
  const bool parentOk = AddAndList("parent", file, kCount);
  EXPECT_TRUE(child.Succeeded());
  EXPECT_TRUE(parentOk);

  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(list.GetCount(), 2 * kCount);
  for (const char* prefix : {"child", "parent"}) {
    for (int i = 0; i < kCount; ++i) {
      const std::string name = prefix + std::to_string(i);
      EXPECT_EQ(ReadValue(name, kValueDescription), RawValue::Sz(name)) << name;
      EXPECT_EQ(ReadValue(name, kValueOriginalInstall), RawValue::Dword(0)) << name;
    }
  }
}

TEST_F(CatalogueTest, AnExportImportedIntoAnEmptyStoreGivesTheSameCatalogue) {
  CreateFirmwareKey();
  CreateKey(kHostKeyPath);
  const std::string a = MakeFile("dir with space/a.x"), b = MakeFile("b.x");
  WriteEntry("Release 1", "Release 1", "KV70", a, 1);
  WriteEntry("Quote \"q\"", "Say \"hi\" = ok", "KV70", b, 0);
  WriteEntry("Windows", "On C:", "kv70", "C:\\Program Files\\Velmora\\Firmware\\w.x", 0xFFFFFFFF);
  WriteRawEntry(
      "Odd", {{kValueDescription, RawValue::Sz("")}, {kValueOriginalInstall, RawValue::Sz("0")}});

  const std::string exported = Path("catalogue.reg");
  ASSERT_EQ(platform::RegExportFile(exported, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell"), kOk);
  const std::vector<std::string> keys = Subkeys();
  const char* valueNames[] = {kValueDescription, kValueDeviceType, kValueFirmwarePath,
                              kValueOriginalInstall};
  std::vector<std::optional<RawValue>> before;
  for (const auto& key : keys) {
    for (const char* value : valueNames) before.push_back(ReadValue(key, value));
  }

  platform_test::SetEnv("VELMORA_REGISTRY", Path("imported.db").c_str());
  ASSERT_EQ(Subkeys(), std::vector<std::string>{}) << "a fresh store";
  std::string why;
  ASSERT_EQ(platform::RegImportFile(exported, &why), kOk) << why;
  EXPECT_EQ(Subkeys(), keys);
  std::vector<std::optional<RawValue>> after;
  for (const auto& key : keys) {
    for (const char* value : valueNames) after.push_back(ReadValue(key, value));
  }
  EXPECT_EQ(after, before);

  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(Descriptions(list), (std::vector<std::string>{"Say \"hi\" = ok", "Release 1"}));
}

}  // namespace
}  // namespace catalogue_test
