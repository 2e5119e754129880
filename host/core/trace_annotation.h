// A decoded line as text for people: one entry per frame with its time, the gap since
// the frame before, the direction and what the frame says, and the run's summary.
// `velmora trace show` prints it; any front end may.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/core/line_decoder.h"

namespace velmora {

class TraceAnnotator {
 public:
  // `allBytes`: every frame's bytes in hex under it, not only those of the frames that
  // did not count.
  explicit TraceAnnotator(bool allBytes = false) : allBytes_(allBytes) {}

  // The lines for one frame (the first carries time, gap and direction).
  std::vector<std::string> Lines(const DecodedFrame& frame);

 private:
  bool allBytes_;
  std::optional<std::uint64_t> lastMs_;
};

// "0x02400000" and "0x02400000-0x0240FFFF (65536 bytes)".
std::string Address(std::uint32_t address);
std::string RangeText(const AddressRange& range);

// The summary as lines ("serial number    KV70-0012345", ...).
std::vector<std::string> SummaryLines(const LineSummary& summary);

// A device text as shown: printable ASCII as is, anything else as \xNN; "(not set)" for
// a field the device left unset.
std::string ShownText(const std::optional<std::string>& text);

}  // namespace velmora
