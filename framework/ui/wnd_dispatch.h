// Access of the window model to the protected message handling of CWnd. Internal.
#pragma once
#include <memory>

#include "framework/ui/wnd_state.h"

namespace afx_ui {

struct CurrentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

}  // namespace afx_ui

struct WndDispatch {
  // Calls the object's WindowProc, remembering the message for CWnd::Default.
  static LRESULT Call(CWnd& target, UINT message, WPARAM wParam, LPARAM lParam);
  static const afx_ui::CurrentMessage* Current();
  static std::unique_ptr<CWnd> TakeTemporary(afx_ui::WndState& state);
  // The object destroys the window with itself (it created it).
  static void MarkOwner(CWnd& wnd);
};
