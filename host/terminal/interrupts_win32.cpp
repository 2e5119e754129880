// Ctrl-C on Windows: the console's control handler counts it. A console read that the
// Ctrl-C ends sees the new count, so no wake-up pipe is needed.
#include <atomic>
#include <utility>

#include "host/terminal/interrupt_wake.h"
#include "host/terminal/interrupts.h"
#include "platform/win32/neutral.h"

namespace velmora {

namespace {

std::atomic<int> gCount{0};
std::atomic<bool> gInstalled{false};

// The console runs its control handlers on a thread of their own: the wake may come
// from here.
void OnInterrupt() {
  gCount.fetch_add(1);
  CallInterruptWake();
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
  StoreInterruptWake(std::move(wake));
}

void RaiseInterruptForTest() {
  OnInterrupt();
}

}  // namespace velmora
