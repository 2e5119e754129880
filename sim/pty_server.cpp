// Linux only: pseudo-terminal, termios and poll.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/clock.h"
#include "platform/comm_port.h"

namespace kv70sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// termios speed code, bit/s.
struct SpeedRow {
  speed_t code;
  std::uint32_t baud;
};
constexpr SpeedRow kSpeeds[] = {
    {B300, 300},   {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},
    {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
};

std::uint32_t BaudOf(speed_t code) {
  for (const auto& row : kSpeeds)
    if (row.code == code) return row.baud;
  return 1;  // a rate the device never runs at
}

constexpr int kIdlePollMs = 50;  // upper bound on a wait, so that a stop is seen soon

}  // namespace

PtyServer::PtyServer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) ThrowErrno("grantpt/unlockpt");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) ThrowErrno("ptsname");
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) ThrowErrno("open pty slave");
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) ThrowErrno("tcgetattr");
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyServer::~PtyServer() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

void PtyServer::Serve(Device& device, const std::atomic<bool>& stop,
                      const std::function<void()>& onBreakLost, unsigned speedup) {
  platform::SystemClock clock;
  if (speedup == 0) speedup = 1;
  const std::uint64_t wallOriginUs = clock.NowUs();
  const std::uint64_t deviceOriginNs = wallOriginUs * 1000;
  auto deviceNow = [&] { return deviceOriginNs + (clock.NowUs() - wallOriginUs) * 1000 * speedup; };
  std::uint32_t baud = 0;
  bool eightN1 = true;
  // The PC's line settings are the terminal's: follow them before every step, so that
  // bytes written just after a change are taken at the new speed.
  auto followTerminal = [&](std::uint64_t now) {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return;
    std::uint32_t b = BaudOf(cfgetospeed(&tio));
    bool e = (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & PARENB) && !(tio.c_cflag & CSTOPB);
    if (b != baud || e != eightN1) {
      baud = b;
      eightN1 = e;
      device.PcSetLine(baud, eightN1, now);
    }
  };
  std::uint8_t buffer[4096];
  while (!stop.load()) {
    std::uint64_t now = deviceNow();
    std::uint64_t next;
    {
      std::lock_guard lock(device.Mutex());
      followTerminal(now);
      device.AdvanceTo(now);
      if (device.PcTakeErrors() & CE_BREAK) onBreakLost();
      while (device.PcAvailable()) {
        std::size_t n = device.PcTake(buffer, sizeof buffer);
        // A full terminal queue means nobody reads the line: the bytes are lost, as on
        // a cable with no one at the other end.
        if (write(master_, buffer, n) < 0 && errno != EAGAIN && errno != EINTR)
          ThrowErrno("write pty");
      }
      next = device.NextEventNs();
    }
    int waitMs = kIdlePollMs;
    if (next != UINT64_MAX) {
      std::uint64_t due = next > now ? ((next - now) / speedup + 999999) / 1000000 : 0;
      waitMs = static_cast<int>(std::min<std::uint64_t>(due, kIdlePollMs));
    }
    pollfd pfd{master_, POLLIN, 0};
    int ready = poll(&pfd, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("poll");
    }
    if (ready > 0 && (pfd.revents & POLLIN)) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard lock(device.Mutex());
        std::uint64_t at = deviceNow();
        followTerminal(at);
        device.PcWrite(buffer, static_cast<std::size_t>(n), at);
        device.PcRead();  // the terminal reads continuously: every burst is its own exchange
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        ThrowErrno("read pty");
      }
    }
  }
}

}  // namespace kv70sim
