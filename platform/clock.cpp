// The system clock, the virtual clock, and the one clock in force for the process.
#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace platform {

namespace {

std::uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
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
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  std::uint64_t ns = static_cast<std::uint64_t>(deadline.tv_nsec) + (us % 1000000u) * 1000u;
  deadline.tv_sec += static_cast<time_t>(us / 1000000u + ns / 1000000000u);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000u);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
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
