// Asks for a new firmware file: a description, which names the entry in the list and
// in the registry, and the path of an S-record file. OK is refused until both are given,
// the description can name a registry key, and the file passes the S-record check.
#pragma once
#include "framework/afxwin.h"
#include "models/srecord_checker.h"

// Every record of the S-record file at `path`, as the upgrade would check it against the
// program flash: false when the file is refused, with `fault` saying where and why (its
// detail empty when the file could not be read at all). The dialog and the software
// selection page refuse the same files this way.
bool FirmwareFileIsValid(const CString& path, SRecordFault& fault);

class CRegisterFirmwareDialog : public CDialog {
 public:
  explicit CRegisterFirmwareDialog(LPCTSTR fileFilter, CWnd* parent = nullptr);
  ~CRegisterFirmwareDialog() override;

  // Read by the caller after OK.
  CString m_strDescription;
  CString m_strPath;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void DoDataExchange(CDataExchange* dx) override;

 private:
  void OnBrowse();

  CString m_strFileFilter;
  CString m_strInvalidFile;  // %s: the path as typed
  CString m_strEmptyField;
  CString m_strBackslash;
};
