// The wire trace's lines, in virtual time.
#include "host/core/wire_trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace velmora {
namespace {

namespace fs = std::filesystem;

// The lines as written; from the `failAt`th write on (1-based), each write fails.
class TextOutput final : public TraceOutput {
 public:
  DWORD Write(const std::string& line) override {
    ++writes;
    if (failAt > 0 && writes >= failAt) return ERROR_DISK_FULL;
    text += line;
    return ERROR_SUCCESS;
  }
  std::string str() const { return text; }
  std::string text;
  int writes = 0;
  int failAt = 0;
};

class WireTraceTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock_;
  platform::ScopedClock scope_{clock_};
  TextOutput out_;
};

TEST_F(WireTraceTest, WritesAndReadsAsHexWithMillisecondsSinceTheStart) {
  clock_.SleepMs(1000);  // before the trace: not counted
  {
    WireTrace trace(out_);
    clock_.SleepMs(12);
    const BYTE frame[] = {0x00, 0x7E, 0xAB, 0x0f};
    trace.OnWrite(frame, sizeof frame);
    clock_.SleepMs(3);
    const BYTE reply[] = {0x06};
    trace.OnRead(reply, 1);
  }
  EXPECT_EQ(out_.str(), "12 > 00 7E AB 0F\n15 < 06\n");
}

TEST_F(WireTraceTest, ReadsInOneBurstShareALineUntilSomethingElseHappens) {
  WireTrace trace(out_);
  const BYTE a[] = {0x01, 0x02};
  const BYTE b[] = {0x03};
  trace.OnRead(a, 2);
  clock_.SleepMs(1);
  trace.OnRead(b, 1);
  clock_.SleepMs(2);
  const BYTE request[] = {0x10};
  trace.OnWrite(request, 1);
  trace.OnRead(b, 1);
  // A pause longer than a burst's gap starts a new line.
  clock_.SleepMs(WireTrace::kBurstGapMs + 1);
  trace.OnRead(a, 2);
  trace.Flush();
  EXPECT_EQ(out_.str(), "0 < 01 02 03\n3 > 10\n3 < 03\n24 < 01 02\n");
}

TEST_F(WireTraceTest, LineEventsGetTheirOwnLines) {
  WireTrace trace(out_);
  trace.OnSpeed(9600);
  clock_.SleepMs(500);
  trace.OnBreakReceived();
  const BYTE b[] = {0xFF};
  trace.OnRead(b, 1);
  clock_.SleepMs(5000);
  trace.OnBreakSent(1000);
  trace.OnSpeed(38400);
  EXPECT_EQ(out_.str(),
            "0 ! speed 9600\n500 ! break-received\n500 < FF\n5500 ! break-sent 1000\n5500 ! speed "
            "38400\n");
}

// A note (which monitor program the run uploads) reaches the trace through the platform
// and stays one line whatever its path holds; a pending read burst goes out first.
TEST_F(WireTraceTest, NotesGetTheirOwnLineWithControlCharactersMasked) {
  WireTrace trace(out_);
  platform::SetWireTap(&trace);
  const BYTE b[] = {0x06};
  trace.OnRead(b, 1);
  clock_.SleepMs(7);
  platform::NoteOnWire("monitor-image file /tmp/a\nb\tc\x7F.bin");
  platform::SetWireTap(nullptr);
  platform::NoteOnWire("monitor-image nobody listens");
  EXPECT_EQ(out_.str(), "0 < 06\n7 ! monitor-image file /tmp/a?b?c?.bin\n");
}

// Byte lines go out together, in one write: at a line event, once they span a second
// of the trace's time, or once much is held; Flush writes the rest.
TEST_F(WireTraceTest, ByteLinesGoOutTogether) {
  WireTrace trace(out_);
  const BYTE b[] = {0x06};
  trace.OnWrite(b, 1);
  clock_.SleepMs(30);
  trace.OnRead(b, 1);
  clock_.SleepMs(30);
  trace.OnWrite(b, 1);
  EXPECT_EQ(out_.writes, 0);
  trace.OnSpeed(38400);
  EXPECT_EQ(out_.writes, 1);
  EXPECT_EQ(out_.str(), "0 > 06\n30 < 06\n60 > 06\n60 ! speed 38400\n");

  out_.text.clear();
  for (int i = 0; i < 10; ++i) {
    trace.OnWrite(b, 1);
    clock_.SleepMs(100);
  }
  EXPECT_EQ(out_.writes, 1) << "ten lines over 0.9 s stay held";
  trace.OnWrite(b, 1);
  EXPECT_EQ(out_.writes, 2) << "the line a second after the first held one writes them all";
  EXPECT_EQ(out_.text,
            "60 > 06\n160 > 06\n260 > 06\n360 > 06\n460 > 06\n560 > 06\n660 > 06\n760 > 06\n"
            "860 > 06\n960 > 06\n1060 > 06\n");

  std::vector<BYTE> big(WireTrace::kHoldBytes / 3 + 1, 0xAA);
  trace.OnWrite(big.data(), static_cast<DWORD>(big.size()));
  EXPECT_EQ(out_.writes, 3) << "a line of more than the bytes held goes at once";
  trace.OnWrite(b, 1);
  trace.Flush();
  EXPECT_EQ(out_.writes, 4);
}

TEST_F(WireTraceTest, EmptyTransfersLeaveNoLine) {
  WireTrace trace(out_);
  trace.OnWrite(nullptr, 0);
  trace.OnRead(nullptr, 0);
  trace.Flush();
  EXPECT_EQ(out_.str(), "");
}

// A failed write is kept, nothing is written after it (a trace with holes would mislead),
// and Finish gives it, whatever came after.
TEST_F(WireTraceTest, TheFirstFailedWriteStandsAndEndsTheTrace) {
  out_.failAt = 2;
  WireTrace trace(out_);
  const BYTE b[] = {0x06};
  trace.OnSpeed(9600);
  trace.OnWrite(b, 1);
  trace.OnRead(b, 1);
  trace.OnBreakReceived();
  EXPECT_EQ(trace.Finish(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(out_.str(), "0 ! speed 9600\n");
  EXPECT_EQ(out_.writes, 2) << "no write is tried after the failure";
  trace.OnWrite(b, 1);
  EXPECT_EQ(trace.Finish(), static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST_F(WireTraceTest, FinishWritesThePendingBurstAndTakesNothingMore) {
  WireTrace trace(out_);
  const BYTE b[] = {0x06};
  trace.OnRead(b, 1);
  EXPECT_EQ(trace.Finish(), static_cast<DWORD>(ERROR_SUCCESS));
  trace.OnRead(b, 1);
  trace.OnSpeed(9600);
  trace.Flush();
  EXPECT_EQ(out_.str(), "0 < 06\n");
}

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("trace-file-");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(TraceFileTest, AnEarlierFileIsEmptiedAndEachLineWritten) {
  std::ofstream(Path("trace.txt")) << "an earlier trace, longer than this one\n";
  TraceFile file;
  ASSERT_EQ(file.Open(Path("trace.txt")), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(file.Write("0 ! speed 9600\n"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(file.Close(), static_cast<DWORD>(ERROR_SUCCESS));
  std::ifstream in(Path("trace.txt"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "0 ! speed 9600\n");
  EXPECT_EQ(TraceFile().Open(Path("no-dir/trace.txt")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// A device that takes nothing (Linux's "full", made here) fails the write with the
// error a user can read; the node stays a device.
TEST_F(TraceFileTest, AFullDeviceFailsTheWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "no device nodes to make on Windows";
#else
  if (::mknod(Path("full").c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0)
    GTEST_SKIP() << "mknod refused (not root?): cannot make a full device to write to";
  TraceFile file;
  ASSERT_EQ(file.Open(Path("full")), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(file.Write("0 ! speed 9600\n"), static_cast<DWORD>(ERROR_DISK_FULL));
  file.Close();
  EXPECT_TRUE(fs::is_character_file(Path("full")));
#endif
}

}  // namespace
}  // namespace velmora
