// The module's application object: starts and stops the plug-in (operation registry,
// profile key, product version) and shows the failure box of a run.
#pragma once
#include "framework/afx.h"

class CDevKV70App : public CWinApp {
  DECLARE_DYNAMIC(CDevKV70App)
 public:
  // No application name: the framework names it after the module file, "DevKV70".
  CDevKV70App();

  BOOL InitInstance() override;
  int ExitInstance() override;

  // Shows "DevKV70 Version: <version>\n\n<text>" owned by `owner` and waits until the
  // user closes it.
  void ShowFailureMessage(const char* text, HWND owner);

  // ProductVersion of the module's own version block; empty when it cannot be read.
  const CString& GetVersion() const { return m_version; }

 protected:
  void ReadProductVersion();

 private:
  CString m_version;
};
