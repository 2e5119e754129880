// The checks before a software upgrade touches the flash: the file carries a software
// identification word, and the user agrees to load software that is already installed.
#include "device/kv70_flash_check.h"

#include "device/kv70_device.h"
#include "device/kv70_flash_layout.h"
#include "device/srecord_image.h"
#include "models/kv70_config.h"
#include "models/srecord_file.h"
#include "platform/msgbox.h"
#include "reporting/failure_box.h"
#include "reporting/failures.h"
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
  CSRecordFile file(path ? path : "");  // closed on every way out, a cancel included
  OpenSoftwareFile(m_record, file);
  CheckSoftwareFile(file);
}

void CKV70Device::CheckSoftwareFile(CSRecordFile& file) {
  bool invalid = false;
  try {
    // Every record, against the flash this device's erase covers, before anything is
    // erased: a refusal is a failure of the file (415, 416), not a user's cancel.
    DWORD start = 0, end = 0;
    if (!KV70ProgramFlashRange(m_config.FlashType(), start, end))
      KV70AnyProgramFlashRange(start, end);
    ThrowIfRefused(file.CheckAllRecords(start, end));
    DWORD word = 0;
    if (!FindImageWord(file, word, *this)) {
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
  if (invalid) RefuseSoftwareFile(m_record, file.m_strPath);
  // The question may have stood for a long time; nothing is erased for a file that is no
  // longer the one checked.
  ThrowIfSoftwareFileChanged(file);
}

void RefuseSoftwareFile(const RunRecord& record, LPCTSTR path) {
  CString message;
  message.Format(IDS_SOFTWARE_FILE_INVALID, path ? path : "");
  ShowFailureMessage(message, record.hostWindow);
  AfxThrowUserException();
}

void OpenSoftwareFile(const RunRecord& record, CSRecordFile& file) {
  bool unreadable = false;
  try {
    file.OpenAndCheck();
    file.KeepContent();
  } catch (CFileException* e) {
    e->Delete();
    unreadable = true;
  }
  if (unreadable) {
    file.Abort();
    RefuseSoftwareFile(record, file.m_strPath);
  }
}

SRecordFault CheckSoftwareFileBeforeConnecting(CSRecordFile& file) {
  DWORD start = 0, end = 0;
  KV70AnyProgramFlashRange(start, end);
  const SRecordFault fault = file.CheckAllRecords(start, end);
  ThrowIfRefused(fault);
  return fault;
}

void ThrowIfSoftwareFileChanged(const CSRecordFile& file) {
  if (file.IsUnchangedOnDisk()) return;
  // The failure box holds 254 characters: the run's file goes unnamed, as in the record
  // faults, to leave room for the reason.
  CString detail;
  detail.LoadString(IDS_SREC_FILE_CHANGED);
  throw new CFlashMonException(SREC_FORMAT_FAILURE, detail);
}
