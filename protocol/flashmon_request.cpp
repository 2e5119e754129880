#include "protocol/flashmon_request.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "protocol/mem_block.h"
#include "protocol/sector_list.h"

namespace {

void PutBigEndian32(BYTE* out, DWORD value) {
  out[0] = static_cast<BYTE>(value >> 24);
  out[1] = static_cast<BYTE>(value >> 16);
  out[2] = static_cast<BYTE>(value >> 8);
  out[3] = static_cast<BYTE>(value);
}

}  // namespace

CFlashMonRequest::CFlashMonRequest(BYTE command, const BYTE* data, WORD length)
    : m_frame(new BYTE[DWORD{length} + FM_FRAME_OVERHEAD]),
      m_frameLength(DWORD{length} + FM_FRAME_OVERHEAD),
      m_dataLength(length),
      m_checksum(0) {
  BYTE* f = m_frame.get();
  f[0] = FM_STX;
  f[1] = command;
  f[2] = static_cast<BYTE>(length >> 8);
  f[3] = static_cast<BYTE>(length);
  if (length > 0) std::memcpy(f + FM_HEADER_SIZE, data, length);
  WORD sum = 0;
  for (DWORD i = 1; i < FM_HEADER_SIZE + length; ++i) sum = static_cast<WORD>(sum + f[i]);
  m_checksum = sum;
  BYTE* tail = f + FM_HEADER_SIZE + length;
  tail[0] = static_cast<BYTE>(sum >> 8);
  tail[1] = static_cast<BYTE>(sum);
  tail[2] = FM_ETX;
  tail[3] = FM_TRAILER;
}

CFlashMonRequest CFlashMonRequest::Empty(BYTE command) {
  return CFlashMonRequest(command, nullptr, 0);
}

CFlashMonRequest CFlashMonRequest::SectorList(BYTE command, CSectorList& list) {
  std::vector<BYTE> payload(1 + FM_ADDRESS_SIZE * list.GetCount());
  payload[0] = list.GetCount();
  list.Rewind();
  DWORD address = 0;
  size_t at = 1;
  while (at < payload.size() && list.GetNext(address)) {
    PutBigEndian32(&payload[at], address);
    at += FM_ADDRESS_SIZE;
  }
  return CFlashMonRequest(command, payload.data(), static_cast<WORD>(payload.size()));
}

CFlashMonRequest CFlashMonRequest::AddressAndData(BYTE command, const CMemBlock& block) {
  // The payload length field is 16 bits: a block must leave room for its address.
  if (DWORD{block.GetCount()} + FM_ADDRESS_SIZE > 0xFFFF)
    throw std::length_error("flash-monitor block too long for one request");
  std::vector<BYTE> payload(FM_ADDRESS_SIZE + block.GetCount());
  PutBigEndian32(payload.data(), block.GetAddress());
  if (block.GetCount() > 0)
    std::memcpy(payload.data() + FM_ADDRESS_SIZE, block.GetData(), block.GetCount());
  return CFlashMonRequest(command, payload.data(), static_cast<WORD>(payload.size()));
}

CFlashMonRequest CFlashMonRequest::AddressAndCount(BYTE command, const CMemBlock& block) {
  BYTE payload[FM_READ_PAYLOAD_SIZE];
  PutBigEndian32(payload, block.GetAddress());
  payload[4] = static_cast<BYTE>(block.GetCount() >> 8);
  payload[5] = static_cast<BYTE>(block.GetCount());
  return CFlashMonRequest(command, payload, FM_READ_PAYLOAD_SIZE);
}
