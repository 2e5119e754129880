#include "ui/config_dialog.h"

void ShowConfigurationDialog(CDeviceConfig* config, HWND owner) {
  // Owned by the host window: the run waits here until the user closes the dialog.
  CConfigDialog dialog(config, CWnd::FromHandle(owner));
  dialog.DoModal();
}
