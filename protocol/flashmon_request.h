// One flash-monitor request frame, built once and sent unchanged on every attempt.
#pragma once
#include <memory>

#include "platform/winbase.h"

class CSectorList;
class CMemBlock;

// Request frame, PC to monitor (numbers big-endian):
//   offset 0      STX 0x02
//   offset 1      command code
//   offset 2..3   data length n
//   offset 4      n data bytes
//   offset 4+n    checksum, 2 bytes: 16-bit wrapping sum of offsets 1 .. 3+n
//   offset 6+n    ETX 0x03
//   offset 7+n    0x00
// A reply has the same layout without the trailing 0x00.
constexpr BYTE FM_STX = 0x02;
constexpr BYTE FM_ETX = 0x03;
constexpr BYTE FM_TRAILER = 0x00;
constexpr DWORD FM_HEADER_SIZE = 4;
constexpr DWORD FM_FRAME_OVERHEAD = 8;  // header, checksum, ETX, trailer
constexpr WORD FM_MAX_REPLY_DATA = 0x400;

// Payloads:
//   sector list        count N (1 byte), then N addresses of 4 bytes       n = 4N + 1
//   address and data   address (4 bytes), then the block's bytes           n = count + 4
//   address and count  address (4 bytes), byte count (2 bytes)             n = 6
constexpr DWORD FM_ADDRESS_SIZE = 4;
constexpr DWORD FM_READ_PAYLOAD_SIZE = 6;

class CFlashMonRequest {
 public:
  // A frame with the given payload (null with length 0 for an empty request).
  CFlashMonRequest(BYTE command, const BYTE* data, WORD length);

  static CFlashMonRequest Empty(BYTE command);
  // Takes every address in insertion order (rewinds the list's cursor).
  static CFlashMonRequest SectorList(BYTE command, CSectorList& list);
  static CFlashMonRequest AddressAndData(BYTE command, const CMemBlock& block);
  static CFlashMonRequest AddressAndCount(BYTE command, const CMemBlock& block);

  const BYTE* GetFrame() const { return m_frame.get(); }
  DWORD GetFrameLength() const { return m_frameLength; }
  WORD GetDataLength() const { return m_dataLength; }
  WORD GetChecksum() const { return m_checksum; }

 private:
  std::unique_ptr<BYTE[]> m_frame;
  DWORD m_frameLength;
  WORD m_dataLength;
  WORD m_checksum;
};
