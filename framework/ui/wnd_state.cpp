// The table of window models and the life of a window: creation with its platform
// window, message dispatch to the bound object, destruction of a whole tree.
#include "framework/ui/wnd_state.h"

#include <algorithm>
#include <unordered_map>

#include "framework/ui/wnd_dispatch.h"

namespace afx_ui {

namespace {

// Where top-level windows appear. Not at 0, 0, so that a confusion of screen and client
// coordinates shows.
constexpr POINT kTopLevelOrigin{40, 30};
// Surfaces beyond this many pixels are not kept (a window of absurd size still works).
constexpr long long kMaxSurfacePixels = 16LL * 1024 * 1024;

class StateTable {
 public:
  void Add(const StatePtr& state) {
    std::lock_guard lock(mutex_);
    states_[state->hwnd] = state;
  }
  StatePtr Find(HWND hwnd) {
    std::lock_guard lock(mutex_);
    auto it = states_.find(hwnd);
    return it == states_.end() ? nullptr : it->second;
  }
  StatePtr Remove(HWND hwnd) {
    std::lock_guard lock(mutex_);
    auto it = states_.find(hwnd);
    if (it == states_.end()) return nullptr;
    StatePtr state = std::move(it->second);
    states_.erase(it);
    return state;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HWND, StatePtr> states_;
};

StateTable& States() {
  static StateTable table;
  return table;
}

COLORREF BackgroundOf(uimodel::Kind cls) {
  switch (cls) {
    case uimodel::Kind::Edit:
    case uimodel::Kind::ListBox:
    case uimodel::Kind::ListView:
      return GetSysColor(COLOR_WINDOW);
    default:
      return GetSysColor(COLOR_BTNFACE);
  }
}

LRESULT Route(const StatePtr& state, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT && lParam == kPaintRequest) {
    state->paintPosted = false;
    if (!state->invalid || !state->redraw) return 0;
    lParam = 0;
  }
  if (CWnd* target = state->target.load()) return WndDispatch::Call(*target, message, wParam, lParam);
  return ClassProc(state, message, wParam, lParam);
}

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}

}  // namespace

StatePtr FindState(HWND hwnd) { return hwnd ? States().Find(hwnd) : nullptr; }

HWND CreateWnd(const CreateParams& params, CWnd* target) {
  auto state = std::make_shared<WndState>();
  StatePtr parent = FindState(params.parent);
  state->cls = params.cls;
  state->id = params.id;
  state->style = params.style;
  state->child = (params.style & WS_CHILD) != 0 && parent != nullptr;
  state->rect = params.rect;
  if (!state->child) state->rect.OffsetRect(kTopLevelOrigin.x, kTopLevelOrigin.y);
  state->parent = params.parent;
  state->visible = (params.style & WS_VISIBLE) != 0;
  state->enabled = (params.style & WS_DISABLED) == 0;
  if (!params.fontFace.IsEmpty()) {
    state->fontFace = params.fontFace;
    state->pointSize = params.pointSize;
  } else if (parent) {
    state->fontFace = parent->fontFace;
    state->pointSize = parent->pointSize;
  }
  state->background = BackgroundOf(params.cls);
  state->target = target;
  ResizeSurface(*state);
  state->invalid = true;
  state->erase = true;
  state->invalidRect = CRect(0, 0, state->rect.Width(), state->rect.Height());

  std::weak_ptr<WndState> weak = state;
  state->hwnd = platform::CreateWindowObject(
      [weak](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        StatePtr alive = weak.lock();
        return alive ? Route(alive, message, wParam, lParam) : 0;
      },
      params.text.str());
  States().Add(state);
  if (state->child) parent->children.push_back(state->hwnd);
  if (target) target->m_hWnd = state->hwnd;
  // Windows that draw themselves get their first paint when their thread pumps.
  if (params.cls == uimodel::Kind::Dialog || params.cls == uimodel::Kind::PropertySheet ||
      params.cls == uimodel::Kind::Window) {
    InvalidateState(*state, nullptr, true);
  }
  return state->hwnd;
}

void DestroyWnd(HWND hwnd) {
  StatePtr state = FindState(hwnd);
  if (!state) return;
  for (HWND child : std::vector<HWND>(state->children)) DestroyWnd(child);
  platform::SendMessage(hwnd, WM_DESTROY, 0, 0);
  if (CWnd* target = state->target.exchange(nullptr)) {
    if (target->m_hWnd == hwnd) target->m_hWnd = nullptr;
  }
  if (StatePtr parent = state->child ? FindState(state->parent) : nullptr) {
    std::erase(parent->children, hwnd);
  }
  States().Remove(hwnd);
  platform::DestroyWindowObject(hwnd);
  std::unique_ptr<CWnd> temporary = WndDispatch::TakeTemporary(*state);
  if (temporary) temporary->m_hWnd = nullptr;
}

CPoint ClientOrigin(const WndState& state) {
  CPoint origin(state.rect.left, state.rect.top);
  if (!state.child) return origin;
  StatePtr parent = FindState(state.parent);
  if (!parent) return origin;
  CPoint parentOrigin = ClientOrigin(*parent);
  origin.Offset(parentOrigin.x, parentOrigin.y);
  return origin;
}

void ResizeSurface(WndState& state) {
  const int width = std::max(0, state.rect.Width());
  const int height = std::max(0, state.rect.Height());
  if (static_cast<long long>(width) * height > kMaxSurfacePixels) {
    state.surface = uimodel::PixelSurface{};
    return;
  }
  if (state.surface.width == width && state.surface.height == height) return;
  state.surface.width = width;
  state.surface.height = height;
  state.surface.pixels.assign(static_cast<size_t>(width) * height, state.background);
}

void InvalidateState(WndState& state, const RECT* area, bool erase) {
  const CRect client(0, 0, state.rect.Width(), state.rect.Height());
  CRect wanted = area ? CRect(*area) : client;
  wanted.IntersectRect(wanted, client);
  if (wanted.IsRectEmpty()) return;
  if (state.invalid) {
    state.invalidRect.UnionRect(state.invalidRect, wanted);
  } else {
    state.invalidRect = wanted;
  }
  state.invalid = true;
  state.erase = state.erase || erase;
  if (state.redraw && !state.paintPosted && state.hwnd) {
    state.paintPosted = platform::PostMessage(state.hwnd, WM_PAINT, 0, kPaintRequest) != FALSE;
  }
}

CRect MapDialogUnits(const RECT& r, LPCTSTR face, int pointSize) {
  const CSize base = uimodel::GetFontMetrics()->GetDialogBaseUnits(face, pointSize);
  const int left = MulDiv(r.left, base.cx, 4);
  const int top = MulDiv(r.top, base.cy, 8);
  // Width and height are converted on their own, as dialog templates are.
  const int width = MulDiv(r.right - r.left, base.cx, 4);
  const int height = MulDiv(r.bottom - r.top, base.cy, 8);
  return CRect(left, top, left + width, top + height);
}

}  // namespace afx_ui
