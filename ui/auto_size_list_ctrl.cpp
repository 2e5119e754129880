#include "ui/auto_size_list_ctrl.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CAutoSizeListCtrl, CListCtrl)

void CAutoSizeListCtrl::AutoSizeColumns(int column) {
  int first = column;
  int last = column;
  if (column < 0) {
    CHeaderCtrl* header = GetHeaderCtrl();
    if (!header) return;  // not bound to a list view
    first = 0;
    last = header->GetItemCount() - 1;
  }
  SetRedraw(FALSE);
  for (int col = first; col <= last; ++col) {
    SetColumnWidth(col, LVSCW_AUTOSIZE);
    const int content = GetColumnWidth(col);
    SetColumnWidth(col, LVSCW_AUTOSIZE_USEHEADER);
    const int withHeader = GetColumnWidth(col);
    SetColumnWidth(col, std::max({content, withHeader, MIN_COLUMN_WIDTH}));
  }
  SetRedraw(TRUE);
}

void CAutoSizeListCtrl::SetRedraw(BOOL redraw) {
  if (!redraw) {
    if (m_nRedrawLock < 1) SendMessage(WM_SETREDRAW, FALSE, 0);
    ++m_nRedrawLock;
    return;
  }
  --m_nRedrawLock;
  if (m_nRedrawLock < 1) {
    SendMessage(WM_SETREDRAW, TRUE, 0);
    m_nRedrawLock = 0;
    Invalidate(TRUE);
  }
}
