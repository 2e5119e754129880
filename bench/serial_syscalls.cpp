// System calls behind byte-at-a-time reading: 64 KiB arrive on a pseudo-terminal and are
// read one ReadByte at a time, as the protocols read replies. The port serves the bytes
// from one read of everything waiting, so the count of read(2) calls stays small.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/comm_termios.h"
#include "reporting/failures.h"
#include "serial/serial_com.h"

namespace {

constexpr std::size_t kTotal = 64 * 1024;
constexpr std::size_t kChunk = 1024;
constexpr double kLimitPerKiB = 4.0;
constexpr int kPort = 9;

// The pattern includes FF and 00 so that the line discipline's marking is exercised too.
BYTE PatternByte(std::size_t i) {
  return static_cast<BYTE>((i * 7 + i / 256) & 0xFF);
}

class Master {
 public:
  Master() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0) {
      if (const char* name = ::ptsname(fd_)) slave_ = name;
    }
  }
  ~Master() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  const std::string& slave() const { return slave_; }

 private:
  int fd_;
  std::string slave_;
};

}  // namespace

int main() {
  Master master;
  if (master.slave().empty()) {
    std::fprintf(stderr, "serial_syscalls: no pseudo-terminal available\n");
    return 2;
  }
  ::setenv(("VELMORA_COM" + std::to_string(kPort)).c_str(), master.slave().c_str(), 1);

  CSerialCom com;
  try {
    com.Open(kPort, 1, 0, 0, 9);
  } catch (CSerialComException* e) {
    std::fprintf(stderr, "serial_syscalls: open failed [%d] error %u\n", e->m_code,
                 static_cast<unsigned>(e->m_platformError));
    e->Delete();
    return 2;
  }

  std::vector<BYTE> data(kTotal);
  for (std::size_t i = 0; i < kTotal; ++i) data[i] = PatternByte(i);

  // The device's side writes in 1 KiB pieces; the pty's buffer makes it wait for us.
  std::thread device([&] {
    for (std::size_t done = 0; done < kTotal;) {
      ssize_t n = ::write(master.fd(), data.data() + done, std::min(kChunk, kTotal - done));
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  });

  const platform::TermiosCounters before = platform::GetTermiosCounters();
  const auto start = std::chrono::steady_clock::now();
  std::size_t received = 0;
  std::size_t mismatches = 0;
  try {
    for (; received < kTotal; ++received) {
      BYTE byte = 0;
      if (!com.ReadByte(&byte)) break;
      if (byte != data[received]) ++mismatches;
    }
  } catch (CSerialComException* e) {
    std::fprintf(stderr, "serial_syscalls: read failed [%d] error %u\n", e->m_code,
                 static_cast<unsigned>(e->m_platformError));
    e->Delete();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const platform::TermiosCounters after = platform::GetTermiosCounters();
  device.join();

  const std::uint64_t reads = after.reads - before.reads;
  const std::uint64_t polls = after.polls - before.polls;
  const double perKiB = static_cast<double>(reads) / (kTotal / 1024.0);
  std::printf("termios reads: %llu syscalls for 64 KiB = %.2f per KiB (limit %.0f)\n",
              static_cast<unsigned long long>(reads), perKiB, kLimitPerKiB);
  std::printf("termios polls: %llu; %zu bytes in %.3f s (%.1f MB/s); %zu mismatches\n",
              static_cast<unsigned long long>(polls), received, seconds, received / seconds / 1e6,
              mismatches);

  if (received != kTotal || mismatches != 0) {
    std::fprintf(stderr, "serial_syscalls: data lost or corrupted\n");
    return 1;
  }
  return perKiB <= kLimitPerKiB ? 0 : 1;
}
