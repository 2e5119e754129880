// The model behind a window handle: what the framework knows about each window it
// created, kept apart from the CWnd objects that wrap it. Internal to framework/ui.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/uimodel.h"

namespace afx_ui {

struct ListBoxItem {
  CString text;
  DWORD_PTR data = 0;
};

struct ListViewColumn {
  CString heading;
  int format = LVCFMT_LEFT;
  int width = 0;
};

struct ListViewRow {
  std::vector<CString> texts;  // one per column
  DWORD_PTR data = 0;
};

struct WndState {
  HWND hwnd = nullptr;
  uimodel::Kind cls = uimodel::Kind::Window;
  int id = 0;
  DWORD style = 0;
  bool child = false;
  CRect rect;              // child: parent's client coordinates; top-level: screen
  HWND parent = nullptr;   // child: its parent; top-level: its owner
  std::vector<HWND> children;
  bool visible = false;
  bool enabled = true;
  CString fontFace = "MS Sans Serif";
  int pointSize = 8;

  // The object that receives the window's messages, if any.
  std::atomic<CWnd*> target{nullptr};
  // A wrapper handed out by CWnd::FromHandle while there is no target.
  std::unique_ptr<CWnd> temporary;

  // Painting.
  uimodel::PixelSurface surface;
  COLORREF background = 0;
  bool redraw = true;
  bool invalid = false;
  bool erase = false;
  CRect invalidRect;
  bool paintPosted = false;

  // Edit.
  UINT limitText = 0;  // 0: none

  // List box.
  std::vector<ListBoxItem> items;
  int curSel = LB_ERR;
  int caret = 0;

  // List view.
  std::vector<ListViewColumn> columns;
  std::vector<ListViewRow> rows;
};

using StatePtr = std::shared_ptr<WndState>;

// Marks the WM_PAINT the model posts for an invalid window, so that a request that was
// overtaken by an earlier paint is dropped.
constexpr LPARAM kPaintRequest = 0x50414E54;

// The model of a window created by the framework; null for others.
StatePtr FindState(HWND hwnd);

struct CreateParams {
  uimodel::Kind cls = uimodel::Kind::Window;
  CString text;
  DWORD style = 0;
  CRect rect;
  HWND parent = nullptr;
  int id = 0;
  CString fontFace;  // empty: the parent's
  int pointSize = 0;
};
// Creates a window of the calling thread with its model; `target` receives its messages.
HWND CreateWnd(const CreateParams& params, CWnd* target);
// Destroys the window and its descendants: WM_DESTROY, then every bound object unbound.
void DestroyWnd(HWND hwnd);

// The class behaviour of a window (what DefWindowProc does).
LRESULT ClassProc(const StatePtr& state, UINT message, WPARAM wParam, LPARAM lParam);

// Screen position of the window's client origin.
CPoint ClientOrigin(const WndState& state);

// Window geometry changed: the surface follows the size.
void ResizeSurface(WndState& state);
// Marks an area invalid and asks for a WM_PAINT when redrawing is on.
void InvalidateState(WndState& state, const RECT* area, bool erase);

// Takes the invalid area for painting (erasing it to the background when asked) and
// makes the window valid.
void BeginPaint(WndState& state, PAINTSTRUCT& paint);

// The dialog template with that id, from `module` when it has it, else from wherever
// the framework's resource search finds it; null when there is none. A template whose
// control table is missing counts as having no controls.
const DlgTemplate* FindDialogTemplate(UINT id, HINSTANCE module);

// Dialog units to pixels with the base units of a font.
CRect MapDialogUnits(const RECT& dialogUnits, LPCTSTR face, int pointSize);

}  // namespace afx_ui
