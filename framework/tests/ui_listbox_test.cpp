// List boxes: items and selection, key handling through WM_VKEYTOITEM, double clicks.
#include <gtest/gtest.h>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

// A parent that records what its list box tells it and answers WM_VKEYTOITEM.
class ListParent : public CDialog {
 public:
  ListParent() : CDialog(IDD_FORM) {}
  struct Key {
    UINT key;
    CListBox* list;
    UINT index;
  };
  std::vector<Key> keys;
  std::vector<WPARAM> commands;
  int answer = -1;

 protected:
  int OnVKeyToItem(UINT key, CListBox* list, UINT index) override {
    keys.push_back({key, list, index});
    return answer;
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == IDC_LIST) {
      commands.push_back(wParam);
      return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
  }
};

class ListBoxTest : public UiTest {
 protected:
  void Run(const std::function<void(ListParent&, CListBox&)>& body) {
    ui->QueueDialog(IDD_FORM, [&](CDialog& d) {
      body(parent, *static_cast<CListBox*>(d.GetDlgItem(IDC_LIST)));
      uimodel::PressEscape(d);
    });
    parent.DoModal();
  }
  ListParent parent;
};

TEST_F(ListBoxTest, ItemsSelectionAndData) {
  Run([](ListParent&, CListBox& list) {
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetCurSel(), LB_ERR);
    EXPECT_EQ(list.AddString("one"), 0);
    EXPECT_EQ(list.AddString("three"), 1);
    EXPECT_EQ(list.InsertString(1, "two"), 1);
    EXPECT_EQ(list.InsertString(9, "bad"), LB_ERR);
    EXPECT_EQ(list.GetText(1), "two");
    CString text;
    EXPECT_EQ(list.GetText(7, text), LB_ERR);
    EXPECT_EQ(list.SetItemData(2, 33), LB_OKAY);
    EXPECT_EQ(list.GetItemData(2), 33u);
    EXPECT_EQ(list.SetCurSel(2), 2);
    // Inserting before the selection keeps the same item selected.
    list.InsertString(0, "zero");
    EXPECT_EQ(list.GetCurSel(), 3);
    EXPECT_EQ(list.GetItemData(3), 33u);
    // Deleting the selected item leaves no selection.
    EXPECT_EQ(list.DeleteString(3), 3);
    EXPECT_EQ(list.GetCurSel(), LB_ERR);
    EXPECT_EQ(list.DeleteString(3), LB_ERR);
    EXPECT_EQ(list.FindStringExact(-1, "TWO"), 2);
    EXPECT_EQ(list.SetCurSel(5), LB_ERR);
    EXPECT_EQ(list.GetCurSel(), LB_ERR);
    list.ResetContent();
    EXPECT_EQ(list.GetCount(), 0);
  });
}

TEST_F(ListBoxTest, KeysGoToTheParentWithTheCaretAndTheListBox) {
  Run([](ListParent& parent, CListBox& list) {
    list.AddString("a");
    list.AddString("b");
    list.SetCurSel(1);
    list.SendMessage(WM_KEYDOWN, VK_INSERT, 1);
    ASSERT_EQ(parent.keys.size(), 1u);
    EXPECT_EQ(parent.keys[0].key, VK_INSERT);
    EXPECT_EQ(parent.keys[0].index, 1u);
    EXPECT_EQ(parent.keys[0].list->m_hWnd, list.m_hWnd);
  });
}

TEST_F(ListBoxTest, AnEmptyListBoxTellsNothing) {
  Run([](ListParent& parent, CListBox& list) {
    list.SendMessage(WM_KEYDOWN, VK_INSERT, 1);
    EXPECT_TRUE(parent.keys.empty());
  });
}

struct KeyCase {
  UINT key;
  int answer;       // the parent's answer to WM_VKEYTOITEM
  int selection;    // afterwards, starting at item 1 of 3
};

class ListBoxKeyTest : public ListBoxTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ListBoxKeyTest, TheParentsAnswerDecidesTheDefaultAction) {
  const KeyCase c = GetParam();
  Run([&c](ListParent& parent, CListBox& list) {
    parent.answer = c.answer;
    for (const char* t : {"a", "b", "c"}) list.AddString(t);
    list.SetCurSel(1);
    list.SendMessage(WM_KEYDOWN, c.key, 1);
    EXPECT_EQ(list.GetCurSel(), c.selection);
  });
}

INSTANTIATE_TEST_SUITE_P(Keys, ListBoxKeyTest,
                         ::testing::Values(KeyCase{VK_DOWN, -1, 2}, KeyCase{VK_UP, -1, 0},
                                           KeyCase{VK_END, -1, 2}, KeyCase{VK_HOME, -1, 0},
                                           KeyCase{VK_DOWN, -2, 1},  // handled by the parent
                                           KeyCase{VK_DOWN, 0, 1},   // from item 0
                                           KeyCase{VK_DELETE, -1, 1}));

TEST_F(ListBoxTest, SelectionNoticesAndDoubleClicksReachTheParent) {
  Run([](ListParent& parent, CListBox& list) {
    list.AddString("a");
    list.AddString("b");
    CWnd* dialog = list.GetParent();
    EXPECT_TRUE(uimodel::DoubleClickItem(*dialog, IDC_LIST, 1));
    ASSERT_EQ(parent.commands.size(), 2u);
    EXPECT_EQ(parent.commands[0], MAKEWPARAM(IDC_LIST, LBN_SELCHANGE));
    EXPECT_EQ(parent.commands[1], MAKEWPARAM(IDC_LIST, LBN_DBLCLK));
    EXPECT_EQ(list.GetCurSel(), 1);
    EXPECT_FALSE(uimodel::DoubleClickItem(*dialog, IDC_LIST, 5));
  });
}

// A list box that handles Insert itself when empty, as a page's list box does.
class InsertKeyList : public CListBox {
 protected:
  void OnKeyDown(UINT key, UINT repeat, UINT flags) override {
    if (key == VK_INSERT && GetCount() == 0) {
      GetParent()->SendMessage(WM_VKEYTOITEM, MAKEWPARAM(VK_INSERT, 0), reinterpret_cast<LPARAM>(m_hWnd));
      return;
    }
    CListBox::OnKeyDown(key, repeat, flags);
  }
};

TEST_F(ListBoxTest, ABoundSubclassSeesKeysFirst) {
  InsertKeyList bound;
  Run([&bound](ListParent& parent, CListBox& list) {
    ASSERT_TRUE(bound.SubclassWindow(list.m_hWnd));
    uimodel::KeyDown(*list.GetParent(), IDC_LIST, VK_INSERT);
    ASSERT_EQ(parent.keys.size(), 1u);
    EXPECT_EQ(parent.keys[0].list, &bound) << "the permanent object is handed to the parent";
  });
}

}  // namespace
