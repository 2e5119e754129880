// List views: columns, rows, auto-sizing from the font metrics, redraw switching.
#include <gtest/gtest.h>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

class ListCtrlTest : public UiTest {
 protected:
  void Run(const std::function<void(CListCtrl&)>& body) {
    ui->QueueDialog(IDD_FORM, [&](CDialog& d) {
      body(*static_cast<CListCtrl*>(d.GetDlgItem(IDC_OPTIONS)));
      uimodel::PressEscape(d);
    });
    CDialog dlg(IDD_FORM);
    dlg.DoModal();
  }
};

TEST_F(ListCtrlTest, ColumnsAndRows) {
  Run([](CListCtrl& list) {
    EXPECT_EQ(list.InsertColumn(0, "Option Name", LVCFMT_LEFT), 0);
    EXPECT_EQ(list.InsertColumn(1, "Value", LVCFMT_LEFT), 1);
    EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2);
    EXPECT_EQ(list.GetColumnHeading(1), "Value");
    EXPECT_EQ(list.GetHeaderCtrl()->GetItemText(0), "Option Name");
    EXPECT_EQ(list.InsertItem(0, "Barcode"), 0);
    EXPECT_TRUE(list.SetItemText(0, 1, "Enabled"));
    EXPECT_EQ(list.InsertItem(5, "Radio"), 1) << "past the end appends";
    EXPECT_FALSE(list.SetItemText(1, 2, "no such column"));
    EXPECT_FALSE(list.SetItemText(4, 0, "no such row"));
    EXPECT_EQ(list.GetItemText(0, 1), "Enabled");
    EXPECT_EQ(list.GetItemText(1, 1), "");
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetHeaderCtrl()->GetItemCount(), 2) << "columns stay";
  });
}

struct AutoSizeCase {
  const char* name;
  const char* heading;
  std::vector<const char*> items;
  int autosize;     // LVSCW_AUTOSIZE
  int useHeader;    // LVSCW_AUTOSIZE_USEHEADER
};

// 6 pixels a character, 12 pixels of margin for a non-empty text.
const AutoSizeCase kAutoSizeCases[] = {
    {"ContentWiderThanHeader", "Value", {"Enabled", "Jan 1999"}, 60, 60},
    {"HeaderWiderThanContent", "Option Name", {"On"}, 24, 78},
    {"EmptyColumnWithHeader", "Value", {}, 0, 42},
    {"EmptyColumnEmptyHeader", "", {}, 0, 0},
    {"EmptyTextsOnly", "", {"", ""}, 0, 0},
};

class ListCtrlAutoSizeTest : public ListCtrlTest, public ::testing::WithParamInterface<AutoSizeCase> {};

TEST_P(ListCtrlAutoSizeTest, WidthsComeFromTheTexts) {
  const AutoSizeCase& c = GetParam();
  Run([&c](CListCtrl& list) {
    list.InsertColumn(0, "Key");
    list.InsertColumn(1, c.heading);
    int row = 0;
    for (const char* item : c.items) {
      list.InsertItem(row, "k");
      list.SetItemText(row++, 1, item);
    }
    ASSERT_TRUE(list.SetColumnWidth(1, LVSCW_AUTOSIZE));
    EXPECT_EQ(list.GetColumnWidth(1), c.autosize);
    ASSERT_TRUE(list.SetColumnWidth(1, LVSCW_AUTOSIZE_USEHEADER));
    EXPECT_EQ(list.GetColumnWidth(1), c.useHeader);
    ASSERT_TRUE(list.SetColumnWidth(1, 10));
    EXPECT_EQ(list.GetColumnWidth(1), 10);
  });
}

INSTANTIATE_TEST_SUITE_P(Cases, ListCtrlAutoSizeTest, ::testing::ValuesIn(kAutoSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListCtrlTest, BadColumnsAreRefused) {
  Run([](CListCtrl& list) {
    EXPECT_FALSE(list.SetColumnWidth(0, LVSCW_AUTOSIZE));
    EXPECT_EQ(list.GetColumnWidth(3), 0);
    list.InsertColumn(0, "A");
    EXPECT_FALSE(list.SetColumnWidth(0, -7));
    EXPECT_EQ(list.InsertColumn(-1, "B"), -1);
  });
}

// Another metric changes the widths, not the rules.
class WideMetrics : public uimodel::FontMetrics {
 public:
  CSize GetDialogBaseUnits(LPCTSTR, int) const override { return CSize(8, 16); }
  int GetTextWidth(LPCTSTR, int, LPCTSTR text) const override {
    return 10 * static_cast<int>(std::strlen(text));
  }
};

TEST_F(ListCtrlTest, TheFontMetricsCanBeReplaced) {
  uimodel::SetFontMetrics(std::make_shared<WideMetrics>());
  Run([](CListCtrl& list) {
    list.InsertColumn(0, "Head");
    list.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER);
    EXPECT_EQ(list.GetColumnWidth(0), 40 + CListCtrl::kHeaderMargin);
    CRect rect;
    list.GetParent()->GetClientRect(rect);
    EXPECT_EQ(rect, CRect(0, 0, 304 * 2, 170 * 2));
  });
  uimodel::SetFontMetrics(nullptr);
}

// Records WM_SETREDRAW as it reaches the bound object.
class RedrawSpy : public CListCtrl {
 public:
  std::vector<WPARAM> redraws;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_SETREDRAW) redraws.push_back(wParam);
    return CListCtrl::WindowProc(message, wParam, lParam);
  }
};

TEST_F(ListCtrlTest, SetRedrawSwitchesPaintingOfTheControl) {
  RedrawSpy spy;
  Run([&spy](CListCtrl& list) {
    ASSERT_TRUE(spy.SubclassWindow(list.m_hWnd));
    platform::PumpMessages();
    spy.SetRedraw(FALSE);
    EXPECT_FALSE(list.IsRedrawEnabled());
    spy.Invalidate();
    EXPECT_TRUE(spy.IsPaintPending());
    EXPECT_EQ(platform::PumpMessages(), 0) << "no paint is asked for while redrawing is off";
    spy.SetRedraw(TRUE);
    EXPECT_TRUE(list.IsRedrawEnabled());
    spy.UpdateWindow();
    EXPECT_FALSE(spy.IsPaintPending());
    EXPECT_EQ(spy.redraws, (std::vector<WPARAM>{FALSE, TRUE}));
  });
}

}  // namespace
