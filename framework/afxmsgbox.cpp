// The framework's message box: no owner, the application's name as caption.
#include "framework/afx.h"

int AfxMessageBox(LPCTSTR text, UINT type, UINT /*helpId*/) {
  return platform::MessageBox(nullptr, text ? text : "", AfxGetAppName(), type);
}

int AfxMessageBox(UINT promptId, UINT type, UINT helpId) {
  CString prompt;
  prompt.LoadString(promptId);
  return AfxMessageBox(prompt.GetString(), type, helpId);
}
