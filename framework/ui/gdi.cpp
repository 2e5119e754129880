// Bitmaps and device contexts on in-memory pixel surfaces. Bitmap handles index a table
// of surfaces, so that a deleted handle is simply unknown and a surface selected into a
// context outlives the deletion of its handle.
#include <algorithm>

#include "framework/ui/wnd_state.h"
#include "platform/handle_table.h"

IMPLEMENT_DYNAMIC(CGdiObject, CObject)
IMPLEMENT_DYNAMIC(CBitmap, CGdiObject)
IMPLEMENT_DYNAMIC(CDC, CObject)
IMPLEMENT_DYNAMIC(CPaintDC, CDC)
IMPLEMENT_DYNAMIC(CClientDC, CDC)

namespace {

constexpr COLORREF kInvalidColor = 0xFFFFFFFF;
constexpr long long kMaxBitmapPixels = 16LL * 1024 * 1024;

using SurfacePtr = std::shared_ptr<uimodel::PixelSurface>;

// Bitmaps take handles from 0x40008 on, eight apart.
platform::HandleTable<HGDIOBJ, SurfacePtr>& Bitmaps() {
  static platform::HandleTable<HGDIOBJ, SurfacePtr> table(0x40000, 8);
  return table;
}

HBITMAP NewBitmap(int width, int height, const COLORREF* pixels) {
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxBitmapPixels) {
    return nullptr;
  }
  auto surface = std::make_shared<uimodel::PixelSurface>();
  surface->width = width;
  surface->height = height;
  const size_t count = static_cast<size_t>(width) * height;
  if (pixels) {
    surface->pixels.assign(pixels, pixels + count);
  } else {
    surface->pixels.assign(count, 0);
  }
  return Bitmaps().Add(std::move(surface));
}

// A resource's palette indexes become colours; an index beyond the palette reads as
// black rather than past the table.
HBITMAP BitmapFromResource(const BitmapResource& resource) {
  if (!resource.pixels || resource.width <= 0 || resource.height <= 0) return nullptr;
  const size_t count = static_cast<size_t>(resource.width) * resource.height;
  std::vector<COLORREF> pixels(count, 0);
  for (size_t i = 0; i < count; ++i) {
    const int index = resource.pixels[i];
    if (resource.palette && index < resource.colors) pixels[i] = resource.palette[index] & 0x00FFFFFF;
  }
  return NewBitmap(resource.width, resource.height, pixels.data());
}

CRect SurfaceBounds(const uimodel::PixelSurface& surface) { return CRect(0, 0, surface.width, surface.height); }

}  // namespace

HBITMAP LoadBitmap(HINSTANCE module, LPCTSTR name) {
  if (!IS_INTRESOURCE(name)) return nullptr;  // bitmaps are found by number only
  const UINT id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(name));
  const platform::ResourceEntry* entry = platform::FindResource(module, id, RT_BITMAP);
  if (!entry || !entry->data) return nullptr;
  return BitmapFromResource(*static_cast<const BitmapResource*>(entry->data));
}

BOOL DeleteObject(HGDIOBJ object) {
  return Bitmaps().Remove(object) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::Attach(HGDIOBJ object) {
  if (!object || m_hObject) return FALSE;
  m_hObject = object;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ object = m_hObject;
  m_hObject = nullptr;
  return object;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  const BOOL deleted = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return deleted;
}

BOOL CBitmap::LoadBitmap(UINT id) { return LoadBitmap(AfxGetResourceHandle(), id); }

BOOL CBitmap::LoadBitmap(LPCTSTR name) {
  if (m_hObject) return FALSE;
  return Attach(::LoadBitmap(AfxGetResourceHandle(), name));
}

BOOL CBitmap::LoadBitmap(HINSTANCE module, UINT id) {
  if (m_hObject) return FALSE;
  return Attach(::LoadBitmap(module, MAKEINTRESOURCE(id)));
}

BOOL CBitmap::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (m_hObject || planes != 1 || bitsPerPixel != 32) return FALSE;
  return Attach(NewBitmap(width, height, static_cast<const COLORREF*>(bits)));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC*, int width, int height) {
  return CreateBitmap(width, height, 1, 32, nullptr);
}

int CBitmap::GetBitmap(BITMAP* info) const {
  const uimodel::PixelSurface* surface = uimodel::PixelsOf(*this);
  if (!surface || !info) return 0;
  *info = BITMAP{0, surface->width, surface->height, surface->width * 4, 1, 32, nullptr};
  return sizeof(BITMAP);
}

uimodel::PixelSurface* uimodel::PixelsOf(CBitmap& bitmap) {
  return Bitmaps().Find(bitmap.m_hObject).value_or(nullptr).get();
}

const uimodel::PixelSurface* uimodel::PixelsOf(const CBitmap& bitmap) {
  return Bitmaps().Find(bitmap.m_hObject).value_or(nullptr).get();
}

// ---------------------------------------------------------------------------------------

struct CDC::Impl {
  bool memory = false;
  int mapMode = MM_TEXT;
  CBitmap stock;                 // the 1 x 1 bitmap of a new memory context
  CBitmap* selected = nullptr;
  SurfacePtr selectedSurface;    // keeps the pixels while selected
  afx_ui::StatePtr window;       // keeps the window's model while drawing on it
  bool clipped = false;
  CRect clip;
};

CDC::CDC() : impl_(std::make_unique<Impl>()) {}

CDC::~CDC() { DeleteDC(); }

BOOL CDC::CreateCompatibleDC(CDC*) {
  if (m_hDC) return FALSE;
  impl_ = std::make_unique<Impl>();
  impl_->memory = true;
  const COLORREF black = 0;
  impl_->stock.CreateBitmap(1, 1, 1, 32, &black);
  impl_->selected = &impl_->stock;
  impl_->selectedSurface = Bitmaps().Find(impl_->stock.m_hObject).value_or(nullptr);
  m_hDC = reinterpret_cast<HDC>(impl_.get());
  return TRUE;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  impl_ = std::make_unique<Impl>();
  m_hDC = nullptr;
  window_ = nullptr;
  return TRUE;
}

int CDC::GetMapMode() const { return impl_->mapMode; }

int CDC::SetMapMode(int mode) {
  if (mode != MM_TEXT) return 0;
  const int previous = impl_->mapMode;
  impl_->mapMode = mode;
  return previous;
}

// In MM_TEXT with origins at 0 a logical unit is a device pixel: nothing to convert.
void CDC::DPtoLP(LPPOINT, int) const {}
void CDC::DPtoLP(LPSIZE) const {}
void CDC::DPtoLP(LPRECT) const {}
void CDC::LPtoDP(LPPOINT, int) const {}
void CDC::LPtoDP(LPSIZE) const {}
void CDC::LPtoDP(LPRECT) const {}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  if (!m_hDC || !impl_->memory || !bitmap) return nullptr;
  SurfacePtr surface = Bitmaps().Find(bitmap->m_hObject).value_or(nullptr);
  if (!surface) return nullptr;
  CBitmap* previous = impl_->selected;
  impl_->selected = bitmap;
  impl_->selectedSurface = std::move(surface);
  return previous;
}

void CDC::AttachWindow(std::shared_ptr<afx_ui::WndState> window, bool clipped, const RECT& clip) {
  impl_ = std::make_unique<Impl>();
  impl_->window = std::move(window);
  impl_->clipped = clipped;
  impl_->clip = clip;
  m_hDC = reinterpret_cast<HDC>(impl_.get());
}

uimodel::PixelSurface* CDC::Target() const {
  if (!m_hDC) return nullptr;
  if (impl_->memory) return impl_->selectedSurface.get();
  return impl_->window ? &impl_->window->surface : nullptr;
}

BOOL CDC::StretchBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc,
                     int srcWidth, int srcHeight, DWORD rop) {
  if (rop != SRCCOPY || !src || width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) {
    return FALSE;
  }
  uimodel::PixelSurface* target = Target();
  const uimodel::PixelSurface* source = src->Target();
  if (!target || !source) return FALSE;
  // Copying within one surface reads the pixels as they were before.
  uimodel::PixelSurface copy;
  if (source == target) {
    copy = *source;
    source = &copy;
  }
  CRect area = SurfaceBounds(*target);
  if (impl_->clipped) area.IntersectRect(area, impl_->clip);
  for (int dy = 0; dy < height; ++dy) {
    const int ty = y + dy;
    if (ty < area.top || ty >= area.bottom) continue;
    // Nearest neighbour: the source pixel under the centre of the target pixel.
    const int sy = ySrc + static_cast<int>((2LL * dy + 1) * srcHeight / (2LL * height));
    if (sy < 0 || sy >= source->height) continue;
    for (int dx = 0; dx < width; ++dx) {
      const int tx = x + dx;
      if (tx < area.left || tx >= area.right) continue;
      const int sx = xSrc + static_cast<int>((2LL * dx + 1) * srcWidth / (2LL * width));
      if (sx < 0 || sx >= source->width) continue;
      target->pixels[static_cast<size_t>(ty) * target->width + tx] = source->At(sx, sy);
    }
  }
  return TRUE;
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop) {
  return StretchBlt(x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

COLORREF CDC::GetPixel(int x, int y) const {
  const uimodel::PixelSurface* surface = Target();
  return surface && surface->Contains(x, y) ? surface->At(x, y) : kInvalidColor;
}

COLORREF CDC::SetPixel(int x, int y, COLORREF color) {
  uimodel::PixelSurface* surface = Target();
  if (!surface || !surface->Contains(x, y)) return kInvalidColor;
  if (impl_->clipped && !impl_->clip.PtInRect(CPoint(x, y))) return kInvalidColor;
  surface->pixels[static_cast<size_t>(y) * surface->width + x] = color & 0x00FFFFFF;
  return color & 0x00FFFFFF;
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
  if (rect) FillSolidRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, color);
}

void CDC::FillSolidRect(int x, int y, int width, int height, COLORREF color) {
  uimodel::PixelSurface* surface = Target();
  if (!surface || width <= 0 || height <= 0) return;
  CRect area(x, y, x + width, y + height);
  area.IntersectRect(area, SurfaceBounds(*surface));
  if (impl_->clipped) area.IntersectRect(area, impl_->clip);
  for (int ty = area.top; ty < area.bottom; ++ty) {
    for (int tx = area.left; tx < area.right; ++tx) {
      surface->pixels[static_cast<size_t>(ty) * surface->width + tx] = color & 0x00FFFFFF;
    }
  }
}

// ---------------------------------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* wnd) {
  afx_ui::StatePtr state = wnd ? afx_ui::FindState(wnd->m_hWnd) : nullptr;
  if (!state) return;
  afx_ui::BeginPaint(*state, m_ps);
  window_ = wnd->m_hWnd;
  AttachWindow(state, true, m_ps.rcPaint);
  m_ps.hdc = m_hDC;
}

CPaintDC::~CPaintDC() = default;

CClientDC::CClientDC(CWnd* wnd) {
  afx_ui::StatePtr state = wnd ? afx_ui::FindState(wnd->m_hWnd) : nullptr;
  if (!state) return;
  window_ = wnd->m_hWnd;
  AttachWindow(state, false, CRect());
}
