// Ctrl-C on Windows: the console's control handler counts it. A console read that the
// Ctrl-C ends sees the new count, so no wake-up pipe is needed.
#include <atomic>
#include <mutex>
#include <utility>

#include "host/terminal/interrupts.h"
#include "platform/win32/neutral.h"

namespace velmora {

namespace {

std::atomic<int> gCount{0};
std::atomic<bool> gInstalled{false};

std::mutex& WakeMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& Wake() {
  static std::function<void()> wake;
  return wake;
}

// The console runs its control handlers on a thread of their own: the wake may come
// from here.
void OnInterrupt() {
  gCount.fetch_add(1);
  std::lock_guard lock(WakeMutex());
  if (Wake()) Wake()();
}

}  // namespace

void InstallInterruptHandler() {
  if (gInstalled.exchange(true)) return;
  platform::win32::InstallInterruptHandler(OnInterrupt);
}

int InterruptCount() {
  return gCount.load();
}

int InterruptWakeFd() {
  return -1;
}

void DrainInterruptPipe() {}

void SetInterruptWake(std::function<void()> wake) {
  std::lock_guard lock(WakeMutex());
  Wake() = std::move(wake);
}

void RaiseInterruptForTest() {
  OnInterrupt();
}

}  // namespace velmora
