// Font metrics, system colours and rectangle arithmetic.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "framework/uimodel.h"

namespace {

std::mutex gMetricsMutex;
std::shared_ptr<const uimodel::FontMetrics> gMetrics;

// The colours of the classic grey dialog look, as 0x00RRGGBB.
struct SysColor {
  int index;
  COLORREF color;
};
constexpr SysColor kSysColors[] = {
    {COLOR_WINDOW, 0x00FFFFFF},
    {COLOR_WINDOWTEXT, 0x00000000},
    {COLOR_BTNFACE, 0x00C0C0C0},
};

}  // namespace

int uimodel::FixedFontMetrics::GetTextWidth(LPCTSTR, int, LPCTSTR text) const {
  return text ? 6 * static_cast<int>(std::strlen(text)) : 0;
}

void uimodel::SetFontMetrics(std::shared_ptr<const uimodel::FontMetrics> metrics) {
  std::lock_guard lock(gMetricsMutex);
  gMetrics = std::move(metrics);
}

std::shared_ptr<const uimodel::FontMetrics> uimodel::GetFontMetrics() {
  std::lock_guard lock(gMetricsMutex);
  if (!gMetrics) gMetrics = std::make_shared<uimodel::FixedFontMetrics>();
  return gMetrics;
}

COLORREF GetSysColor(int index) {
  for (const auto& row : kSysColors) {
    if (row.index == index) return row.color;
  }
  return 0;
}

bool CRect::IntersectRect(const RECT& a, const RECT& b) {
  const CRect result(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom));
  *this = result.IsRectEmpty() ? CRect() : result;
  return !IsRectEmpty();
}

bool CRect::UnionRect(const RECT& a, const RECT& b) {
  const CRect ra(a);
  const CRect rb(b);
  if (ra.IsRectEmpty()) {
    *this = rb.IsRectEmpty() ? CRect() : rb;
  } else if (rb.IsRectEmpty()) {
    *this = ra;
  } else {
    *this = CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                  std::max(a.bottom, b.bottom));
  }
  return !IsRectEmpty();
}
