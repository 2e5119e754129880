// CBDDevice: monitor upload and restart.
#include "device/bd_device.h"

#include <algorithm>
#include <cstring>

#include "device/kv70_tables.h"
#include "platform/clock.h"
#include "protocol/rom_frame.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/periodic_progress.h"
#include "reporting/reporting.h"
#include "resources/monitor_image.h"
#include "serial/serial_com.h"

namespace {

constexpr UINT kChunkAttempts = 15;
// A chunk is written and read back at most this many times plus one.
constexpr int kChunkRetries = 5;
// Progress and cancellation once every this many chunks, from the first on.
constexpr DWORD kChunksPerReport = 4;
constexpr int kStartTries = 5;
constexpr std::uint32_t kMonitorStartMs = 2000;
constexpr std::uint32_t kRestartMs = 5000;
constexpr DWORD kRestartBreakMs = 1000;

}  // namespace

CBDDevice::CBDDevice(CSerialCom& port, RunRecord& record, CDeviceConfig* config)
    : CDevice(port, record), m_pConfig(config), m_monitorImage(kFlashMonitorImage) {}

void CBDDevice::ThrowBD(int code) const {
  throw new BDException(code, m_record.comPort);
}

void CBDDevice::UploadMonitor(UINT progressBase, UINT progressSpan) {
  const DWORD total = kFlashMonitorImageSize;
  const DWORD entry = GetAddress(kMonitorAddressIndex);
  DWORD remaining = total;
  DWORD address = entry;
  DWORD offset = 0;
  CPeriodicProgress progress(m_record, kChunksPerReport, CPeriodicProgress::FROM_FIRST_ITEM,
                             CPeriodicProgress::CANCEL_THEN_PROGRESS);
  while (remaining > 0) {
    progress.Step([&] {
      return static_cast<int>(progressBase + (total - remaining) * progressSpan / total);
    });
    const UINT chunk = std::min<DWORD>(remaining, ROM_MAX_BULK);
    for (int tries = 0;; ++tries) {
      BYTE readBack[ROM_MAX_BULK];
      try {
        RomWriteMemory(address, m_monitorImage + offset, chunk, kChunkAttempts);
        std::memset(readBack, 0, sizeof readBack);
        RomReadMemory(address, readBack, chunk, kChunkAttempts);
      } catch (DeviceException* e) {
        e->Delete();
        ThrowBD(BD_MONITOR_UPLOAD_FAILED);
      }
      if (std::memcmp(readBack, m_monitorImage + offset, chunk) == 0) break;
      if (tries == kChunkRetries) ThrowBD(BD_MONITOR_UPLOAD_FAILED);
    }
    offset += chunk;
    address += chunk;
    remaining -= chunk;
  }

  bool started = false;
  for (int tries = 0; tries < kStartTries && !started; ++tries) {
    try {
      RomGo(entry);
      started = true;
    } catch (DeviceException* e) {
      e->Delete();
    }
  }
  if (!started) ThrowBD(BD_MONITOR_NOT_STARTED);

  platform::GetClock().SleepMs(kMonitorStartMs);
  if (!m_link.Ping(GetCommandCode(kPingIndex))) ThrowBD(BD_MONITOR_NO_PING_ANSWER);
  SendProgress(&m_record, 100);
}

void CBDDevice::RebootDevice() {
  m_connected = 0;
  m_link.Reboot(GetCommandCode(kRebootIndex));
  platform::GetClock().SleepMs(kRestartMs);
  m_port.SendBreak(kRestartBreakMs);
}

void CBDDevice::ShowConfigurationDialog() {
  if (m_configViewer) m_configViewer(m_pConfig, m_record.hostWindow);
}
