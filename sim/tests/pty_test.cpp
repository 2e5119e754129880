// The device served on a pseudo-terminal, driven through the terminal's other end. The
// waits here are waits for I/O (poll), never sleeps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "platform/clock.h"
#include "sim/pty_server.h"
#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

class PtyLine {
 public:
  explicit PtyLine(const std::string& settings)
      : device_(Settings::Parse(settings), platform::SystemClock().NowUs() * 1000),
        thread_([this] { server_.Serve(device_, stop_, [] {}); }) {
    fd_ = open(server_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    SetSpeed(B38400);
  }
  ~PtyLine() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  void SetSpeed(speed_t speed) {
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  // Writes the request and collects reply bytes until `n` arrived or the line was quiet
  // for `quietMs`.
  Bytes Exchange(const Bytes& request, std::size_t n, int quietMs = 1000) {
    EXPECT_EQ(write(fd_, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    Bytes got;
    std::uint8_t buffer[2048];
    while (got.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, quietMs) <= 0) break;
      ssize_t k = read(fd_, buffer, sizeof buffer);
      if (k <= 0) break;
      got.insert(got.end(), buffer, buffer + k);
    }
    return got;
  }
  Device& GetDevice() { return device_; }

 private:
  PtyServer server_;
  Device device_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  int fd_ = -1;
};

TEST(Pty, MonitorAnswersOnTheTerminal) {
  PtyLine line("state=monitor");
  EXPECT_EQ(line.Exchange(Request(0x00), 7), Reply(0x00));
  Bytes read = line.Exchange(Request(0x05, Cat(Be32(0x02800000), {0x04, 0x00})), 1031);
  Bytes data;
  ASSERT_TRUE(FindReply(read, 0x05, data));
  EXPECT_EQ(data.size(), 1024u);
}

TEST(Pty, FollowsTheTerminalsSpeed) {
  PtyLine line("state=rom");
  line.SetSpeed(B9600);
  EXPECT_EQ(line.Exchange(kProbe, 1), kAck);
  line.SetSpeed(B38400);
  EXPECT_NE(line.Exchange(kProbe, 1, 300), kAck);
  std::lock_guard lock(line.GetDevice().Mutex());
  EXPECT_GT(line.GetDevice().GetCounters().bytesGarbled, 0u);
}

TEST(Realtime, KeepsWallClockTimeAndLeavesTheVirtualClockAlone) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  std::unique_ptr<platform::CommPort> port;
  ASSERT_EQ(OpenSimPort("state=monitor,realtime=1", port), ERROR_SUCCESS);
  DCB dcb;
  port->GetState(dcb);
  dcb.BaudRate = 38400;
  port->SetState(dcb);
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = 1000;
  port->SetTimeouts(t);
  Bytes ping = Request(0x00);
  DWORD n = 0;
  port->Write(ping.data(), static_cast<DWORD>(ping.size()), n);
  Bytes got(7);
  for (auto& b : got) {
    ASSERT_EQ(port->Read(&b, 1, n), ERROR_SUCCESS);
    ASSERT_EQ(n, 1u);
  }
  EXPECT_EQ(got, Reply(0x00));
  EXPECT_EQ(clock.NowUs(), 0u);
}

}  // namespace
}  // namespace kv70sim
