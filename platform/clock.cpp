// The system clock, the virtual clock, and the one clock in force for the process.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {

std::uint64_t MonotonicUs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

// Read from every thread that sleeps or takes a time stamp; written rarely (tests, host
// start-up), hence atomic rather than locked.
std::atomic<Clock*> gClock{nullptr};

}  // namespace

std::uint64_t SystemClock::NowMs() {
  return MonotonicUs() / 1000u;
}
std::uint64_t SystemClock::NowUs() {
  return MonotonicUs();
}

void SystemClock::SleepMs(std::uint32_t ms) {
  SleepUs(static_cast<std::uint64_t>(ms) * 1000u);
}

void SystemClock::SleepUs(std::uint64_t us) {
  if (us == 0) return;
  // An absolute deadline, so that a signal interrupting the sleep does not stretch it.
  // (MinGW-w64's clock_nanosleep refuses a monotonic deadline at once, so nothing slept
  // there; the standard library's sleep keeps time on both systems.)
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

std::uint64_t VirtualClock::NowMs() {
  return NowUs() / 1000u;
}

std::uint64_t VirtualClock::NowUs() {
  std::lock_guard lock(mutex_);
  return nowUs_;
}

void VirtualClock::SleepMs(std::uint32_t ms) {
  SleepUs(static_cast<std::uint64_t>(ms) * 1000u);
}

void VirtualClock::SleepUs(std::uint64_t us) {
  std::lock_guard lock(mutex_);
  nowUs_ += us;
}

void VirtualClock::AdvanceToUs(std::uint64_t us) {
  std::lock_guard lock(mutex_);
  if (us > nowUs_) nowUs_ = us;
}

Clock& GetClock() {
  Clock* clock = gClock.load(std::memory_order_acquire);
  return clock ? *clock : TheSystemClock();
}

void SetClock(Clock* clock) {
  gClock.store(clock, std::memory_order_release);
}

void Sleep(std::uint32_t ms) {
  GetClock().SleepMs(ms);
}

std::uint64_t GetTickCount64() {
  return GetClock().NowMs();
}

ScopedClock::ScopedClock(Clock& clock) : previous_(gClock.load(std::memory_order_acquire)) {
  SetClock(&clock);
}

ScopedClock::~ScopedClock() {
  SetClock(previous_);
}

}  // namespace platform
