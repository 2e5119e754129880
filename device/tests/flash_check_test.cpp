// The identification word in a firmware file, the already-installed test and the checks
// before an upgrade erases anything.
#include <gtest/gtest.h>

#include "device/kv70_flash_check.h"
#include "device/srecord_image.h"
#include "device/tests/flash_fixture.h"
#include "models/srecord_file.h"

namespace kv70test {
namespace {

// Word bytes b0..b3 as FindImageWord assembles them.
DWORD Word(BYTE b0, BYTE b1, BYTE b2, BYTE b3) {
  return DWORD{b0} | DWORD{b1} << 8 | DWORD{b2} << 16 | DWORD{b3} << 24;
}

TEST_F(FlashTest, AlreadyInstalledByIndexIdAndValue) {
  const struct {
    const char* name;
    WORD appId;
    BYTE value0, value1;
    DWORD word;
    BOOL installed;
  } cases[] = {
      {"index 1, id 1, value 7", 1, 0x00, 0x07, Word(0xAA, 0xBB, 0x1F, 0x07), TRUE},
      {"low bits of b2 do not count", 1, 0x00, 0x07, Word(0, 0, 0x10, 0x07), TRUE},
      {"index 2 is not below the count", 2, 0x07, 0x07, Word(0, 0, 0x2F, 0x07), FALSE},
      {"index 15", 15, 0x07, 0x07, Word(0, 0, 0xF0, 0x07), FALSE},
      {"other value", 1, 0x00, 0x07, Word(0, 0, 0x1F, 0x08), FALSE},
      {"other id", 0, 0x00, 0x07, Word(0, 0, 0x1F, 0x07), FALSE},
      {"index 0", 0, 0x42, 0x07, Word(0, 0, 0x05, 0x42), TRUE},
      {"index 0 reads entry 0", 0, 0x41, 0x42, Word(0, 0, 0x05, 0x42), FALSE},
      {"b0 and b1 are not compared", 0, 0x42, 0x00, Word(0x42, 0x42, 0x00, 0x00), FALSE},
      {"absent id", 0xFFFF, 0xFF, 0xFF, Word(0, 0, 0xF0, 0xFF), FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseRecord({.appId = c.appId, .appValue0 = c.value0, .appValue1 = c.value1});
    ASSERT_EQ(device.GetConfig().GetAppEntryCount(), 2);
    EXPECT_EQ(IsAlreadyInstalled(device.GetConfig(), c.word), c.installed);
  }
}

TEST_F(FlashTest, NoEntriesMeansNotInstalled) {
  // A record never decoded has no application entries: even index 0 is not below the count.
  CKV70Config empty;
  ASSERT_EQ(empty.GetAppEntryCount(), 0);
  EXPECT_FALSE(IsAlreadyInstalled(empty, Word(0, 0, 0x00, 0x00)));
}

TEST_F(FlashTest, FindImageWordWhereverARecordCoversIt) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    BOOL found;
    DWORD word;
  } cases[] = {
      {"inside a record",
       {SRecordText(3, 0x02400400, Counting(64, 0x00))},
       TRUE,
       Word(0x20, 0x21, 0x22, 0x23)},
      {"the record starts at the word",
       {SRecordText(3, 0x02400420, {0x11, 0x22, 0x33, 0x44})},
       TRUE,
       0x44332211},
      {"the record ends with the word",
       {SRecordText(3, 0x02400410, Counting(20, 0x80))},
       TRUE,
       Word(0x90, 0x91, 0x92, 0x93)},
      {"a record one byte short", {SRecordText(3, 0x02400410, Counting(19, 0x80))}, FALSE, 0},
      {"split over two records",
       {SRecordText(3, 0x02400400, Counting(34, 0)), SRecordText(3, 0x02400422, Counting(34, 0))},
       FALSE,
       0},
      {"a record starting one byte late", {SRecordText(3, 0x02400421, Counting(16, 0))}, FALSE, 0},
      {"the first covering record wins",
       {SRecordText(3, 0x02400420, {1, 2, 3, 4}), SRecordText(3, 0x02400420, {5, 6, 7, 8})},
       TRUE,
       0x04030201},
      {"an S2 record", {SRecordText(2, 0x400420, {1, 2, 3, 4})}, FALSE, 0},
      {"after many other records",
       {SRecordText(3, 0x02400000, Counting(32, 0)), SRecordText(3, 0x02400020, Counting(32, 0)),
        SRecordText(3, 0x02500000, Counting(32, 0)), SRecordText(3, 0x0240041E, Counting(8, 0xE0))},
       TRUE,
       Word(0xE2, 0xE3, 0xE4, 0xE5)},
      {"near the top of the address space",
       {SRecordText(3, 0xFFFFFFF0, Counting(16, 0))},
       FALSE,
       0},
      {"no data at all", {}, FALSE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.lines);
    run.progress.clear();
    CSRecordFile file(path.c_str());
    ASSERT_EQ(Failure([&] { file.OpenAndCheck(); }), "");
    DWORD word = 0xDEADBEEF;
    BOOL found = FALSE;
    ASSERT_EQ(Failure([&] { found = FindImageWord(file, word, device); }), "");
    EXPECT_EQ(found, c.found);
    if (c.found) {
      EXPECT_EQ(word, c.word);
    }
    EXPECT_EQ(run.progress, (std::vector<int>{0, 100}));
    // Rewound: the next record read is the header.
    SRecordLine first;
    BYTE type = 9;
    ASSERT_TRUE(file.ReadNextRecord(first, type));
    EXPECT_EQ(type, 0);
  }
  EXPECT_TRUE(requests.empty());
}

TEST_F(FlashTest, FindImageWordReportsEvery1501Records) {
  std::vector<std::string> lines;
  for (int i = 0; i < 4000; ++i)
    lines.push_back(SRecordText(3, 0x02000000 + 16 * i, Counting(16, 0)));
  WriteFile(lines);
  CSRecordFile file(path.c_str());
  file.OpenAndCheck();
  DWORD word = 0;
  EXPECT_FALSE(FindImageWord(file, word, device));
  // 4007 records of every type: reports at the 1501st and the 3002nd.
  ASSERT_EQ(run.progress.size(), 4u);
  EXPECT_EQ(run.progress.front(), 0);
  EXPECT_GT(run.progress[1], 0);
  EXPECT_LT(run.progress[1], run.progress[2]);
  EXPECT_EQ(run.progress.back(), 100);

  run.Cancel();
  EXPECT_EQ(Failure([&] { FindImageWord(file, word, device); }), "cancel");
}

TEST_F(FlashTest, FileWithoutTheWordIsRefusedWithItsPath) {
  WriteFile({SRecordText(3, 0x02400000, Counting(32, 0))});
  UseRecord({});
  EXPECT_EQ(Failure([&] { device.CheckSoftwareFile(path.c_str()); }), "cancel");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].owner, run.record.hostWindow);
  EXPECT_NE(
      run.boxes[0].text.find("The software file " + path +
                             " is invalid.\n\nPlease re-install the selected software version "
                             "file or select another software version and try again."),
      std::string::npos);
  EXPECT_TRUE(requests.empty());
}

TEST_F(FlashTest, UnreadableFilesAreRefusedLikeAFileWithoutTheWord) {
  const struct {
    const char* name;
    std::string content;  // nullopt-like: "-" for no file at all
  } cases[] = {
      {"missing", "-"},
      {"empty", ""},
      {"not S-records", "hello\r\nworld\r\n"},
      {"five records", SRecordText(0, 0, {1}) + SRecordText(3, 0x02400420, {1, 2, 3, 4}) +
                           SRecordText(5, 0, {0, 1}) + SRecordText(5, 0, {0, 1}) +
                           SRecordText(7, 0, {0, 0, 0, 0})},
  };
  UseRecord({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(path);
    if (c.content != "-") std::ofstream(path, std::ios::binary) << c.content;
    run.boxes.clear();
    EXPECT_EQ(Failure([&] { device.CheckSoftwareFile(path.c_str()); }), "cancel");
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_NE(run.boxes[0].text.find("The software file " + path + " is invalid."),
              std::string::npos);
  }
  EXPECT_TRUE(requests.empty());
}

TEST_F(FlashTest, AlreadyInstalledAsksAndNoCancels) {
  WriteFile({SRecordText(3, 0x02400420, {0x00, 0x00, 0x1F, 0x07})});
  UseRecord({.appId = 1, .appValue1 = 0x07});
  const struct {
    int button;
    const char* failure;
  } cases[] = {{IDNO, "cancel"}, {IDYES, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    run.boxes.clear();
    run.answerBox = [&](const platform::MessageBoxRequest&) { return c.button; };
    EXPECT_EQ(Failure([&] { device.CheckSoftwareFile(path.c_str()); }), c.failure);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "Software version already installed!\n\nProceed?");
    EXPECT_EQ(run.boxes[0].style, 0x00010024u);
    EXPECT_EQ(run.boxes[0].owner, run.record.hostWindow);
    EXPECT_EQ(run.boxes[0].caption, AfxGetAppName());
  }
  // The file is closed again on both paths: it can be removed and rewritten.
  std::filesystem::remove(path);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(requests.empty());
}

TEST_F(FlashTest, NotInstalledGoesOnWithoutAsking) {
  for (BYTE third : {BYTE{0x2F}, BYTE{0x0F}}) {
    SCOPED_TRACE(int{third});
    WriteFile({SRecordText(3, 0x02400420, {0x00, 0x00, third, 0x07})});
    UseRecord({.appId = 1, .appValue1 = 0x07});
    EXPECT_EQ(Failure([&] { device.CheckSoftwareFile(path.c_str()); }), "");
    EXPECT_TRUE(run.boxes.empty());
  }
}

TEST_F(FlashTest, BadChecksumBeforeTheWordIsAFailureNotARefusal) {
  WriteFile({SRecordText(3, 0x02400000, Counting(16, 0), true),
             SRecordText(3, 0x02400420, {1, 2, 3, 4})});
  UseRecord({});
  EXPECT_EQ(Failure([&] { device.CheckSoftwareFile(path.c_str()); }), "F415");
  EXPECT_TRUE(run.boxes.empty());
}

}  // namespace
}  // namespace kv70test
