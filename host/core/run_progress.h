// What a run's progress says beside the plug-in's percentage, the same in every front
// end: the time left for the phase under way and, for a run that writes a file (a dump's
// log file), how much of it has been read ("384 of 1,024 KiB").
//
// The plug-in's position runs from 0 to 100 once for each phase of a run (the
// connection, then the erase, the programming or the reading); a position below the last
// one begins the next phase. Times come from the caller, so a test sets them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

class RunProgress {
 public:
  // The run begins at nowMs.
  void Start(std::uint64_t nowMs);
  // A position as the plug-in sent it, and the size of the run's output file at that
  // moment, if it has one (the plug-in waits while the position is handled, so the size
  // is that of the blocks the position counts).
  void Position(long position, std::uint64_t nowMs,
                std::optional<std::uint64_t> outputBytes = std::nullopt);

  // The phase's time left at nowMs; none until the phase has gone far enough to tell.
  std::optional<std::uint64_t> RemainingMs(std::uint64_t nowMs) const;
  // The output file's bytes so far, and its whole size once the positions tell it.
  std::optional<std::uint64_t> OutputBytes() const { return outputBytes_; }
  std::optional<std::uint64_t> OutputTotal() const;

  // "2:05 left  384 of 1,024 KiB"; either part may be missing, and the whole is empty
  // when there is nothing to say.
  std::string Detail(std::uint64_t nowMs) const;

 private:
  long last_ = -1;
  long phaseStart_ = 0;
  std::uint64_t phaseStartMs_ = 0;
  std::uint64_t lastMs_ = 0;
  std::optional<std::uint64_t> outputBytes_;
  // What the positions so far allow for the output's whole size: (low, high].
  std::uint64_t totalLow_ = 0;
  std::optional<std::uint64_t> totalHigh_;
};

// "1,024": a count with a comma between groups of three digits.
std::string GroupDigits(std::uint64_t value);
// "384 of 1,024 KiB", or "384 KiB" without the whole.
std::string FormatKiB(std::uint64_t bytes, std::optional<std::uint64_t> total);
// What the bar says once a run has ended other than well: "cancelled" or "failed".
std::string EndedBarWord(int result, bool gaveUp);

}  // namespace velmora
