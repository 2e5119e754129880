// The firmware catalogue: enumeration with its clean-up of invalid entries, additions
// and removals.
#include <gtest/gtest.h>

#include "catalogue/registry_values.h"
#include "catalogue/tests/catalogue_fixture.h"

namespace catalogue_test {
namespace {

using Names = std::vector<std::string>;

TEST_F(CatalogueTest, MissingOrEmptyCatalogueGivesAnEmptyList) {
  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(Subkeys(), Names{}) << "the catalogue key is never created";
  CreateFirmwareKey();
  list.Enumerate("KV70");
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetAt(0), nullptr);
}

TEST_F(CatalogueTest, EntriesLoadEveryValueInRegistryOrder) {
  CreateFirmwareKey();
  const std::string a = MakeFile("a.x"), b = MakeFile("b.x");
  WriteEntry("zeta", "Version 2", "KV70", b, 1);
  WriteEntry("Alpha", "Version 1", "KV70", a, 0);
  CFirmwareList list;
  list.Enumerate("KV70");
  ASSERT_EQ(list.GetCount(), 2);
  const CFirmwareEntry* first = list.GetAt(0);
  EXPECT_EQ(first->m_strKeyName, "Alpha");
  EXPECT_EQ(first->m_strDescription, "Version 1");
  EXPECT_EQ(first->m_strDeviceType, "KV70");
  EXPECT_EQ(first->m_strFirmwarePath, a.c_str());
  EXPECT_EQ(first->m_dwOriginalInstall, 0u);
  EXPECT_EQ(list.GetAt(1)->m_strKeyName, "zeta");
  EXPECT_EQ(list.GetAt(1)->m_dwOriginalInstall, 1u) << "kept as read";
  EXPECT_EQ(list.GetAt(-1), nullptr);
  EXPECT_EQ(list.GetAt(2), nullptr);
}

TEST_F(CatalogueTest, TheFilterComparesDeviceTypesExactly) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  WriteEntry("1", "exact", "KV70", file);
  WriteEntry("2", "lower case", "kv70", file);
  WriteEntry("3", "other", "KV80", file);
  WriteEntry("4", "longer", "KV70 ", file);
  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(Descriptions(list), Names{"exact"});
  EXPECT_EQ(Subkeys(), (Names{"1", "2", "3", "4"})) << "entries of other types stay";
  list.Enumerate();
  EXPECT_EQ(Descriptions(list), (Names{"exact", "lower case", "other", "longer"})) << "no filter";
}

struct InvalidCase {
  const char* name;
  std::vector<NamedValue> values;  // the file path is filled in where it says "<file>"
};

// Every way an entry subkey can be invalid, whatever its device type.
std::vector<InvalidCase> InvalidCases(const std::string& file, const std::string& missing) {
  auto entry = [&](std::optional<RawValue> description, std::optional<RawValue> type,
                   std::optional<RawValue> path, std::optional<RawValue> install) {
    return std::vector<NamedValue>{{kValueDescription, description},
                                   {kValueDeviceType, type},
                                   {kValueFirmwarePath, path},
                                   {kValueOriginalInstall, install}};
  };
  const auto sz = RawValue::Sz;
  const auto dw = RawValue::Dword;
  return {
      {"FileMissingOfOtherType", entry(sz("d"), sz("KV80"), sz(missing), dw(0))},
      {"FileMissing", entry(sz("d"), sz("KV70"), sz(missing), dw(0))},
      {"OriginalInstallAsString", entry(sz("d"), sz("KV70"), sz(file), sz("0"))},
      {"EmptyDescription", entry(sz(""), sz("KV70"), sz(file), dw(0))},
      {"EmptyDeviceType", entry(sz("d"), sz(""), sz(file), dw(0))},
      {"NoDescription", entry(std::nullopt, sz("KV70"), sz(file), dw(0))},
      {"NoDeviceType", entry(sz("d"), std::nullopt, sz(file), dw(0))},
      {"NoPath", entry(sz("d"), sz("KV70"), std::nullopt, dw(0))},
      {"NoOriginalInstall", entry(sz("d"), sz("KV70"), sz(file), std::nullopt)},
      {"PathAsDword", entry(sz("d"), sz("KV70"), dw(0), dw(0))},
      {"ZeroByteOriginalInstall", entry(sz("d"), sz("KV70"), sz(file), RawValue{REG_DWORD, ""})},
      {"NoValuesAtAll", {}},
  };
}

TEST_F(CatalogueTest, InvalidEntriesOfAnyTypeAreDeleted) {
  const std::string file = MakeFile("fw.x");
  for (const InvalidCase& c : InvalidCases(file, Path("gone.x"))) {
    SCOPED_TRACE(c.name);
    CreateFirmwareKey();
    WriteRawEntry("bad", c.values);
    WriteEntry("good", "kept", "KV70", file);
    CFirmwareList list;
    list.Enumerate("KV70");
    EXPECT_EQ(Descriptions(list), Names{"kept"});
    EXPECT_EQ(Subkeys(), Names{"good"});
  }
}

TEST_F(CatalogueTest, AdjacentInvalidEntriesGoInOnePass) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  WriteEntry("a", "first", "KV70", file);
  WriteEntry("b", "missing file", "KV70", Path("gone.x"));
  WriteRawEntry("c", {{kValueDescription, RawValue::Sz("no other values")}});
  WriteEntry("d", "last", "KV70", file);
  WriteEntry("e", "gone too", "KV80", Path("gone.x"));
  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(Descriptions(list), (Names{"first", "last"}));
  EXPECT_EQ(Subkeys(), (Names{"a", "d"}));
}

TEST_F(CatalogueTest, AnInvalidEntryThatCannotBeDeletedIsPassedOver) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  // A subkey of its own keeps the invalid entry from being deleted.
  WriteRawEntry("a stuck", {{kValueDescription, RawValue::Sz("stuck")}});
  CreateKey(std::string(kFirmwareKeyPath) + "\\a stuck\\child");
  WriteEntry("b", "after it", "KV70", file);
  CFirmwareList list;
  list.Enumerate("KV70");  // ends, and goes on past the stuck one
  EXPECT_EQ(Descriptions(list), Names{"after it"});
  EXPECT_EQ(Subkeys(), (Names{"a stuck", "b"}));
}

TEST_F(CatalogueTest, EnumerationRebuildsTheListFromScratch) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  WriteEntry("a", "one", "KV70", file);
  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(list.GetCount(), 1);
  WriteEntry("b", "two", "KV70", file);
  EXPECT_EQ(list.GetCount(), 1) << "a snapshot";
  list.Enumerate("KV70");
  EXPECT_EQ(Descriptions(list), (Names{"one", "two"}));
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetAt(0), nullptr);
}

// --- Additions and removals -------------------------------------------------------------

TEST_F(CatalogueTest, AddingWritesTheFourValues) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  CFirmwareEntry entry("Release 3", "KV70", file.c_str(), "Release 3", 0);
  LONG error = -1;
  ASSERT_TRUE(CFirmwareList::AddToRegistry(entry, error));
  EXPECT_EQ(error, kOk);
  EXPECT_EQ(Subkeys(), Names{"Release 3"});
  EXPECT_EQ(ReadValue("Release 3", kValueDescription), RawValue::Sz("Release 3"));
  EXPECT_EQ(ReadValue("Release 3", kValueDeviceType), RawValue::Sz("KV70"));
  EXPECT_EQ(ReadValue("Release 3", kValueFirmwarePath), RawValue::Sz(file));
  EXPECT_EQ(ReadValue("Release 3", kValueOriginalInstall), RawValue::Dword(0));
  CFirmwareList list;
  list.Enumerate("KV70");
  EXPECT_EQ(Descriptions(list), Names{"Release 3"});
}

TEST_F(CatalogueTest, AddingOverAnExistingKeyReplacesItsValues) {
  CreateFirmwareKey();
  const std::string old = MakeFile("old.x"), fresh = MakeFile("new.x");
  WriteEntry("Release", "Old text", "KV80", old, 1);
  // Key names compare without regard to case: this is the same subkey.
  CFirmwareEntry entry("New text", "KV70", fresh.c_str(), "RELEASE", 0);
  LONG error = -1;
  ASSERT_TRUE(CFirmwareList::AddToRegistry(entry, error));
  EXPECT_EQ(Subkeys(), Names{"Release"});
  EXPECT_EQ(ReadValue("Release", kValueDescription), RawValue::Sz("New text"));
  EXPECT_EQ(ReadValue("Release", kValueDeviceType), RawValue::Sz("KV70"));
  EXPECT_EQ(ReadValue("Release", kValueFirmwarePath), RawValue::Sz(fresh));
  EXPECT_EQ(ReadValue("Release", kValueOriginalInstall), RawValue::Dword(0));
}

TEST_F(CatalogueTest, AddingAMissingFileFailsWithCodeZeroAndWritesNothing) {
  CreateFirmwareKey();
  CFirmwareEntry entry("Ghost", "KV70", Path("missing.x").c_str(), "Ghost", 0);
  LONG error = -1;
  EXPECT_FALSE(CFirmwareList::AddToRegistry(entry, error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(Subkeys(), Names{});
}

TEST_F(CatalogueTest, AddingNeedsTheCatalogueKey) {
  const std::string file = MakeFile("fw.x");
  CFirmwareEntry entry("Orphan", "KV70", file.c_str(), "Orphan", 0);
  LONG error = -1;
  EXPECT_FALSE(CFirmwareList::AddToRegistry(entry, error));
  EXPECT_EQ(error, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Subkeys("SOFTWARE"), Names{}) << "the catalogue key was not created";
}

TEST_F(CatalogueTest, AnEntryThatCannotBeCreatedLeavesNothing) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  const std::string tooLong(300, 'x');
  CFirmwareEntry entry("d", "KV70", file.c_str(), tooLong.c_str(), 0);
  LONG error = kOk;
  EXPECT_FALSE(CFirmwareList::AddToRegistry(entry, error));
  EXPECT_NE(error, kOk);
  EXPECT_EQ(Subkeys(), Names{});
}

TEST_F(CatalogueTest, RemovingDeletesOneSubkey) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  WriteEntry("a", "one", "KV70", file);
  WriteEntry("b", "two", "KV70", file);
  LONG error = -1;
  EXPECT_TRUE(CFirmwareList::RemoveFromRegistry("A", error));
  EXPECT_EQ(error, kOk);
  EXPECT_EQ(Subkeys(), Names{"b"});
  EXPECT_TRUE(FileExists(file.c_str())) << "the file is the caller's business";
  EXPECT_FALSE(CFirmwareList::RemoveFromRegistry("a", error));
  EXPECT_EQ(error, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(CatalogueTest, RemovingWithoutTheCatalogueKeyFails) {
  LONG error = kOk;
  EXPECT_FALSE(CFirmwareList::RemoveFromRegistry("a", error));
  EXPECT_EQ(error, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(CatalogueTest, LoadRefusesWhatIsMissingOrInvalid) {
  CreateFirmwareKey();
  const std::string file = MakeFile("fw.x");
  WriteEntry("ok", "d", "KV70", file);
  WriteEntry("bad", "d", "KV70", Path("gone.x"));
  platform::RegKey ok, bad;
  ASSERT_EQ(
      platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kFirmwareKeyPath) + "\\ok").c_str(),
                             0, KEY_READ, ok.put()),
      kOk);
  ASSERT_EQ(
      platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kFirmwareKeyPath) + "\\bad").c_str(),
                             0, KEY_READ, bad.put()),
      kOk);
  CFirmwareEntry entry;
  EXPECT_FALSE(entry.Load(nullptr, ok.get()));
  EXPECT_FALSE(entry.Load("ok", nullptr));
  EXPECT_FALSE(entry.Load("bad", bad.get()));
  EXPECT_EQ(entry.m_strKeyName, "") << "nothing taken from a refused key";
  EXPECT_TRUE(entry.Load("ok", ok.get()));
  EXPECT_EQ(entry.m_strKeyName, "ok");
}

}  // namespace
}  // namespace catalogue_test
