#include "sim/settings.h"

#include <gtest/gtest.h>

#include <set>

#include "sim/config_record.h"

namespace kv70sim {
namespace {

TEST(Settings, DefaultsDescribeAWorkingDevice) {
  Settings s = Settings::Parse("");
  EXPECT_EQ(s.breaks, 1u);
  EXPECT_EQ(s.state, StartState::Boot);
  EXPECT_EQ(s.flashType, 8922);
  EXPECT_EQ(s.configLen, 184u);
  ASSERT_TRUE(s.eraseBusy.has_value());
  EXPECT_FALSE(s.realtime);
}

TEST(Settings, ParsesEveryKind) {
  Settings s = Settings::Parse(
      "name=a,state=monitor,breaks=3,flash-type=0x5B,fs-mb=4,serial=S\\,1,owner1=~,info0=502,"
      "options=00FF01,pull=3-5,pull=9,pull-ms=100-200,erase-busy=forever,program-refuse=2-4,"
      "program-refuse=all,bad-checksum=7,bad-checksum-rate=0.25,noise=3,foreign=1,"
      "monitor-silent=yes,config-len=183,seed=42,realtime=1,on-open=keep,fs-fill=erased");
  EXPECT_EQ(s.name, "a");
  EXPECT_EQ(s.state, StartState::Monitor);
  EXPECT_EQ(s.breaks, 3u);
  EXPECT_EQ(s.flashType, 91);
  EXPECT_EQ(s.fsMb, 4u);
  EXPECT_EQ(s.serial.text, "S,1");
  EXPECT_FALSE(s.owner1.set);
  EXPECT_EQ(s.info0, 502);
  EXPECT_EQ(s.options, (std::vector<std::uint8_t>{0x00, 0xFF, 0x01}));
  ASSERT_EQ(s.pullExchanges.size(), 2u);
  EXPECT_EQ(s.pullExchanges[0].first, 3u);
  EXPECT_EQ(s.pullExchanges[0].last, 5u);
  EXPECT_EQ(s.pullExchanges[1].first, 9u);
  EXPECT_EQ(s.pullExchanges[1].last, 9u);
  EXPECT_EQ(s.pullMs.size(), 1u);
  EXPECT_FALSE(s.eraseBusy.has_value());
  EXPECT_TRUE(s.programRefuseAll);
  EXPECT_EQ(s.programRefuse.size(), 1u);
  EXPECT_DOUBLE_EQ(s.badChecksumRate, 0.25);
  EXPECT_EQ(s.noise, 3u);
  EXPECT_TRUE(s.foreign);
  EXPECT_TRUE(s.monitorSilent);
  EXPECT_EQ(s.configLen, 183u);
  EXPECT_EQ(s.seed, 42u);
  EXPECT_TRUE(s.realtime);
  EXPECT_EQ(s.onOpen, OnOpen::Keep);
  EXPECT_EQ(s.fsFill, FsFill::Erased);
}

TEST(Settings, BackslashesEscapeOnlyCommasAndThemselves) {
  const struct {
    const char* text;
    const char* fsImage;
  } rows[] = {
      {"fs-image=C:\\data\\fs.bin", "C:\\data\\fs.bin"},
      {"fs-image=a\\,b", "a,b"},
      {"fs-image=a\\\\b", "a\\b"},
      {"fs-image=\\\\server\\share\\fs.bin", "\\server\\share\\fs.bin"},
      {"fs-image=ends\\", "ends\\"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Settings::Parse(row.text).fsImage, row.fsImage) << row.text;
}

TEST(Settings, RefusesBadInputNamingIt) {
  struct Row {
    const char* text;
    const char* mentions;
  };
  const Row rows[] = {
      {"colour=red", "unknown setting 'colour'"},
      {"breaks", "has no '='"},
      {"breaks=two", "breaks=two"},
      {"flash-type=70000", "larger than 65535"},
      {"options=ABC", "odd number"},
      {"options=GG", "not hex"},
      {"pull=5-3", "ends before"},
      {"state=running", "boot, rom or monitor"},
      {"serial=123456789012345678901234567890123", "longer than 32"},
      {"bad-checksum-rate=2", "0 to 1"},
      {"realtime=maybe", "0 or 1"},
      {"fs-mb=1000", "larger than 256"},
  };
  for (const auto& row : rows) {
    try {
      Settings::Parse(row.text);
      ADD_FAILURE() << row.text << " was accepted";
    } catch (const SettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(row.mentions), std::string::npos) << e.what();
    }
  }
}

TEST(Settings, TableCoversEveryKeyOnce) {
  std::set<std::string> keys;
  for (const auto& row : SettingTable()) {
    EXPECT_TRUE(keys.insert(row.key).second) << row.key;
    EXPECT_NE(std::string(row.help), "");
  }
  for (const char* key :
       {"flash-type", "fs-mb", "serial", "owner1", "owner2", "info0", "info1", "app-id", "options",
        "breaks", "state", "fs-image", "prog-image", "prog-out", "fs-out", "seed", "realtime"})
    EXPECT_TRUE(keys.count(key)) << key;
}

TEST(ConfigRecord, LayoutFromSettings) {
  Settings s = Settings::Parse(
      "serial=AB,owner1=~,owner2=,info0=0x01F6,info1=246,flash-type=8777,"
      "fs-mb=2,app-id=1,options=00,info3=9");
  Record r = BuildRecord(s);
  EXPECT_EQ(r[2], 'A');
  EXPECT_EQ(r[3], 'B');
  EXPECT_EQ(r[4], 0x00);
  EXPECT_EQ(r[38], 0xFF);  // owner 1 unset
  EXPECT_EQ(r[73], 0xFF);
  EXPECT_EQ(r[74], 0x00);   // owner 2 empty
  EXPECT_EQ(r[110], 0x00);  // first option byte from the settings
  EXPECT_EQ(r[117], 0x00);  // option 7 default: installed
  EXPECT_EQ((std::vector<std::uint8_t>(r.begin() + 143, r.begin() + 150)),
            (std::vector<std::uint8_t>{0x00, 0x19, 0x00, 0x00, 0x00, 0x01, 0x05}));
  EXPECT_EQ(r[172], 0x01);
  EXPECT_EQ(r[173], 0xF6);
  EXPECT_EQ(RecordNumber(r, 174), 246);
  EXPECT_EQ(RecordNumber(r, 176), 8777);
  EXPECT_EQ(RecordNumber(r, 178), 9);
  EXPECT_EQ(RecordNumber(r, 180), 2);
  EXPECT_EQ(RecordNumber(r, 182), 1);
}

TEST(ConfigRecord, SoftwareWordSetsApplication) {
  Record r = BuildRecord(Settings::Parse(""));
  const std::uint8_t word[] = {0x12, 0x34, 0x1F, 0x07};
  ApplySoftwareWord(r, word);
  EXPECT_EQ(RecordNumber(r, 182), 1);
  EXPECT_EQ(r[110 + 40 + 6], 0x07);
  EXPECT_EQ(r[110 + 33 + 6], 0x05);  // the other entry is untouched
  const std::uint8_t high[] = {0, 0, 0x2F, 0x09};
  ApplySoftwareWord(r, high);
  EXPECT_EQ(RecordNumber(r, 182), 2);  // no entry for index 2: only the id moves
  EXPECT_EQ(r[110 + 40 + 6], 0x07);
}

}  // namespace
}  // namespace kv70sim
