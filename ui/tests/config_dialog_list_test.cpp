// CAutoSizeListCtrl on its own: column sizing rules and the counted redraw lock.
#include <gtest/gtest.h>

#include <vector>

#include "ui/auto_size_list_ctrl.h"
#include "framework/uimodel.h"

namespace {

class AutoSizeListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uimodel::CreateWindow(list_, uimodel::Kind::ListView, "", WS_VISIBLE | LVS_REPORT,
                                  CRect(0, 0, 264, 201), static_cast<HWND>(nullptr), 5051));
  }
  // Clears a pending repaint so that the next one can be seen.
  void Paint() {
    list_.UpdateWindow();
    ASSERT_FALSE(list_.IsPaintPending());
  }
  CAutoSizeListCtrl list_;
};

// Fixed metrics: 6 pixels a character, 12 of margin for a non-empty text.
struct WidthCase {
  const char* name;
  const char* heading;
  std::vector<const char*> items;
  int width;
};

const WidthCase kWidthCases[] = {
    {"ContentWiderThanHeading", "Value", {"Enabled", "Jan 1999"}, 8 * 6 + 12},
    {"HeadingWiderThanContent", "Option Name", {"On", "Off"}, 11 * 6 + 12},
    {"HeadingOnly", "Value", {}, 5 * 6 + 12},
    {"NothingAtAllGetsTheMinimum", "", {}, 10},
    {"EmptyTextsGetTheMinimum", "", {"", ""}, 10},
    {"NarrowTextsStillFitThem", "", {"a"}, 18},
};

class AutoSizeWidthTest : public AutoSizeListTest, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(AutoSizeWidthTest, SizesTheColumnToHeadingOrContent) {
  const WidthCase& c = GetParam();
  list_.InsertColumn(0, "Key");
  list_.InsertColumn(1, c.heading);
  int row = 0;
  for (const char* item : c.items) {
    list_.InsertItem(row, "k");
    list_.SetItemText(row++, 1, item);
  }
  list_.SetColumnWidth(0, 333);
  list_.AutoSizeColumns(1);
  EXPECT_EQ(list_.GetColumnWidth(1), c.width);
  EXPECT_EQ(list_.GetColumnWidth(0), 333) << "only the named column";
  list_.SetColumnWidth(1, 333);
  list_.AutoSizeColumns(-1);
  EXPECT_EQ(list_.GetColumnWidth(1), c.width);
  EXPECT_EQ(list_.GetColumnWidth(0), 3 * 6 + 12) << "its heading is wider than \"k\"";
}

INSTANTIATE_TEST_SUITE_P(Columns, AutoSizeWidthTest, ::testing::ValuesIn(kWidthCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutoSizeListTest, NoColumnsIsNothingToDo) {
  list_.AutoSizeColumns(-1);
  EXPECT_EQ(list_.GetRedrawLockCount(), 0);
  EXPECT_TRUE(list_.IsRedrawEnabled());
  list_.AutoSizeColumns(4);  // a column that does not exist changes nothing
  EXPECT_EQ(list_.GetRedrawLockCount(), 0);
}

TEST_F(AutoSizeListTest, RedrawLockIsCounted) {
  Paint();
  list_.SetRedraw(FALSE);
  EXPECT_FALSE(list_.IsRedrawEnabled());
  list_.SetRedraw(FALSE);
  EXPECT_EQ(list_.GetRedrawLockCount(), 2);
  list_.SetRedraw(TRUE);
  EXPECT_EQ(list_.GetRedrawLockCount(), 1);
  EXPECT_FALSE(list_.IsRedrawEnabled()) << "an inner release keeps drawing off";
  list_.SetRedraw(TRUE);
  EXPECT_EQ(list_.GetRedrawLockCount(), 0);
  EXPECT_TRUE(list_.IsRedrawEnabled());
  EXPECT_TRUE(list_.IsPaintPending()) << "the last release repaints the control";
}

TEST_F(AutoSizeListTest, ExtraReleaseLeavesTheCounterAtZero) {
  list_.SetRedraw(TRUE);
  EXPECT_EQ(list_.GetRedrawLockCount(), 0);
  EXPECT_TRUE(list_.IsRedrawEnabled());
  list_.SetRedraw(FALSE);
  EXPECT_EQ(list_.GetRedrawLockCount(), 1) << "a release too many does not bank a lock";
  EXPECT_FALSE(list_.IsRedrawEnabled());
}

TEST_F(AutoSizeListTest, SizingInsideAHeldLockKeepsDrawingOff) {
  list_.InsertColumn(0, "Option Name");
  Paint();
  list_.SetRedraw(FALSE);
  list_.AutoSizeColumns(-1);
  EXPECT_EQ(list_.GetRedrawLockCount(), 1);
  EXPECT_FALSE(list_.IsRedrawEnabled());
  EXPECT_EQ(list_.GetColumnWidth(0), 11 * 6 + 12);
  list_.UpdateWindow();
  EXPECT_TRUE(list_.IsPaintPending()) << "no painting while the lock is held";
  list_.SetRedraw(TRUE);
  EXPECT_TRUE(list_.IsRedrawEnabled());
  EXPECT_TRUE(list_.IsPaintPending());
}

TEST_F(AutoSizeListTest, SizingTakesAndReleasesTheLock) {
  list_.InsertColumn(0, "Value");
  Paint();
  list_.AutoSizeColumns(0);
  EXPECT_EQ(list_.GetRedrawLockCount(), 0);
  EXPECT_TRUE(list_.IsRedrawEnabled());
  EXPECT_TRUE(list_.IsPaintPending());
}

}  // namespace
