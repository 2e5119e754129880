// CDialog: a window built from a dialog template, run modally through the UI backend.
#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

namespace afx_ui {

const DlgTemplate* FindDialogTemplate(UINT id, HINSTANCE module) {
  const platform::ResourceEntry* entry = module ? platform::FindResource(module, id, RT_DIALOG) : nullptr;
  if (!entry) entry = platform::FindResource(AfxFindResourceHandle(id, RT_DIALOG), id, RT_DIALOG);
  return entry ? static_cast<const DlgTemplate*>(entry->data) : nullptr;
}

}  // namespace afx_ui

namespace {

uimodel::Kind ClassOf(ControlClass cls) {
  switch (cls) {
    case ControlClass::Static: return uimodel::Kind::Static;
    case ControlClass::Button: return uimodel::Kind::Button;
    case ControlClass::GroupBox: return uimodel::Kind::GroupBox;
    case ControlClass::Edit: return uimodel::Kind::Edit;
    case ControlClass::ListBox: return uimodel::Kind::ListBox;
    case ControlClass::ListView: return uimodel::Kind::ListView;
  }
  return uimodel::Kind::Static;
}

}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::CreateFromTemplate(HWND parent, HINSTANCE module, DWORD extraStyle) {
  const DlgTemplate* dlg = afx_ui::FindDialogTemplate(m_nIDTemplate, module);
  if (!dlg || m_hWnd) return FALSE;
  const CString face = dlg->font && *dlg->font ? dlg->font : "MS Sans Serif";
  const int pointSize = dlg->pointSize > 0 ? dlg->pointSize : 8;

  afx_ui::CreateParams params;
  params.cls = uimodel::Kind::Dialog;
  params.text = dlg->caption ? dlg->caption : "";
  params.style = dlg->style | extraStyle;
  // A modal dialog shows itself; a child (a page) is shown by whoever hosts it.
  if (!(params.style & WS_CHILD)) params.style |= WS_VISIBLE;
  params.rect = afx_ui::MapDialogUnits(CRect(0, 0, dlg->cx, dlg->cy), face, pointSize);
  params.parent = parent;
  params.fontFace = face;
  params.pointSize = pointSize;
  afx_ui::CreateWnd(params, this);
  m_bOwnsWindow = true;

  const int count = dlg->controls ? dlg->controlCount : 0;
  for (int i = 0; i < count; ++i) {
    const DlgControl& control = dlg->controls[i];
    afx_ui::CreateParams child;
    child.cls = ClassOf(control.cls);
    child.text = control.text ? control.text : "";
    child.style = control.style | WS_CHILD;
    child.rect = afx_ui::MapDialogUnits(
        CRect(control.x, control.y, control.x + control.cx, control.y + control.cy), face, pointSize);
    child.parent = m_hWnd;
    // Ids are 16 bits in a template: -1 is 65535.
    child.id = control.id & 0xFFFF;
    afx_ui::CreateWnd(child, nullptr);
  }
  return TRUE;
}

INT_PTR CDialog::DoModal() {
  if (!afx_ui::FindDialogTemplate(m_nIDTemplate, nullptr)) return -1;
  std::shared_ptr<uimodel::Backend> backend = uimodel::GetBackend();
  m_bEnded = FALSE;
  m_nResult = IDCANCEL;
  if (!backend) return IDCANCEL;
  if (!CreateFromTemplate(m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, nullptr)) return -1;
  // The window goes with the modal run, also when a handler or the backend throws.
  struct Destroyer {
    CDialog& dialog;
    ~Destroyer() { dialog.DestroyWindow(); }
  } destroyer{*this};
  SendMessage(WM_INITDIALOG, 0, 0);
  if (!m_bEnded) backend->RunModalDialog(*this);
  return m_bEnded ? m_nResult : IDCANCEL;
}

void CDialog::EndDialog(int result) {
  m_bEnded = TRUE;
  m_nResult = result;
  if (m_hWnd) {
    ShowWindow(SW_HIDE);
    platform::WakeWindowThread(m_hWnd);
  }
}

CString CDialog::GetCaption() const {
  if (m_hWnd) return GetWindowText();
  const DlgTemplate* dlg = afx_ui::FindDialogTemplate(m_nIDTemplate, nullptr);
  return dlg && dlg->caption ? CString(dlg->caption) : CString();
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;  // the exchange told the user; the dialog stays
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        OnOK();
        return TRUE;
      case IDCANCEL:
        OnCancel();
        return TRUE;
      default:
        break;
    }
  }
  return CWnd::OnCommand(wParam, lParam);
}

void CDialog::OnClose() { CWnd::OnClose(); }
