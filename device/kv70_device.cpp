// CKV70Device: tables, capabilities and the connection sequence.
#include "device/kv70_device.h"

#include <iterator>

#include "device/kv70_tables.h"
#include "protocol/flashmon_commands.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "serial/serial_com.h"

namespace {

constexpr DWORD kResetBreakMs = 1000;
// Progress of the connection: after the ROM monitor answered, after the set-up, and the
// span of the monitor upload.
constexpr int kProgressContact = 5;
constexpr int kProgressSetUp = 15;
constexpr UINT kProgressUploadBase = 20;
constexpr UINT kProgressUploadSpan = 70;

constexpr DWORD kCapabilityInfo1 = 0x01;
constexpr DWORD kCapabilityInfo0 = 0x02;
constexpr WORD kAbsent = 0xFFFF;
constexpr WORD kInfo1Threshold = 246;
constexpr WORD kInfo0Threshold = 5;

}  // namespace

CKV70Device::CKV70Device(CSerialCom& port, RunRecord& record)
    : CBDDevice(port, record, &m_config), m_readOnly(0) {}

void CKV70Device::Reset() {
  m_port.SendBreak(kResetBreakMs);
}

DWORD CKV70Device::GetAddress(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(KV70_ADDRESSES))) return KV70_NO_ADDRESS;
  return KV70_ADDRESSES[index];
}

DWORD CKV70Device::GetCommandCode(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(KV70_COMMAND_CODES))) return KV70_NO_COMMAND;
  return KV70_COMMAND_CODES[index];
}

BOOL CKV70Device::HasCapability(DWORD flags) {
  const WORD info1 = m_config.Info1();
  const WORD info0 = m_config.Info0();
  if ((flags & kCapabilityInfo1) && info1 != kAbsent && info1 >= kInfo1Threshold) return TRUE;
  if ((flags & kCapabilityInfo0) && info0 != kAbsent && info0 >= kInfo0Threshold) return TRUE;
  return FALSE;
}

BOOL CKV70Device::SupportsFileSystemErase() {
  return TRUE;
}

void CKV70Device::Connect() {
  if (EstablishRomMonitor()) {
    SendProgress(&m_record, kProgressContact);
    CheckCancel(&m_record);
    SetUpChipSelects();
    SendProgress(&m_record, kProgressSetUp);
    CheckCancel(&m_record);
    SendProgress(&m_record, static_cast<int>(kProgressUploadBase));
    SwitchBaudRate();
    UploadMonitor(kProgressUploadBase, kProgressUploadSpan);
  } else {
    // No ROM monitor: a flash monitor may still run from an earlier connection.
    m_port.SetSpeed(CSerialCom::SPEED_38400);
    if (!m_link.Ping(GetCommandCode(kPingIndex))) ThrowDevice(DEVICE_NO_PING_ANSWER);
  }
  CheckCancel(&m_record);
  ReadConfigurationAndCheck();
  SendProgress(&m_record, 100);
  m_connected = 1;
}

void CKV70Device::ReadConfigurationAndCheck() {
  m_link.ReadConfiguration(m_config, MON_READ_CONFIG);
  if (!IsKnownKV70FlashType(m_config.FlashType())) ThrowDevice(DEVICE_UNKNOWN_FLASH_TYPE);
}
