#include "host/terminal/interrupt_wake.h"

#include <mutex>
#include <utility>

namespace velmora {

namespace {

std::mutex& WakeMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& Wake() {
  static std::function<void()> wake;
  return wake;
}

}  // namespace

void StoreInterruptWake(std::function<void()> wake) {
  std::lock_guard lock(WakeMutex());
  Wake() = std::move(wake);
}

void CallInterruptWake() {
  std::lock_guard lock(WakeMutex());
  if (Wake()) Wake()();
}

}  // namespace velmora
