// What a user does to a dialog, expressed as the messages Windows would send, and a
// snapshot of what the dialog shows. Used by UI backends.
#include <algorithm>

#include "framework/ui/wnd_state.h"

namespace {

// The control a user can reach: present, visible and enabled.
afx_ui::StatePtr Reachable(CWnd& dialog, int id, uimodel::Kind cls) {
  CWnd* control = dialog.GetDlgItem(id);
  if (!control || !control->IsWindowVisible() || !control->IsWindowEnabled()) return nullptr;
  auto state = afx_ui::FindState(control->m_hWnd);
  return state && state->cls == cls ? state : nullptr;
}

void Notify(const afx_ui::WndState& control, UINT code) {
  platform::SendMessage(control.parent, WM_COMMAND,
                        MAKEWPARAM(static_cast<DWORD>(control.id), code),
                        reinterpret_cast<LPARAM>(control.hwnd));
}

void Collect(const CWnd& root, HWND hwnd, std::vector<uimodel::ControlInfo>& out) {
  auto state = afx_ui::FindState(hwnd);
  if (!state) return;
  CWnd* wnd = CWnd::FromHandle(hwnd);
  uimodel::ControlInfo info;
  info.id = state->id;
  info.kind = state->cls;
  info.text = wnd->GetWindowText();
  info.visible = wnd->IsWindowVisible();
  info.enabled = state->enabled ? TRUE : FALSE;
  info.style = state->style;
  CRect rect;
  wnd->GetWindowRect(rect);
  root.ScreenToClient(rect);
  info.rect = rect;
  if (state->cls == uimodel::Kind::ListBox) {
    for (const auto& item : state->items) info.items.push_back(item.text);
    info.selection = state->curSel;
  } else if (state->cls == uimodel::Kind::ListView) {
    for (const auto& column : state->columns) {
      info.columns.push_back(column.heading);
      info.columnWidths.push_back(column.width);
    }
    for (const auto& row : state->rows) {
      CString line;
      for (size_t i = 0; i < row.texts.size(); ++i) {
        if (i > 0) line += '\t';
        line += row.texts[i];
      }
      info.items.push_back(line);
    }
  }
  out.push_back(std::move(info));
  for (HWND child : std::vector<HWND>(state->children)) Collect(root, child, out);
}

}  // namespace

BOOL uimodel::ClickButton(CWnd& dialog, int id) {
  auto button = Reachable(dialog, id, uimodel::Kind::Button);
  if (!button) return FALSE;
  Notify(*button, BN_CLICKED);
  return TRUE;
}

BOOL uimodel::TypeText(CWnd& dialog, int id, LPCTSTR text) {
  auto edit = Reachable(dialog, id, uimodel::Kind::Edit);
  if (!edit || (edit->style & ES_READONLY)) return FALSE;
  CString typed = text ? text : "";
  if (edit->limitText > 0 && typed.GetLength() > static_cast<int>(edit->limitText)) {
    typed = typed.Left(static_cast<int>(edit->limitText));
  }
  platform::SetWindowText(edit->hwnd, typed);
  Notify(*edit, EN_CHANGE);
  return TRUE;
}

BOOL uimodel::SelectItem(CWnd& dialog, int id, int index) {
  auto list = Reachable(dialog, id, uimodel::Kind::ListBox);
  if (!list || index < 0 || index >= static_cast<int>(list->items.size())) return FALSE;
  list->caret = index;
  if (list->curSel != index) {
    list->curSel = index;
    if (list->style & LBS_NOTIFY) Notify(*list, LBN_SELCHANGE);
  }
  return TRUE;
}

BOOL uimodel::DoubleClickItem(CWnd& dialog, int id, int index) {
  if (!uimodel::SelectItem(dialog, id, index)) return FALSE;
  // The selection notice may have changed the dialog; the double click still goes to
  // the list box that is there now.
  auto list = Reachable(dialog, id, uimodel::Kind::ListBox);
  if (list && (list->style & LBS_NOTIFY)) Notify(*list, LBN_DBLCLK);
  return TRUE;
}

BOOL uimodel::KeyDown(CWnd& dialog, int id, UINT key) {
  CWnd* control = dialog.GetDlgItem(id);
  if (!control || !control->IsWindowVisible() || !control->IsWindowEnabled()) return FALSE;
  control->SendMessage(WM_KEYDOWN, key, 1);
  return TRUE;
}

void uimodel::PressEnter(CWnd& dialog) {
  dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void uimodel::PressEscape(CWnd& dialog) {
  dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

std::vector<uimodel::ControlInfo> uimodel::Snapshot(const CWnd& root) {
  std::vector<uimodel::ControlInfo> result;
  Collect(root, root.m_hWnd, result);
  return result;
}
