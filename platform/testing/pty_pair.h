// A pseudo-terminal pair for tests of the termios backend: the slave is the "COM port",
// the test plays the device on the master.
#pragma once
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/winbase.h"

namespace platform_test {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      if (const char* name = ::ptsname(master_)) slave_ = name;
    }
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  int master() const { return master_; }
  const std::string& slavePath() const { return slave_; }

  // Points "\\.\COM<n>" at the slave.
  void UseAsCom(int portNumber) const {
    std::string variable = "VELMORA_COM" + std::to_string(portNumber);
    ::setenv(variable.c_str(), slave_.c_str(), 1);
  }

  // The device's side: writes all of `bytes`.
  bool Send(const std::vector<BYTE>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The device's side: collects `count` bytes or what arrived before `timeoutMs` passed
  // without any.
  std::vector<BYTE> Receive(std::size_t count, int timeoutMs = 2000) const {
    std::vector<BYTE> got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) break;
      BYTE buffer[4096];
      ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  // The cable is pulled: the slave sees a hang-up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// The slave's settings and input queue as the kernel holds them, through a second
// descriptor opened before the port was (so that the exclusive flag does not refuse it).
class SlaveObserver {
 public:
  explicit SlaveObserver(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~SlaveObserver() {
    if (fd_ >= 0) ::close(fd_);
  }
  SlaveObserver(const SlaveObserver&) = delete;
  SlaveObserver& operator=(const SlaveObserver&) = delete;

  bool Get(termios2& t) const { return fd_ >= 0 && ::ioctl(fd_, TCGETS2, &t) == 0; }
  int fd() const { return fd_; }
  // Waits until the line's input queue holds `count` bytes (as marked by the line
  // discipline: a data FF counts twice), so that a test knows the bytes are there before
  // it acts. The kernel moves them in microseconds; this bounds the wait for a fault.
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

}  // namespace platform_test
