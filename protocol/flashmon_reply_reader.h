// The flash-monitor reply reader: a state machine fed one byte at a time. It does no I/O,
// so byte streams can be split, garbled and interleaved in tests without a port.
#pragma once
#include <vector>

#include "platform/winbase.h"

// Reply frame, monitor to PC (numbers big-endian):
//   STX 0x02, command code, data length (2 bytes, at most 0x400), data,
//   checksum (2 bytes: 16-bit wrapping sum of command, length bytes and data), ETX 0x03.
// Frames for another command, with a bad checksum, announcing more than 0x400 bytes or
// without their ETX are skipped; the reader then hunts for the next STX.

enum class ReplyFeed {
  NeedMore,  // the byte was taken; the frame is not complete yet
  Complete,  // a whole frame for the expected command arrived
  Resync,    // the byte failed a check; the reader went back to hunting for STX
};

class CFlashMonReplyReader {
 public:
  explicit CFlashMonReplyReader(BYTE expectedCommand) : m_expected(expectedCommand) {}

  // Back to hunting; drops the data of an earlier or partial frame.
  void Reset();
  ReplyFeed Feed(BYTE b);

  BYTE GetExpectedCommand() const { return m_expected; }
  // Valid after Complete until the next Reset.
  WORD GetDataLength() const { return m_length; }
  const BYTE* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
  // Once a frame's length is known: the bytes still to come up to its ETX; else 0.
  DWORD Remaining() const;

 private:
  enum State { kHunt, kCommand, kLengthHigh, kLengthLow, kData, kSumHigh, kSumLow, kEnd };
  ReplyFeed Resync();

  BYTE m_expected;
  State m_state = kHunt;
  WORD m_length = 0;
  WORD m_index = 0;
  WORD m_checksum = 0;
  WORD m_received = 0;
  std::vector<BYTE> m_data;
};
