#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "firmware/srecord_file.h"
#include "plugin/failures.h"
#include "protocol/tests/link_fixture.h"

namespace kv70test {
namespace {

// One S-record line; `type` 1, 2 or 3 picks the address width.
std::string SRecord(int type, DWORD address, const Bytes& data, bool badChecksum = false) {
  const int addressBytes = type == 1 ? 2 : type == 2 ? 3 : 4;
  Bytes fields;
  fields.push_back(static_cast<BYTE>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i) fields.push_back(static_cast<BYTE>(address >> (8 * i)));
  fields.insert(fields.end(), data.begin(), data.end());
  BYTE sum = 0;
  for (BYTE b : fields) sum = static_cast<BYTE>(sum + b);
  fields.push_back(static_cast<BYTE>(~sum + (badChecksum ? 1 : 0)));
  std::string line = "S" + std::to_string(type);
  char hex[3];
  for (BYTE b : fields) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\r\n";
}

Bytes Fill(size_t n, BYTE first) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(first + i);
  return b;
}

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
    answerRest = std::make_unique<Bytes>(MonitorReply(0x03, {0x01}));
    path = (std::filesystem::temp_directory_path() /
            ("kv70_program_" + std::to_string(::getpid()) + ".x")).string();
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
    for (int i = 0; i < 5; ++i) out << SRecord(1, 0x0000, {}).replace(1, 1, "5");
    out << "S70500000000FA\r\n";
  }
  int Program() {
    CSRecordFile file(path.c_str());
    file.OpenAndCheck();
    try {
      file.ProgramImage(0x03, link);
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
  const Bytes a = Fill(64, 0x00), b = Fill(64, 0x40), c = Fill(64, 0x80), d = Fill(64, 0xC0);
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
       {SRecord(3, 0x1000, a), SRecord(3, 0x1040, b), SRecord(3, 0x1080, c), SRecord(3, 0x10C0, d)},
       {{0x1000, cat({a, b, c})}, {0x10C0, d}}},
      {"four 63-byte records fill exactly 252",
       {SRecord(3, 0x2000, Fill(63, 0)), SRecord(3, 0x203F, Fill(63, 1)),
        SRecord(3, 0x207E, Fill(63, 2)), SRecord(3, 0x20BD, Fill(63, 3))},
       {{0x2000, cat({Fill(63, 0), Fill(63, 1), Fill(63, 2), Fill(63, 3)})}}},
      {"a gap starts a new block",
       {SRecord(3, 0x1000, Fill(16, 0)), SRecord(3, 0x1020, Fill(16, 16))},
       {{0x1000, Fill(16, 0)}, {0x1020, Fill(16, 16)}}},
      {"a record behind the block starts a new block",
       {SRecord(3, 0x1010, Fill(16, 0)), SRecord(3, 0x1000, Fill(16, 16))},
       {{0x1010, Fill(16, 0)}, {0x1000, Fill(16, 16)}}},
      {"other record types are skipped without breaking a block",
       {SRecord(3, 0x1000, Fill(16, 0)), SRecord(1, 0x0500, Fill(16, 0x55)),
        SRecord(2, 0x123456, Fill(8, 0x66)), SRecord(3, 0x1010, Fill(16, 16))},
       {{0x1000, Fill(32, 0)}}},
      {"no data records", {SRecord(1, 0x0100, Fill(4, 0))}, {}},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.name);
    const size_t before = line.Writes().size();
    run.progress.clear();
    WriteFile(cs.lines);
    EXPECT_EQ(Program(), 0);
    std::vector<Bytes> writes(line.Writes().begin() + static_cast<long>(before), line.Writes().end());
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
       {SRecord(3, 0x1000, Fill(16, 0)), SRecord(3, 0x2000, Fill(16, 0)),
        SRecord(3, 0x2010, Fill(16, 0), true)},
       {}, 1},
      {"monitor refuses the second block",
       {SRecord(3, 0x1000, Fill(16, 0)), SRecord(3, 0x2000, Fill(16, 0))},
       {MonitorReply(0x03, {0x01}), MonitorReply(0x03, {0x00})}, 2},
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
  for (DWORD i = 0; i < 3100; ++i) lines.push_back(SRecord(3, 0x02400000 + i * 16, Fill(16, 0)));
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
  for (DWORD i = 0; i < 1600; ++i) lines.push_back(SRecord(3, 0x02400000 + i * 16, Fill(16, 0)));
  WriteFile(lines);
  run.Cancel();
  CSRecordFile file(path.c_str());
  file.OpenAndCheck();
  bool cancelled = false;
  try {
    file.ProgramImage(0x03, link);
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
