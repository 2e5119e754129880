#include "protocol/flashmon_reply.h"

#include "protocol/flashmon_request.h"
#include "serial/serial_com.h"

namespace {

// A line that babbles without ever completing a frame would otherwise hold the reader
// forever, out of reach of the user's cancel: after this many bytes without a good frame
// the read counts as having found no reply (eight of the longest frames a monitor sends).
constexpr DWORD kMaxBytesPerRead = 8 * (FM_MAX_REPLY_DATA + 7);

}  // namespace

BOOL CFlashMonReply::Read(CSerialCom& port) {
  m_reader.Reset();
  for (DWORD taken = 0; taken < kMaxBytesPerRead; ++taken) {
    BYTE b = 0;
    if (!port.ReadByte(&b)) break;
    if (m_reader.Feed(b) == ReplyFeed::Complete) return TRUE;
  }
  m_reader.Reset();
  return FALSE;
}

BOOL CFlashMonReply::GetFirstByte(BYTE& value) const {
  if (GetDataLength() == 0 || GetData() == nullptr) return FALSE;
  value = GetData()[0];
  return TRUE;
}
