#include "protocol/flashmon_reply_reader.h"

#include "protocol/flashmon_request.h"

void CFlashMonReplyReader::Reset() {
  m_state = kHunt;
  m_length = 0;
  m_index = 0;
  m_checksum = 0;
  m_received = 0;
  m_data.clear();
}

ReplyFeed CFlashMonReplyReader::Resync() {
  // The failing byte is not looked at again as a possible STX.
  Reset();
  return ReplyFeed::Resync;
}

DWORD CFlashMonReplyReader::Remaining() const {
  switch (m_state) {
    case kData:
      return static_cast<DWORD>(m_length - m_index) + 3;
    case kSumHigh:
      return 3;
    case kSumLow:
      return 2;
    case kEnd:
      return 1;
    default:
      return 0;
  }
}

ReplyFeed CFlashMonReplyReader::Feed(BYTE b) {
  switch (m_state) {
    case kHunt:
      if (b == FM_STX) {
        Reset();
        m_state = kCommand;
      }
      return ReplyFeed::NeedMore;
    case kCommand:
      if (b != m_expected) return Resync();
      m_checksum = b;
      m_state = kLengthHigh;
      return ReplyFeed::NeedMore;
    case kLengthHigh:
      m_checksum = static_cast<WORD>(m_checksum + b);
      m_length = static_cast<WORD>(b << 8);
      m_state = kLengthLow;
      return ReplyFeed::NeedMore;
    case kLengthLow:
      m_checksum = static_cast<WORD>(m_checksum + b);
      m_length = static_cast<WORD>(m_length + b);
      if (m_length == 0) {
        m_state = kSumHigh;
      } else if (m_length > FM_MAX_REPLY_DATA) {
        return Resync();
      } else {
        m_data.assign(m_length, 0);
        m_index = 0;
        m_state = kData;
      }
      return ReplyFeed::NeedMore;
    case kData:
      m_data[m_index++] = b;
      m_checksum = static_cast<WORD>(m_checksum + b);
      if (m_index == m_length) m_state = kSumHigh;
      return ReplyFeed::NeedMore;
    case kSumHigh:
      m_received = static_cast<WORD>(b << 8);
      m_state = kSumLow;
      return ReplyFeed::NeedMore;
    case kSumLow:
      m_received = static_cast<WORD>(m_received + b);
      if (m_received != m_checksum) return Resync();
      m_state = kEnd;
      return ReplyFeed::NeedMore;
    case kEnd:
      if (b != FM_ETX) return Resync();
      m_state = kHunt;
      return ReplyFeed::Complete;
  }
  return Resync();
}
