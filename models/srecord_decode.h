// Decoding of one S-record text line into an SRecordLine, without any file I/O, so that
// the reader, the tests and the fuzzer share one decoder.
#pragma once
#include <array>
#include <cstddef>

#include "platform/winbase.h"
#include "reporting/failure_codes.h"

// A record carries at most 77 data bytes: a count of 0x52 with a four-byte address.
constexpr int SREC_MAX_DATA = 77;

// The flash-monitor failures a firmware file's records raise: a checksum that does not
// match, and everything else that is wrong with a record or the file.
constexpr int SREC_CHECKSUM_FAILURE = FLASHMON_SRECORD_CHECKSUM;
constexpr int SREC_FORMAT_FAILURE = FLASHMON_SRECORD_FORMAT;

// One decoded record. `length` bytes of `data` are valid.
struct SRecordLine {
  DWORD address = 0;
  BYTE length = 0;
  BYTE data[SREC_MAX_DATA] = {};
};

enum class SRecordResult {
  skip,    // not a record line; read on
  record,  // `line` and `type` hold a decoded record
  end,     // a record type that ends the reading (4, 6, above 9)
};

// Line layout (character positions, line end already removed):
//   0      'S'
//   1      type, one hex digit
//   2-3    byte count: address + data + checksum bytes
//   4...   address (2, 3 or 4 bytes by type), data, two characters per byte
//   last 2 checksum: ones' complement of the 8-bit sum of count, address and data
// Throws CFlashMonException 416 when the record announces 78 or more data bytes or is
// shorter than its count says, 415 when the checksum does not match.
SRecordResult DecodeSRecordLine(const char* text, std::size_t size, SRecordLine& line, BYTE& type);

// Hex digit values by character code; -1 for everything else. A table keeps the
// decoder free of branches on character classes, which matters for large files.
constexpr std::array<signed char, 256> MakeSRecordHexTable() {
  std::array<signed char, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<signed char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<signed char>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<signed char>(c - 'a' + 10);
  return table;
}
inline constexpr std::array<signed char, 256> SREC_HEX = MakeSRecordHexTable();

// Value of a hex digit, or -1.
inline int SRecordHexDigit(char ch) {
  return SREC_HEX[static_cast<unsigned char>(ch)];
}
// Two hex digits at text[0..1] as a byte, or -1 when either is not a hex digit.
inline int SRecordHexByte(const char* text) {
  const int hi = SREC_HEX[static_cast<unsigned char>(text[0])];
  const int lo = SREC_HEX[static_cast<unsigned char>(text[1])];
  return (hi | lo) < 0 ? -1 : (hi << 4) | lo;
}
