// CSerialCom over the real termios backend, with a pseudo-terminal playing the cable. The
// port runs on a virtual clock and its waits are recorded: time-outs are checked on what
// the port asked poll for and on virtual time.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/testing/pty_pair.h"
#include "platform/testing/virtual_waits.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace {

using platform_test::PtyPair;
using platform_test::SlaveObserver;
using platform_test::VirtualWaits;
using During = VirtualWaits::During;
using Wait = VirtualWaits::Wait;
using Bytes = std::vector<BYTE>;

struct Failure {
  int code = 0;
  DWORD error = 0;
  CString text;
};

template <typename Body>
Failure ExpectSerialFailure(Body body) {
  Failure failure;
  try {
    body();
    ADD_FAILURE() << "no CSerialComException";
  } catch (CSerialComException* e) {
    failure.code = e->m_code;
    failure.error = e->m_platformError;
    char text[256] = {};
    e->GetErrorMessage(text, sizeof text);
    failure.text = text;
    e->Delete();
  }
  return failure;
}

class SerialPtyTest : public ::testing::Test {
 protected:
  static constexpr int kPort = 3;
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    ASSERT_TRUE(pty.ok());
    pty.UseAsCom(kPort);
  }
  PtyPair pty;
  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  VirtualWaits waits{clock};
  platform_test::ScopedTermiosBackend backend{clock, waits};
  CSerialCom com;
};

// The class's read time-out: the first byte is waited for up to 1000 ms.
const Wait kFirstByteWait{POLLIN, 1000};

TEST_F(SerialPtyTest, OpenPutsTheLineIntoRaw8N1At9600) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  ASSERT_NE(com.GetHandle(), nullptr);
  termios2 t{};
  ASSERT_TRUE(observer.Get(t));
  EXPECT_EQ(t.c_ospeed, 9600u);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<unsigned>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<unsigned>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), static_cast<unsigned>(CLOCAL | CREAD | HUPCL));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP | IGNBRK | BRKINT), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

// A pty keeps 8 data bits and no parity whatever it is told, so data bits and parity
// are checked on the mapping alone (termios_settings_test.cpp).
TEST_F(SerialPtyTest, SettingsReachTheKernel) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  struct Row {
    const char* what;
    void (*apply)(CSerialCom&);
    unsigned mask;
    unsigned expected;
    DWORD speed;
  };
  const Row rows[] = {
      {"38400", [](CSerialCom& c) { c.SetSpeed(9); }, CBAUD, B38400, 38400},
      {"128000 has no Bxxx", [](CSerialCom& c) { c.SetSpeed(13); }, CBAUD, BOTHER, 128000},
      {"back to 9600", [](CSerialCom& c) { c.SetSpeed(6); }, CBAUD, B9600, 9600},
      {"two stop bits", [](CSerialCom& c) { c.SetStopBits(2); }, CSTOPB, CSTOPB, 9600},
      {"RTS/CTS", [](CSerialCom& c) { c.SetHandshake(2); }, CRTSCTS, CRTSCTS, 9600},
  };
  for (const Row& row : rows) {
    row.apply(com);
    termios2 t{};
    ASSERT_TRUE(observer.Get(t));
    EXPECT_EQ(t.c_cflag & row.mask, row.expected) << row.what;
    EXPECT_EQ(t.c_ospeed, row.speed) << row.what;
  }
  com.SetHandshake(4);
  termios2 t{};
  ASSERT_TRUE(observer.Get(t));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<unsigned>(IXON | IXOFF));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST_F(SerialPtyTest, OneAndAHalfStopBitsWithEightDataBitsIsRefused) {
  com.Open(kPort, 1, 0, 0, 6);
  Failure f = ExpectSerialFailure([&] { com.SetStopBits(1); });
  EXPECT_EQ(f.code, 302);
  EXPECT_EQ(f.error, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(com.GetHandle(), nullptr);
}

TEST_F(SerialPtyTest, WriteReachesTheOtherEnd) {
  com.Open(kPort, 1, 0, 0, 6);
  const Bytes frame = {0x02, 0x00, 0x80, 0x05, 0xFF, 0x00, 0x0A, 0x0D, 0x03};
  EXPECT_TRUE(com.Write(frame.data(), static_cast<DWORD>(frame.size())));
  EXPECT_TRUE(com.WriteByte(0x11));
  Bytes expected = frame;
  expected.push_back(0x11);
  EXPECT_EQ(pty.Receive(expected.size()), expected);
}

TEST_F(SerialPtyTest, ReadReturnsTheWaitingBytesAtOnce) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  // FF, 00 and line ends must come through untouched by the line discipline.
  const Bytes reply = {0x06, 0xFF, 0x00, 0x0D, 0x0A, 0xFF, 0xFF, 0x03, 0x11, 0x13};
  ASSERT_TRUE(pty.Send(reply));
  // Each data FF reaches the queue doubled.
  ASSERT_TRUE(observer.WaitForInput(static_cast<int>(reply.size()) + 3));
  Bytes got(64);
  const std::uint64_t start = clock.NowMs();
  DWORD n = com.Read(got.data(), 64);
  got.resize(n);
  EXPECT_EQ(got, reply);
  EXPECT_TRUE(waits.Waits().empty());  // nothing waited for: no time passed
  EXPECT_EQ(clock.NowMs(), start);
}

TEST_F(SerialPtyTest, ReadByteOnASilentLineGivesUpAfterOneSecond) {
  com.Open(kPort, 1, 0, 0, 6);
  const std::uint64_t start = clock.NowMs();
  BYTE byte = 0;
  EXPECT_FALSE(com.ReadByte(&byte));
  EXPECT_EQ(waits.Waits(), std::vector<Wait>{kFirstByteWait});
  EXPECT_EQ(clock.NowMs() - start, 1000u);
  EXPECT_TRUE(com.IsOpen());
}

// Signals interrupt the wait; it goes on for the time left, neither ending early nor
// starting over.
TEST_F(SerialPtyTest, SignalsDuringASilentReadDoNotChangeItsLength) {
  com.Open(kPort, 1, 0, 0, 6);
  const std::uint64_t start = clock.NowMs();
  waits.OnWait([&](std::size_t index) {
    if (index >= 3) return During::kNothing;
    clock.SleepMs(200);
    return During::kSignal;
  });
  BYTE byte = 0;
  EXPECT_FALSE(com.ReadByte(&byte));
  const std::vector<Wait> expected = {{POLLIN, 1000}, {POLLIN, 800}, {POLLIN, 600}, {POLLIN, 400}};
  EXPECT_EQ(waits.Waits(), expected);
  EXPECT_EQ(clock.NowMs() - start, 1000u);
}

TEST_F(SerialPtyTest, AByteArrivingDuringTheWaitEndsIt) {
  com.Open(kPort, 1, 0, 0, 6);
  const std::uint64_t start = clock.NowMs();
  waits.OnWait([&](std::size_t index) {
    if (index == 0) {
      clock.SleepMs(100);
      pty.Send({0x06});
    }
    return During::kDataSent;
  });
  BYTE byte = 0;
  EXPECT_TRUE(com.ReadByte(&byte));
  EXPECT_EQ(byte, 0x06);
  ASSERT_FALSE(waits.Waits().empty());
  EXPECT_EQ(waits.Waits()[0], kFirstByteWait);
  EXPECT_EQ(clock.NowMs() - start, 100u);
}

TEST_F(SerialPtyTest, PurgeThrowsAwayWhatWasWaiting) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  ASSERT_TRUE(pty.Send({1, 2, 3, 4}));
  ASSERT_TRUE(observer.WaitForInput(4));
  BYTE first = 0;
  ASSERT_TRUE(com.ReadByte(&first));  // the rest now sits in the port's own buffer
  EXPECT_EQ(first, 1);
  ASSERT_TRUE(pty.Send({5, 6}));
  ASSERT_TRUE(observer.WaitForInput(2));
  EXPECT_TRUE(com.Purge(FALSE, TRUE));
  ASSERT_TRUE(pty.Send({0x42}));
  ASSERT_TRUE(observer.WaitForInput(1));
  BYTE byte = 0;
  ASSERT_TRUE(com.ReadByte(&byte));
  EXPECT_EQ(byte, 0x42);
  EXPECT_TRUE(waits.Waits().empty());
  EXPECT_TRUE(com.Purge(FALSE, FALSE));
  EXPECT_TRUE(com.Purge(TRUE, TRUE));
}

TEST_F(SerialPtyTest, ASecondOpenIsRefusedWith301AndTheHandleNull) {
  com.Open(kPort, 1, 0, 0, 6);
  CSerialCom second;
  Failure f = ExpectSerialFailure([&] { second.Open(kPort, 1, 0, 0, 6); });
  EXPECT_EQ(f.code, 301);
  EXPECT_EQ(f.error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(second.GetHandle(), nullptr);
  EXPECT_FALSE(second.IsOpen());
  // The first keeps working, and once it is closed the port is free again.
  EXPECT_TRUE(com.WriteByte(0x55));
  com.Close();
  second.Open(kPort, 1, 0, 0, 6);
  EXPECT_TRUE(second.IsOpen());
}

TEST_F(SerialPtyTest, APortHeldExclusivelyByAnotherProgramIsRefused) {
  // Another program that took the port with TIOCEXCL but no lock.
  SlaveObserver other(pty.slavePath());
  ASSERT_EQ(::ioctl(other.fd(), TIOCEXCL), 0);
  Failure f = ExpectSerialFailure([&] { com.Open(kPort, 1, 0, 0, 6); });
  EXPECT_EQ(f.code, 301);
  EXPECT_EQ(f.error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(com.GetHandle(), nullptr);
  // The refusal left the other program's hold alone.
  int exclusive = 0;
  ASSERT_EQ(::ioctl(other.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  ASSERT_EQ(::ioctl(other.fd(), TIOCNXCL), 0);
  com.Open(kPort, 1, 0, 0, 6);
  EXPECT_TRUE(com.IsOpen());
}

// A path that names nothing is error 2; one that names something other than a serial
// port is error 50 (not supported), not "not found": the file is there.
TEST_F(SerialPtyTest, APortThatDoesNotExistIsRefusedWithError2AndNoPortWith50) {
  struct Row {
    const char* what;
    std::string path;
    DWORD error;
  };
  const Row rows[] = {
      {"missing device", "/dev/does-not-exist-ttyKV70", ERROR_FILE_NOT_FOUND},
      {"missing directory", "/nonexistent/dir/tty", ERROR_FILE_NOT_FOUND},
      {"not a terminal", "/dev/null", ERROR_NOT_SUPPORTED},
  };
  for (const Row& row : rows) {
    ::setenv("VELMORA_COM5", row.path.c_str(), 1);
    CSerialCom port;
    Failure f = ExpectSerialFailure([&] { port.Open(5, 1, 0, 0, 6); });
    EXPECT_EQ(f.code, 301) << row.what;
    EXPECT_EQ(f.error, row.error) << row.what;
    EXPECT_EQ(port.GetHandle(), nullptr) << row.what;
    EXPECT_EQ(std::string(f.text.GetString()),
              "COM Failure! [301] There was a failure [" + std::to_string(row.error) +
                  "] attempting to open COM5.\n\nRestart your computer and try again.")
        << row.what;
  }
}

TEST_F(SerialPtyTest, ClosingANeverOpenedPortIsHarmless) {
  com.Close();
  EXPECT_EQ(com.GetHandle(), nullptr);
  EXPECT_EQ(com.GetPortNumber(), 0u);
  EXPECT_FALSE(com.IsOpen());
}

TEST_F(SerialPtyTest, APulledCableIsAReadFailureNotATimeout) {
  com.Open(kPort, 1, 0, 0, 6);
  pty.CloseMaster();
  // The hang-up may still be on its way when the port first looks.
  waits.OnWait([](std::size_t) { return During::kDataSent; });
  const std::uint64_t start = clock.NowMs();
  BYTE byte = 0;
  Failure f = ExpectSerialFailure([&] { com.ReadByte(&byte); });
  EXPECT_EQ(clock.NowMs(), start);  // no time-out waited for
  EXPECT_EQ(f.code, 303);
  EXPECT_NE(f.error, ERROR_SUCCESS);
  EXPECT_TRUE(com.IsOpen());  // a read failure leaves the port open
  f = ExpectSerialFailure([&] { com.WriteByte(0x06); });
  EXPECT_EQ(f.code, 304);
  EXPECT_NE(f.error, ERROR_SUCCESS);
  EXPECT_TRUE(com.IsOpen());
  com.Close();
  EXPECT_EQ(com.GetHandle(), nullptr);
}

TEST_F(SerialPtyTest, BreaksCanBeSentAndNoneIsSeenOnAQuietLine) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  com.SendBreak(20);
  EXPECT_FALSE(com.BreakDetected());
  // Data waiting does not count as a break, and the look does not eat it.
  ASSERT_TRUE(pty.Send({0xFF, 0x00, 0x00}));
  ASSERT_TRUE(observer.WaitForInput(4));
  EXPECT_FALSE(com.BreakDetected());
  Bytes got(3);
  DWORD n = com.Read(got.data(), 3);
  got.resize(n);
  EXPECT_EQ(got, (Bytes{0xFF, 0x00, 0x00}));
}

}  // namespace
