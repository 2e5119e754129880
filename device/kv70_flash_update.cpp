// CKV70Device::UpdateSoftware: the whole software upgrade of a connected KV70.
#include "device/kv70_device.h"
#include "device/kv70_flash_check.h"
#include "models/srecord_file.h"
#include "protocol/flashmon_commands.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {

// The monitor confirms the end of programming at once.
constexpr DWORD kProgramDoneWaitSeconds = 0;

}  // namespace

void CKV70Device::UpdateSoftware(LPCTSTR path) {
  CSRecordFile file(path ? path : "");
  OpenSoftwareFile(m_record, file);
  UpdateSoftware(file);
}

void CKV70Device::UpdateSoftware(CSRecordFile& file) {
  SendStatus(&m_record, IDS_CONFIGURING_UPDATE);
  SendProgress(&m_record, 0);
  if (!file.IsContentKept()) OpenSoftwareFile(m_record, file);
  CheckSoftwareFile(file);
  // From here on program flash is being erased: a failure leaves it erased or partly
  // programmed, and only a new upgrade repairs it.
  EraseProgramFlash();
  // The erase takes minutes. What is programmed is the content checked before it, but a
  // file that someone changed meanwhile is not what the user chose to load any more.
  ThrowIfSoftwareFileChanged(file);
  CString updating;
  updating.LoadString(IDS_UPDATING_SOFTWARE);
  SendStatusText(&m_record, updating);
  ProgramSoftwareFile(file);
  // Only a file that stayed as checked to the end is confirmed as programmed.
  ThrowIfSoftwareFileChanged(file);
  m_link.RunStatusCommand(MON_PROGRAM_DONE, kProgramDoneWaitSeconds);
}
