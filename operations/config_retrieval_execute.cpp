// The body of the configuration retrieval: connect read-only, show the record, restart.
#include "device/kv70_device.h"
#include "framework/afxwin.h"
#include "operations/config_retrieval_operation.h"
#include "operations/connected_run.h"
#include "resources/resource.h"
#include "ui/config_dialog.h"

bool CConfigRetrievalOperation::Execute(RunRecord* record) {
  CString caption;
  caption.LoadString(IDS_CONFIG_CAPTION);
  if (CWnd* host = CWnd::FromHandle(record->hostWindow)) host->SetWindowText(caption);

  RunOnConnectedDevice(record, 1, EstablishingStatus::kAgainBeforeConnect, [](CKV70Device& device) {
    // The device waits in its flash monitor while the user reads the dialog.
    device.SetConfigurationViewer(&ShowConfigurationDialog);
    device.ShowConfigurationDialog();
  });
  return true;
}
