// CDevice: the ROM monitor's frame-level commands.
#include <cstring>
#include <vector>

#include "device/device.h"
#include "device/rom_routines.h"
#include "platform/clock.h"
#include "protocol/rom_frame.h"
#include "protocol/rom_read_reply.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "serial/serial_com.h"

namespace {

constexpr int kProbeAttempts = 5;
constexpr std::uint32_t kProbeRetryMs = 200;
constexpr int kTypedAttempts = 6;
constexpr std::uint32_t kTypedRetryMs = 50;
// A read answer is at most 7 + 251 bytes; a line that keeps sending without ever
// closing the answer fails the attempt after this many bytes instead of holding it.
constexpr UINT kMaxReadAnswerBytes = 1024;

}  // namespace

CDevice::CDevice(CSerialCom& port, RunRecord& record)
    : m_port(port), m_link(port, record), m_record(record), m_connected(0) {}

void CDevice::ThrowDevice(int code) const {
  throw new DeviceException(code, m_record.comPort);
}

BOOL CDevice::ReadAcknowledgement() {
  BYTE b = 0;
  return m_port.ReadByte(&b) && b == ROM_ACK;
}

BOOL CDevice::RomProbe() {
  m_port.SetSpeed(CSerialCom::SPEED_9600);
  m_port.SetParity(CSerialCom::PARITY_NONE);
  m_port.SetByteSize(CSerialCom::BYTE_SIZE_8);
  m_port.SetStopBits(CSerialCom::STOP_BITS_1);
  for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
    m_port.Purge(TRUE, TRUE);
    int answered = 0;
    m_port.Write(ROM_PROBE, sizeof ROM_PROBE);
    if (ReadAcknowledgement()) {
      ++answered;
      m_port.Write(ROM_PROBE, sizeof ROM_PROBE);
      if (ReadAcknowledgement()) ++answered;
    }
    if (answered == 2) return TRUE;
    CheckCancel(&m_record);
    platform::GetClock().SleepMs(kProbeRetryMs);
  }
  return FALSE;
}

void CDevice::RomWriteMemory(DWORD address, const BYTE* data, UINT count, UINT attempts) {
  // The payload length is one byte: more than 251 data bytes cannot be framed.
  if (count > ROM_MAX_BULK) ThrowDevice(DEVICE_ROM_WRITE_FAILED);
  const std::vector<BYTE> frame = BuildRomWrite(address, data, count, true);
  while (attempts > 0) {
    m_port.Purge(FALSE, TRUE);
    m_port.Write(frame.data(), static_cast<DWORD>(frame.size()));
    if (ReadAcknowledgement()) return;
    --attempts;
  }
  ThrowDevice(DEVICE_ROM_WRITE_FAILED);
}

void CDevice::RomWriteTyped(DWORD address, const void* data, UINT count, UINT widthBits) {
  if (count == 0) return;
  const std::vector<BYTE> payload = RomTypedPayload(data, count, widthBits);
  if (payload.empty() || count > ROM_MAX_TYPED) ThrowDevice(DEVICE_ROM_TYPED_WRITE_FAILED);
  const std::vector<BYTE> frame = BuildRomWrite(address, payload.data(), count, false);
  for (int attempt = 0; attempt < kTypedAttempts; ++attempt) {
    m_port.Write(frame.data(), static_cast<DWORD>(frame.size()));
    if (ReadAcknowledgement()) return;
    m_port.Purge(TRUE, TRUE);
    platform::GetClock().SleepMs(kTypedRetryMs);
  }
  ThrowDevice(DEVICE_ROM_TYPED_WRITE_FAILED);
}

void CDevice::RomGo(DWORD address) {
  const std::vector<BYTE> frame = BuildRomGo(address);
  m_port.Purge(FALSE, TRUE);
  m_port.Write(frame.data(), static_cast<DWORD>(frame.size()));
  if (!ReadAcknowledgement()) ThrowDevice(DEVICE_ROM_GO_FAILED);
}

void CDevice::RomReadMemory(DWORD address, BYTE* buffer, UINT count, UINT attempts) {
  if (count > ROM_MAX_BULK) ThrowDevice(DEVICE_ROM_READ_FAILED);
  const std::vector<BYTE> frame = BuildRomRead(address, static_cast<BYTE>(count));
  while (attempts > 0) {
    --attempts;
    m_port.Purge(TRUE, TRUE);
    m_port.Write(frame.data(), static_cast<DWORD>(frame.size()));
    CRomReadReplyReader reader(static_cast<BYTE>(count));
    for (UINT taken = 0; taken < kMaxReadAnswerBytes; ++taken) {
      BYTE b = 0;
      if (!m_port.ReadByte(&b)) break;
      const RomReadFeed result = reader.Feed(b);
      if (result == RomReadFeed::Failed) break;
      if (result == RomReadFeed::Complete) {
        if (count > 0) std::memcpy(buffer, reader.GetData().data(), count);
        return;
      }
    }
  }
  ThrowDevice(DEVICE_ROM_READ_FAILED);
}

void CDevice::RomWriteWord(DWORD address, WORD value) {
  const WORD routine[ROM_WORD_ROUTINE_WORDS] = {
      value,
      0x207C,
      static_cast<WORD>(address >> 16),
      static_cast<WORD>(address),
      0x227C,
      0x0000,
      static_cast<WORD>(ROM_WORD_ROUTINE_ADDRESS),
      0x3091,
      0x4E75,
  };
  RomWriteTyped(ROM_WORD_ROUTINE_ADDRESS, routine, sizeof routine, 16);
  RomGo(ROM_WORD_ROUTINE_ENTRY);
}
