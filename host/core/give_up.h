// Giving up on a run that no longer moves. A run without anyone to watch it must end by
// itself: when the progress position has not changed for the limit, the host cancels it
// through the cancel event, as a user's Cancel would. Time is the platform clock's, so
// with the simulator the limit passes in virtual time.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// The limit when none is given: runs without a terminal give up after 300 s; with a
// terminal somebody is there to press Ctrl-C.
constexpr std::uint32_t kDefaultGiveUpSeconds = 300;
std::optional<std::uint32_t> DefaultGiveUpSeconds(bool terminal);

// The limits a user may set. A healthy run goes this long without a change of progress:
// a dump reports every 33 blocks, some nine seconds at the flash monitor's speed, and
// the run's end (reboot, a fixed wait, a break) shows none for six. A shorter limit
// would cancel healthy runs.
constexpr std::uint32_t kMinGiveUpSeconds = 30;
constexpr std::uint32_t kMaxGiveUpSeconds = 86400u * 365u;
// Why `seconds` cannot be a limit, "" when it can (0 means never).
std::string GiveUpSecondsProblem(std::uint64_t seconds);

class ProgressWatch {
 public:
  // No limit: never due.
  explicit ProgressWatch(std::optional<std::uint32_t> limitSeconds = std::nullopt);

  void Start(std::uint64_t nowMs);
  // A progress report; only a change of position counts as progress.
  void Progress(long position, std::uint64_t nowMs);
  // True once the position has stood still for the limit.
  bool Due(std::uint64_t nowMs) const;
  // Milliseconds until Due turns true without progress (0 once it is; never: the most).
  std::uint64_t MsUntilDue(std::uint64_t nowMs) const;
  // "no progress for 300 s: gave up"
  std::string Reason() const;

 private:
  std::optional<std::uint32_t> limitSeconds_;
  std::uint64_t lastChangeMs_ = 0;
  std::optional<long> position_;
};

}  // namespace velmora
