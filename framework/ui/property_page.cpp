// CPropertyPage: a dialog template shown as one page of a property sheet.
#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)

CPropertyPage::CPropertyPage(UINT templateId, UINT captionId) : CDialog(templateId, nullptr) {
  // The template belongs to the module current at construction (the plug-in's), which
  // is not necessarily current when the host later shows the page.
  templateModule_ = AfxFindResourceHandle(templateId, RT_DIALOG);
  if (captionId != 0) {
    m_strCaption.LoadString(captionId);
  } else if (const DlgTemplate* dlg = afx_ui::FindDialogTemplate(templateId, templateModule_)) {
    m_strCaption = dlg->caption ? dlg->caption : "";
  }
}

CPropertyPage::~CPropertyPage() = default;

BOOL CPropertyPage::OnInitDialog() {
  return CDialog::OnInitDialog();
}

BOOL CPropertyPage::OnSetActive() {
  return UpdateData(FALSE);
}

BOOL CPropertyPage::OnKillActive() {
  return UpdateData(TRUE);
}

LRESULT CPropertyPage::OnWizardNext() {
  return 0;
}

LRESULT CPropertyPage::OnWizardBack() {
  return 0;
}

BOOL CPropertyPage::OnWizardFinish() {
  return TRUE;
}

BOOL CPropertyPage::OnQueryCancel() {
  return TRUE;
}

void CPropertyPage::OnCancel() {}

void CPropertyPage::OnOK() {}
