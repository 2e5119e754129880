#include "reporting/reporting.h"

#include <cstring>
#include <memory>

#include "framework/afx.h"
#include "platform/msgbox.h"
#include "platform/sync.h"
#include "platform/window.h"

void SendStatus(const RunRecord* record, UINT stringId) {
  CString text;
  text.LoadString(stringId);
  SendStatusText(record, text);
}

void SendStatusText(const RunRecord* record, const char* text) {
  if (!text) text = "";
  // The host may look at the text only while it handles the message; the copy is ours
  // and goes when the send returns.
  const std::size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), text, length + 1);
  platform::SendMessage(record->hostWindow, WM_OPERATION_STATUS, 0,
                        reinterpret_cast<LPARAM>(copy.get()));
}

void SendProgress(const RunRecord* record, int position) {
  platform::SendMessage(record->hostWindow, WM_OPERATION_PROGRESS, 0,
                        static_cast<LPARAM>(position));
}

void CheckCancel(const RunRecord* record) {
  if (platform::WaitForSingleObject(record->cancelEvent, 0) == WAIT_OBJECT_0) {
    AfxThrowUserException();
  }
}

bool IsValidComPort(int port) {
  return port >= 1 && port <= 6;
}

int ShowRunMessage(const RunRecord* record, const char* text, UINT style) {
  return platform::MessageBox(record->hostWindow, text, AfxGetAppName(), style);
}
