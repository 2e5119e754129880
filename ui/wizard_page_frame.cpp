#include "ui/wizard_page_frame.h"

#include "resources/resource.h"

CWizardPageFrame::CWizardPageFrame(UINT templateId)
    : CPropertyPage(templateId), m_hSavedResource(AfxGetResourceHandle()) {
  const HINSTANCE holder = AfxFindResourceHandle(IDB_SIDE_PANEL, RT_BITMAP);
  m_sidePanel.LoadBitmap(holder, IDB_SIDE_PANEL);
}

CWizardPageFrame::~CWizardPageFrame() = default;

BOOL CWizardPageFrame::OnSetActive() {
  AfxSetResourceHandle(m_hSavedResource);
  const BOOL result = CPropertyPage::OnSetActive();
  if (result == TRUE) {
    if (CWnd* sheet = GetParent())
      sheet->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
  }
  return result;
}

void CWizardPageFrame::OnPaint() {
  CPaintDC dc(this);
  CWnd* frame = GetDlgItem(IDC_SIDE_PANEL_FRAME);
  if (!frame) return;
  CRect rect;
  frame->GetWindowRect(rect);
  ScreenToClient(rect);
  m_sidePanel.Draw(&dc, rect);
}

void CWizardPageFrame::ShowRefusal(LPCTSTR text) {
  AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

bool CWizardPageFrame::AskYesNo(LPCTSTR text) {
  return AfxMessageBox(text, MB_YESNO) == IDYES;
}

bool CWizardPageFrame::AskToReplace(LPCTSTR text) {
  return AfxMessageBox(text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}
