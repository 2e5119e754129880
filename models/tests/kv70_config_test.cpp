// The KV70 configuration record: decoding a 184-byte reply and the option table.
#include "models/kv70_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "models/month_index.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using Record = std::vector<BYTE>;

struct Patch {
  size_t offset;
  std::vector<BYTE> bytes;
};

Record MakeRecord(std::initializer_list<Patch> patches, size_t size = 184) {
  Record r(size, 0);
  for (const auto& p : patches)
    for (size_t i = 0; i < p.bytes.size() && p.offset + i < size; ++i) r[p.offset + i] = p.bytes[i];
  return r;
}

std::vector<BYTE> Text(const char* s) {
  return std::vector<BYTE>(s, s + std::strlen(s) + 1);
}

class KV70ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

TEST_F(KV70ConfigTest, ConstructionGivesAnEmptyRecordAndTheOptionTable) {
  CKV70Config config;
  EXPECT_EQ(config.GetSize(), 184u);
  EXPECT_STREQ(config.GetSerialNumber(), "");
  EXPECT_STREQ(config.GetOwnerString1(), "");
  EXPECT_EQ(config.FlashType(), 0);
  EXPECT_EQ(config.GetAppEntryCount(), 0);
  EXPECT_EQ(config.GetTempOptionCount(), 0);
  EXPECT_EQ(config.GetOptionAreaSize(), 62u);
  for (int i = 0; i < 184; ++i) ASSERT_EQ(config.GetRecord()[i], 0) << i;

  const struct {
    int kind;
    BYTE number;
    BYTE offValue;
    bool scrambled;
    bool hidden;
  } table[] = {
      {COptionDesc::toggle, 0, 0, false, false},   {COptionDesc::toggle, 1, 0, true, false},
      {COptionDesc::toggle, 2, 255, true, true},   {COptionDesc::toggle, 3, 0, false, false},
      {COptionDesc::toggle, 4, 255, false, true},  {COptionDesc::toggle, 5, 255, false, true},
      {COptionDesc::toggle, 6, 255, false, true},  {COptionDesc::toggle, 7, 255, false, false},
      {COptionDesc::toggle, 10, 255, false, true}, {COptionDesc::dated, 33, 2, false, false},
      {COptionDesc::dated, 40, 2, false, false},
  };
  ASSERT_EQ(config.GetOptionCount(), 11);
  for (int i = 0; i < 11; ++i) {
    const COptionDesc* option = config.GetOption(i);
    ASSERT_NE(option, nullptr) << i;
    EXPECT_EQ(option->GetKind(), table[i].kind) << i;
    EXPECT_EQ(option->GetNumber(), table[i].number) << i;
    EXPECT_EQ(option->GetOffValue(), table[i].offValue) << i;
    EXPECT_EQ(option->IsStoredScrambled(), table[i].scrambled) << i;
    EXPECT_EQ(option->IsHidden(), table[i].hidden) << i;
    EXPECT_FALSE(option->IsInstalled()) << i;
  }
  EXPECT_EQ(config.GetOption(11), nullptr);
  EXPECT_EQ(config.GetOption(-1), nullptr);
}

// Display names are plain, distinct text; the scrambled ones are stored unreadable.
TEST_F(KV70ConfigTest, DisplayNamesAreReadable) {
  CKV70Config config;
  std::vector<std::string> seen;
  for (int i = 0; i < config.GetOptionCount(); ++i) {
    const COptionDesc* option = config.GetOption(i);
    const std::string name = option->GetDisplayName();
    ASSERT_FALSE(name.empty()) << i;
    for (char c : name) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << i << ": " << name;
    for (const auto& other : seen) EXPECT_NE(name, other);
    seen.push_back(name);
    if (option->IsStoredScrambled()) {
      EXPECT_NE(std::string(option->GetStoredName()), name) << i;
      for (const char* p = option->GetStoredName(); *p; ++p)
        EXPECT_FALSE(*p >= 0x20 && *p < 0x7F) << i;
    } else {
      EXPECT_EQ(std::string(option->GetStoredName()), name) << i;
    }
  }
}

TEST_F(KV70ConfigTest, TextsOfTheRecord) {
  const std::string full32(32, 'S');
  const std::string full36(36, 'O');
  const struct {
    const char* name;
    Record record;
    std::string serial, owner1, owner2;
  } cases[] = {
      {"plain texts",
       MakeRecord({{2, Text("KV7-000123")}, {38, Text("Quarry Ltd")}, {74, Text("Depot 4")}}),
       "KV7-000123", "Quarry Ltd", "Depot 4"},
      {"unset fields read None",
       MakeRecord({{2, {0xFF, 'x', 'y'}}, {38, {0xFF}}, {74, {0xFF, 0xFF}}}), "None", "None",
       "None"},
      {"first byte zero is empty", MakeRecord({{2, {0x00, 'A'}}, {38, {0x00}}, {74, {0x00}}}), "",
       "", ""},
      // Fields that fill their width stop at the field's end, not in the next field.
      {"full-width fields",
       MakeRecord({{2, std::vector<BYTE>(full32.begin(), full32.end())},
                   {34, {'X', 'X', 'X', 'X'}},
                   {38, std::vector<BYTE>(full36.begin(), full36.end())},
                   {74, std::vector<BYTE>(full36.begin(), full36.end())},
                   {110, std::vector<BYTE>(74, 'Z')}}),
       full32, full36, full36},
  };
  for (const auto& c : cases) {
    CKV70Config config;
    ASSERT_TRUE(config.Decode(c.record.data(), 184)) << c.name;
    EXPECT_EQ(std::string(config.GetSerialNumber()), c.serial) << c.name;
    EXPECT_EQ(std::string(config.GetOwnerString1()), c.owner1) << c.name;
    EXPECT_EQ(std::string(config.GetOwnerString2()), c.owner2) << c.name;
  }
}

// "None" fills the field with the text and zeros, nothing past the field's width.
TEST_F(KV70ConfigTest, NoneIsWrittenIntoTheStoredRecord) {
  CKV70Config config;
  const Record record = MakeRecord({{2, std::vector<BYTE>(32, 0xFF)}, {34, {1, 2, 3, 4}}});
  ASSERT_TRUE(config.Decode(record.data(), 184));
  const BYTE* r = config.GetRecord();
  EXPECT_EQ(std::memcmp(r + 2, "None", 4), 0);
  for (int i = 6; i < 34; ++i) EXPECT_EQ(r[i], 0) << i;
  EXPECT_EQ(r[34], 1);
  EXPECT_EQ(r[37], 4);
}

TEST_F(KV70ConfigTest, HardwareNumbersAreBigEndian) {
  const Record record =
      MakeRecord({{172, {0x01, 0xF6, 0x00, 0xF6, 0x00, 0xD7, 0x12, 0x34, 0x00, 0x04, 0xFF, 0xFF}}});
  CKV70Config config;
  ASSERT_TRUE(config.Decode(record.data(), 184));
  EXPECT_EQ(config.Info0(), 502);
  EXPECT_EQ(config.Info1(), 246);
  EXPECT_EQ(config.FlashType(), 215);
  EXPECT_EQ(config.Info3(), 0x1234);
  EXPECT_EQ(config.FileSystemMb(), 4);
  EXPECT_EQ(config.ApplicationId(), 0xFFFF);
}

bool Installed(const CKV70Config& config, int index) {
  return config.GetOption(index)->IsInstalled() != 0;
}

TEST_F(KV70ConfigTest, ToggleOptionsFollowTheirOffValues) {
  constexpr size_t AREA = 110;
  const struct {
    const char* name;
    Record record;
    int index;
    bool installed;
  } cases[] = {
      {"byte 0 = 00, off 0", MakeRecord({{AREA + 0, {0x00}}}), 0, false},
      {"byte 0 = 01, off 0", MakeRecord({{AREA + 0, {0x01}}}), 0, true},
      {"byte 1 = 80, off 0", MakeRecord({{AREA + 1, {0x80}}}), 1, true},
      {"byte 7 = 00, off FF", MakeRecord({{AREA + 7, {0x00}}}), 7, true},
      {"byte 7 = FF, off FF", MakeRecord({{AREA + 7, {0xFF}}}), 7, false},
      {"byte 10 = FF, off FF", MakeRecord({{AREA + 10, {0xFF}}}), 8, false},
      {"byte 10 = 00, off FF", MakeRecord({{AREA + 10, {0x00}}}), 8, true},
  };
  for (const auto& c : cases) {
    CKV70Config config;
    ASSERT_TRUE(config.Decode(c.record.data(), 184)) << c.name;
    EXPECT_EQ(Installed(config, c.index), c.installed) << c.name;
  }
}

TEST_F(KV70ConfigTest, DatedOptionsAndApplicationEntries) {
  constexpr size_t AREA = 110;
  const struct {
    const char* name;
    std::vector<BYTE> at33;
    bool installed;
    WORD monthIndex;
    YearMonth date;
    DWORD word;
    BYTE value;
  } cases[] = {
      {"January 1999",
       {0x00, 0x19, 0xCA, 0xFE, 0x00, 0x01, 0x07},
       true,
       25,
       {1999, 1},
       0xCAFE0001,
       7},
      {"December 1998", {0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x03}, true, 24, {1998, 12}, 0, 3},
      {"not installed",
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       false,
       0xFFFF,
       {},
       0xFFFFFFFF,
       0xFF},
  };
  for (const auto& c : cases) {
    const Record record =
        MakeRecord({{AREA + 33, c.at33}, {AREA + 40, {0x00, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x09}}});
    CKV70Config config;
    ASSERT_TRUE(config.Decode(record.data(), 184)) << c.name;
    const auto* dated = static_cast<const CDatedOption*>(config.GetOption(9));
    EXPECT_EQ(dated->IsInstalled() != 0, c.installed) << c.name;
    EXPECT_EQ(dated->GetMonthIndex(), c.monthIndex) << c.name;
    if (c.installed) {
      EXPECT_EQ(MonthIndexToDate(dated->GetMonthIndex()), c.date) << c.name;
    }

    ASSERT_EQ(config.GetAppEntryCount(), 2) << c.name;
    const AppEntry* first = config.GetAppEntry(0);
    EXPECT_EQ(first->MonthIndex, c.monthIndex) << c.name;
    EXPECT_EQ(first->Word, c.word) << c.name;
    EXPECT_EQ(first->Value, c.value) << c.name;
    const AppEntry* second = config.GetAppEntry(1);
    EXPECT_EQ(second->MonthIndex, 12) << c.name;
    EXPECT_EQ(second->Word, 0x01020304u) << c.name;
    EXPECT_EQ(second->Value, 9) << c.name;
    EXPECT_EQ(config.GetAppEntry(2), nullptr);
    EXPECT_TRUE(Installed(config, 10)) << c.name;
  }
}

// A reply of the wrong length is refused and everything decoded before stays.
TEST_F(KV70ConfigTest, WrongLengthIsRefusedWithoutTouchingTheRecord) {
  const Record good = MakeRecord({{2, Text("SN-1")}, {110 + 7, {0x00}}, {176, {0x00, 0xD7}}});
  for (size_t size : {size_t{0}, size_t{183}, size_t{185}, size_t{368}}) {
    CKV70Config config;
    ASSERT_TRUE(config.Decode(good.data(), 184));
    const Record stored(config.GetRecord(), config.GetRecord() + 184);

    const Record other(size, 0xFF);
    EXPECT_FALSE(config.Decode(size ? other.data() : nullptr, static_cast<DWORD>(size))) << size;
    EXPECT_EQ(Record(config.GetRecord(), config.GetRecord() + 184), stored) << size;
    EXPECT_STREQ(config.GetSerialNumber(), "SN-1") << size;
    EXPECT_EQ(config.FlashType(), 215) << size;
    EXPECT_TRUE(Installed(config, 7)) << size;
    // The application entries are forgotten, as the decode starts by clearing them.
    EXPECT_EQ(config.GetAppEntryCount(), 0) << size;
  }
  CKV70Config config;
  EXPECT_FALSE(config.Decode(nullptr, 184));
}

TEST_F(KV70ConfigTest, RuntimeClasses) {
  CKV70Config config;
  EXPECT_TRUE(config.IsKindOf(RUNTIME_CLASS(CDeviceConfig)));
  EXPECT_STREQ(config.GetRuntimeClass()->m_lpszClassName, "CKV70Config");
  EXPECT_TRUE(config.GetOption(9)->IsKindOf(RUNTIME_CLASS(CDatedOption)));
  EXPECT_TRUE(config.GetOption(0)->IsKindOf(RUNTIME_CLASS(CToggleOption)));
}

}  // namespace
