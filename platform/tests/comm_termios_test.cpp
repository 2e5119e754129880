// The termios backend on its own, over a pseudo-terminal, on a virtual clock: the read and
// write time-out rules are checked on the waits the port asks for.
#include "platform/posix/comm_termios.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/testing/pty_pair.h"
#include "platform/testing/virtual_waits.h"

namespace {

using platform_test::PtyPair;
using platform_test::SlaveObserver;
using platform_test::VirtualWaits;
using During = VirtualWaits::During;
using Wait = VirtualWaits::Wait;
using Bytes = std::vector<BYTE>;

class TermiosPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(platform::OpenTermiosPort(pty.slavePath(), clock, port, waits.Poll()), ERROR_SUCCESS);
    ASSERT_NE(port, nullptr);
  }

  void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    ASSERT_EQ(port->SetTimeouts(t), ERROR_SUCCESS);
  }

  // Sends from the device's end and waits until the port's queue holds the bytes.
  void SendAndLand(const Bytes& bytes) {
    ASSERT_TRUE(pty.Send(bytes));
    ASSERT_TRUE(observer.WaitForInput(static_cast<int>(bytes.size())));
  }

  PtyPair pty;
  SlaveObserver observer{pty.slavePath()};
  platform::VirtualClock clock;
  VirtualWaits waits{clock};
  std::unique_ptr<platform::CommPort> port;
};

// A write that cannot get out gives a short count when its time-out passes.
TEST_F(TermiosPortTest, AStuckWriteEndsWithAShortCountAtItsTimeout) {
  COMMTIMEOUTS timeouts;
  timeouts.WriteTotalTimeoutConstant = 200;
  ASSERT_EQ(port->SetTimeouts(timeouts), ERROR_SUCCESS);
  // Nobody reads the master, so the pty's buffers fill up.
  std::vector<BYTE> lots(4 * 1024 * 1024, 0x55);
  DWORD written = 0;
  EXPECT_EQ(port->Write(lots.data(), static_cast<DWORD>(lots.size()), written), ERROR_SUCCESS);
  EXPECT_LT(written, lots.size());
  EXPECT_GT(written, 0u);
  EXPECT_EQ(platform::GetLastError(), ERROR_TIMEOUT);
  // Every wait was for room to write, within the one time-out, which passed whole.
  ASSERT_FALSE(waits.Waits().empty());
  for (const Wait& w : waits.Waits()) EXPECT_EQ(w, (Wait{POLLOUT, 200}));
  EXPECT_EQ(clock.NowMs(), 200u);
}

TEST_F(TermiosPortTest, ImmediateReadTimeoutsNeverWait) {
  SetTimeouts(MAXDWORD, 0, 0);
  BYTE buffer[8];
  DWORD read = 99;
  EXPECT_EQ(port->Read(buffer, sizeof buffer, read), ERROR_SUCCESS);
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(waits.Waits().empty());
  EXPECT_EQ(clock.NowMs(), 0u);
}

TEST_F(TermiosPortTest, TotalReadTimeoutsWaitForTheWholeCount) {
  SetTimeouts(0, 0, 3000);
  SendAndLand({1, 2});
  // The rest comes 50 ms into the wait for it (and may take more than one wait to land).
  waits.OnWait([&](std::size_t index) {
    if (index == 0) {
      clock.SleepMs(50);
      pty.Send({3, 4});
    }
    return During::kDataSent;
  });
  BYTE buffer[4] = {};
  DWORD read = 0;
  EXPECT_EQ(port->Read(buffer, 4, read), ERROR_SUCCESS);
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));
  ASSERT_FALSE(waits.Waits().empty());
  EXPECT_EQ(waits.Waits()[0], (Wait{POLLIN, 3000}));
  for (const Wait& w : waits.Waits()) EXPECT_EQ(w.events, POLLIN);
  EXPECT_EQ(clock.NowMs(), 50u);
}

// A gap longer than the interval after a byte ends the read early with what came; the
// total time-out bounds the wait for the first byte.
TEST_F(TermiosPortTest, ReadTimeoutsAskPollForTheTimeLeft) {
  struct Row {
    const char* what;
    DWORD interval, multiplier, constant;
    Bytes waiting;  // in the port's queue before the read
    Wait wait;      // the one wait that ends in silence
  };
  const Row rows[] = {
      {"interval after a byte", 20, 0, 3000, {0x41}, {POLLIN, 20}},
      {"total for the first byte", 20, 10, 100, {}, {POLLIN, 140}},
      {"first byte of the plug-in's rule", MAXDWORD, MAXDWORD, 1000, {}, {POLLIN, 1000}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    platform::VirtualClock rowClock;
    VirtualWaits rowWaits(rowClock);
    PtyPair line;
    ASSERT_TRUE(line.ok());
    SlaveObserver lineObserver(line.slavePath());
    std::unique_ptr<platform::CommPort> rowPort;
    ASSERT_EQ(platform::OpenTermiosPort(line.slavePath(), rowClock, rowPort, rowWaits.Poll()),
              ERROR_SUCCESS);
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = row.interval;
    t.ReadTotalTimeoutMultiplier = row.multiplier;
    t.ReadTotalTimeoutConstant = row.constant;
    ASSERT_EQ(rowPort->SetTimeouts(t), ERROR_SUCCESS);
    ASSERT_TRUE(line.Send(row.waiting));
    ASSERT_TRUE(lineObserver.WaitForInput(static_cast<int>(row.waiting.size())));
    BYTE buffer[4] = {};
    DWORD read = 0;
    EXPECT_EQ(rowPort->Read(buffer, 4, read), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(buffer, buffer + read), row.waiting);
    ASSERT_FALSE(rowWaits.Waits().empty());
    EXPECT_EQ(rowWaits.Waits(), std::vector<Wait>{row.wait});
    EXPECT_EQ(rowClock.NowMs(), static_cast<std::uint64_t>(row.wait.timeoutMs));
  }
}

}  // namespace
