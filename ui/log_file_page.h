// The file system dump's wizard page: the user names the file on the PC that receives
// the KV70's file system. Next makes sure the file can be written, without touching a
// file that is already there, and asks before such a file is replaced.
#pragma once
#include "ui/wizard_page_frame.h"

class CLogFilePage : public CWizardPageFrame {
 public:
  CLogFilePage();
  ~CLogFilePage() override;

  LRESULT OnWizardNext() override;

  // Read by the dump operation when it runs.
  const CString& GetLogFileName() const { return m_strLogFileName; }
  // Whether the file was there when Next accepted the name (and its replacement was
  // agreed); when it was not, the dump creates it and replaces nothing.
  bool WasExistingFile() const { return m_bExisted; }

  CString m_strLogFileName;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  void OnBrowse();
  // Opens the file for writing as the dump will, then leaves it as it was: an existing
  // file keeps its content, a new one is removed again. Shows the file error and returns
  // false when that fails.
  bool CheckWritable(bool exists);

  CString m_strDefaultExt;
  CString m_strFileFilter;
  CString m_strNoFile;
  CString m_strReplaceQuestion;
  CString m_strRegistryRefusal;
  // The file the user already agreed to replace in the file dialog.
  CString m_strConfirmedName;
  bool m_bExisted = false;
};
