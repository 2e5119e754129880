// The body of the file system dump: connect read-only, copy the file-system flash into
// the log file, restart.
#include "device/kv70_device.h"
#include "framework/afxwin.h"
#include "operations/connected_run.h"
#include "operations/file_system_dump_operation.h"
#include "resources/resource.h"

bool CFileSystemDumpOperation::Execute(RunRecord* record) {
  CString caption;
  caption.LoadString(IDS_DUMP_CAPTION);
  if (CWnd* host = CWnd::FromHandle(record->hostWindow)) host->SetWindowText(caption);

  RunOnConnectedDevice(record, 1, EstablishingStatus::kAgainBeforeConnect,
                       [this](CKV70Device& device) {
                         // The record read by Connect gives the size of the file-system flash.
                         const CString logFile = LogFileName();
                         device.ReadFileSystem(logFile, !m_logFilePage.WasExistingFile());
                       });
  return true;
}
