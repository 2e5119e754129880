// Reader of the ROM monitor's 0x92 answer to a read request, fed one byte at a time.
#pragma once
#include <vector>

#include "platform/winbase.h"

// Read answer, device to PC:
//   02, 00, 92, n      each compared with the expected byte
//   n data bytes
//   checksum           8-bit sum of 00, 92, n and the data
//   bytes up to 0x03   anything before the 0x03 is ignored
// A mismatch in the header or the checksum fails the answer; the caller retries.

enum class RomReadFeed { NeedMore, Complete, Failed };

class CRomReadReplyReader {
 public:
  explicit CRomReadReplyReader(BYTE count) : m_count(count) { m_data.reserve(count); }
  RomReadFeed Feed(BYTE b);
  const std::vector<BYTE>& GetData() const { return m_data; }

 private:
  enum State { kHeader, kData, kChecksum, kEnd, kDone, kFailed };
  BYTE m_count;
  State m_state = kHeader;
  unsigned m_headerIndex = 0;
  BYTE m_sum = 0;
  std::vector<BYTE> m_data;
};
