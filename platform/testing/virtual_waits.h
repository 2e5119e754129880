// A termios port's waits in virtual time, for tests over a pseudo-terminal.
//
// The port is opened on a virtual clock and waits through this object instead of
// poll(2). Every wait is recorded with the time-out the port asked for, so a test checks
// the read and write time-out rules on those figures and on the virtual clock, never on
// the wall clock. At each wait the test may act as the device (send bytes, let time
// pass) or as a signal. A descriptor that is not ready at once stays silent for the
// whole time-out, which then passes on the virtual clock without a real wait.
#pragma once
#include <poll.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/posix/comm_termios.h"

namespace platform_test {

class VirtualWaits {
 public:
  struct Wait {
    short events;
    int timeoutMs;
    bool operator==(const Wait&) const = default;
  };

  // What happened while the port waited.
  enum class During {
    kNothing,   // silence: ready only if the descriptor already is
    kDataSent,  // the device sent bytes (or closed its end): they are on their way
    kSignal,    // a signal interrupted the wait (EINTR)
  };
  // Called at the start of wait number `index` (from 0). It may move the clock to the
  // moment of what it does.
  using Action = std::function<During(std::size_t index)>;

  explicit VirtualWaits(platform::VirtualClock& clock) : clock_(clock) {}

  void OnWait(Action action) { action_ = std::move(action); }
  const std::vector<Wait>& Waits() const { return waits_; }

  platform::TermiosPoll Poll() {
    return [this](pollfd& fd, int timeoutMs) { return Run(fd, timeoutMs); };
  }

 private:
  // Bytes written on the master reach the slave's queue through a kernel work item, in
  // microseconds; this bounds the real time given to them.
  static constexpr int kDeliveryMs = 2000;

  int Run(pollfd& fd, int timeoutMs) {
    const std::size_t index = waits_.size();
    waits_.push_back({fd.events, timeoutMs});
    const During during = action_ ? action_(index) : During::kNothing;
    if (during == During::kSignal) {
      errno = EINTR;
      return -1;
    }
    const int ready = ::poll(&fd, 1, during == During::kDataSent ? kDeliveryMs : 0);
    if (ready != 0) return ready;
    if (timeoutMs < 0) {
      // A wait without end on a silent line would hang the test.
      errno = ETIMEDOUT;
      return -1;
    }
    clock_.SleepMs(static_cast<std::uint32_t>(timeoutMs));
    return 0;
  }

  platform::VirtualClock& clock_;
  Action action_;
  std::vector<Wait> waits_;
};

// Device paths open on the given clock and waits for the life of this object (the
// backend in force before comes back after).
class ScopedTermiosBackend {
 public:
  ScopedTermiosBackend(platform::Clock& clock, VirtualWaits& waits)
      : previous_(platform::RegisterCommBackend(
            "",
            [&clock, &waits](const std::string& path, std::unique_ptr<platform::CommPort>& port) {
              return platform::OpenTermiosPort(path, clock, port, waits.Poll());
            })) {}
  ~ScopedTermiosBackend() { platform::RegisterCommBackend("", std::move(previous_)); }
  ScopedTermiosBackend(const ScopedTermiosBackend&) = delete;
  ScopedTermiosBackend& operator=(const ScopedTermiosBackend&) = delete;

 private:
  platform::CommBackendFactory previous_;
};

}  // namespace platform_test
