#include "host/terminal/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <utility>

#include "host/terminal/interrupt_wake.h"

namespace velmora {

namespace {

std::atomic<int> gCount{0};
int gPipe[2] = {-1, -1};
// The wake thread's own pipe: the announcement pipe stays for the terminal's readers,
// which drain it when they choose.
std::atomic<int> gWakeWrite{-1};

void OnInterrupt(int) {
  const int saved = errno;
  gCount.fetch_add(1);
  const char byte = 1;
  // Non-blocking: a full pipe already wakes every reader.
  [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
  if (const int wake = gWakeWrite.load(); wake >= 0) n = ::write(wake, &byte, 1);
  errno = saved;
}

void WakeLoop(int fd) {
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    CallInterruptWake();
  }
}

}  // namespace

void InstallInterruptHandler() {
  if (gPipe[0] >= 0) return;
  if (::pipe2(gPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Other blocking calls simply go on; the terminal reads poll the pipe to notice.
  action.sa_flags = SA_RESTART;
  // A terminal closed under velmora, and `timeout` or a service manager stopping it, ask
  // as Ctrl-C does: the run ends through its cancel event, and the device is left as a
  // cancelled run leaves it.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int InterruptCount() {
  return gCount.load();
}

int InterruptWakeFd() {
  return gPipe[0];
}

void DrainInterruptPipe() {
  if (gPipe[0] < 0) return;
  char buffer[64];
  while (::read(gPipe[0], buffer, sizeof buffer) > 0) {
  }
}

void SetInterruptWake(std::function<void()> wake) {
  static std::once_flag started;
  if (wake) {
    // Blocked in read(2) until a signal comes: the thread costs nothing meanwhile.
    std::call_once(started, [] {
      int wakePipe[2];
      if (::pipe2(wakePipe, O_CLOEXEC) != 0) return;
      ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
      std::thread(WakeLoop, wakePipe[0]).detach();
      gWakeWrite.store(wakePipe[1]);
    });
  }
  StoreInterruptWake(std::move(wake));
}

void RaiseInterruptForTest() {
  OnInterrupt(SIGINT);
}

}  // namespace velmora
