// Dialogs: creation from templates, the modal run through the backend, data exchange.
#include <gtest/gtest.h>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

// A dialog in the shape of the register dialog: two texts, Browse, OK refused on empty
// fields.
class FormDialog : public CDialog {
 public:
  explicit FormDialog(CWnd* parent = nullptr) : CDialog(IDD_FORM, parent) {}
  CString name;
  CString path;
  int count = 0;
  int maxName = 8;
  bool exchangeCount = false;
  int initCalls = 0;
  int browseFlags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, IDC_NAME, name);
    DDV_MaxChars(dx, name, maxName);
    DDX_Text(dx, IDC_PATH, path);
    if (exchangeCount) DDX_Text(dx, IDC_PATH, count);
  }
  BOOL OnInitDialog() override {
    ++initCalls;
    return CDialog::OnInitDialog();
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
      UpdateData(TRUE);
      CFileDialog files(TRUE, nullptr, path, static_cast<DWORD>(browseFlags), "Any (*.*)|*.*||",
                        this);
      if (files.DoModal() == IDOK) {
        path = files.GetPathName();
        UpdateData(FALSE);
      }
      return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
  }
};

using DialogTest = UiTest;

TEST_F(DialogTest, ControlsArePlacedInPixelsFromDialogUnits) {
  FormDialog dlg;
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    CRect client;
    d.GetClientRect(client);
    // 304 x 170 units: 456 x 276.25 pixels, rounded.
    EXPECT_EQ(client, CRect(0, 0, 456, 276));
    CRect name;
    d.GetDlgItem(IDC_NAME)->GetWindowRect(name);
    d.ScreenToClient(name);
    // 12, 23, 164, 14 units.
    EXPECT_EQ(name, CRect(18, 37, 264, 60));
    EXPECT_EQ(uimodel::KindOf(*d.GetDlgItem(IDC_NAME)), uimodel::Kind::Edit);
    EXPECT_EQ(uimodel::KindOf(*d.GetDlgItem(IDC_LIST)), uimodel::Kind::ListBox);
    // The template's -1 is the 16-bit id 65535.
    ASSERT_NE(d.GetDlgItem(65535), nullptr);
    EXPECT_EQ(uimodel::KindOf(*d.GetDlgItem(65535)), uimodel::Kind::GroupBox);
    EXPECT_EQ(d.GetDlgItem(IDC_STATIC), d.GetDlgItem(65535));
    EXPECT_EQ(d.GetDlgItem(1)->GetWindowText(), "OK");
    // A control without WS_VISIBLE in the template starts hidden.
    EXPECT_FALSE(d.GetDlgItem(5049)->IsWindowVisible());
    EXPECT_TRUE(d.GetDlgItem(1)->IsWindowVisible());
    EXPECT_EQ(d.GetDlgItem(IDC_NAME)->GetParent(), &d);
    uimodel::PressEnter(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.initCalls, 1);
  EXPECT_EQ(dlg.m_hWnd, nullptr) << "the window model goes with the modal run";
}

TEST_F(DialogTest, TextsGoBothWays) {
  FormDialog dlg;
  dlg.name = "abc";
  dlg.path = "/tmp/x";
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    EXPECT_EQ(d.GetDlgItem(IDC_NAME)->GetWindowText(), "abc");
    EXPECT_EQ(d.GetDlgItem(IDC_PATH)->GetWindowText(), "/tmp/x");
    EXPECT_TRUE(uimodel::TypeText(d, IDC_NAME, "typed"));
    EXPECT_TRUE(uimodel::ClickButton(d, IDOK));
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.name, "typed");
  EXPECT_EQ(dlg.path, "/tmp/x");
}

TEST_F(DialogTest, CancelKeepsTheFields) {
  FormDialog dlg;
  dlg.name = "kept";
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    uimodel::TypeText(d, IDC_NAME, "changed");
    uimodel::ClickButton(d, IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.name, "kept");
}

TEST_F(DialogTest, MaxCharsRefusesAndTheDialogStaysOpen) {
  FormDialog dlg;
  ui->QueueDialog(IDD_FORM, [this](CDialog& d) {
    // Typing is cut at the limit the exchange set up...
    uimodel::TypeText(d, IDC_NAME, "0123456789");
    EXPECT_EQ(d.GetDlgItem(IDC_NAME)->GetWindowText(), "01234567");
    EXPECT_EQ(static_cast<CEdit*>(d.GetDlgItem(IDC_NAME))->GetLimitText(), 8u);
    // ...but a program may put a longer text there, and OK refuses it.
    d.GetDlgItem(IDC_NAME)->SetWindowText("0123456789");
    uimodel::ClickButton(d, IDOK);
    EXPECT_FALSE(d.IsEnded());
    ASSERT_EQ(ui->BoxCount(), 1u);
    EXPECT_EQ(ui->LastBox().text, "Enter no more than 8 characters.");
    EXPECT_EQ(ui->LastBox().style, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(d.GetDlgItem(IDC_NAME)->GetWindowText(), "0123456789");
    uimodel::TypeText(d, IDC_NAME, "short");
    uimodel::ClickButton(d, IDOK);
    EXPECT_TRUE(d.IsEnded());
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.name, "short");
}

struct NumberCase {
  const char* typed;
  bool accepted;
  int value;
};

class DialogNumberTest : public UiTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(DialogNumberTest, IntegersAreCheckedOnSave) {
  const NumberCase& c = GetParam();
  FormDialog dlg;
  dlg.exchangeCount = true;
  dlg.count = 7;
  ui->QueueDialog(IDD_FORM, [&c](CDialog& d) {
    EXPECT_EQ(d.GetDlgItem(IDC_PATH)->GetWindowText(), "7");
    uimodel::TypeText(d, IDC_PATH, c.typed);
    uimodel::ClickButton(d, IDOK);
    EXPECT_EQ(d.IsEnded() != FALSE, c.accepted);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.count, c.value);
  if (!c.accepted) {
    EXPECT_EQ(ui->LastBox().text, "Please enter an integer.");
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, DialogNumberTest,
                         ::testing::Values(NumberCase{"42", true, 42}, NumberCase{"-3", true, -3},
                                           NumberCase{" 5 ", true, 5}, NumberCase{"", false, 7},
                                           NumberCase{"12x", false, 7},
                                           NumberCase{"99999999999", false, 7}));

TEST_F(DialogTest, BrowseHandsTheFlagsAndOwnerToTheFileDialog) {
  FormDialog dlg;
  dlg.name = "desc";
  // A directory that exists and whose name is absolute on every system.
  const std::string existing = ::testing::TempDir();
  ui->QueueFile(existing.c_str());
  ui->QueueDialog(IDD_FORM, [&](CDialog& d) {
    uimodel::TypeText(d, IDC_NAME, "typed first");
    uimodel::ClickButton(d, IDC_BROWSE);
    EXPECT_EQ(d.GetDlgItem(IDC_PATH)->GetWindowText(), existing.c_str());
    EXPECT_EQ(d.GetDlgItem(IDC_NAME)->GetWindowText(), "typed f")
        << "cut at the limit the exchange set";
    uimodel::ClickButton(d, IDOK);
  });
  dlg.maxName = 7;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  auto requests = ui->FileRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].open);
  EXPECT_EQ(requests[0].flags, 0x1004u);
  EXPECT_EQ(requests[0].title, "Open");
  EXPECT_NE(requests[0].owner, nullptr);
  ASSERT_EQ(requests[0].filters.size(), 1u);
  EXPECT_EQ(requests[0].filters[0].pattern, "*.*");
}

TEST_F(DialogTest, NoBackendMeansCancelAndMissingTemplateMeansMinusOne) {
  {
    uimodel::BackendScope none(nullptr);
    FormDialog dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.initCalls, 0);
  }
  CDialog missing(IDD_MISSING);
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_EQ(ui->DialogCount(), 0u);
}

TEST_F(DialogTest, ABackendThatLetsGoCancelsAndCloseIsCancel) {
  FormDialog dlg;
  ui->QueueDialog(IDD_FORM, [](CDialog&) {});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ui->QueueDialog(IDD_FORM, [](CDialog& d) { d.SendMessage(WM_CLOSE); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(ui->Dialogs().back().result, IDCANCEL);
}

TEST_F(DialogTest, AThrowingScriptStillDestroysTheWindow) {
  FormDialog dlg;
  HWND seen = nullptr;
  ui->QueueDialog(IDD_FORM, [&seen](CDialog& d) {
    seen = d.m_hWnd;
    throw 5;
  });
  EXPECT_THROW(dlg.DoModal(), int);
  EXPECT_FALSE(platform::IsWindow(seen));
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(DialogTest, HiddenOrDisabledControlsCannotBeUsed) {
  FormDialog dlg;
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    EXPECT_FALSE(uimodel::ClickButton(d, 5049)) << "hidden";
    d.GetDlgItem(IDC_BROWSE)->EnableWindow(FALSE);
    EXPECT_FALSE(uimodel::ClickButton(d, IDC_BROWSE));
    static_cast<CEdit*>(d.GetDlgItem(IDC_PATH))->SetReadOnly(TRUE);
    EXPECT_FALSE(uimodel::TypeText(d, IDC_PATH, "x"));
    EXPECT_FALSE(uimodel::ClickButton(d, 4242)) << "missing";
    d.GetDlgItem(IDOK)->ShowWindow(SW_HIDE);
    EXPECT_FALSE(uimodel::ClickButton(d, IDOK));
    uimodel::PressEscape(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(DialogTest, TheSnapshotRecordsVisibleControls) {
  FormDialog dlg;
  dlg.name = "n";
  ui->QueueDialog(IDD_FORM, [](CDialog& d) { uimodel::PressEscape(d); });
  dlg.DoModal();
  auto shown = ui->Dialogs();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].templateId, IDD_FORM);
  EXPECT_EQ(shown[0].caption, "Form");
  EXPECT_EQ(shown[0].VisibleButtons(), (std::vector<int>{IDC_BROWSE, IDOK, IDCANCEL}));
  ASSERT_NE(shown[0].Find(IDC_NAME), nullptr);
  EXPECT_EQ(shown[0].Find(IDC_NAME)->text, "n");
  EXPECT_EQ(shown[0].Find(IDC_NAME)->rect, CRect(18, 37, 264, 60));
  EXPECT_EQ(shown[0].result, IDCANCEL);
}

// A bound member control receives its window's messages and acts on the model control.
class CountingListBox : public CListBox {
 public:
  int keys = 0;

 protected:
  void OnKeyDown(UINT key, UINT repeat, UINT flags) override {
    ++keys;
    CListBox::OnKeyDown(key, repeat, flags);
  }
};

class BoundDialog : public CDialog {
 public:
  BoundDialog() : CDialog(IDD_FORM) {}
  CountingListBox list;
  CListCtrl options;
  int index = 1;

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, IDC_LIST, list);
    DDX_Control(dx, IDC_OPTIONS, options);
    DDX_LBIndex(dx, IDC_LIST, index);
  }
  BOOL OnInitDialog() override {
    list.AddString("a");
    list.AddString("b");
    list.AddString("c");
    return CDialog::OnInitDialog();  // exchanges after the list is filled
  }
};

TEST_F(DialogTest, DdxControlBindsMembersAndLbIndexExchangesTheSelection) {
  BoundDialog dlg;
  ui->QueueDialog(IDD_FORM, [&dlg](CDialog& d) {
    // OnInitDialog filled the list through the member before the first exchange bound
    // it; the calls before binding went nowhere.
    EXPECT_EQ(dlg.list.GetCount(), 0);
    EXPECT_EQ(CWnd::FromHandlePermanent(d.GetDlgItem(IDC_LIST)->m_hWnd), &dlg.list);
    dlg.list.AddString("x");
    dlg.list.AddString("y");
    EXPECT_EQ(static_cast<CListBox*>(d.GetDlgItem(IDC_LIST))->GetCount(), 2);
    uimodel::SelectItem(d, IDC_LIST, 1);
    uimodel::KeyDown(d, IDC_LIST, VK_UP);
    EXPECT_EQ(dlg.list.keys, 1);
    dlg.options.InsertColumn(0, "Name");
    EXPECT_EQ(static_cast<CListCtrl*>(d.GetDlgItem(IDC_OPTIONS))->GetHeaderCtrl()->GetItemCount(),
              1);
    uimodel::ClickButton(d, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.index, 0);
  EXPECT_EQ(dlg.list.m_hWnd, nullptr) << "members are unbound when the dialog goes";
}

TEST_F(DialogTest, ExchangeWithAMissingControlFails) {
  class Broken : public CDialog {
   public:
    Broken() : CDialog(IDD_FORM) {}
    CString text;

   protected:
    void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, 4242, text); }
  } dlg;
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    EXPECT_FALSE(d.UpdateData(TRUE));
    uimodel::ClickButton(d, IDOK);
    EXPECT_FALSE(d.IsEnded());
    uimodel::PressEscape(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

}  // namespace

namespace {

TEST_F(DialogTest, DestroyingAControlThroughItsTemporaryWrapper) {
  CDialog dlg(IDD_FORM);
  ui->QueueDialog(IDD_FORM, [](CDialog& d) {
    HWND save = d.GetDlgItem(5049)->m_hWnd;
    EXPECT_TRUE(d.GetDlgItem(5049)->DestroyWindow());
    EXPECT_FALSE(platform::IsWindow(save));
    EXPECT_EQ(d.GetDlgItem(5049), nullptr);
    uimodel::PressEscape(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

}  // namespace
