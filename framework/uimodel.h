// The window model as hosts and tests see it: our own API beside the framework's, not a
// part of it. The plug-in never includes this header.
//
// - Backend: whoever shows things to the user (the terminal host, the desktop host, the
//   scripted test backend) and how it is installed.
// - What a user does (ClickButton, TypeText, ...): each acts through the model and
//   messages exactly as the real action would.
// - What a window shows (Snapshot, ControlInfo, SurfaceOf): what a backend draws.
// - Font metrics: where text widths and dialog base units come from.
// - CreateWindow: a model window without a template, for tests and the framework's sheet.
#pragma once
#include <memory>
#include <vector>

#include "framework/afxwin.h"

namespace uimodel {

// ---------------------------------------------------------------------------------------
// Windows of the model

// What kind of window a handle is.
enum class Kind {
  Window,
  Dialog,
  PropertySheet,
  Static,
  Button,
  GroupBox,
  Edit,
  ListBox,
  ListView
};

// The kind of a window; Kind::Window for a handle the model does not know.
Kind KindOf(const CWnd& wnd);

// Creates a model window of the calling thread: a child (WS_CHILD, rect relative to the
// parent's client area) or a top-level window (rect in screen coordinates, owned by
// `parent` if given). `wnd` becomes its permanent object and destroys it with itself.
// FALSE when `wnd` already has a window.
BOOL CreateWindow(CWnd& wnd, Kind kind, LPCTSTR text, DWORD style, const RECT& rect, HWND parent,
                  UINT id);
inline BOOL CreateWindow(CWnd& wnd, Kind kind, LPCTSTR text, DWORD style, const RECT& rect,
                         CWnd* parent, UINT id) {
  return CreateWindow(wnd, kind, text, style, rect, parent ? parent->m_hWnd : nullptr, id);
}

// A window's or bitmap's pixels, 0x00RRGGBB, rows top to bottom.
struct PixelSurface {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// The window's pixels (null when there is no window).
const PixelSurface* SurfaceOf(const CWnd& wnd);
// The bitmap's pixels (null without a bitmap).
PixelSurface* PixelsOf(CBitmap& bitmap);
const PixelSurface* PixelsOf(const CBitmap& bitmap);

// ---------------------------------------------------------------------------------------
// Font metrics. The host may install its own; the default is a fixed metric for
// "MS Sans Serif" 8 pt: every character is 6 pixels wide and a line is 13 high (dialog
// base units 6 x 13, so one dialog unit is 1.5 pixels across and 13/8 pixels down).

class FontMetrics {
 public:
  virtual ~FontMetrics() = default;
  // Average character width (cx) and character height (cy) of the font, in pixels.
  virtual CSize GetDialogBaseUnits(LPCTSTR face, int pointSize) const = 0;
  // Width of a single line of text in pixels.
  virtual int GetTextWidth(LPCTSTR face, int pointSize, LPCTSTR text) const = 0;
};

class FixedFontMetrics : public FontMetrics {
 public:
  CSize GetDialogBaseUnits(LPCTSTR /*face*/, int /*pointSize*/) const override {
    return CSize(6, 13);
  }
  int GetTextWidth(LPCTSTR face, int pointSize, LPCTSTR text) const override;
};

// Null restores the default.
void SetFontMetrics(std::shared_ptr<const FontMetrics> metrics);
std::shared_ptr<const FontMetrics> GetFontMetrics();

// ---------------------------------------------------------------------------------------
// The backend

class Backend {
 public:
  virtual ~Backend() = default;
  // A message box; returns the button pressed.
  virtual int MessageBox(const platform::MessageBoxRequest& request) = 0;
  // Interacts with a created, initialised dialog through the model (texts typed into
  // edits, buttons pressed) until it has ended (dialog.IsEnded()) or the user gives up.
  virtual void RunModalDialog(CDialog& dialog) = 0;
  // The file the user chose (as typed: the dialog completes it), or false for Cancel.
  virtual bool RunFileDialog(CFileDialog& dialog, CString& path) = 0;
  // Navigates the sheet (its start page is active) until it has ended.
  virtual void RunWizard(CPropertySheet& sheet) = 0;
  virtual void SetWaitCursor(bool /*on*/) {}
};

// Installs the backend (null removes it) and routes platform::MessageBox, and with it
// AfxMessageBox, to it. Without a backend dialogs return IDCANCEL and message boxes get
// the platform's default answer.
void SetBackend(std::shared_ptr<Backend> backend);
std::shared_ptr<Backend> GetBackend();

// Installs a backend for a scope and restores the previous one.
class BackendScope {
 public:
  explicit BackendScope(std::shared_ptr<Backend> backend);
  ~BackendScope();
  BackendScope(const BackendScope&) = delete;
  BackendScope& operator=(const BackendScope&) = delete;

 private:
  std::shared_ptr<Backend> previous_;
};

// How many wait cursors are shown now (nested ones count).
int WaitCursorDepth();

// One entry of a file dialog's filter: "SRecord Files (*.x)" with "*.x".
struct FileFilter {
  CString description;
  CString pattern;
};
// Parses "Desc|*.x|All files (*.*)|*.*||"; a trailing description without pattern is
// dropped.
std::vector<FileFilter> ParseFileFilter(LPCTSTR filter);
inline std::vector<FileFilter> FiltersOf(const CFileDialog& dialog) {
  return ParseFileFilter(dialog.GetFilter());
}

// ---------------------------------------------------------------------------------------
// What a user does: each acts through the model and messages exactly as the real action
// would, and refuses (FALSE) what a user could not do: a missing, hidden or disabled
// control.

// BN_CLICKED to the button's parent.
BOOL ClickButton(CWnd& dialog, int id);
// Replaces an edit's text as typing would (cut to the edit's limit; refused when
// read-only).
BOOL TypeText(CWnd& dialog, int id, LPCTSTR text);
// Selects a list box item (LBN_SELCHANGE with LBS_NOTIFY).
BOOL SelectItem(CWnd& dialog, int id, int index);
// Selects the item, then LBN_DBLCLK with LBS_NOTIFY.
BOOL DoubleClickItem(CWnd& dialog, int id, int index);
// WM_KEYDOWN to the control.
BOOL KeyDown(CWnd& dialog, int id, UINT key);
// Enter and Escape in a dialog: IDOK and IDCANCEL commands.
void PressEnter(CWnd& dialog);
void PressEscape(CWnd& dialog);

// ---------------------------------------------------------------------------------------
// What a window shows: one entry for it and each descendant, in creation order.

struct ControlInfo {
  int id;
  Kind kind;
  CString text;
  BOOL visible;  // with every ancestor
  BOOL enabled;
  DWORD style;                    // style bits (BS_DEFPUSHBUTTON, ES_READONLY, ...)
  CRect rect;                     // relative to the snapshot's root window
  std::vector<CString> items;     // list box items, or list view rows joined with '\t'
  std::vector<CString> columns;   // list view headings
  std::vector<int> columnWidths;  // list view column widths in pixels
  int selection = LB_ERR;         // list box selection
};
std::vector<ControlInfo> Snapshot(const CWnd& root);

}  // namespace uimodel
