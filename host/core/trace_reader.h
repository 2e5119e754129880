// Reading a wire trace file back (the format wire_trace.h writes) into a LineDecoder.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/core/line_decoder.h"

namespace velmora {

// Feeds one line of a trace (without its line end) to `decoder`; false when the line is
// not one a trace holds (the decoder is then left as it was).
bool FeedTraceLine(std::string_view line, LineDecoder& decoder);

// Feeds every line of the file at `path`, then finishes the decoder. Lines that are not
// a trace's go to `onBadLine` (1-based number and text), if given. False, with `error`
// saying why, when the file cannot be read; a trace cut short mid-line is read as far as
// it goes.
bool FeedTraceFile(const std::string& path, LineDecoder& decoder, std::string& error,
                   const std::function<void(std::uint64_t, std::string_view)>& onBadLine = {});

}  // namespace velmora
