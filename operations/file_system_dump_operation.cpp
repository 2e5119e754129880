#include "operations/file_system_dump_operation.h"

#include "resources/resource.h"

CFileSystemDumpOperation::CFileSystemDumpOperation() : COperation(1) {
  m_name.LoadString(IDS_DUMP_NAME);
  m_description.LoadString(IDS_DUMP_DESCRIPTION);
  SetPage(0, &m_logFilePage);
}

CFileSystemDumpOperation::~CFileSystemDumpOperation() = default;

CString CFileSystemDumpOperation::LogFileName() const {
  return m_logFilePage.GetLogFileName();
}

bool CFileSystemDumpOperation::GetText(int index, char* buffer, UINT length) {
  switch (index) {
    case TEXT_SUMMARY: {
      CString summary;
      summary.Format(IDS_DUMP_SUMMARY, m_name.GetString(), LogFileName().GetString());
      return CopyText(summary, buffer, length);
    }
    case TEXT_LOWER_NAME:
      return CopyString(IDS_DUMP_LOWER, buffer, length);
    case TEXT_COMPLETION:
      return CopyString(IDS_DUMP_DONE, buffer, length);
    default:
      return COperation::GetText(index, buffer, length);
  }
}
