// The wire trace's lines, in virtual time.
#include "host/core/wire_trace.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/clock.h"

namespace velmora {
namespace {

class WireTraceTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock_;
  platform::ScopedClock scope_{clock_};
  std::ostringstream out_;
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

TEST_F(WireTraceTest, EmptyTransfersLeaveNoLine) {
  WireTrace trace(out_);
  trace.OnWrite(nullptr, 0);
  trace.OnRead(nullptr, 0);
  trace.Flush();
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace velmora
