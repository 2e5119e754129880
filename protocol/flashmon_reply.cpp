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
  // Once a frame's length is in, the port hears how much more is coming, so that a
  // network port can wait for the body whole instead of waking for every piece.
  bool told = false;
  BOOL complete = FALSE;
  for (DWORD taken = 0; taken < kMaxBytesPerRead; ++taken) {
    BYTE b = 0;
    if (!port.ReadByte(&b)) break;
    const ReplyFeed fed = m_reader.Feed(b);
    if (fed == ReplyFeed::Complete) {
      complete = TRUE;
      break;
    }
    if (fed == ReplyFeed::Resync && told) {
      port.ExpectBytes(0);
      told = false;
    } else if (!told && m_reader.Remaining() > 1) {
      port.ExpectBytes(m_reader.Remaining());
      told = true;
    }
  }
  if (told && !complete) port.ExpectBytes(0);
  if (!complete) m_reader.Reset();
  return complete;
}

BOOL CFlashMonReply::GetFirstByte(BYTE& value) const {
  if (GetDataLength() == 0 || GetData() == nullptr) return FALSE;
  value = GetData()[0];
  return TRUE;
}
