#include "ui/side_panel_bitmap.h"

CSidePanelBitmap::~CSidePanelBitmap() {
  DeleteObject();
}

void CSidePanelBitmap::Draw(CDC* dc, const CRect& rect) {
  if (!dc || !GetSafeHandle()) return;
  BITMAP info{};
  GetBitmap(&info);
  CSize size(info.bmWidth, info.bmHeight);
  CPoint origin(0, 0);
  dc->DPtoLP(&size);
  dc->DPtoLP(&origin);

  CDC memory;
  if (!memory.CreateCompatibleDC(dc)) return;
  memory.SetMapMode(dc->GetMapMode());
  CBitmap* previous = memory.SelectObject(this);
  dc->StretchBlt(rect.left, rect.top, rect.Width(), rect.Height(), &memory, origin.x, origin.y,
                 size.cx, size.cy, SRCCOPY);
  memory.SelectObject(previous);
  memory.DeleteDC();
}
