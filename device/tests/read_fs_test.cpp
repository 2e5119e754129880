// CKV70Device::ReadFileSystem over a scripted line played as a flash monitor that
// answers read requests from a file-system flash of its own, in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "device/kv70_device.h"
#include "device/tests/failure_text.h"
#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"
#include "protocol/testing/monitor_bytes.h"
#include "protocol/testing/scripted_line.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace kv70test {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kBase = 0x02800000;
constexpr size_t kBlock = 1024;
const char* const kReading = "Reading file system...";
const char* const kWaiting =
    "Timeout getting response from KV!  Check the cables!  Waiting for reconnect...";

// A different byte for every address, so that a block read twice or left out shows.
BYTE FlashByte(DWORD address) {
  DWORD x = address * 0x9E3779B1u;
  x ^= x >> 15;
  return static_cast<BYTE>(x * 0x85EBCA6Bu >> 24);
}

Bytes FlashBytes(DWORD address, size_t count) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = FlashByte(address + static_cast<DWORD>(i));
  return out;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReadFsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    dir = fs::temp_directory_path() /
          ("read_fs_" + platform_test::UniqueName("") + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    logPath = dir / "fs.log";
    line.SetResponder([this](ScriptedLine& l, const Bytes& w) { Answer(l, w); });
    port.Open(1, 1, 0, 0, 6);
    purgesAtOpen = line.Purges();
    SetFileSystemMb(1);
  }
  void TearDown() override {
    port.Close();
    fs::remove_all(dir);
  }

  void SetFileSystemMb(WORD mb) {
    Bytes record(184, 0);
    record[176] = 8922 >> 8;
    record[177] = 8922 & 0xFF;
    record[180] = static_cast<BYTE>(mb >> 8);
    record[181] = static_cast<BYTE>(mb);
    ASSERT_TRUE(device.GetConfig().Decode(record.data(), static_cast<DWORD>(record.size())));
    ASSERT_EQ(device.GetConfig().FileSystemMb(), mb);
  }

  // The monitor: request n (from 0) goes unanswered when it is in `silent`; a read is
  // answered with the flash bytes at its address, or `shortBy` fewer for request
  // `shortAt`.
  void Answer(ScriptedLine& l, const Bytes& w) {
    const size_t n = requests++;
    ASSERT_EQ(w.size(), 14u);
    ASSERT_EQ(w[1], 0x05);
    const DWORD address = DWORD{w[4]} << 24 | DWORD{w[5]} << 16 | DWORD{w[6]} << 8 | w[7];
    const size_t count = size_t{w[8]} << 8 | w[9];
    addresses.push_back(address);
    if (silent.count(n)) return;
    l.Queue(MonitorFrame(0x05, FlashBytes(address, n == shortAt ? count - shortBy : count)));
  }

  // Runs the read; "" when it returned, else the failure ("F408", "cancel", "file:<cause>").
  std::string Read(const std::string& path) {
    return Failure([&] { device.ReadFileSystem(path.c_str()); }, FileFailure::kWithCause);
  }
  std::string Read() { return Read(logPath.string()); }

  // Progress values of a whole read of `blocks` blocks.
  static std::vector<int> ExpectedProgress(DWORD blocks) {
    std::vector<int> p{0};
    for (DWORD k = 32; k < blocks; k += 33) p.push_back(static_cast<int>(double(k) / blocks * 100));
    p.push_back(100);
    return p;
  }

  fs::path dir, logPath;
  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  ScriptedLine line;
  TestRun run;
  CSerialCom port;
  CKV70Device device{port, run.record};

  int purgesAtOpen = 0;
  size_t requests = 0;
  std::vector<DWORD> addresses;
  std::set<size_t> silent;
  size_t shortAt = SIZE_MAX;
  size_t shortBy = 1;
};

TEST(FileSystemBlocks, FromTheRecordsSize) {
  const struct {
    WORD mb;
    DWORD blocks;
  } rows[] = {
      {0, 0},          {1, 1024},       {2, 2048},          {2047, 2096128},
      {2048, 2097152}, {4096, 4194304}, {0xFFFE, 67106816}, {0xFFFF, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(CKV70Device::FileSystemBlocks(r.mb), r.blocks) << r.mb;
}

TEST_F(ReadFsTest, OneMbIsTheFlashInAddressOrder) {
  ASSERT_EQ(Read(), "");

  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 1048576));
  ASSERT_EQ(addresses.size(), 1024u);
  for (size_t k = 0; k < addresses.size(); ++k) ASSERT_EQ(addresses[k], kBase + k * kBlock) << k;
  // One request per block, all 14 bytes, the count 1024.
  EXPECT_EQ(line.Writes().front(), (Bytes{0x02, 0x05, 0x00, 0x06, 0x02, 0x80, 0x00, 0x00, 0x04,
                                          0x00, 0x00, 0x91, 0x03, 0x00}));
  EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x05, 0x00, 0x06, 0x02, 0x8F, 0xFC, 0x00, 0x04, 0x00,
                                         0x01, 0x9C, 0x03, 0x00}));
  EXPECT_EQ(run.statuses, std::vector<std::string>{kReading});
  EXPECT_EQ(run.progress, ExpectedProgress(1024));
  ASSERT_GE(run.progress.size(), 3u);
  EXPECT_EQ(run.progress[1], 3);  // 32 / 1024 * 100
  EXPECT_EQ(run.progress[2], 6);  // 65 / 1024 * 100
  EXPECT_EQ(line.Purges(), purgesAtOpen) << "nothing to purge while answers come";
}

TEST_F(ReadFsTest, ProgressTruncatesTowardZero) {
  SetFileSystemMb(3);
  ASSERT_EQ(Read(), "");
  EXPECT_EQ(ReadFile(logPath).size(), 3u * 1048576);
  const std::vector<int> expected = ExpectedProgress(3072);
  EXPECT_EQ(run.progress, expected);
  // 32 / 3072 * 100 is 1.04...
  EXPECT_EQ(run.progress[1], 1);
}

TEST_F(ReadFsTest, NothingToReadLeavesAnEmptyFile) {
  for (WORD mb : {WORD{0}, WORD{0xFFFF}}) {
    SCOPED_TRACE(mb);
    SetFileSystemMb(mb);
    {
      std::ofstream old(logPath, std::ios::binary);
      old << std::string(5000, 'x');
    }
    run.statuses.clear();
    run.progress.clear();
    ASSERT_EQ(Read(), "");
    EXPECT_TRUE(fs::exists(logPath));
    EXPECT_EQ(fs::file_size(logPath), 0u);
    EXPECT_EQ(run.progress, (std::vector<int>{0, 100}));
    EXPECT_EQ(run.statuses, std::vector<std::string>{kReading});
    EXPECT_TRUE(line.Writes().empty());
  }
}

TEST_F(ReadFsTest, AnExistingFileIsReplaced) {
  {
    std::ofstream old(logPath, std::ios::binary);
    old << std::string(3 * 1048576, 'x');
  }
  ASSERT_EQ(Read(), "");
  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 1048576));
}

// The user was asked about a file that did not exist: one that appeared since then is
// somebody else's and is left whole, and no block is asked for.
TEST_F(ReadFsTest, ANewFileThatAppearedMeanwhileIsNotReplaced) {
  const std::string other = "another program's dump";
  std::ofstream(logPath, std::ios::binary) << other;
  auto readNew = [&] {
    return Failure([&] { device.ReadFileSystem(logPath.string().c_str(), true); },
                   FileFailure::kWithCause);
  };
  EXPECT_EQ(readNew(), "file:" + std::to_string(CFileException::accessDenied));
  EXPECT_TRUE(line.Writes().empty());
  EXPECT_EQ(ReadFile(logPath), Bytes(other.begin(), other.end()));
  // Where nothing is, the file is made and written whole.
  fs::remove(logPath);
  EXPECT_EQ(readNew(), "");
  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 1048576));
}

TEST_F(ReadFsTest, AMissingAnswerIsTriedAgainUntilItComes) {
  // Block 5 goes unanswered three times, blocks 40 and 41 once each.
  silent = {5, 6, 7, 43, 45};
  const std::uint64_t start = clock.NowMs();
  ASSERT_EQ(Read(), "");

  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 1048576));
  // Every try of a block asks for the same address.
  ASSERT_EQ(addresses.size(), 1024u + silent.size());
  for (size_t n : {5, 6, 7, 8}) EXPECT_EQ(addresses[n], kBase + 5 * kBlock);
  EXPECT_EQ(addresses[43], kBase + 40 * kBlock);
  EXPECT_EQ(addresses[44], kBase + 40 * kBlock);
  EXPECT_EQ(addresses[45], kBase + 41 * kBlock);
  EXPECT_EQ(addresses[46], kBase + 41 * kBlock);
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{kReading, kWaiting, kWaiting, kWaiting, kReading, kWaiting,
                                      kReading, kWaiting, kReading}));
  // Both directions purged after each failed try and again before the next, and once
  // more a second after a block that needed tries: a late answer is never taken for
  // another block's.
  EXPECT_EQ(line.Purges() - purgesAtOpen, 5 * 2 + 3);
  EXPECT_EQ(line.RxPurges() - purgesAtOpen, 5 * 2 + 3);
  // Each failed try waits out the port's read time-out and then a second; each of the
  // three blocks that needed tries waits one second more once answered.
  EXPECT_EQ(clock.NowMs() - start, 5u * 2000 + 3u * 1000);
  EXPECT_EQ(run.progress, ExpectedProgress(1024));
}

TEST_F(ReadFsTest, AWrongLengthEndsTheRead) {
  for (size_t by : {size_t{1}, size_t{1024}}) {
    SCOPED_TRACE(by);
    requests = 0;
    addresses.clear();
    shortAt = 100;
    shortBy = by;
    EXPECT_EQ(Read(), "F408");
    EXPECT_EQ(requests, 101u);
    // The blocks before it are in the file.
    EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 100 * kBlock));
  }
}

TEST_F(ReadFsTest, ACancelIsNoticedAtAProgressReport) {
  run.onReport = [](TestRun& r) {
    if (r.progress.size() == 3) r.Cancel();
  };
  EXPECT_EQ(Read(), "cancel");
  // Cancelled before block 65 was asked for.
  EXPECT_EQ(requests, 65u);
  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 65 * kBlock));
  EXPECT_EQ(run.progress, (std::vector<int>{0, 3, 6}));
}

TEST_F(ReadFsTest, ACancelEndsTheWaitForACable) {
  for (size_t n = 10; n < 10000; ++n) silent.insert(n);
  int waits = 0;
  run.onReport = [&](TestRun& r) {
    if (!r.statuses.empty() && r.statuses.back() == kWaiting && ++waits == 4) r.Cancel();
  };
  EXPECT_EQ(Read(), "cancel");
  EXPECT_EQ(requests, 14u);
  EXPECT_EQ(ReadFile(logPath), FlashBytes(kBase, 10 * kBlock));
}

TEST_F(ReadFsTest, AFileThatCannotBeCreatedFailsBeforeAnyRequest) {
  EXPECT_EQ(Read((dir / "missing" / "fs.log").string()),
            "file:" + std::to_string(CFileException::badPath));
  EXPECT_TRUE(line.Writes().empty());
  EXPECT_TRUE(run.statuses.empty());
  // A directory is no file to write.
  EXPECT_EQ(Read(dir.string()), "file:" + std::to_string(CFileException::accessDenied));
  EXPECT_TRUE(line.Writes().empty());
}

TEST_F(ReadFsTest, AFileHeldByAnotherWriterIsNotTouched) {
  {
    std::ofstream old(logPath, std::ios::binary);
    old << "kept";
  }
  CFile holder(logPath.string().c_str(), CFile::modeReadWrite | CFile::shareExclusive);
  EXPECT_EQ(Read(), "file:" + std::to_string(CFileException::sharingViolation));
  EXPECT_TRUE(line.Writes().empty());
  holder.Close();
  EXPECT_EQ(ReadFile(logPath), (Bytes{'k', 'e', 'p', 't'}));
}

TEST_F(ReadFsTest, AFullDiskEndsTheReadAsAFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Read("/dev/full"), "file:" + std::to_string(CFileException::diskFull));
  // The first block was read, and its write failed.
  EXPECT_EQ(requests, 1u);
  EXPECT_EQ(run.progress, std::vector<int>{0});
}

}  // namespace
}  // namespace kv70test
