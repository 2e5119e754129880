// CListBox: items, item data and the selection of a list box model.
#include <algorithm>

#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CListBox, CWnd)

namespace {

afx_ui::StatePtr ListBoxState(HWND hwnd) {
  auto state = afx_ui::FindState(hwnd);
  return state && state->cls == uimodel::Kind::ListBox ? state : nullptr;
}

bool InRange(const afx_ui::WndState& state, int index) {
  return index >= 0 && index < static_cast<int>(state.items.size());
}

}  // namespace

int CListBox::AddString(LPCTSTR text) { return InsertString(-1, text); }

int CListBox::InsertString(int index, LPCTSTR text) {
  auto state = ListBoxState(m_hWnd);
  if (!state) return LB_ERR;
  const int count = static_cast<int>(state->items.size());
  if (index == -1) index = count;
  if (index < 0 || index > count) return LB_ERR;
  state->items.insert(state->items.begin() + index, afx_ui::ListBoxItem{text ? text : "", 0});
  if (state->curSel >= index) ++state->curSel;
  afx_ui::InvalidateState(*state, nullptr, true);
  return index;
}

int CListBox::DeleteString(UINT index) {
  auto state = ListBoxState(m_hWnd);
  const int i = static_cast<int>(index);
  if (!state || !InRange(*state, i)) return LB_ERR;
  state->items.erase(state->items.begin() + i);
  if (state->curSel == i) {
    state->curSel = LB_ERR;
  } else if (state->curSel > i) {
    --state->curSel;
  }
  state->caret = std::clamp(state->caret, 0, std::max(0, static_cast<int>(state->items.size()) - 1));
  afx_ui::InvalidateState(*state, nullptr, true);
  return static_cast<int>(state->items.size());
}

void CListBox::ResetContent() {
  auto state = ListBoxState(m_hWnd);
  if (!state) return;
  state->items.clear();
  state->curSel = LB_ERR;
  state->caret = 0;
  afx_ui::InvalidateState(*state, nullptr, true);
}

int CListBox::GetCount() const {
  auto state = ListBoxState(m_hWnd);
  return state ? static_cast<int>(state->items.size()) : LB_ERR;
}

int CListBox::GetCurSel() const {
  auto state = ListBoxState(m_hWnd);
  return state ? state->curSel : LB_ERR;
}

int CListBox::SetCurSel(int select) {
  auto state = ListBoxState(m_hWnd);
  if (!state) return LB_ERR;
  if (!InRange(*state, select)) {
    state->curSel = LB_ERR;
    return LB_ERR;
  }
  state->curSel = select;
  state->caret = select;
  afx_ui::InvalidateState(*state, nullptr, true);
  return select;
}

int CListBox::GetText(int index, CString& text) const {
  auto state = ListBoxState(m_hWnd);
  if (!state || !InRange(*state, index)) return LB_ERR;
  text = state->items[static_cast<size_t>(index)].text;
  return text.GetLength();
}

CString CListBox::GetText(int index) const {
  CString text;
  GetText(index, text);
  return text;
}

int CListBox::GetTextLen(int index) const {
  auto state = ListBoxState(m_hWnd);
  if (!state || !InRange(*state, index)) return LB_ERR;
  return state->items[static_cast<size_t>(index)].text.GetLength();
}

DWORD_PTR CListBox::GetItemData(int index) const {
  auto state = ListBoxState(m_hWnd);
  if (!state || !InRange(*state, index)) return static_cast<DWORD_PTR>(LB_ERR);
  return state->items[static_cast<size_t>(index)].data;
}

int CListBox::SetItemData(int index, DWORD_PTR data) {
  auto state = ListBoxState(m_hWnd);
  if (!state || !InRange(*state, index)) return LB_ERR;
  state->items[static_cast<size_t>(index)].data = data;
  return LB_OKAY;
}

int CListBox::GetCaretIndex() const {
  auto state = ListBoxState(m_hWnd);
  return state ? state->caret : LB_ERR;
}

int CListBox::SetCaretIndex(int index, BOOL) {
  auto state = ListBoxState(m_hWnd);
  if (!state || !InRange(*state, index)) return LB_ERR;
  state->caret = index;
  return LB_OKAY;
}

int CListBox::FindStringExact(int startAfter, LPCTSTR text) const {
  auto state = ListBoxState(m_hWnd);
  if (!state || !text) return LB_ERR;
  const int count = static_cast<int>(state->items.size());
  const int first = startAfter < -1 || startAfter >= count ? 0 : startAfter + 1;
  for (int n = 0; n < count; ++n) {
    const int i = (first + n) % count;
    if (state->items[static_cast<size_t>(i)].text.CompareNoCase(text) == 0) return i;
  }
  return LB_ERR;
}

void CListBox::OnKeyDown(UINT key, UINT repeatCount, UINT flags) {
  CWnd::OnKeyDown(key, repeatCount, flags);
}
