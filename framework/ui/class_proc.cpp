// What windows do on their own, by class, when no handler of a bound object took the
// message: the part of Windows' class procedures that the plug-in relies on.
#include <algorithm>

#include "framework/ui/wnd_state.h"

namespace afx_ui {

namespace {

void NotifyParent(const WndState& state, UINT code) {
  if (!state.parent) return;
  platform::SendMessage(state.parent, WM_COMMAND, MAKEWPARAM(static_cast<DWORD>(state.id), code),
                        reinterpret_cast<LPARAM>(state.hwnd));
}

// The list box's own reaction to a key: moving the selection, from item `from`.
void ListBoxKeyAction(WndState& state, UINT key, int from) {
  const int count = static_cast<int>(state.items.size());
  if (count == 0) return;
  int target = from;
  switch (key) {
    case VK_UP: target = from - 1; break;
    case VK_DOWN: target = from + 1; break;
    case VK_HOME: target = 0; break;
    case VK_END: target = count - 1; break;
    default: return;
  }
  target = std::clamp(target, 0, count - 1);
  state.caret = target;
  if (state.curSel == target) return;
  state.curSel = target;
  if (state.style & LBS_NOTIFY) NotifyParent(state, LBN_SELCHANGE);
}

LRESULT ListBoxKeyDown(const StatePtr& state, UINT key) {
  // An empty list box tells its parent about no key: there is no item to act on.
  if (state->items.empty()) return 0;
  int from = state->curSel >= 0 ? state->curSel : state->caret;
  if ((state->style & LBS_WANTKEYBOARDINPUT) && state->parent) {
    const LRESULT answer =
        platform::SendMessage(state->parent, WM_VKEYTOITEM,
                              MAKEWPARAM(key, static_cast<DWORD>(std::max(from, 0))),
                              reinterpret_cast<LPARAM>(state->hwnd));
    if (answer == -2) return 0;
    // The parent may have emptied or destroyed the list box meanwhile.
    if (!FindState(state->hwnd)) return 0;
    if (answer >= 0) from = static_cast<int>(answer);
    from = std::min(from, static_cast<int>(state->items.size()) - 1);
  }
  ListBoxKeyAction(*state, key, from);
  return 0;
}

}  // namespace

void BeginPaint(WndState& state, PAINTSTRUCT& paint) {
  paint.fErase = state.erase ? TRUE : FALSE;
  paint.rcPaint = state.invalid ? state.invalidRect : CRect();
  if (state.invalid && state.erase && !state.surface.pixels.empty()) {
    const CRect area = state.invalidRect;
    for (int y = std::max(0L, static_cast<long>(area.top)); y < std::min(area.bottom, state.surface.height); ++y) {
      for (int x = std::max(0L, static_cast<long>(area.left)); x < std::min(area.right, state.surface.width); ++x) {
        state.surface.pixels[static_cast<size_t>(y) * state.surface.width + x] = state.background;
      }
    }
  }
  state.invalid = false;
  state.erase = false;
  state.invalidRect = CRect();
}

LRESULT ClassProc(const StatePtr& state, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      BeginPaint(*state, paint);
      return 0;
    }
    case WM_SETREDRAW:
      state->redraw = wParam != 0;
      return 0;
    case WM_SETTEXT:
      platform::SetWindowText(state->hwnd, reinterpret_cast<const char*>(lParam));
      return TRUE;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(platform::GetWindowText(state->hwnd).size());
    case WM_KEYDOWN:
      if (state->cls == uimodel::Kind::ListBox) return ListBoxKeyDown(state, static_cast<UINT>(wParam));
      return 0;
    case WM_VKEYTOITEM:
      return -1;  // the list box's default action
    case WM_INITDIALOG:
      return TRUE;
    case WM_CLOSE:
      // A dialog closes as if cancelled.
      if (state->cls == uimodel::Kind::Dialog) {
        platform::SendMessage(state->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace afx_ui
