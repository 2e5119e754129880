// CKV70Device::UpdateSoftware: the whole software upgrade of a connected KV70.
#include "device/kv70_device.h"
#include "protocol/flashmon_commands.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {

// The monitor confirms the end of programming at once.
constexpr DWORD kProgramDoneWaitSeconds = 0;

}  // namespace

void CKV70Device::UpdateSoftware(LPCTSTR path) {
  SendStatus(&m_record, IDS_CONFIGURING_UPDATE);
  SendProgress(&m_record, 0);
  CheckSoftwareFile(path);
  // From here on program flash is being erased: a failure leaves it erased or partly
  // programmed, and only a new upgrade repairs it.
  EraseProgramFlash();
  CString updating;
  updating.LoadString(IDS_UPDATING_SOFTWARE);
  SendStatusText(&m_record, updating);
  CBDDevice::UpdateSoftware(path);
  m_link.RunStatusCommand(MON_PROGRAM_DONE, kProgramDoneWaitSeconds);
}
