// Operation 2: copies the KV70's data file-system flash into a log file on the PC.
#pragma once
#include "framework/afxwin.h"
#include "operations/operation.h"
#include "ui/log_file_page.h"

class CFileSystemDumpOperation : public COperation {
 public:
  CFileSystemDumpOperation();
  ~CFileSystemDumpOperation() override;

  const char* GetName() override { return m_name; }
  const char* GetDescription() override { return m_description; }
  bool Execute(RunRecord* record) override;  // file_system_dump_execute.cpp
  bool GetText(int index, char* buffer, UINT length) override;

 private:
  // The log file name the user chose on the page.
  CString LogFileName() const;

  CString m_name;
  CString m_description;
  // The log file page, where the user names the file to write.
  CLogFilePage m_logFilePage;
};
