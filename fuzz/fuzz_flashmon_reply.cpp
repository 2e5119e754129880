// The flash-monitor reply reader on arbitrary byte streams. The first input byte is the
// command the reader waits for; the rest is the line. Every frame the reader reports
// complete is checked against the bytes it was fed: STX, the expected command, the
// length, the data, a checksum that adds up, ETX, all where they must be. Midway, a
// reset (as the link does between requests) must leave no trace of the earlier frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/flashmon_reply_reader.h"
#include "protocol/flashmon_request.h"

namespace {

// Checks a frame reported complete at data[end] (its ETX) against the stream itself.
void CheckFrame(const CFlashMonReplyReader& reader, const std::uint8_t* data, std::size_t end,
                std::size_t frameStart) {
  const std::size_t length = reader.GetDataLength();
  if (length > FM_MAX_REPLY_DATA) std::abort();
  // STX cmd lenH lenL data... sumH sumL ETX
  const std::size_t frameSize = length + 7;
  if (end + 1 < frameSize || end + 1 - frameSize < frameStart) std::abort();
  const std::uint8_t* frame = data + end + 1 - frameSize;
  if (frame[0] != FM_STX || frame[1] != reader.GetExpectedCommand()) std::abort();
  if (((frame[2] << 8) | frame[3]) != static_cast<int>(length)) std::abort();
  if (data[end] != FM_ETX) std::abort();
  unsigned sum = frame[1] + frame[2] + frame[3];
  for (std::size_t i = 0; i < length; ++i) sum += frame[4 + i];
  if ((sum & 0xFFFF) != static_cast<unsigned>((frame[4 + length] << 8) | frame[5 + length]))
    std::abort();
  if (length == 0) return;
  if (reader.GetData() == nullptr || std::memcmp(reader.GetData(), frame + 4, length) != 0)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  CFlashMonReplyReader reader(data[0]);
  // The second byte places a reset somewhere in the stream (never, when past its end).
  const std::size_t resetAt = 2 + static_cast<std::size_t>(data[1]) * 8;
  std::size_t frameStart = 2;  // a frame may not reach back before the last reset
  for (std::size_t i = 2; i < size; ++i) {
    if (i == resetAt) {
      reader.Reset();
      frameStart = i;
    }
    if (reader.Feed(data[i]) == ReplyFeed::Complete) CheckFrame(reader, data, i, frameStart);
  }
  return 0;
}
