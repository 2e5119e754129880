// CWnd: a wrapper of a window handle whose model lives in the window table, and the
// dispatch of messages to the virtual handlers.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "framework/ui/wnd_dispatch.h"
#include "framework/ui/wnd_state.h"

using afx_ui::FindState;
using afx_ui::StatePtr;

IMPLEMENT_DYNAMIC(CWnd, CObject)

namespace {

// The messages this thread is handling, innermost first: each link lives on the stack of
// the call that handles it. A plain pointer, because a thread_local with a destructor is
// destroyed after its storage is gone under MinGW-w64's emulated thread-local storage.
struct MessageLink {
  afx_ui::CurrentMessage message;
  const MessageLink* outer;
};
thread_local const MessageLink* tCurrent = nullptr;

// Temporary wrappers: kept with the model of our windows, and here for windows of the
// platform that the framework did not create (the host's window); the latter are
// dropped once their window is gone.
std::mutex& TemporaryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::unordered_map<HWND, std::unique_ptr<CWnd>>& ForeignWrappers() {
  static std::unordered_map<HWND, std::unique_ptr<CWnd>> wrappers;
  return wrappers;
}

void OffsetRect(LPRECT rect, int dx, int dy) {
  rect->left += dx;
  rect->right += dx;
  rect->top += dy;
  rect->bottom += dy;
}

std::unique_ptr<CWnd> NewWrapper(uimodel::Kind cls) {
  switch (cls) {
    case uimodel::Kind::Static:
      return std::make_unique<CStatic>();
    case uimodel::Kind::Button:
    case uimodel::Kind::GroupBox:
      return std::make_unique<CButton>();
    case uimodel::Kind::Edit:
      return std::make_unique<CEdit>();
    case uimodel::Kind::ListBox:
      return std::make_unique<CListBox>();
    case uimodel::Kind::ListView:
      return std::make_unique<CListCtrl>();
    default:
      return std::make_unique<CWnd>();
  }
}

}  // namespace

void WndDispatch::MarkOwner(CWnd& wnd) {
  wnd.m_bOwnsWindow = true;
}

LRESULT WndDispatch::Call(CWnd& target, UINT message, WPARAM wParam, LPARAM lParam) {
  struct Scope {
    MessageLink link;
    Scope(UINT m, WPARAM w, LPARAM l) : link{{m, w, l}, tCurrent} { tCurrent = &link; }
    ~Scope() { tCurrent = link.outer; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
  } scope(message, wParam, lParam);
  return target.WindowProc(message, wParam, lParam);
}

const afx_ui::CurrentMessage* WndDispatch::Current() {
  return tCurrent ? &tCurrent->message : nullptr;
}

std::unique_ptr<CWnd> WndDispatch::TakeTemporary(afx_ui::WndState& state) {
  std::lock_guard lock(TemporaryMutex());
  return std::move(state.temporary);
}

CWnd::CWnd() = default;

CWnd::~CWnd() {
  StatePtr state = FindState(m_hWnd);
  if (state && state->target.load() == this) {
    if (m_bOwnsWindow) {
      afx_ui::DestroyWnd(m_hWnd);
    } else {
      state->target = nullptr;
    }
  }
  m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  StatePtr state = FindState(hwnd);
  return state ? state->target.load() : nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (StatePtr state = FindState(hwnd)) {
    if (CWnd* target = state->target.load()) return target;
    std::lock_guard lock(TemporaryMutex());
    if (!state->temporary) {
      state->temporary = NewWrapper(state->cls);
      state->temporary->m_hWnd = hwnd;
    }
    return state->temporary.get();
  }
  if (!platform::IsWindow(hwnd)) return nullptr;
  std::lock_guard lock(TemporaryMutex());
  auto& wrappers = ForeignWrappers();
  std::erase_if(wrappers, [](const auto& entry) { return !platform::IsWindow(entry.first); });
  auto& wrapper = wrappers[hwnd];
  if (!wrapper) {
    wrapper = std::make_unique<CWnd>();
    wrapper->m_hWnd = hwnd;
  }
  return wrapper.get();
}

BOOL uimodel::CreateWindow(CWnd& wnd, Kind kind, LPCTSTR text, DWORD style, const RECT& rect,
                           HWND parent, UINT id) {
  if (wnd.m_hWnd) return FALSE;
  afx_ui::CreateParams params;
  params.cls = kind;
  params.text = text ? text : "";
  params.style = style;
  params.rect = rect;
  params.parent = parent;
  params.id = static_cast<int>(id & 0xFFFF);
  afx_ui::CreateWnd(params, &wnd);
  WndDispatch::MarkOwner(wnd);
  return TRUE;
}

BOOL CWnd::DestroyWindow() {
  const HWND hwnd = m_hWnd;
  if (!FindState(hwnd)) return FALSE;
  // Unbinds this object, or deletes it when it is a temporary wrapper: not touched after.
  afx_ui::DestroyWnd(hwnd);
  return TRUE;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  StatePtr state = FindState(hwnd);
  if (!state || m_hWnd) return FALSE;
  m_hWnd = hwnd;
  m_bOwnsWindow = false;
  state->target = this;
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  CWnd* item = parent ? parent->GetDlgItem(static_cast<int>(id)) : nullptr;
  return item ? SubclassWindow(item->m_hWnd) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  HWND hwnd = m_hWnd;
  StatePtr state = FindState(hwnd);
  if (state && state->target.load() == this) state->target = nullptr;
  m_hWnd = nullptr;
  m_bOwnsWindow = false;
  return hwnd;
}

uimodel::Kind uimodel::KindOf(const CWnd& wnd) {
  StatePtr state = FindState(wnd.m_hWnd);
  return state ? state->cls : uimodel::Kind::Window;
}

BOOL CWnd::IsWindow() const {
  return platform::IsWindow(m_hWnd) ? TRUE : FALSE;
}

CWnd* CWnd::GetDlgItem(int id) const {
  StatePtr state = FindState(m_hWnd);
  if (!state) return nullptr;
  const int wanted = id & 0xFFFF;
  for (HWND child : state->children) {
    StatePtr c = FindState(child);
    if (c && c->id == wanted) return FromHandle(child);
  }
  return nullptr;
}

int CWnd::GetDlgCtrlID() const {
  StatePtr state = FindState(m_hWnd);
  return state ? state->id : 0;
}

CWnd* CWnd::GetParent() const {
  StatePtr state = FindState(m_hWnd);
  return state ? FromHandle(state->parent) : nullptr;
}

std::vector<CWnd*> CWnd::GetChildren() const {
  std::vector<CWnd*> result;
  if (StatePtr state = FindState(m_hWnd)) {
    for (HWND child : state->children) {
      if (CWnd* wnd = FromHandle(child)) result.push_back(wnd);
    }
  }
  return result;
}

DWORD CWnd::GetStyle() const {
  StatePtr state = FindState(m_hWnd);
  if (!state) return 0;
  DWORD style = state->style & ~(WS_VISIBLE | WS_DISABLED);
  if (state->visible) style |= WS_VISIBLE;
  if (!state->enabled) style |= WS_DISABLED;
  return style;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add) {
  StatePtr state = FindState(m_hWnd);
  if (!state) return FALSE;
  state->style = (state->style & ~remove) | add;
  if ((remove | add) & WS_VISIBLE) state->visible = (add & WS_VISIBLE) != 0;
  if ((remove | add) & WS_DISABLED) state->enabled = (add & WS_DISABLED) == 0;
  return TRUE;
}

void CWnd::SetWindowText(LPCTSTR text) {
  if (!m_hWnd) return;
  platform::SetWindowText(m_hWnd, text ? text : "");
  if (StatePtr state = FindState(m_hWnd)) afx_ui::InvalidateState(*state, nullptr, true);
}

void CWnd::GetWindowText(CString& text) const {
  text = platform::GetWindowText(m_hWnd);
}

CString CWnd::GetWindowText() const {
  return CString(platform::GetWindowText(m_hWnd));
}

int CWnd::GetWindowText(LPTSTR buffer, int maxCount) const {
  if (!buffer || maxCount <= 0) return 0;
  const std::string text = platform::GetWindowText(m_hWnd);
  const size_t n = std::min(text.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int CWnd::GetWindowTextLength() const {
  return static_cast<int>(platform::GetWindowText(m_hWnd).size());
}

void CWnd::SetDlgItemText(int id, LPCTSTR text) {
  if (CWnd* item = GetDlgItem(id)) item->SetWindowText(text);
}

int CWnd::GetDlgItemText(int id, CString& text) const {
  CWnd* item = GetDlgItem(id);
  text = item ? item->GetWindowText() : CString();
  return text.GetLength();
}

BOOL CWnd::ShowWindow(int cmd) {
  StatePtr state = FindState(m_hWnd);
  if (!state) return FALSE;
  const BOOL was = state->visible ? TRUE : FALSE;
  state->visible = cmd != SW_HIDE;
  if (state->visible && !was) afx_ui::InvalidateState(*state, nullptr, true);
  return was;
}

BOOL CWnd::IsWindowVisible() const {
  for (StatePtr state = FindState(m_hWnd); state;
       state = state->child ? FindState(state->parent) : nullptr) {
    if (!state->visible) return FALSE;
  }
  return m_hWnd && FindState(m_hWnd) ? TRUE : FALSE;
}

BOOL CWnd::EnableWindow(BOOL enable) {
  StatePtr state = FindState(m_hWnd);
  if (!state) return FALSE;
  const BOOL wasDisabled = state->enabled ? FALSE : TRUE;
  state->enabled = enable != FALSE;
  return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
  StatePtr state = FindState(m_hWnd);
  return state && state->enabled ? TRUE : FALSE;
}

void CWnd::GetWindowRect(LPRECT rect) const {
  if (!rect) return;
  StatePtr state = FindState(m_hWnd);
  if (!state) {
    *rect = CRect();
    return;
  }
  const CPoint origin = afx_ui::ClientOrigin(*state);
  *rect = CRect(origin, state->rect.Size());
}

void CWnd::GetClientRect(LPRECT rect) const {
  if (!rect) return;
  StatePtr state = FindState(m_hWnd);
  *rect = state ? CRect(0, 0, state->rect.Width(), state->rect.Height()) : CRect();
}

void CWnd::ScreenToClient(LPPOINT point) const {
  StatePtr state = FindState(m_hWnd);
  if (!state || !point) return;
  const CPoint origin = afx_ui::ClientOrigin(*state);
  point->x -= origin.x;
  point->y -= origin.y;
}

void CWnd::ScreenToClient(LPRECT rect) const {
  StatePtr state = FindState(m_hWnd);
  if (!state || !rect) return;
  const CPoint origin = afx_ui::ClientOrigin(*state);
  OffsetRect(rect, -origin.x, -origin.y);
}

void CWnd::ClientToScreen(LPPOINT point) const {
  StatePtr state = FindState(m_hWnd);
  if (!state || !point) return;
  const CPoint origin = afx_ui::ClientOrigin(*state);
  point->x += origin.x;
  point->y += origin.y;
}

void CWnd::ClientToScreen(LPRECT rect) const {
  StatePtr state = FindState(m_hWnd);
  if (!state || !rect) return;
  const CPoint origin = afx_ui::ClientOrigin(*state);
  OffsetRect(rect, origin.x, origin.y);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  StatePtr state = FindState(m_hWnd);
  if (!state) return;
  state->rect = CRect(x, y, x + std::max(0, width), y + std::max(0, height));
  afx_ui::ResizeSurface(*state);
  if (repaint) afx_ui::InvalidateState(*state, nullptr, true);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
  if (rect)
    MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::MapDialogRect(LPRECT rect) const {
  if (!rect) return;
  *rect = afx_ui::MapDialogUnits(*rect, GetFontFace(), GetFontPointSize());
}

CString CWnd::GetFontFace() const {
  StatePtr state = FindState(m_hWnd);
  return state ? state->fontFace : CString("MS Sans Serif");
}

int CWnd::GetFontPointSize() const {
  StatePtr state = FindState(m_hWnd);
  return state ? state->pointSize : 8;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return platform::SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return platform::PostMessage(m_hWnd, message, wParam, lParam);
}

void CWnd::Invalidate(BOOL erase) {
  InvalidateRect(nullptr, erase);
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
  if (StatePtr state = FindState(m_hWnd)) afx_ui::InvalidateState(*state, rect, erase != FALSE);
}

void CWnd::UpdateWindow() {
  StatePtr state = FindState(m_hWnd);
  if (state && state->invalid && state->redraw) SendMessage(WM_PAINT);
}

BOOL CWnd::IsPaintPending() const {
  StatePtr state = FindState(m_hWnd);
  return state && state->invalid ? TRUE : FALSE;
}

void CWnd::SetRedraw(BOOL redraw) {
  SendMessage(WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
}

BOOL CWnd::IsRedrawEnabled() const {
  StatePtr state = FindState(m_hWnd);
  return state && state->redraw ? TRUE : FALSE;
}

const uimodel::PixelSurface* uimodel::SurfaceOf(const CWnd& wnd) {
  StatePtr state = FindState(wnd.m_hWnd);
  return state ? &state->surface : nullptr;
}

// ---------------------------------------------------------------------------------------
// Messages

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(wParam, lParam)) return 0;
      break;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_VKEYTOITEM:
      return OnVKeyToItem(LOWORD(wParam),
                          static_cast<CListBox*>(FromHandle(reinterpret_cast<HWND>(lParam))),
                          HIWORD(wParam));
    case WM_KEYDOWN:
      OnKeyDown(static_cast<UINT>(wParam), LOWORD(static_cast<DWORD_PTR>(lParam)),
                HIWORD(static_cast<DWORD_PTR>(lParam)));
      return 0;
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      break;
  }
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  StatePtr state = FindState(m_hWnd);
  return state ? afx_ui::ClassProc(state, message, wParam, lParam) : 0;
}

LRESULT CWnd::Default() {
  const afx_ui::CurrentMessage* current = WndDispatch::Current();
  return current ? DefWindowProc(current->message, current->wParam, current->lParam) : 0;
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) {
  return FALSE;
}

void CWnd::OnPaint() {
  DefWindowProc(WM_PAINT, 0, 0);
}

int CWnd::OnVKeyToItem(UINT key, CListBox* listBox, UINT index) {
  return static_cast<int>(
      DefWindowProc(WM_VKEYTOITEM, MAKEWPARAM(key, index),
                    reinterpret_cast<LPARAM>(listBox ? listBox->m_hWnd : nullptr)));
}

void CWnd::OnKeyDown(UINT key, UINT repeatCount, UINT flags) {
  DefWindowProc(WM_KEYDOWN, key, MAKELPARAM(repeatCount, flags));
}

BOOL CWnd::OnInitDialog() {
  return TRUE;
}

void CWnd::OnClose() {
  DefWindowProc(WM_CLOSE, 0, 0);
}

void CWnd::OnDestroy() {}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (CUserException* e) {
    // The exchange has already told the user what is wrong.
    e->Delete();
    return FALSE;
  }
  return TRUE;
}
