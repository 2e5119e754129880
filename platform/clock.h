// One clock source behind every sleep, every monotonic time stamp and every
// elapsed-time check of the plug-in, the serial backends and the simulator.
//
// The default source is the system's monotonic clock. A virtual source makes sleeps
// and waits advance time at once, so that minutes of device time pass in milliseconds
// and runs are deterministic. Only one source is in force per process.
#pragma once
#include <cstdint>
#include <mutex>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed point; never goes backwards.
  virtual std::uint64_t NowMs() = 0;
  // Microsecond resolution of the same time line (wire timing needs better than ms).
  virtual std::uint64_t NowUs() = 0;
  // Blocks the calling thread for the given time (virtual: advances time at once).
  virtual void SleepMs(std::uint32_t ms) = 0;
  virtual void SleepUs(std::uint64_t us) = 0;
  virtual bool IsVirtual() const = 0;
};

// The system's monotonic clock (CLOCK_MONOTONIC) with real sleeps.
class SystemClock final : public Clock {
 public:
  std::uint64_t NowMs() override;
  std::uint64_t NowUs() override;
  void SleepMs(std::uint32_t ms) override;
  void SleepUs(std::uint64_t us) override;
  bool IsVirtual() const override { return false; }
};

// Virtual time: starts at 0, moves only when someone sleeps or advances it.
// Thread-safe; a sleep from any thread moves the one shared time line.
class VirtualClock final : public Clock {
 public:
  std::uint64_t NowMs() override;
  std::uint64_t NowUs() override;
  void SleepMs(std::uint32_t ms) override;
  void SleepUs(std::uint64_t us) override;
  bool IsVirtual() const override { return true; }
  // Moves time forward to `us` if it is later than now.
  void AdvanceToUs(std::uint64_t us);

 private:
  std::mutex mutex_;
  std::uint64_t nowUs_ = 0;
};

// The clock in force. Never null: the system clock unless another was installed.
Clock& GetClock();
// Installs a clock (null restores the system clock). The caller keeps ownership and
// must keep it alive while installed. Install before any run starts.
void SetClock(Clock* clock);

// Shorthands used by the plug-in: Sleep(ms) and a monotonic millisecond tick.
void Sleep(std::uint32_t ms);
std::uint64_t GetTickCount64();

// RAII: installs a clock for a scope (tests), restores the previous one after.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
