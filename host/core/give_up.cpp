#include "host/core/give_up.h"

namespace velmora {

std::optional<std::uint32_t> DefaultGiveUpSeconds(bool terminal) {
  if (terminal) return std::nullopt;
  return kDefaultGiveUpSeconds;
}

std::string GiveUpSecondsProblem(std::uint64_t seconds) {
  if (seconds == 0 || (seconds >= kMinGiveUpSeconds && seconds <= kMaxGiveUpSeconds)) return {};
  return "takes 0 (never) or whole seconds from " + std::to_string(kMinGiveUpSeconds) + " to " +
         std::to_string(kMaxGiveUpSeconds) +
         ": a healthy run can show no progress for some ten seconds";
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

bool ProgressWatch::Due(std::uint64_t nowMs) const {
  if (!limitSeconds_) return false;
  return nowMs >= lastChangeMs_ && nowMs - lastChangeMs_ >= std::uint64_t{*limitSeconds_} * 1000;
}

std::uint64_t ProgressWatch::MsUntilDue(std::uint64_t nowMs) const {
  if (!limitSeconds_) return UINT64_MAX;
  const std::uint64_t due = lastChangeMs_ + std::uint64_t{*limitSeconds_} * 1000;
  return nowMs >= due ? 0 : due - nowMs;
}

std::string ProgressWatch::Reason() const {
  return "no progress for " + std::to_string(limitSeconds_.value_or(0)) + " s: gave up";
}

}  // namespace velmora
