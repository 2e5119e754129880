// Asks for a new firmware file: a description, which names the entry in the list and
// in the registry, and the path of an S-record file. OK is refused until both are given,
// the description can name a registry key, and the file passes the S-record check.
#pragma once
#include "framework/afxwin.h"

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
