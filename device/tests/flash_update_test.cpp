// The whole software update of a connected device against a scripted flash monitor:
// checks, erase, programming in merged blocks, and the finishing command.
#include <gtest/gtest.h>

#include "device/tests/flash_fixture.h"

namespace kv70test {
namespace {

class UpdateTest : public FlashTest {
 protected:
  // A small image: the identification word, contiguous records to merge, and a gap.
  void WriteImage() {
    WriteFile({
        SRecordText(3, 0x02400400, Counting(64, 0x00)),  // covers the word at 0x420
        SRecordText(3, 0x02400440, Counting(64, 0x40)),
        SRecordText(3, 0x02400480, Counting(64, 0x80)),
        SRecordText(3, 0x024004C0, Counting(64, 0xC0)),  // 256 would be too many
        SRecordText(3, 0x02410000, Counting(10, 0x10)),  // after a gap
    });
  }
};

TEST_F(UpdateTest, ErasesProgramsAndFinishes) {
  WriteImage();
  UseRecord({});
  ASSERT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "");
  EXPECT_EQ(Commands(), (std::vector<BYTE>{0x01, 0x02, 0x03, 0x03, 0x03, 0x0A}));
  EXPECT_EQ(ProgramBlocks(), (std::vector<ProgramBlockSeen>{
                                 {0x02400400,
                                  [] {
                                    Bytes b = Counting(64, 0x00);
                                    for (BYTE first : {0x40, 0x80}) {
                                      Bytes more = Counting(64, first);
                                      b.insert(b.end(), more.begin(), more.end());
                                    }
                                    return b;
                                  }()},
                                 {0x024004C0, Counting(64, 0xC0)},
                                 {0x02410000, Counting(10, 0x10)},
                             }));
  EXPECT_EQ(requests.back(), (Bytes{0x02, 0x0A, 0x00, 0x00, 0x00, 0x0A, 0x03, 0x00}));
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{"Configuring software update...", "Erasing program flash...",
                                      "Updating the software of the KV70..."}));
  // Progress: 0 at the start, then the word search, the erase and the programming each
  // run from 0 to 100.
  ASSERT_GE(run.progress.size(), 2u);
  EXPECT_EQ(run.progress.front(), 0);
  EXPECT_EQ(run.progress.back(), 100);
  EXPECT_TRUE(run.boxes.empty());
}

TEST_F(UpdateTest, NoWordMeansNothingErased) {
  WriteFile({SRecordText(3, 0x02400000, Counting(64, 0))});
  UseRecord({.flashType = 8777});  // would collect garbage
  EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "cancel");
  EXPECT_TRUE(requests.empty());
  EXPECT_EQ(run.boxes.size(), 1u);
}

TEST_F(UpdateTest, NoToTheQuestionMeansNothingErased) {
  WriteImage();  // word bytes 20 21 22 23: index 2
  UseRecord({.appId = 2});
  // Index 2 is never below the entry count of 2: install goes on without a question.
  ASSERT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "");
  EXPECT_TRUE(run.boxes.empty());

  requests.clear();
  WriteFile({SRecordText(3, 0x02400420, {0x00, 0x00, 0x1F, 0x07}),
             SRecordText(3, 0x02400424, Counting(12, 0))});
  UseRecord({.appId = 1, .appValue1 = 0x07});
  run.answerBox = [](const platform::MessageBoxRequest&) { return IDNO; };
  EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "cancel");
  EXPECT_TRUE(requests.empty());

  run.answerBox = [](const platform::MessageBoxRequest&) { return IDYES; };
  EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "");
  EXPECT_EQ(ProgramBlocks(),
            (std::vector<ProgramBlockSeen>{
                {0x02400420, {0x00, 0x00, 0x1F, 0x07, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}}));
}

TEST_F(UpdateTest, FailuresAfterTheChecks) {
  const struct {
    const char* name;
    std::function<std::optional<Bytes>(BYTE, int, const Bytes&)> answer;
    const char* failure;
    std::vector<BYTE> commands;
  } cases[] = {
      {"erase failed",
       [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x02) return Bytes{0x02};
         return std::nullopt;
       },
       "F402",
       {0x01, 0x02}},
      {"second block refused",
       [](BYTE c, int n, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x03 && n == 1) return Bytes{0x00};
         return std::nullopt;
       },
       "F405",
       {0x01, 0x02, 0x03, 0x03}},
      {"finish refused",
       [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x0A) return Bytes{0x00};
         return std::nullopt;
       },
       "F412",
       {0x01, 0x02, 0x03, 0x03, 0x03, 0x0A}},
  };
  WriteImage();
  UseRecord({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    requests.clear();
    counts.clear();
    answer = c.answer;
    EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), c.failure);
    EXPECT_EQ(Commands(), c.commands);
  }
}

TEST_F(UpdateTest, UnansweredFinishIs413) {
  WriteImage();
  UseRecord({});
  silent = {0x0A};
  EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "F413");
  // Two attempts of the finishing command.
  EXPECT_EQ(counts[0x0A], 2);
}

// The word search stops at the first record and would never see the bad one; the whole
// file is checked before the erase all the same.
TEST_F(UpdateTest, BadRecordAfterTheWordIsRefusedBeforeTheErase) {
  WriteFile({SRecordText(3, 0x02400400, Counting(64, 0x00)),
             SRecordText(3, 0x02400440, Counting(64, 0x40), true)});
  UseRecord({});
  EXPECT_EQ(Failure([&] { device.UpdateSoftware(path.c_str()); }), "F415");
  EXPECT_TRUE(Commands().empty());
}

// What the erase of the device's own flash type does not cover is refused once the
// type is known: the boot block of top-boot flash, the last sector of bottom-boot flash.
TEST_F(UpdateTest, DataBeyondTheFlashTypesErasedAreaIsRefusedBeforeTheErase) {
  const struct {
    WORD flashType;
    DWORD address;
    const char* verdict;
  } cases[] = {
      {8922, 0x025FBFFF, "ok"}, {8922, 0x025FC000, "F416"}, {8900, 0x025FC000, "F416"},
      {8777, 0x025EFFFF, "ok"}, {8777, 0x025F0000, "F416"}, {91, 0x025F0000, "F416"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.flashType << " 0x" << std::hex << c.address);
    WriteFile({SRecordText(3, 0x02400400, Counting(64, 0x00)),
               SRecordText(3, c.address, Counting(1, 0x5A))});
    UseRecord({.flashType = c.flashType});
    requests.clear();
    counts.clear();
    const std::string outcome = Failure([&] { device.UpdateSoftware(path.c_str()); });
    EXPECT_EQ(outcome.empty() ? "ok" : outcome, c.verdict);
    if (outcome == "F416") {
      EXPECT_TRUE(Commands().empty());
    }
  }
}

}  // namespace
}  // namespace kv70test
