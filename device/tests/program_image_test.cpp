#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/srecord_image.h"
#include "models/srecord_file.h"
#include "platform/testing/system_for_tests.h"
#include "protocol/testing/monitor_bytes.h"
#include "protocol/tests/link_fixture.h"
#include "reporting/failures.h"

namespace kv70test {
namespace {

// A program request as seen on the line: its address and data.
struct Block {
  DWORD address;
  Bytes data;
  bool operator==(const Block&) const = default;
};

std::vector<Block> ProgramRequests(const std::vector<Bytes>& writes) {
  std::vector<Block> out;
  for (const Bytes& w : writes) {
    if (w.size() < 12 || w[1] != 0x03) continue;
    const size_t n = (size_t{w[2]} << 8 | w[3]) - 4;
    Block b{DWORD{w[4]} << 24 | DWORD{w[5]} << 16 | DWORD{w[6]} << 8 | w[7],
            Bytes(w.begin() + 8, w.begin() + 8 + static_cast<long>(n))};
    out.push_back(b);
  }
  return out;
}

class ProgramImageTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    answerRest = std::make_unique<Bytes>(MonitorFrame(0x03, {0x01}));
    path = (std::filesystem::temp_directory_path() /
            ("kv70_program_" + platform_test::UniqueName("") + ".x"))
               .string();
  }
  void TearDown() override {
    std::filesystem::remove(path);
    LinkTest::TearDown();
  }
  // Writes a file: a header record, the given lines, enough filler S5 lines for the
  // format check, and an end record.
  void WriteFile(const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    out << "S00600004844521B\r\n";
    for (const auto& l : lines) out << l;
    for (int i = 0; i < 5; ++i) out << SRecordText(1, 0x0000, {}).replace(1, 1, "5");
    out << "S70500000000FA\r\n";
  }
  int Program() {
    CSRecordFile file(path.c_str());
    file.OpenAndCheck();
    try {
      ProgramImage(file, 0x03, link);
    } catch (CFlashMonException* e) {
      int code = e->m_code;
      e->Delete();
      return code;
    }
    return 0;
  }
  std::string path;
};

TEST_F(ProgramImageTest, MergesContiguousRecordsIntoBlocksOfAtMost252Bytes) {
  const Bytes a = Counting(64, 0x00), b = Counting(64, 0x40), c = Counting(64, 0x80),
              d = Counting(64, 0xC0);
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::vector<Block> blocks;
  } cases[] = {
      {"four 64-byte records: 192 + 64",
       {SRecordText(3, 0x1000, a), SRecordText(3, 0x1040, b), SRecordText(3, 0x1080, c),
        SRecordText(3, 0x10C0, d)},
       {{0x1000, cat({a, b, c})}, {0x10C0, d}}},
      {"four 63-byte records fill exactly 252",
       {SRecordText(3, 0x2000, Counting(63, 0)), SRecordText(3, 0x203F, Counting(63, 1)),
        SRecordText(3, 0x207E, Counting(63, 2)), SRecordText(3, 0x20BD, Counting(63, 3))},
       {{0x2000, cat({Counting(63, 0), Counting(63, 1), Counting(63, 2), Counting(63, 3)})}}},
      {"a gap starts a new block",
       {SRecordText(3, 0x1000, Counting(16, 0)), SRecordText(3, 0x1020, Counting(16, 16))},
       {{0x1000, Counting(16, 0)}, {0x1020, Counting(16, 16)}}},
      {"a record behind the block starts a new block",
       {SRecordText(3, 0x1010, Counting(16, 0)), SRecordText(3, 0x1000, Counting(16, 16))},
       {{0x1010, Counting(16, 0)}, {0x1000, Counting(16, 16)}}},
      {"other record types are skipped without breaking a block",
       {SRecordText(3, 0x1000, Counting(16, 0)), SRecordText(1, 0x0500, Counting(16, 0x55)),
        SRecordText(2, 0x123456, Counting(8, 0x66)), SRecordText(3, 0x1010, Counting(16, 16))},
       {{0x1000, Counting(32, 0)}}},
      {"no data records", {SRecordText(1, 0x0100, Counting(4, 0))}, {}},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    const size_t before = line.Writes().size();
    run.progress.clear();
    WriteFile(cs.lines);
    EXPECT_EQ(Program(), 0);
    std::vector<Bytes> writes(line.Writes().begin() + static_cast<long>(before),
                              line.Writes().end());
    EXPECT_EQ(ProgramRequests(writes), cs.blocks);
    ASSERT_GE(run.progress.size(), 2u);
    EXPECT_EQ(run.progress.front(), 0);
    EXPECT_EQ(run.progress.back(), 100);
  }
}

TEST_F(ProgramImageTest, FailuresInsideBecome405) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::vector<Bytes> answers;
    size_t requests;
  } cases[] = {
      // The reader raises 415 for the bad line; the block before it was already sent.
      {"checksum failure in the file",
       {SRecordText(3, 0x1000, Counting(16, 0)), SRecordText(3, 0x2000, Counting(16, 0)),
        SRecordText(3, 0x2010, Counting(16, 0), true)},
       {},
       1},
      {"monitor refuses the second block",
       {SRecordText(3, 0x1000, Counting(16, 0)), SRecordText(3, 0x2000, Counting(16, 0))},
       {MonitorFrame(0x03, {0x01}), MonitorFrame(0x03, {0x00})},
       2},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    answers = cs.answers;
    requests = 0;
    const size_t before = line.Writes().size();
    WriteFile(cs.lines);
    EXPECT_EQ(Program(), 405);
    EXPECT_EQ(line.Writes().size() - before, cs.requests);
  }
}

TEST_F(ProgramImageTest, ReportsProgressEvery1501DataRecords) {
  std::vector<std::string> lines;
  for (DWORD i = 0; i < 3100; ++i)
    lines.push_back(SRecordText(3, 0x02400000 + i * 16, Counting(16, 0)));
  WriteFile(lines);
  EXPECT_EQ(Program(), 0);
  ASSERT_EQ(run.progress.size(), 4u);
  EXPECT_EQ(run.progress[0], 0);
  EXPECT_GT(run.progress[1], 40);  // after record 1501 of 3100
  EXPECT_LT(run.progress[1], run.progress[2]);
  EXPECT_LT(run.progress[2], 100);
  EXPECT_EQ(run.progress[3], 100);
  // 3100 records of 16 bytes, 15 to a block.
  EXPECT_EQ(line.Writes().size(), (3100u + 14) / 15);
}

TEST_F(ProgramImageTest, CancelPassesThroughUnchanged) {
  std::vector<std::string> lines;
  for (DWORD i = 0; i < 1600; ++i)
    lines.push_back(SRecordText(3, 0x02400000 + i * 16, Counting(16, 0)));
  WriteFile(lines);
  run.Cancel();
  CSRecordFile file(path.c_str());
  file.OpenAndCheck();
  bool cancelled = false;
  try {
    ProgramImage(file, 0x03, link);
  } catch (CUserException* e) {
    e->Delete();
    cancelled = true;
  }
  EXPECT_TRUE(cancelled);
  // The blocks completed before the 1501st record went out; the 100th was still open.
  EXPECT_EQ(line.Writes().size(), 99u);
}

}  // namespace
}  // namespace kv70test
