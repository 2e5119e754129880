// The modal dialog that shows a device's configuration record: the serial number and
// the installed options. It only reads the record.
#pragma once
#include "framework/afxwin.h"
#include "ui/auto_size_list_ctrl.h"

class CDeviceConfig;

class CConfigDialog : public CDialog {
  DECLARE_DYNAMIC(CConfigDialog)
 public:
  // The record is borrowed and must outlive the dialog.
  CConfigDialog(const CDeviceConfig* config, CWnd* parent);
  ~CConfigDialog() override;

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;

 private:
  void FillInstalledOptions();
  // The record carries no temporary options: their group goes, and the dialog ends just
  // below the installed-options group.
  void HideTemporaryOptions();

  CButton m_installedGroup;
  CButton m_temporaryGroup;
  CButton m_saveButton;
  CButton m_printButton;
  CAutoSizeListCtrl m_temporaryList;
  CAutoSizeListCtrl m_installedList;
  CString m_strLabel;
  CString m_strSerialNumber;
  const CDeviceConfig* m_pConfig;
};

// A dated option's month as the dialog shows it ("Jan 1999"), formatted with strftime's
// "%b %Y" in the process's LC_TIME locale: the C locale, hence English month names,
// unless the host has chosen another with setlocale.
CString FormatOptionMonth(WORD monthIndex);

// Shows `config` in a modal configuration dialog owned by `owner`; the result is of no
// interest to a run.
void ShowConfigurationDialog(CDeviceConfig* config, HWND owner);
