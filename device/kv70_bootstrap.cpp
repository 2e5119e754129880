// CKV70Device: answering the boot ROM, the register set-up and the speed switch.
#include <vector>

#include "device/kv70_device.h"
#include "device/rom_routines.h"
#include "framework/afx.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "protocol/rom_frame.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

namespace {

// Looks without a break before the boot ROM counts as done signalling (about 12.5 s).
constexpr int kIdleLooks = 50;
constexpr std::uint32_t kLookIntervalMs = 250;
constexpr std::uint32_t kBeforeProbeMs = 1000;
constexpr UINT kCheckDisplayStyle = MB_ICONEXCLAMATION | MB_SETFOREGROUND;  // 0x00010030
constexpr UINT kSpeedRoutineAttempts = 15;

}  // namespace

void CKV70Device::SendIdentification() {
  const std::vector<BYTE> frame =
      BuildRomIdentification(m_readOnly ? ROM_IDENT_READ_ONLY : ROM_IDENT_UPGRADE);
  m_port.Write(frame.data(), static_cast<DWORD>(frame.size()));
}

BOOL CKV70Device::EstablishRomMonitor() {
  int idle = 0;
  int identifications = 0;
  while (idle < kIdleLooks) {
    if (m_port.BreakDetected()) {
      SendIdentification();
      ++identifications;
      idle = 0;
      if (m_readOnly) break;
      if (identifications >= 2) {
        // The device restarted again after our answer: the user should look at it.
        CString text;
        text.LoadString(IDS_CHECK_DISPLAY);
        ShowRunMessage(&m_record, text, kCheckDisplayStyle);
        m_port.ClearErrors();
      }
    } else {
      CheckCancel(&m_record);
      platform::GetClock().SleepMs(kLookIntervalMs);
      ++idle;
    }
  }
  platform::GetClock().SleepMs(kBeforeProbeMs);
  return RomProbe();
}

void CKV70Device::RomWriteByte(DWORD address, BYTE value) {
  RomWriteTyped(address, &value, 1, 8);
}

void CKV70Device::RomWriteLongs(DWORD firstRegister, DWORD secondRegister, DWORD firstValue,
                                DWORD secondValue) {
  RomWriteTyped(secondRegister, &secondValue, 4, 32);
  RomWriteTyped(firstRegister, &firstValue, 4, 32);
}

void CKV70Device::SetUpChipSelects() {
  try {
    for (const RegisterWord& w : KV70_SETUP_WORDS_FIRST) RomWriteWord(w.address, w.value);
    for (const RegisterByte& b : KV70_SETUP_BYTES) RomWriteByte(b.address, b.value);
    for (const ChipSelectRow& row : KV70_CHIP_SELECTS) {
      if (row.enabled)
        RomWriteLongs(row.firstRegister, row.secondRegister, row.firstValue, row.secondValue);
    }
    for (const RegisterWord& w : KV70_SETUP_WORDS_LAST) RomWriteWord(w.address, w.value);
  } catch (DeviceException* e) {
    e->Delete();
    ThrowDevice(DEVICE_SETUP_FAILED);
  }
}

void CKV70Device::SwitchBaudRate() {
  try {
    RomWriteMemory(ROM_SPEED_ROUTINE_ADDRESS, ROM_SPEED_ROUTINE, sizeof ROM_SPEED_ROUTINE,
                   kSpeedRoutineAttempts);
  } catch (DeviceException* e) {
    e->Delete();
    ThrowDevice(DEVICE_SPEED_ROUTINE_NOT_WRITTEN);
  }
  try {
    RomGo(ROM_SPEED_ROUTINE_ADDRESS);
  } catch (DeviceException* e) {
    e->Delete();
    ThrowDevice(DEVICE_SPEED_ROUTINE_NOT_STARTED);
  }
  m_port.SetSpeed(CSerialCom::SPEED_38400);
}
