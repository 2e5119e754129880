#include "host/core/give_up.h"

#include <algorithm>

namespace velmora {

std::optional<std::uint32_t> DefaultGiveUpSeconds(bool terminal) {
  if (terminal) return std::nullopt;
  return kDefaultGiveUpSeconds;
}

ProgressWatch::ProgressWatch(std::optional<std::uint32_t> limitSeconds)
    : limitSeconds_(limitSeconds) {}

void ProgressWatch::Start(std::uint64_t nowMs) {
  lastChangeMs_ = nowMs;
  position_.reset();
}

void ProgressWatch::Progress(long position, std::uint64_t nowMs) {
  if (position_ && *position_ == position) return;
  position_ = position;
  lastChangeMs_ = nowMs;
}

std::optional<std::uint32_t> ProgressWatch::Limit() const {
  if (!limitSeconds_) return std::nullopt;
  // A phase that reached its end is followed by work the position does not show: the
  // next phase's start, or the run's own end (the reboot reply, then a fixed wait and a
  // break before the line is let go, some six seconds). A short limit must not cancel
  // a run there that has done its work.
  if (position_ && *position_ >= kPhaseEnd) return std::max(*limitSeconds_, kAfterPhaseEndSeconds);
  return limitSeconds_;
}

bool ProgressWatch::Due(std::uint64_t nowMs) const {
  const std::optional<std::uint32_t> limit = Limit();
  if (!limit) return false;
  return nowMs >= lastChangeMs_ && nowMs - lastChangeMs_ >= std::uint64_t{*limit} * 1000;
}

std::string ProgressWatch::Reason() const {
  return "no progress for " + std::to_string(Limit().value_or(0)) + " s: gave up";
}

}  // namespace velmora
