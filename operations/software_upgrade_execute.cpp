// The body of the software upgrade: connect to the KV70, load the chosen firmware file
// into its program flash, restart it.
#include "device/kv70_device.h"
#include "device/kv70_flash_check.h"
#include "models/srecord_file.h"
#include "operations/connected_run.h"
#include "operations/software_upgrade_operation.h"
#include "platform/window.h"
#include "reporting/failure_box.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

bool CSoftwareUpgradeOperation::Execute(RunRecord* record) {
  CString caption;
  caption.LoadString(IDS_UPGRADE_CAPTION);
  platform::SetWindowText(record->hostWindow, caption);

  // The page refuses Next without a choice, but a host may run the operation without
  // showing it: say so and end as cancelled before the device is touched.
  const CString path = m_selectionPage.GetSelectedPath();
  if (path.IsEmpty()) {
    CString message;
    message.LoadString(IDS_NO_SELECTION);
    ShowFailureMessage(message, record->hostWindow);
    AfxThrowUserException();
  }

  // Read once, here, and kept to the end of the run: what is checked is what is
  // programmed, and the file stays open, so the catalogue does not delete or replace it
  // under the run.
  CSRecordFile file(path);
  OpenSoftwareFile(*record, file);
  // The whole file before the port opens: a file the device could not be given exactly
  // costs neither a connection nor an erase.
  if (CheckSoftwareFileBeforeConnecting(file).completenessUnknown) {
    CString note;
    note.Format(IDS_SREC_COMPLETENESS_UNKNOWN, path.GetString());
    SendStatusText(record, note);
  }

  RunOnConnectedDevice(record, 0, EstablishingStatus::kOnce,
                       [&file](CKV70Device& device) { device.UpdateSoftware(file); });
  return true;
}
