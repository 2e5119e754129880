// Data exchange between a dialog's member variables and its controls, with the
// framework's validation messages.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "framework/ui/wnd_state.h"

const char* const kAfxIntegerRequiredText = "Please enter an integer.";
const char* const kAfxMaxCharsFormat = "Enter no more than %d characters.";

CDataExchange::CDataExchange(CWnd* dialog, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

HWND CDataExchange::PrepareCtrl(int id) {
  CWnd* control = m_pDlgWnd ? m_pDlgWnd->GetDlgItem(id) : nullptr;
  // A control the template lacks cannot take part: the exchange as a whole fails.
  if (!control) Fail();
  m_idLastControl = id;
  m_bEditLastControl = FALSE;
  return control->m_hWnd;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  HWND hwnd = PrepareCtrl(id);
  m_bEditLastControl = TRUE;
  return hwnd;
}

void CDataExchange::Fail() { AfxThrowUserException(); }

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  CWnd* control = CWnd::FromHandle(dx->PrepareEditCtrl(id));
  if (dx->m_bSaveAndValidate) {
    control->GetWindowText(value);
  } else {
    control->SetWindowText(value);
  }
}

namespace {

// Reads a whole decimal number with optional surrounding blanks.
bool ParseLong(const CString& text, long long& value) {
  const char* begin = text.GetString();
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  return *end == '\0';
}

void ExchangeNumber(CDataExchange* dx, int id, long long& value, long long low, long long high) {
  CWnd* control = CWnd::FromHandle(dx->PrepareEditCtrl(id));
  if (!dx->m_bSaveAndValidate) {
    CString text;
    text.Format("%lld", value);
    control->SetWindowText(text);
    return;
  }
  long long parsed = 0;
  if (!ParseLong(control->GetWindowText(), parsed) || parsed < low || parsed > high) {
    AfxMessageBox(kAfxIntegerRequiredText, MB_OK | MB_ICONEXCLAMATION);
    dx->Fail();
  }
  value = parsed;
}

}  // namespace

void DDX_Text(CDataExchange* dx, int id, int& value) {
  long long v = value;
  ExchangeNumber(dx, id, v, INT_MIN, INT_MAX);
  value = static_cast<int>(v);
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  long long v = value;
  ExchangeNumber(dx, id, v, 0, UINT_MAX);
  value = static_cast<UINT>(v);
}

void DDX_LBIndex(CDataExchange* dx, int id, int& index) {
  auto* list = static_cast<CListBox*>(CWnd::FromHandle(dx->PrepareCtrl(id)));
  if (uimodel::KindOf(*list) != uimodel::Kind::ListBox) dx->Fail();
  if (dx->m_bSaveAndValidate) {
    index = list->GetCurSel();
  } else {
    list->SetCurSel(index);
  }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd) return;
  HWND hwnd = dx->PrepareCtrl(id);
  if (!control.SubclassWindow(hwnd)) dx->Fail();
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars) {
  if (dx->m_bSaveAndValidate) {
    if (value.GetLength() > maxChars) {
      CString text;
      text.Format(kAfxMaxCharsFormat, maxChars);
      AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
      dx->Fail();
    }
    return;
  }
  if (dx->m_bEditLastControl && dx->m_idLastControl != 0) {
    if (CWnd* control = dx->m_pDlgWnd->GetDlgItem(dx->m_idLastControl)) {
      if (auto state = afx_ui::FindState(control->m_hWnd)) {
        state->limitText = maxChars > 0 ? static_cast<UINT>(maxChars) : 0;
      }
    }
  }
}
