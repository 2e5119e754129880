// A report-view list whose columns size themselves to their content and headings, with
// a counted redraw lock so that nested bulk updates repaint once, at the outermost end.
#pragma once
#include "framework/afxwin.h"

class CAutoSizeListCtrl : public CListCtrl {
  DECLARE_DYNAMIC(CAutoSizeListCtrl)
 public:
  // No column ends up narrower than this, so that an empty one can still be found.
  static constexpr int MIN_COLUMN_WIDTH = 10;

  // Sizes one column, or every column for a negative index, to the wider of its content
  // and its heading.
  void AutoSizeColumns(int column = -1);

  // FALSE takes the redraw lock, TRUE releases it. Only the first take switches drawing
  // off and only the last release switches it on again and repaints the whole control.
  // Hides CWnd::SetRedraw on purpose: callers of this class nest their locks.
  void SetRedraw(BOOL redraw = TRUE);
  int GetRedrawLockCount() const { return m_nRedrawLock; }

 private:
  int m_nRedrawLock = 0;
};
