// The checks before a software upgrade touches the flash: the file carries a software
// identification word, and the user agrees to load software that is already installed.
#include "device/kv70_flash_check.h"

#include "device/kv70_device.h"
#include "device/kv70_flash_layout.h"
#include "models/kv70_config.h"
#include "models/srecord_file.h"
#include "platform/msgbox.h"
#include "reporting/failure_box.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {

constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND;  // 0x00010024

}  // namespace

BOOL IsAlreadyInstalled(const CKV70Config& config, DWORD word) {
  const BYTE third = static_cast<BYTE>(word >> 16);
  const BYTE fourth = static_cast<BYTE>(word >> 24);
  const int index = third >> 4;
  if (index >= config.GetAppEntryCount()) return FALSE;
  if (config.ApplicationId() != index) return FALSE;
  const AppEntry* entry = config.GetAppEntry(index);
  return entry && entry->Value == fourth;
}

void CKV70Device::CheckSoftwareFile(LPCTSTR path) {
  bool invalid = false;
  {
    // Closed on every way out of this scope, a cancel included.
    CSRecordFile file(path ? path : "");
    try {
      file.OpenAndCheck();
      // Every record, against the flash this device's erase covers, before anything is
      // erased: a refusal is a failure of the file (415, 416), not a user's cancel.
      DWORD start = 0, end = 0;
      if (!KV70ProgramFlashRange(m_config.FlashType(), start, end))
        KV70AnyProgramFlashRange(start, end);
      ThrowIfRefused(file.CheckAllRecords(start, end));
      DWORD word = 0;
      if (!file.FindImageWord(word, *this)) {
        invalid = true;
      } else if (IsAlreadyInstalled(m_config, word)) {
        CString question;
        question.LoadString(IDS_ALREADY_INSTALLED);
        if (ShowRunMessage(&m_record, question, kQuestionStyle) != IDYES) AfxThrowUserException();
      }
    } catch (CFileException* e) {
      e->Delete();
      invalid = true;
    }
  }
  if (invalid) RefuseSoftwareFile(m_record, path);
}

void RefuseSoftwareFile(const RunRecord& record, LPCTSTR path) {
  CString message;
  message.Format(IDS_SOFTWARE_FILE_INVALID, path ? path : "");
  ShowFailureMessage(message, record.hostWindow);
  AfxThrowUserException();
}

void CheckSoftwareFileBeforeConnecting(const RunRecord& record, LPCTSTR path) {
  SRecordFault fault;
  bool unreadable = false;
  {
    CSRecordFile file(path ? path : "");
    try {
      file.OpenAndCheck();
      DWORD start = 0, end = 0;
      KV70AnyProgramFlashRange(start, end);
      fault = file.CheckAllRecords(start, end);
    } catch (CFileException* e) {
      e->Delete();
      unreadable = true;
    }
  }
  if (unreadable) RefuseSoftwareFile(record, path);
  ThrowIfRefused(fault);
}
