#include "host/core/run_progress.h"

#include "framework/plugin_abi.h"
#include "host/core/text.h"

namespace velmora {

namespace {

// Before this much of a phase has gone by, its pace says too little to be shown.
constexpr long kMinPercentDone = 2;
constexpr std::uint64_t kMinPhaseMs = 2000;
// A device's data file system is a whole number of MiB: the sizes the positions allow
// are narrowed to those.
constexpr std::uint64_t kOutputUnit = 1024 * 1024;

}  // namespace

void RunProgress::Start(std::uint64_t nowMs) {
  *this = RunProgress();
  phaseStartMs_ = nowMs;
  lastMs_ = nowMs;
}

void RunProgress::Position(long position, std::uint64_t nowMs,
                           std::optional<std::uint64_t> outputBytes) {
  const long percent = ClampPercent(position);
  if (percent < last_) {
    // The next phase; what it writes is counted afresh.
    phaseStart_ = percent;
    phaseStartMs_ = nowMs;
    outputBytes_.reset();
    totalLow_ = 0;
    totalHigh_.reset();
  } else if (last_ < 0) {
    phaseStart_ = percent;
    phaseStartMs_ = nowMs;
  }
  last_ = percent;
  lastMs_ = nowMs;
  if (!outputBytes) return;
  const std::uint64_t bytes = *outputBytes;
  outputBytes_ = bytes;
  // percent = floor(100 * bytes / total): total lies in (100 bytes / (p + 1), 100 bytes / p].
  if (percent >= 100) {
    totalLow_ = bytes > 0 ? bytes - 1 : 0;
    totalHigh_ = bytes;
    return;
  }
  if (bytes == 0) return;
  const std::uint64_t low = 100 * bytes / static_cast<std::uint64_t>(percent + 1);
  if (low > totalLow_) totalLow_ = low;
  if (totalLow_ < bytes - 1) totalLow_ = bytes - 1;
  if (percent > 0) {
    const std::uint64_t high = 100 * bytes / static_cast<std::uint64_t>(percent);
    if (!totalHigh_ || high < *totalHigh_) totalHigh_ = high;
  }
}

std::optional<std::uint64_t> RunProgress::OutputTotal() const {
  if (!outputBytes_ || !totalHigh_) return std::nullopt;
  if (*totalHigh_ == *outputBytes_ && last_ >= 100) return *totalHigh_;
  // The one whole unit in (low, high], if there is exactly one.
  const std::uint64_t first = (totalLow_ / kOutputUnit + 1) * kOutputUnit;
  if (first > *totalHigh_ || first + kOutputUnit <= *totalHigh_) return std::nullopt;
  return first;
}

std::optional<std::uint64_t> RunProgress::RemainingMs(std::uint64_t nowMs) const {
  if (last_ < 0 || last_ >= 100) return std::nullopt;
  const long done = last_ - phaseStart_;
  const std::uint64_t spent = lastMs_ - phaseStartMs_;
  if (done < kMinPercentDone || spent < kMinPhaseMs) return std::nullopt;
  const std::uint64_t total =
      spent * static_cast<std::uint64_t>(100 - phaseStart_) / static_cast<std::uint64_t>(done);
  const std::uint64_t since = nowMs > phaseStartMs_ ? nowMs - phaseStartMs_ : 0;
  return total > since ? total - since : 0;
}

std::string RunProgress::Detail(std::uint64_t nowMs) const {
  std::string text;
  if (const auto left = RemainingMs(nowMs)) text = FormatElapsed(*left) + " left";
  if (outputBytes_) {
    if (!text.empty()) text += "  ";
    text += FormatKiB(*outputBytes_, OutputTotal());
  }
  return text;
}

std::string GroupDigits(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

std::string FormatKiB(std::uint64_t bytes, std::optional<std::uint64_t> total) {
  std::string text = GroupDigits(bytes / 1024);
  if (total) text += " of " + GroupDigits(*total / 1024);
  return text + " KiB";
}

std::string EndedBarWord(int result, bool gaveUp) {
  if (gaveUp) return "failed";
  switch (result) {
    case OPERATION_SUCCEEDED:
      return "";
    case OPERATION_CANCELED:
      return "cancelled";
    default:
      return "failed";
  }
}

}  // namespace velmora
