#include "reporting/failure_box.h"

#include "framework/afx.h"
#include "platform/msgbox.h"
#include "resources/resource.h"

namespace {

constexpr UINT kFailureBoxStyle = MB_SETFOREGROUND | MB_ICONEXCLAMATION;  // 0x00010030

CString& FailureBoxVersion() {
  static CString version;
  return version;
}

}  // namespace

void ShowFailureBox(const char* version, const char* text, HWND owner, const char* caption) {
  CString message;
  message.Format(IDS_FAILURE_BOX, version ? version : "", text ? text : "");
  platform::MessageBox(owner, message, caption, kFailureBoxStyle);
}

void SetFailureBoxVersion(const char* version) {
  FailureBoxVersion() = version ? version : "";
}

void ShowFailureMessage(const char* text, HWND owner) {
  ShowFailureBox(FailureBoxVersion(), text, owner, AfxGetAppName());
}
