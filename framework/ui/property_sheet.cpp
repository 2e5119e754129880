// CPropertySheet in wizard mode: the pages in order, one page window at a time, and the
// wizard buttons the pages ask for.
#include <algorithm>

#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

CPropertySheet::CPropertySheet(LPCTSTR caption, CWnd* parent, UINT selectPage)
    : caption_(caption ? caption : ""), parent_(parent), startPage_(selectPage) {}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : parent_(parent), startPage_(selectPage) {
  caption_.LoadString(captionId);
}

CPropertySheet::~CPropertySheet() {
  if (m_hWnd) DestroyWindow();
}

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (page) pages_.push_back(page);
}

void CPropertySheet::RemovePage(int index) {
  if (index < 0 || index >= GetPageCount()) return;
  if (index == active_) DeactivateCurrent();
  pages_.erase(pages_.begin() + index);
  if (active_ > index) --active_;
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

CPropertyPage* CPropertySheet::GetActivePage() const { return GetPage(active_); }

BOOL CPropertySheet::Create(CWnd* parent) {
  if (m_hWnd) return FALSE;
  if (parent) parent_ = parent;
  // Large enough for the largest page.
  CRect size;
  for (CPropertyPage* page : pages_) {
    const DlgTemplate* dlg = afx_ui::FindDialogTemplate(page->m_nIDTemplate, page->templateModule_);
    if (!dlg) continue;
    const CRect pixels = afx_ui::MapDialogUnits(CRect(0, 0, dlg->cx, dlg->cy),
                                                dlg->font ? dlg->font : "MS Sans Serif",
                                                dlg->pointSize > 0 ? dlg->pointSize : 8);
    size.right = std::max(size.right, pixels.right);
    size.bottom = std::max(size.bottom, pixels.bottom);
  }
  active_ = -1;
  wizButtons_ = 0;
  finished_ = false;
  cancelled_ = false;
  return uimodel::CreateWindow(*this, uimodel::Kind::PropertySheet, caption_, WS_POPUP | WS_CAPTION | WS_VISIBLE, size,
                     parent_ ? parent_->m_hWnd : nullptr, 0);
}

BOOL CPropertySheet::DestroyWindow() {
  DeactivateCurrent();
  return CWnd::DestroyWindow();
}

INT_PTR CPropertySheet::DoModal() {
  std::shared_ptr<uimodel::Backend> backend = uimodel::GetBackend();
  if (!backend) return IDCANCEL;
  if (!Create(parent_)) return -1;
  struct Destroyer {
    CPropertySheet& sheet;
    ~Destroyer() { sheet.DestroyWindow(); }
  } destroyer{*this};
  const int start = static_cast<int>(startPage_) < GetPageCount() ? static_cast<int>(startPage_) : 0;
  Activate(start, +1);
  backend->RunWizard(*this);
  return GetResult();
}

int CPropertySheet::GetResult() const { return finished_ ? ID_WIZFINISH : IDCANCEL; }

void CPropertySheet::DeactivateCurrent() {
  if (CPropertyPage* page = GetActivePage()) {
    if (page->m_hWnd) page->DestroyWindow();
  }
  active_ = -1;
}

bool CPropertySheet::Activate(int index, int direction) {
  for (int i = index; i >= 0 && i < GetPageCount(); i += direction) {
    CPropertyPage* page = pages_[static_cast<size_t>(i)];
    if (page->m_hWnd) page->DestroyWindow();
    if (page->CreateFromTemplate(m_hWnd, page->templateModule_, WS_CHILD)) {
      active_ = i;
      page->SendMessage(WM_INITDIALOG, 0, 0);
      if (page->OnSetActive()) {
        page->EnableWindow(TRUE);
        page->ShowWindow(SW_SHOW);
        return true;
      }
      // The page refused: the wizard passes over it in the direction of travel.
      page->DestroyWindow();
      active_ = -1;
    }
    if (direction == 0) break;
  }
  return false;
}

BOOL CPropertySheet::SetActivePage(int index) {
  if (!m_hWnd || index < 0 || index >= GetPageCount()) return FALSE;
  const int from = active_;
  if (CPropertyPage* current = GetActivePage()) {
    if (!current->OnKillActive()) return FALSE;
  }
  DeactivateCurrent();
  if (Activate(index, index >= from ? +1 : -1)) return TRUE;
  if (from >= 0) Activate(from, 0);
  return FALSE;
}

BOOL CPropertySheet::SetActivePage(CPropertyPage* page) {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  return it == pages_.end() ? FALSE : SetActivePage(static_cast<int>(it - pages_.begin()));
}

int CPropertySheet::IndexOfTemplate(LRESULT templateId) const {
  for (int i = 0; i < GetPageCount(); ++i) {
    if (static_cast<LRESULT>(pages_[static_cast<size_t>(i)]->m_nIDTemplate) == templateId) return i;
  }
  return -1;
}

void CPropertySheet::Next() {
  CPropertyPage* page = GetActivePage();
  if (!page) return;
  const LRESULT answer = page->OnWizardNext();
  if (answer == -1) return;
  const int target = answer == 0 ? active_ + 1 : IndexOfTemplate(answer);
  if (target < 0 || target >= GetPageCount()) return;
  if (!page->OnKillActive()) return;
  const int from = active_;
  DeactivateCurrent();
  if (!Activate(target, +1)) Activate(from, 0);
}

void CPropertySheet::Back() {
  CPropertyPage* page = GetActivePage();
  if (!page) return;
  const LRESULT answer = page->OnWizardBack();
  if (answer == -1) return;
  const int target = answer == 0 ? active_ - 1 : IndexOfTemplate(answer);
  if (target < 0 || target >= GetPageCount()) return;
  if (!page->OnKillActive()) return;
  const int from = active_;
  DeactivateCurrent();
  if (!Activate(target, -1)) Activate(from, 0);
}

void CPropertySheet::Finish() {
  CPropertyPage* page = GetActivePage();
  if (page && !page->OnWizardFinish()) return;
  finished_ = true;
  if (m_hWnd) platform::WakeWindowThread(m_hWnd);
}

void CPropertySheet::Cancel() {
  CPropertyPage* page = GetActivePage();
  if (page && !page->OnQueryCancel()) return;
  if (page) page->OnCancel();
  cancelled_ = true;
  if (m_hWnd) platform::WakeWindowThread(m_hWnd);
}

void CPropertySheet::PressButton(int button) {
  if (IsEnded()) return;
  switch (button) {
    case PSBTN_BACK: Back(); break;
    case PSBTN_NEXT: Next(); break;
    case PSBTN_FINISH:
    case PSBTN_OK: Finish(); break;
    case PSBTN_CANCEL: Cancel(); break;
    default: break;
  }
}

LRESULT CPropertySheet::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case PSM_SETWIZBUTTONS:
      wizButtons_ = static_cast<DWORD>(lParam);
      return 0;
    case PSM_PRESSBUTTON:
      PressButton(static_cast<int>(wParam));
      return 0;
    case PSM_SETCURSEL:
      return SetActivePage(static_cast<int>(wParam));
    default:
      return CWnd::WindowProc(message, wParam, lParam);
  }
}
