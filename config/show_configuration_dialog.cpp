// CBDDevice::ShowConfigurationDialog lives beside the dialog it runs, so that the device
// classes need not know the dialog's classes.
#include "config/config_dialog.h"
#include "device/bd_device.h"

void CBDDevice::ShowConfigurationDialog() {
  // Owned by the host window: the run waits here until the user closes the dialog.
  CConfigDialog dialog(m_pConfig, CWnd::FromHandle(m_record.hostWindow));
  dialog.DoModal();
}
