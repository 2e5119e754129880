// CListCtrl: the report view of a list view model, with columns, rows and the
// auto-sizing of column widths from the font metrics.
#include <algorithm>

#include "framework/ui/wnd_state.h"

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)

namespace {

afx_ui::StatePtr ListViewState(HWND hwnd) {
  auto state = afx_ui::FindState(hwnd);
  return state && state->cls == uimodel::Kind::ListView ? state : nullptr;
}

bool ValidColumn(const afx_ui::WndState& state, int col) {
  return col >= 0 && col < static_cast<int>(state.columns.size());
}

bool ValidRow(const afx_ui::WndState& state, int row) {
  return row >= 0 && row < static_cast<int>(state.rows.size());
}

// An empty text takes no room; any other its width and the margin.
int Measure(const afx_ui::WndState& state, const CString& text, int margin) {
  if (text.IsEmpty()) return 0;
  return uimodel::GetFontMetrics()->GetTextWidth(state.fontFace, state.pointSize, text) + margin;
}

int ContentWidth(const afx_ui::WndState& state, int col) {
  int width = 0;
  for (const auto& row : state.rows) {
    if (col < static_cast<int>(row.texts.size())) {
      width = std::max(width, Measure(state, row.texts[static_cast<size_t>(col)], CListCtrl::kItemMargin));
    }
  }
  return width;
}

}  // namespace

int CHeaderCtrl::GetItemCount() const {
  auto state = ListViewState(listView_);
  return state ? static_cast<int>(state->columns.size()) : -1;
}

CString CHeaderCtrl::GetItemText(int index) const {
  auto state = ListViewState(listView_);
  if (!state || !ValidColumn(*state, index)) return CString();
  return state->columns[static_cast<size_t>(index)].heading;
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() {
  if (!ListViewState(m_hWnd)) return nullptr;
  header_.listView_ = m_hWnd;
  return &header_;
}

int CListCtrl::InsertColumn(int col, LPCTSTR heading, int format, int width, int) {
  auto state = ListViewState(m_hWnd);
  if (!state || col < 0) return -1;
  col = std::min(col, static_cast<int>(state->columns.size()));
  afx_ui::ListViewColumn column{heading ? heading : "", format, std::max(width, 0)};
  state->columns.insert(state->columns.begin() + col, column);
  // Rows keep one text per column, and at least the item's own text.
  for (auto& row : state->rows) {
    if (row.texts.size() < state->columns.size()) {
      row.texts.insert(row.texts.begin() + std::min<size_t>(static_cast<size_t>(col), row.texts.size()),
                       CString());
    }
  }
  afx_ui::InvalidateState(*state, nullptr, true);
  return col;
}

BOOL CListCtrl::DeleteColumn(int col) {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidColumn(*state, col)) return FALSE;
  state->columns.erase(state->columns.begin() + col);
  for (auto& row : state->rows) {
    if (row.texts.size() > 1 && col < static_cast<int>(row.texts.size())) {
      row.texts.erase(row.texts.begin() + col);
    } else if (row.texts.size() == 1 && col == 0) {
      row.texts[0].Empty();
    }
  }
  afx_ui::InvalidateState(*state, nullptr, true);
  return TRUE;
}

CString CListCtrl::GetColumnHeading(int col) const {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidColumn(*state, col)) return CString();
  return state->columns[static_cast<size_t>(col)].heading;
}

int CListCtrl::GetColumnFormat(int col) const {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidColumn(*state, col)) return -1;
  return state->columns[static_cast<size_t>(col)].format;
}

BOOL CListCtrl::SetColumnWidth(int col, int width) {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidColumn(*state, col)) return FALSE;
  auto& column = state->columns[static_cast<size_t>(col)];
  if (width == LVSCW_AUTOSIZE) {
    column.width = ContentWidth(*state, col);
  } else if (width == LVSCW_AUTOSIZE_USEHEADER) {
    column.width = std::max(ContentWidth(*state, col), Measure(*state, column.heading, kHeaderMargin));
  } else if (width >= 0) {
    column.width = width;
  } else {
    return FALSE;
  }
  afx_ui::InvalidateState(*state, nullptr, true);
  return TRUE;
}

int CListCtrl::GetColumnWidth(int col) const {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidColumn(*state, col)) return 0;
  return state->columns[static_cast<size_t>(col)].width;
}

int CListCtrl::InsertItem(int item, LPCTSTR text) {
  auto state = ListViewState(m_hWnd);
  if (!state || item < 0) return -1;
  item = std::min(item, static_cast<int>(state->rows.size()));
  afx_ui::ListViewRow row;
  // A list view keeps at least the item's own text, even before any column exists.
  row.texts.assign(std::max<size_t>(state->columns.size(), 1), CString());
  row.texts[0] = text ? text : "";
  state->rows.insert(state->rows.begin() + item, std::move(row));
  afx_ui::InvalidateState(*state, nullptr, true);
  return item;
}

BOOL CListCtrl::SetItemText(int item, int subItem, LPCTSTR text) {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidRow(*state, item) || subItem < 0) return FALSE;
  auto& texts = state->rows[static_cast<size_t>(item)].texts;
  if (subItem >= static_cast<int>(texts.size())) return FALSE;
  texts[static_cast<size_t>(subItem)] = text ? text : "";
  afx_ui::InvalidateState(*state, nullptr, true);
  return TRUE;
}

CString CListCtrl::GetItemText(int item, int subItem) const {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidRow(*state, item) || subItem < 0) return CString();
  const auto& texts = state->rows[static_cast<size_t>(item)].texts;
  return subItem < static_cast<int>(texts.size()) ? texts[static_cast<size_t>(subItem)] : CString();
}

int CListCtrl::GetItemCount() const {
  auto state = ListViewState(m_hWnd);
  return state ? static_cast<int>(state->rows.size()) : 0;
}

BOOL CListCtrl::DeleteItem(int item) {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidRow(*state, item)) return FALSE;
  state->rows.erase(state->rows.begin() + item);
  afx_ui::InvalidateState(*state, nullptr, true);
  return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
  auto state = ListViewState(m_hWnd);
  if (!state) return FALSE;
  state->rows.clear();
  afx_ui::InvalidateState(*state, nullptr, true);
  return TRUE;
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidRow(*state, item)) return FALSE;
  state->rows[static_cast<size_t>(item)].data = data;
  return TRUE;
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
  auto state = ListViewState(m_hWnd);
  if (!state || !ValidRow(*state, item)) return 0;
  return state->rows[static_cast<size_t>(item)].data;
}
