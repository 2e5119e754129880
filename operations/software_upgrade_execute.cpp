// The body of the software upgrade: connect to the KV70, load the chosen firmware file
// into its program flash, restart it.
#include "device/kv70_device.h"
#include "device/kv70_flash_check.h"
#include "operations/connected_run.h"
#include "operations/software_upgrade_operation.h"
#include "platform/window.h"
#include "reporting/failure_box.h"
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

  // The whole file before the port opens: a file the device could not be given exactly
  // costs neither a connection nor an erase.
  CheckSoftwareFileBeforeConnecting(*record, path);

  RunOnConnectedDevice(record, 0, EstablishingStatus::kOnce,
                       [&path](CKV70Device& device) { device.UpdateSoftware(path); });
  return true;
}
