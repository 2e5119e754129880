// What the host reads from the line about a dump: the file-system size from the device's
// configuration record and whether file-system blocks were asked for; frames cut into
// pieces, garbled or for other commands are no evidence.
#include "host/core/dump_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 02 code length(2) data checksum(2) 03, as the device's side frames it.
Bytes Frame(std::uint8_t code, const Bytes& data, std::uint16_t sumDelta = 0) {
  const auto n = static_cast<std::uint16_t>(data.size());
  Bytes f{0x02, code, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  std::uint16_t sum = static_cast<std::uint16_t>(code + (n >> 8) + (n & 0xFF));
  for (std::uint8_t b : data) sum = static_cast<std::uint16_t>(sum + b);
  sum = static_cast<std::uint16_t>(sum + sumDelta);
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(static_cast<std::uint8_t>(sum >> 8));
  f.push_back(static_cast<std::uint8_t>(sum));
  f.push_back(0x03);
  return f;
}

Bytes ConfigRecord(std::uint16_t fileSystemMb) {
  Bytes record(184, 0);
  record[180] = static_cast<std::uint8_t>(fileSystemMb >> 8);
  record[181] = static_cast<std::uint8_t>(fileSystemMb);
  return record;
}

Bytes ReadRequest(std::uint32_t address) {
  Bytes request = Frame(
      0x05,
      {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
       static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0x04, 0x00});
  request.push_back(0x00);  // a request's trailing byte
  return request;
}

void FeedInPieces(DumpWatch& watch, const Bytes& bytes, bool fromDevice) {
  // One byte at a time, as the plug-in's reads take them.
  for (std::uint8_t b : bytes) {
    if (fromDevice) {
      watch.OnRead(&b, 1);
    } else {
      watch.OnWrite(&b, 1);
    }
  }
}

TEST(DumpWatch, ReadsTheFileSystemSizeFromTheConfigurationReplyOnly) {
  const struct {
    const char* name;
    Bytes line;
    std::optional<std::uint64_t> bytes;
  } rows[] = {
      {"1 MiB", Frame(0x06, ConfigRecord(1)), 1048576},
      {"16 MiB after noise",
       [] {
         Bytes b{0x55, 0x02, 0x99, 0x03};
         const Bytes f = Frame(0x06, ConfigRecord(16));
         b.insert(b.end(), f.begin(), f.end());
         return b;
       }(),
       16ull * 1048576},
      {"none (0xFFFF)", Frame(0x06, ConfigRecord(0xFFFF)), 0},
      {"bad checksum", Frame(0x06, ConfigRecord(1), 1), std::nullopt},
      {"cut short", Frame(0x06, Bytes(183, 0)), std::nullopt},
      {"another command", Frame(0x05, ConfigRecord(1)), std::nullopt},
  };
  for (const auto& r : rows) {
    DumpWatch watch;
    const Bytes request = Frame(0x06, {});
    watch.OnWrite(request.data(), static_cast<DWORD>(request.size()));
    FeedInPieces(watch, r.line, true);
    EXPECT_EQ(watch.FileSystemBytes(), r.bytes) << r.name;
    EXPECT_FALSE(watch.FileSystemReadAsked()) << r.name;
  }
}

TEST(DumpWatch, CountsOnlyReadRequestsIntoTheFileSystemFlash) {
  const struct {
    const char* name;
    Bytes line;
    bool fromDevice;
    bool asked;
  } rows[] = {
      {"first block", ReadRequest(0x02800000), false, true},
      {"program flash", ReadRequest(0x02400000), false, false},
      {"a reply of that shape", ReadRequest(0x02800000), true, false},
  };
  for (const auto& r : rows) {
    DumpWatch watch;
    FeedInPieces(watch, r.line, r.fromDevice);
    EXPECT_EQ(watch.FileSystemReadAsked(), r.asked) << r.name;
  }
}

// The monitor image echoed during its upload holds runs that look like the start of a
// long frame; the configuration reply to the next request is still read.
TEST(DumpWatch, AReplyAfterBytesThatLookLikeAFrameStartIsRead) {
  DumpWatch watch;
  const Bytes echo{0x60, 0x02, 0x06, 0x03, 0xE8, 0x11, 0x22};  // 02 06, 1000 bytes announced
  watch.OnRead(echo.data(), static_cast<DWORD>(echo.size()));
  const Bytes request = Frame(0x06, {});
  watch.OnWrite(request.data(), static_cast<DWORD>(request.size()));
  FeedInPieces(watch, Frame(0x06, ConfigRecord(4)), true);
  EXPECT_EQ(watch.FileSystemBytes(), 4u * 1048576);
}

TEST(DumpWatch, HandsEverythingOnToTheNextTap) {
  struct Recorder : platform::WireTap {
    Bytes written, read;
    void OnWrite(const BYTE* d, DWORD n) override { written.insert(written.end(), d, d + n); }
    void OnRead(const BYTE* d, DWORD n) override { read.insert(read.end(), d, d + n); }
    void OnBreakSent(DWORD) override {}
    void OnBreakReceived() override {}
    void OnSpeed(DWORD) override {}
  } next;
  DumpWatch watch(&next);
  const Bytes configRequest = Frame(0x06, {});
  const Bytes reply = Frame(0x06, ConfigRecord(2));
  const Bytes request = ReadRequest(0x02800400);
  watch.OnWrite(configRequest.data(), static_cast<DWORD>(configRequest.size()));
  watch.OnRead(reply.data(), static_cast<DWORD>(reply.size()));
  watch.OnWrite(request.data(), static_cast<DWORD>(request.size()));
  Bytes written = configRequest;
  written.insert(written.end(), request.begin(), request.end());
  EXPECT_EQ(next.written, written);
  EXPECT_EQ(next.read, reply);
  EXPECT_EQ(watch.FileSystemBytes(), 2u * 1048576);
  EXPECT_TRUE(watch.FileSystemReadAsked());
}

TEST(PartialDumpText, SaysWhatAShortLogHoldsAndNothingOtherwise) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "dump-watch-test";
  std::filesystem::create_directories(dir);
  const std::string log = (dir / "fs.log").string();
  std::ofstream(log, std::ios::binary) << std::string(3072, 'x');
  DumpWatch watch;
  EXPECT_EQ(PartialDumpText(log, watch), "") << "no record seen";
  const Bytes reply = Frame(0x06, ConfigRecord(1));
  watch.OnRead(reply.data(), static_cast<DWORD>(reply.size()));
  EXPECT_EQ(PartialDumpText(log, watch), "") << "no block asked for: the file is not the dump's";
  const Bytes request = ReadRequest(0x02800000);
  watch.OnWrite(request.data(), static_cast<DWORD>(request.size()));
  EXPECT_EQ(PartialDumpText(log, watch),
            "The log file " + log + " holds 3072 of 1048576 bytes: it is not a complete dump.");
  EXPECT_EQ(PartialDumpText("", watch), "");
  EXPECT_EQ(PartialDumpText((dir / "missing.log").string(), watch), "");
  EXPECT_EQ(PartialDumpText(dir.string(), watch), "") << "a directory";
  std::ofstream(log, std::ios::binary) << std::string(1048576, 'x');
  EXPECT_EQ(PartialDumpText(log, watch), "") << "complete";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velmora
