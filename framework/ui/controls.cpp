// The simple controls: statics, buttons and edits.
#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)

void CEdit::SetLimitText(UINT max) {
  if (auto state = afx_ui::FindState(m_hWnd)) state->limitText = max;
}

UINT CEdit::GetLimitText() const {
  auto state = afx_ui::FindState(m_hWnd);
  return state ? state->limitText : 0;
}

BOOL CEdit::SetReadOnly(BOOL readOnly) {
  return ModifyStyle(readOnly ? 0 : ES_READONLY, readOnly ? ES_READONLY : 0);
}
