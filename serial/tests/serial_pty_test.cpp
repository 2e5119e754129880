// CSerialCom over the real termios backend, with a pseudo-terminal playing the cable.
#include <asm/termbits.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm_port.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"
#include "serial/tests/pty_pair.h"

namespace {

using serial_test::PtyPair;
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

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

// The slave's settings as the kernel holds them, through a second descriptor opened
// before the port was (so that the exclusive flag does not refuse it).
class SlaveObserver {
 public:
  explicit SlaveObserver(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~SlaveObserver() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Get(termios2& t) const { return fd_ >= 0 && ::ioctl(fd_, TCGETS2, &t) == 0; }
  int fd() const { return fd_; }
  // Waits until the line's input queue holds `count` bytes (as marked by the line
  // discipline), so that a test knows the bytes are there before it acts.
  bool WaitForInput(int count) const {
    for (int i = 0; i < 2000; ++i) {
      int waiting = 0;
      if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting >= count) return true;
      ::usleep(1000);
    }
    return false;
  }

 private:
  int fd_;
};

class SerialPtyTest : public ::testing::Test {
 protected:
  static constexpr int kPort = 3;
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    ASSERT_TRUE(pty.ok());
    pty.UseAsCom(kPort);
  }
  PtyPair pty;
  CSerialCom com;
};

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
  const auto start = std::chrono::steady_clock::now();
  DWORD n = com.Read(got.data(), 64);
  EXPECT_LT(ElapsedMs(start), 950);   // returned before the 1000 ms time-out
  got.resize(n);
  EXPECT_EQ(got, reply);
}

TEST_F(SerialPtyTest, ReadByteOnASilentLineGivesUpAfterAboutOneSecond) {
  com.Open(kPort, 1, 0, 0, 6);
  BYTE byte = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(com.ReadByte(&byte));
  const auto elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 950);
  EXPECT_LT(elapsed, 5000);
  RecordProperty("silent_read_ms", static_cast<int>(elapsed));
  EXPECT_TRUE(com.IsOpen());
}

// Signals interrupt the wait; it goes on for the time left, neither ending early nor
// starting over.
TEST_F(SerialPtyTest, SignalsDuringASilentReadDoNotChangeItsLength) {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;   // no SA_RESTART: poll sees EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  com.Open(kPort, 1, 0, 0, 6);
  const pthread_t reader = pthread_self();
  std::thread interrupter([reader] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      pthread_kill(reader, SIGUSR1);
    }
  });
  BYTE byte = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(com.ReadByte(&byte));
  const auto elapsed = ElapsedMs(start);
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(elapsed, 950);
  EXPECT_LT(elapsed, 5000);
}

TEST_F(SerialPtyTest, AByteArrivingDuringTheWaitEndsIt) {
  com.Open(kPort, 1, 0, 0, 6);
  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Send({0x06});
  });
  BYTE byte = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(com.ReadByte(&byte));
  EXPECT_LT(ElapsedMs(start), 900);
  EXPECT_EQ(byte, 0x06);
  device.join();
}

TEST_F(SerialPtyTest, PurgeThrowsAwayWhatWasWaiting) {
  SlaveObserver observer(pty.slavePath());
  com.Open(kPort, 1, 0, 0, 6);
  ASSERT_TRUE(pty.Send({1, 2, 3, 4}));
  BYTE first = 0;
  ASSERT_TRUE(com.ReadByte(&first));   // the rest now sits in the port's own buffer
  EXPECT_EQ(first, 1);
  ASSERT_TRUE(pty.Send({5, 6}));
  ASSERT_TRUE(observer.WaitForInput(2));
  EXPECT_TRUE(com.Purge(FALSE, TRUE));
  ASSERT_TRUE(pty.Send({0x42}));
  BYTE byte = 0;
  ASSERT_TRUE(com.ReadByte(&byte));
  EXPECT_EQ(byte, 0x42);
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

TEST_F(SerialPtyTest, APortThatDoesNotExistIsRefusedWithError2) {
  struct Row {
    const char* what;
    std::string path;
  };
  const Row rows[] = {
      {"missing device", "/dev/does-not-exist-ttyKV70"},
      {"missing directory", "/nonexistent/dir/tty"},
      {"not a terminal", "/dev/null"},
  };
  for (const Row& row : rows) {
    ::setenv("VELMORA_COM5", row.path.c_str(), 1);
    CSerialCom port;
    Failure f = ExpectSerialFailure([&] { port.Open(5, 1, 0, 0, 6); });
    EXPECT_EQ(f.code, 301) << row.what;
    EXPECT_EQ(f.error, ERROR_FILE_NOT_FOUND) << row.what;
    EXPECT_EQ(port.GetHandle(), nullptr) << row.what;
    EXPECT_STREQ(f.text.GetString(),
                 "COM Failure! [301] There was a failure [2] attempting to open COM5.\n\n"
                 "Restart your computer and try again.")
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
  BYTE byte = 0;
  const auto start = std::chrono::steady_clock::now();
  Failure f = ExpectSerialFailure([&] { com.ReadByte(&byte); });
  EXPECT_LT(ElapsedMs(start), 900);
  EXPECT_EQ(f.code, 303);
  EXPECT_NE(f.error, ERROR_SUCCESS);
  EXPECT_TRUE(com.IsOpen());   // a read failure leaves the port open
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

// The backend on its own: a write that cannot get out gives a short count when its
// time-out passes.
TEST_F(SerialPtyTest, AStuckWriteEndsWithAShortCountAtItsTimeout) {
  std::unique_ptr<platform::CommPort> port;
  ASSERT_EQ(platform::OpenCommPort(pty.slavePath(), port), ERROR_SUCCESS);
  COMMTIMEOUTS timeouts;
  timeouts.WriteTotalTimeoutConstant = 200;
  ASSERT_EQ(port->SetTimeouts(timeouts), ERROR_SUCCESS);
  // Nobody reads the master, so the pty's buffers fill up.
  std::vector<BYTE> lots(4 * 1024 * 1024, 0x55);
  DWORD written = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->Write(lots.data(), static_cast<DWORD>(lots.size()), written), ERROR_SUCCESS);
  const auto elapsed = ElapsedMs(start);
  EXPECT_LT(written, lots.size());
  EXPECT_GT(written, 0u);
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 5000);
  EXPECT_EQ(platform::GetLastError(), ERROR_TIMEOUT);
}

TEST_F(SerialPtyTest, ImmediateReadTimeoutsNeverWait) {
  std::unique_ptr<platform::CommPort> port;
  ASSERT_EQ(platform::OpenCommPort(pty.slavePath(), port), ERROR_SUCCESS);
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  ASSERT_EQ(port->SetTimeouts(timeouts), ERROR_SUCCESS);
  BYTE buffer[8];
  DWORD read = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->Read(buffer, sizeof buffer, read), ERROR_SUCCESS);
  EXPECT_EQ(read, 0u);
  EXPECT_LT(ElapsedMs(start), 950);   // before any time-out could pass
}

TEST_F(SerialPtyTest, TotalReadTimeoutsWaitForTheWholeCount) {
  std::unique_ptr<platform::CommPort> port;
  ASSERT_EQ(platform::OpenCommPort(pty.slavePath(), port), ERROR_SUCCESS);
  COMMTIMEOUTS timeouts;
  timeouts.ReadTotalTimeoutConstant = 3000;
  ASSERT_EQ(port->SetTimeouts(timeouts), ERROR_SUCCESS);
  std::thread device([&] {
    pty.Send({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.Send({3, 4});
  });
  BYTE buffer[4] = {};
  DWORD read = 0;
  EXPECT_EQ(port->Read(buffer, 4, read), ERROR_SUCCESS);
  device.join();
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 2, 3, 4}));
}

}  // namespace
