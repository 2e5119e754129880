// The ROM monitor's read-answer reader on arbitrary byte streams. The first input byte is
// the count asked for; the rest is the line. A complete answer must hold exactly that
// many bytes, come from a header that matched and a checksum that adds up, and the
// reader must stay in its final state once it got there.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/rom_frame.h"
#include "protocol/rom_read_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const BYTE count = data[0];
  CRomReadReplyReader reader(count);
  RomReadFeed final = RomReadFeed::NeedMore;
  std::size_t finalAt = 0;
  for (std::size_t i = 1; i < size; ++i) {
    const RomReadFeed result = reader.Feed(data[i]);
    if (final != RomReadFeed::NeedMore) {
      if (result != final) std::abort();  // an ended answer does not change its mind
      continue;
    }
    if (result == RomReadFeed::NeedMore) continue;
    final = result;
    finalAt = i;
  }
  if (final != RomReadFeed::Complete) return 0;

  // 02 00 92 n, n data bytes, checksum, anything, 03 (at finalAt).
  const std::uint8_t* line = data + 1;
  const std::size_t lineSize = finalAt;  // bytes up to and including the 03
  if (lineSize < 4u + count + 2u) std::abort();
  if (line[0] != ROM_STX || line[1] != 0x00 || line[2] != ROM_READ_REPLY || line[3] != count)
    std::abort();
  if (data[finalAt] != ROM_ETX) std::abort();
  const std::vector<BYTE>& got = reader.GetData();
  if (got.size() != count || (count && std::memcmp(got.data(), line + 4, count) != 0)) std::abort();
  BYTE sum = static_cast<BYTE>(line[1] + line[2] + line[3]);
  for (BYTE b : got) sum = static_cast<BYTE>(sum + b);
  if (line[4 + count] != sum) std::abort();
  return 0;
}
