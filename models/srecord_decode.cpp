#include "models/srecord_decode.h"

#include <array>

#include "reporting/failures.h"

namespace {

// Offsets within a record line.
constexpr std::size_t kTypePos = 1;
constexpr std::size_t kCountPos = 2;
constexpr std::size_t kAddressPos = 4;

// Address bytes by record type; -1 marks the types that end the reading.
constexpr std::array<int, 16> kAddressSize = {0, 2, 3,  4,  -1, 0,  -1, 0,
                                              0, 0, -1, -1, -1, -1, -1, -1};

[[noreturn]] void Fail(int code) {
  throw new CFlashMonException(code);
}

}  // namespace

SRecordResult DecodeSRecordLine(const char* text, std::size_t size, SRecordLine& line, BYTE& type) {
  if (size < kAddressPos || text[0] != 'S') return SRecordResult::skip;
  const int count = SRecordHexByte(text + kCountPos);
  if (count < 0) return SRecordResult::skip;

  const int typeValue = SRecordHexDigit(text[kTypePos]);
  if (typeValue < 0 || kAddressSize[static_cast<std::size_t>(typeValue)] < 0) {
    // A type character that is no digit ends the reading like the types above 9.
    if (typeValue >= 0) type = static_cast<BYTE>(typeValue);
    return SRecordResult::end;
  }
  type = static_cast<BYTE>(typeValue);
  const int addressSize = kAddressSize[static_cast<std::size_t>(typeValue)];

  // Eight-bit arithmetic on purpose: a count smaller than the address wraps to a large
  // length and is refused below.
  const BYTE dataLength = static_cast<BYTE>(count - addressSize - 1);
  if (dataLength > SREC_MAX_DATA) Fail(SREC_FORMAT_FAILURE);
  // Every byte the count announces must be present; a short line would otherwise make
  // up data from whatever was decoded before.
  if (size < kAddressPos + 2 * static_cast<std::size_t>(count)) Fail(SREC_FORMAT_FAILURE);

  // A field that is not hexadecimal keeps the value it had.
  DWORD address = 0;
  bool addressParsed = true;
  for (int i = 0; i < addressSize; ++i) {
    const int b = SRecordHexByte(text + kAddressPos + 2 * i);
    if (b < 0) {
      addressParsed = false;
      break;
    }
    address = (address << 8) | static_cast<DWORD>(b);
  }
  line.address = addressParsed ? address : 0;

  unsigned sum = static_cast<unsigned>(count);
  int value = 0;
  const char* p = text + kAddressPos;
  for (int i = 0; i < addressSize; ++i, p += 2) {
    const int b = SRecordHexByte(p);
    if (b >= 0) value = b;
    sum += static_cast<unsigned>(value);
  }
  for (int i = 0; i < dataLength; ++i, p += 2) {
    const int b = SRecordHexByte(p);
    if (b >= 0) value = b;
    sum += static_cast<unsigned>(value);
    line.data[i] = static_cast<BYTE>(value);
  }
  line.length = dataLength;

  // An unreadable checksum never matches.
  const int checksum = SRecordHexByte(text + size - 2);
  if (checksum != static_cast<int>(~sum & 0xFFu)) Fail(SREC_CHECKSUM_FAILURE);
  return SRecordResult::record;
}
