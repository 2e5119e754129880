#include "protocol/rom_frame.h"

#include <algorithm>
#include <cstring>

const char ROM_IDENT_READ_ONLY[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
const char ROM_IDENT_UPGRADE[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA";
static_assert(sizeof(ROM_IDENT_READ_ONLY) == ROM_IDENT_LENGTH + 1);
static_assert(sizeof(ROM_IDENT_UPGRADE) == ROM_IDENT_LENGTH + 1);

namespace {

void PutBigEndian32(std::vector<BYTE>& out, DWORD value) {
  out.push_back(static_cast<BYTE>(value >> 24));
  out.push_back(static_cast<BYTE>(value >> 16));
  out.push_back(static_cast<BYTE>(value >> 8));
  out.push_back(static_cast<BYTE>(value));
}

// Header, payload, checksum and 03 (and 00 00 for bulk requests).
std::vector<BYTE> Frame(BYTE type, const std::vector<BYTE>& payload, bool bulk) {
  std::vector<BYTE> f;
  f.reserve(ROM_HEADER_SIZE + payload.size() + 2 + ROM_BULK_TRAILER_SIZE);
  f.push_back(ROM_STX);
  f.push_back(0x00);
  f.push_back(type);
  f.push_back(static_cast<BYTE>(payload.size()));
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(RomChecksum(type, payload.data(), static_cast<DWORD>(payload.size())));
  f.push_back(ROM_ETX);
  if (bulk) f.insert(f.end(), ROM_BULK_TRAILER_SIZE, 0x00);
  return f;
}

}  // namespace

BYTE RomChecksum(BYTE type, const BYTE* payload, DWORD length) {
  unsigned sum = type + static_cast<BYTE>(length);
  for (DWORD i = 0; i < length; ++i) sum += payload[i];
  return static_cast<BYTE>(sum);
}

std::vector<BYTE> BuildRomIdentification(const char* text) {
  std::vector<BYTE> payload(ROM_IDENT_LENGTH, 0);
  std::memcpy(payload.data(), text, std::min<size_t>(std::strlen(text), ROM_IDENT_LENGTH));
  return Frame(ROM_IDENTIFY, payload, false);
}

std::vector<BYTE> BuildRomRead(DWORD address, BYTE count) {
  std::vector<BYTE> payload;
  PutBigEndian32(payload, address);
  payload.push_back(count);
  return Frame(ROM_READ, payload, true);
}

std::vector<BYTE> BuildRomWrite(DWORD address, const BYTE* data, DWORD count, bool bulk) {
  std::vector<BYTE> payload;
  payload.reserve(4 + count);
  PutBigEndian32(payload, address);
  payload.insert(payload.end(), data, data + count);
  return Frame(ROM_WRITE, payload, bulk);
}

std::vector<BYTE> BuildRomGo(DWORD address) {
  std::vector<BYTE> payload;
  PutBigEndian32(payload, address);
  return Frame(ROM_GO, payload, true);
}

std::vector<BYTE> RomTypedPayload(const void* data, DWORD count, UINT widthBits) {
  DWORD size = widthBits == 8 ? 1 : widthBits == 16 ? 2 : widthBits == 32 ? 4 : 0;
  if (size == 0 || count % size != 0) return {};
  const BYTE* in = static_cast<const BYTE*>(data);
  std::vector<BYTE> out;
  out.reserve(count);
  for (DWORD at = 0; at < count; at += size) {
    // Elements are host-order integers; read them as such and lay them out big-endian.
    DWORD value = 0;
    if (size == 1) {
      value = in[at];
    } else if (size == 2) {
      WORD w;
      std::memcpy(&w, in + at, 2);
      value = w;
    } else {
      std::memcpy(&value, in + at, 4);
    }
    for (DWORD k = size; k-- > 0;) out.push_back(static_cast<BYTE>(value >> (8 * k)));
  }
  return out;
}
