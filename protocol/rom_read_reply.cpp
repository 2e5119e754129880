#include "protocol/rom_read_reply.h"

#include "protocol/rom_frame.h"

RomReadFeed CRomReadReplyReader::Feed(BYTE b) {
  switch (m_state) {
    case kHeader: {
      const BYTE header[4] = {ROM_STX, 0x00, ROM_READ_REPLY, m_count};
      if (b != header[m_headerIndex]) {
        m_state = kFailed;
        return RomReadFeed::Failed;
      }
      if (m_headerIndex > 0) m_sum = static_cast<BYTE>(m_sum + b);
      if (++m_headerIndex == 4) m_state = m_count == 0 ? kChecksum : kData;
      return RomReadFeed::NeedMore;
    }
    case kData:
      m_data.push_back(b);
      m_sum = static_cast<BYTE>(m_sum + b);
      if (m_data.size() == m_count) m_state = kChecksum;
      return RomReadFeed::NeedMore;
    case kChecksum:
      if (b != m_sum) {
        m_state = kFailed;
        return RomReadFeed::Failed;
      }
      m_state = kEnd;
      return RomReadFeed::NeedMore;
    case kEnd:
      if (b != ROM_ETX) return RomReadFeed::NeedMore;
      m_state = kDone;
      return RomReadFeed::Complete;
    case kDone:
      return RomReadFeed::Complete;
    case kFailed:
      return RomReadFeed::Failed;
  }
  return RomReadFeed::Failed;
}
