// Windows, dialogs, property pages and drawing of the framework, as a headless model.
//
// A window is a platform window (thread-affine messages, see platform/window.h) plus the
// model the framework keeps for it: class, id, text, rectangle, style, visibility,
// children, and the content of list boxes and list views. CWnd objects are wrappers: the
// model lives with the window handle, and the CWnd bound to a window (its "permanent"
// object) receives its messages through the virtual WindowProc. Binding a member control
// (DDX_Control) makes that member the permanent object of the created control.
//
// Geometry: every window has no frame, so its window rectangle equals its client area.
// A child's rectangle is relative to its parent's client area; a top-level window (a
// dialog or a property sheet) starts at a fixed screen origin.
//
// Colours: surfaces and COLORREF values are 0x00RRGGBB (RGB() builds that order), the
// same order as the palettes of bitmap resources.
//
// Threads: a window belongs to the thread that created it and is used on that thread;
// dialogs and message boxes may be shown from any thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "framework/dlgtemplate.h"
#include "framework/windefs.h"
#include "platform/msgbox.h"
#include "platform/window.h"

// ---------------------------------------------------------------------------------------
// Geometry

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT;

class CPoint : public POINT {
 public:
  CPoint() : POINT{0, 0} {}
  CPoint(int x, int y) : POINT{x, y} {}
  CPoint(POINT p) : POINT(p) {}  // NOLINT
  void Offset(int dx, int dy) { x += dx; y += dy; }
  friend bool operator==(const CPoint& a, const CPoint& b) { return a.x == b.x && a.y == b.y; }
};

class CSize : public SIZE {
 public:
  CSize() : SIZE{0, 0} {}
  CSize(int cx, int cy) : SIZE{cx, cy} {}
  CSize(SIZE s) : SIZE(s) {}  // NOLINT
  friend bool operator==(const CSize& a, const CSize& b) { return a.cx == b.cx && a.cy == b.cy; }
};

class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  CRect(const RECT& r) : RECT(r) {}  // NOLINT
  CRect(POINT topLeft, SIZE size)
      : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  CSize Size() const { return CSize(Width(), Height()); }
  CPoint TopLeft() const { return CPoint(left, top); }
  CPoint BottomRight() const { return CPoint(right, bottom); }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  void SetRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
  void OffsetRect(int dx, int dy) { left += dx; right += dx; top += dy; bottom += dy; }
  // The common part of a and b; empty (all 0) when they do not meet.
  bool IntersectRect(const RECT& a, const RECT& b);
  // The smallest rectangle holding both (an empty one does not count).
  bool UnionRect(const RECT& a, const RECT& b);
  operator LPRECT() { return this; }              // NOLINT
  operator LPCRECT() const { return this; }       // NOLINT
  friend bool operator==(const CRect& a, const CRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
};

// ---------------------------------------------------------------------------------------
// Window model

class CDataExchange;
class CListBox;
class CDialog;
namespace afx_ui {
struct WndState;
}
// The host's and tests' view of the model (framework/uimodel.h).
namespace uimodel {
struct PixelSurface;
}

class CWnd : public CObject {
  DECLARE_DYNAMIC(CWnd)
 public:
  CWnd();
  // A window still bound to this object is destroyed when the object created it, and
  // left alone (only unbound) when the object merely attached to it.
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }  // NOLINT

  // The permanent object of a window, or a temporary wrapper of the control's class that
  // lives until the window is destroyed. Null for a handle that is not a window.
  static CWnd* FromHandle(HWND hwnd);
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Destroys the window and its children (children first); every bound object is unbound.
  virtual BOOL DestroyWindow();
  // Makes this object the permanent object of an existing window.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();
  BOOL Attach(HWND hwnd) { return SubclassWindow(hwnd); }
  HWND Detach() { return UnsubclassWindow(); }

  // Model queries and changes.
  CWnd* GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  CWnd* GetParent() const;   // the parent of a child, the owner of a top-level window
  CWnd* GetOwner() const { return GetParent(); }
  std::vector<CWnd*> GetChildren() const;  // in creation order
  DWORD GetStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add);
  void SetWindowText(LPCTSTR text);
  void GetWindowText(CString& text) const;
  int GetWindowText(LPTSTR buffer, int maxCount) const;
  CString GetWindowText() const;
  int GetWindowTextLength() const;
  void SetDlgItemText(int id, LPCTSTR text);
  int GetDlgItemText(int id, CString& text) const;
  BOOL ShowWindow(int cmd);  // returns whether it was visible before
  // Visible itself and every ancestor visible.
  BOOL IsWindowVisible() const;
  BOOL EnableWindow(BOOL enable = TRUE);  // returns whether it was disabled before
  BOOL IsWindowEnabled() const;
  BOOL IsWindow() const;

  void GetWindowRect(LPRECT rect) const;  // screen coordinates
  void GetClientRect(LPRECT rect) const;  // (0, 0, width, height)
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void ClientToScreen(LPPOINT point) const;
  void ClientToScreen(LPRECT rect) const;
  // Child: relative to the parent's client area; top-level: screen coordinates.
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  // Dialog units of this window's font to pixels.
  void MapDialogRect(LPRECT rect) const;

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // Painting: an invalid window gets one WM_PAINT when its thread pumps (only while
  // redrawing is on); UpdateWindow paints an invalid window at once.
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void UpdateWindow();
  BOOL IsPaintPending() const;
  void SetRedraw(BOOL redraw = TRUE);
  BOOL IsRedrawEnabled() const;  // the state WM_SETREDRAW left

  // Data exchange between member variables and controls.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  // The font the window's texts are measured in (inherited from the dialog template).
  CString GetFontFace() const;
  int GetFontPointSize() const;

 protected:
  // Message dispatch. WindowProc hands each message to the handler below; a handler that
  // does not handle its message calls the base, which ends in DefWindowProc: the
  // behaviour of the window's class (a list box's key handling, for example).
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default();  // DefWindowProc of the message being handled

  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);  // TRUE: handled
  virtual void OnPaint();
  virtual int OnVKeyToItem(UINT key, CListBox* listBox, UINT index);
  virtual void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
  virtual BOOL OnInitDialog();
  virtual void OnClose();
  virtual void OnDestroy();
  virtual void DoDataExchange(CDataExchange* dx);

  // Set by objects that created their window (as opposed to attaching to one).
  bool m_bOwnsWindow = false;

 private:
  friend struct WndDispatch;
  friend class CDataExchange;
};

// ---------------------------------------------------------------------------------------
// Controls

class CStatic : public CWnd {
  DECLARE_DYNAMIC(CStatic)
};

class CButton : public CWnd {
  DECLARE_DYNAMIC(CButton)
};

class CEdit : public CWnd {
  DECLARE_DYNAMIC(CEdit)
 public:
  // Limits what the user can type (0: the largest limit). Programmatic texts are not cut.
  void SetLimitText(UINT max);
  void LimitText(int max = 0) { SetLimitText(static_cast<UINT>(max)); }
  UINT GetLimitText() const;
  BOOL SetReadOnly(BOOL readOnly = TRUE);
};

class CListBox : public CWnd {
  DECLARE_DYNAMIC(CListBox)
 public:
  int AddString(LPCTSTR text);                // index of the new item
  int InsertString(int index, LPCTSTR text);  // -1 appends; LB_ERR when out of range
  int DeleteString(UINT index);               // remaining count, or LB_ERR
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;        // LB_ERR when nothing is selected
  int SetCurSel(int select);    // -1 clears; LB_ERR for -1 or an index out of range
  int GetText(int index, CString& text) const;  // length, or LB_ERR
  CString GetText(int index) const;
  int GetTextLen(int index) const;
  DWORD_PTR GetItemData(int index) const;  // LB_ERR for a bad index
  int SetItemData(int index, DWORD_PTR data);
  int GetCaretIndex() const;
  int SetCaretIndex(int index, BOOL scroll = TRUE);
  int FindStringExact(int startAfter, LPCTSTR text) const;  // ignores letter case

 protected:
  // The default handling (through DefWindowProc): with LBS_WANTKEYBOARDINPUT the parent
  // gets WM_VKEYTOITEM (key, caret index; lParam this list box) and its answer decides
  // (-2 done, -1 default action, n >= 0 default action on item n); the default action
  // moves the selection for the arrow, Home and End keys.
  void OnKeyDown(UINT key, UINT repeatCount, UINT flags) override;
};

class CHeaderCtrl : public CObject {
 public:
  int GetItemCount() const;
  CString GetItemText(int index) const;

 private:
  friend class CListCtrl;
  HWND listView_ = nullptr;
};

class CListCtrl : public CWnd {
  DECLARE_DYNAMIC(CListCtrl)
 public:
  // Report view.
  int InsertColumn(int col, LPCTSTR heading, int format = LVCFMT_LEFT, int width = -1,
                   int subItem = -1);  // index, or -1
  BOOL DeleteColumn(int col);
  CString GetColumnHeading(int col) const;
  int GetColumnFormat(int col) const;  // -1 for a bad column
  // A width in pixels, or LVSCW_AUTOSIZE (fit the items) or LVSCW_AUTOSIZE_USEHEADER
  // (fit items and heading). A text measures its width plus a margin; an empty text
  // measures 0, so a column with nothing to show auto-sizes to 0.
  BOOL SetColumnWidth(int col, int width);
  int GetColumnWidth(int col) const;  // 0 for a bad column
  CHeaderCtrl* GetHeaderCtrl();

  int InsertItem(int item, LPCTSTR text);  // index, or -1
  BOOL SetItemText(int item, int subItem, LPCTSTR text);
  CString GetItemText(int item, int subItem) const;
  int GetItemCount() const;
  BOOL DeleteItem(int item);
  BOOL DeleteAllItems();
  BOOL SetItemData(int item, DWORD_PTR data);
  DWORD_PTR GetItemData(int item) const;

  // Margins the auto-sizing adds to a text's width.
  static constexpr int kItemMargin = 12;
  static constexpr int kHeaderMargin = 12;

 private:
  CHeaderCtrl header_;
};

// ---------------------------------------------------------------------------------------
// Data exchange

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate);
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  // The control with that id; a missing control fails the exchange.
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  // Ends the exchange as failed (the caller has told the user why).
  [[noreturn]] void Fail();

  int m_idLastControl = 0;
  BOOL m_bEditLastControl = FALSE;
};

void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_LBIndex(CDataExchange* dx, int id, int& index);
// Binds `control` to the dialog's control with that id (once; later calls keep it).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// On saving, a text longer than `maxChars` is refused with a message; on loading, an
// edit control is limited to that many characters.
void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars);

// The framework's texts for refused exchanges.
extern const char* const kAfxIntegerRequiredText;   // "Please enter an integer."
extern const char* const kAfxMaxCharsFormat;        // "Enter no more than %d characters."

// ---------------------------------------------------------------------------------------
// Drawing

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};

// A bitmap from a module's resources (RT_BITMAP). Null when the module has none.
HBITMAP LoadBitmap(HINSTANCE module, LPCTSTR name);
BOOL DeleteObject(HGDIOBJ object);

class CGdiObject : public CObject {
  DECLARE_DYNAMIC(CGdiObject)
 public:
  CGdiObject() = default;
  ~CGdiObject() override;  // deletes the object it holds
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  HGDIOBJ m_hObject = nullptr;
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  BOOL Attach(HGDIOBJ object);  // takes ownership
  HGDIOBJ Detach();
  BOOL DeleteObject();
};

class CBitmap : public CGdiObject {
  DECLARE_DYNAMIC(CBitmap)
 public:
  operator HBITMAP() const { return m_hObject; }  // NOLINT
  // From the current resource module (AfxGetResourceHandle).
  BOOL LoadBitmap(UINT id);
  BOOL LoadBitmap(LPCTSTR name);
  // From the given module.
  BOOL LoadBitmap(HINSTANCE module, UINT id);
  // 32 bits a pixel (0x00RRGGBB) only; bits may be null (black).
  BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
  BOOL CreateCompatibleBitmap(class CDC* dc, int width, int height);
  int GetBitmap(BITMAP* info) const;  // bytes filled, 0 without a bitmap
};

class CDC : public CObject {
  DECLARE_DYNAMIC(CDC)
 public:
  CDC();
  ~CDC() override;
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;
  HDC GetSafeHdc() const { return m_hDC; }

  // A memory context holding a 1 x 1 bitmap until another is selected.
  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();

  int GetMapMode() const;
  // Only MM_TEXT (device units are logical units) is supported; other modes return 0
  // and leave the mode as it was.
  int SetMapMode(int mode);
  void DPtoLP(LPPOINT points, int count = 1) const;
  void DPtoLP(LPSIZE size) const;
  void DPtoLP(LPRECT rect) const;
  void LPtoDP(LPPOINT points, int count = 1) const;
  void LPtoDP(LPSIZE size) const;
  void LPtoDP(LPRECT rect) const;

  // Memory contexts only; returns the previously selected bitmap (null on failure).
  CBitmap* SelectObject(CBitmap* bitmap);

  // SRCCOPY only; nearest-neighbour scaling with positive extents. Pixels outside the
  // target or the source are left alone.
  BOOL StretchBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, DWORD rop);
  BOOL BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop);
  COLORREF GetPixel(int x, int y) const;  // 0xFFFFFFFF outside
  COLORREF SetPixel(int x, int y, COLORREF color);
  void FillSolidRect(LPCRECT rect, COLORREF color);
  void FillSolidRect(int x, int y, int width, int height, COLORREF color);

 protected:
  // The surface drawn on: the window's, or the selected bitmap's.
  uimodel::PixelSurface* Target() const;
  // Makes this a context of the window's surface, clipped to `clip` when asked.
  void AttachWindow(std::shared_ptr<afx_ui::WndState> window, bool clipped, const RECT& clip);
  HWND window_ = nullptr;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};

// Paints a window: takes its invalid area (erased to the background when asked) and
// makes it valid.
class CPaintDC : public CDC {
  DECLARE_DYNAMIC(CPaintDC)
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};
};

// Draws on a window outside of painting.
class CClientDC : public CDC {
  DECLARE_DYNAMIC(CClientDC)
 public:
  explicit CClientDC(CWnd* wnd);
};

// ---------------------------------------------------------------------------------------
// Dialogs

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  ~CDialog() override;

  // Builds the dialog from its template, initialises it (WM_INITDIALOG), hands it to the
  // UI backend until it ends, destroys it and returns the result: the EndDialog value,
  // IDCANCEL when the backend let go without ending it or when there is no backend, -1
  // when the template cannot be found.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  // For backends: the state of a running dialog.
  UINT GetTemplateId() const { return m_nIDTemplate; }
  BOOL IsEnded() const { return m_bEnded; }
  int GetResult() const { return m_nResult; }
  CString GetCaption() const;

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 protected:
  BOOL OnInitDialog() override;  // UpdateData(FALSE); TRUE
  virtual void OnOK();           // UpdateData(TRUE), then EndDialog(IDOK) when it succeeded
  virtual void OnCancel();       // EndDialog(IDCANCEL)
  // BN_CLICKED of IDOK and IDCANCEL go to OnOK and OnCancel; an override handles its
  // own ids and passes the rest here.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnClose() override;       // as Cancel

  // Creates the dialog window and its controls from the template found in `module` (or
  // wherever AfxFindResourceHandle finds it): a child of `parent` with WS_CHILD in the
  // template, else a top-level window owned by it. Returns FALSE without a template.
  BOOL CreateFromTemplate(HWND parent, HINSTANCE module = nullptr, DWORD extraStyle = 0);

  BOOL m_bEnded = FALSE;
  int m_nResult = IDCANCEL;
};

// ---------------------------------------------------------------------------------------
// File dialog

struct OPENFILENAME {
  DWORD lStructSize;
  HWND hwndOwner;
  LPCTSTR lpstrFilter;   // pairs of zero-terminated texts, ended by an empty one
  DWORD nFilterIndex;    // 1-based
  LPTSTR lpstrFile;
  DWORD nMaxFile;
  LPCTSTR lpstrInitialDir;
  LPCTSTR lpstrTitle;
  DWORD Flags;
  LPCTSTR lpstrDefExt;
};

class CFileDialog : public CDialog {
  DECLARE_DYNAMIC(CFileDialog)
 public:
  CFileDialog(BOOL openFileDialog, LPCTSTR defExt = nullptr, LPCTSTR fileName = nullptr,
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR filter = nullptr,
              CWnd* parent = nullptr);
  ~CFileDialog() override;

  // Asks the backend for a file until one passes the flags' checks (a missing file with
  // OFN_FILEMUSTEXIST, a question refused for OFN_OVERWRITEPROMPT or OFN_CREATEPROMPT ask
  // again) or the user cancels. A name without extension gets the default extension.
  INT_PTR DoModal() override;
  CString GetPathName() const;   // full path of the chosen file
  CString GetFileName() const;   // name with extension
  CString GetFileExt() const;    // extension without the dot
  CString GetFileTitle() const;  // name without extension

  // For backends.
  BOOL IsOpenDialog() const { return m_bOpenFileDialog; }
  CString GetDefExt() const { return defExt_; }
  CString GetInitialFileName() const { return initialName_; }
  CString GetFilter() const { return filter_; }  // "Desc|*.x|...||" as given
  CString GetTitle() const;  // "Open" or "Save As"

  OPENFILENAME m_ofn{};
  BOOL m_bOpenFileDialog;

 private:
  CString defExt_;
  CString initialName_;
  std::string filterBuffer_;  // m_ofn.lpstrFilter points here
  CString filter_;
  std::vector<char> fileBuffer_;  // m_ofn.lpstrFile
  CString path_;
};

// The framework's prompts of the file dialog; %s is the full path.
extern const char* const kAfxFileNotFoundFormat;
extern const char* const kAfxOverwriteFormat;
extern const char* const kAfxCreateFormat;

// ---------------------------------------------------------------------------------------
// Property pages and sheets

class CPropertySheet;

class CPropertyPage : public CDialog {
  DECLARE_DYNAMIC(CPropertyPage)
 public:
  // The caption is the string `captionId` when given, else the template's caption.
  explicit CPropertyPage(UINT templateId, UINT captionId = 0);
  ~CPropertyPage() override;

  virtual BOOL OnSetActive();     // UpdateData(FALSE); its result
  virtual BOOL OnKillActive();    // UpdateData(TRUE); its result
  virtual LRESULT OnWizardNext(); // 0: the next page; -1: stay; a template id: that page
  virtual LRESULT OnWizardBack(); // 0: the previous page; -1: stay; a template id
  virtual BOOL OnWizardFinish();  // TRUE: the wizard ends
  virtual BOOL OnQueryCancel();   // TRUE: cancelling is allowed
  void OnCancel() override;       // notification that the wizard was cancelled
  void OnOK() override;           // notification that the wizard finished

  CString GetCaption() const { return m_strCaption; }
  CString m_strCaption;

 protected:
  BOOL OnInitDialog() override;

 private:
  friend class CPropertySheet;
  HINSTANCE templateModule_ = nullptr;
};

class CPropertySheet : public CWnd {
  DECLARE_DYNAMIC(CPropertySheet)
 public:
  explicit CPropertySheet(LPCTSTR caption = "", CWnd* parent = nullptr, UINT selectPage = 0);
  explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CPropertySheet() override;

  // Pages are the caller's; the sheet never deletes them.
  void AddPage(CPropertyPage* page);
  void RemovePage(int index);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const;
  void SetWizardMode() { wizard_ = true; }
  BOOL IsWizard() const { return wizard_; }

  // Creates the sheet's window, activates the start page, hands the sheet to the UI
  // backend's RunWizard and destroys the window: ID_WIZFINISH after Finish, IDCANCEL
  // otherwise (no backend, cancelled, or the backend let go).
  virtual INT_PTR DoModal();
  // Creates the sheet's window (owned by the parent) without running it.
  BOOL Create(CWnd* parent = nullptr);
  BOOL DestroyWindow() override;

  // Navigation, for backends and tests.
  // Deactivates the current page (its window is destroyed), creates the page's window as
  // a child of the sheet, initialises it and calls OnSetActive; a page that refuses is
  // skipped in the direction of travel. The page's PSM_SETWIZBUTTONS arrives when the
  // sheet's thread pumps.
  BOOL SetActivePage(int index);
  BOOL SetActivePage(CPropertyPage* page);
  int GetActiveIndex() const { return active_; }
  CPropertyPage* GetActivePage() const;
  // PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL: as if the user pressed it.
  void PressButton(int button);
  void SetWizardButtons(DWORD flags) { wizButtons_ = flags; }
  DWORD GetWizardButtons() const { return wizButtons_; }  // 0 until a page sets them
  BOOL IsFinished() const { return finished_; }
  BOOL IsCancelled() const { return cancelled_; }
  BOOL IsEnded() const { return finished_ || cancelled_; }
  int GetResult() const;
  CString GetTitle() const { return caption_; }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Next();
  void Back();
  void Finish();
  void Cancel();
  bool Activate(int index, int direction);
  void DeactivateCurrent();
  int IndexOfTemplate(LRESULT templateId) const;

  CString caption_;
  CWnd* parent_;
  std::vector<CPropertyPage*> pages_;
  UINT startPage_;
  bool wizard_ = false;
  int active_ = -1;
  DWORD wizButtons_ = 0;
  bool finished_ = false;
  bool cancelled_ = false;
};

// ---------------------------------------------------------------------------------------
// Wait cursor

// Shows the wait cursor for its lifetime; nested ones count.
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
  // Shows it again (after a message box took it away).
  void Restore();
};
