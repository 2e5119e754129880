#include "host/terminal/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velmora {

namespace {

std::atomic<int> gCount{0};
int gPipe[2] = {-1, -1};

void OnInterrupt(int) {
  const int saved = errno;
  gCount.fetch_add(1);
  const char byte = 1;
  // Non-blocking: a full pipe already wakes every reader.
  [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
  errno = saved;
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

void RaiseInterruptForTest() {
  OnInterrupt(SIGINT);
}

}  // namespace velmora
