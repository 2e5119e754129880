// Wizard sheets: page activation, the posted button message, Next refused with -1,
// PSM_PRESSBUTTON, Back, Finish and Cancel.
#include <gtest/gtest.h>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

// A page that logs its notifications and does what the test asks.
class LogPage : public CPropertyPage {
 public:
  LogPage(UINT templateId, std::vector<std::string>& log, const char* name)
      : CPropertyPage(templateId), log_(log), name_(name) {}
  LRESULT nextAnswer = 0;
  LRESULT backAnswer = 0;
  BOOL activate = TRUE;
  BOOL finish = TRUE;
  bool postButtons = true;
  CString text;

 protected:
  void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, IDC_NAME, text); }
  BOOL OnSetActive() override {
    log_.push_back(name_ + ".SetActive");
    BOOL result = CPropertyPage::OnSetActive();
    if (result && postButtons) GetParent()->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
    return result && activate;
  }
  BOOL OnKillActive() override {
    log_.push_back(name_ + ".KillActive");
    return CPropertyPage::OnKillActive();
  }
  LRESULT OnWizardNext() override {
    log_.push_back(name_ + ".Next");
    return nextAnswer;
  }
  LRESULT OnWizardBack() override {
    log_.push_back(name_ + ".Back");
    return backAnswer;
  }
  BOOL OnWizardFinish() override {
    log_.push_back(name_ + ".Finish");
    return finish;
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

class WizardTest : public UiTest {
 protected:
  WizardTest() : a(IDD_PAGE_A, log, "A"), b(IDD_PAGE_B, log, "B"), c(IDD_PAGE_C, log, "C") {
    sheet.AddPage(&a);
    sheet.AddPage(&b);
    sheet.AddPage(&c);
    sheet.SetWizardMode();
  }
  std::vector<std::string> log;
  LogPage a, b, c;
  CPropertySheet sheet{"Wizard"};
};

TEST_F(WizardTest, PagesTakeTheirCaptionFromTheTemplateOrTheStringTable) {
  EXPECT_EQ(a.GetCaption(), "Page A");
  CPropertyPage captioned(IDD_PAGE_A, IDS_PAGE_CAPTION);
  EXPECT_EQ(captioned.GetCaption(), "Caption from strings");
}

TEST_F(WizardTest, ActivationCreatesThePageAndThePostedButtonsArriveWhenPumped) {
  ASSERT_TRUE(sheet.Create());
  platform::PumpMessages();
  ASSERT_TRUE(sheet.SetActivePage(0));
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  ASSERT_NE(a.m_hWnd, nullptr);
  EXPECT_EQ(a.GetParent(), &sheet);
  EXPECT_TRUE(a.IsWindowVisible());
  EXPECT_TRUE(a.IsWindowEnabled()) << "the template's WS_DISABLED is lifted by the sheet";
  EXPECT_EQ(sheet.GetWizardButtons(), 0u) << "posted, not sent: nothing yet";
  platform::PumpMessages();
  EXPECT_EQ(sheet.GetWizardButtons(), PSWIZB_BACK | PSWIZB_NEXT);
  sheet.DestroyWindow();
  EXPECT_EQ(a.m_hWnd, nullptr);
}

TEST_F(WizardTest, NextMovesOnAndRecreatesPageWindows) {
  a.text = "from data";
  sheet.Create();
  sheet.SetActivePage(0);
  HWND first = a.m_hWnd;
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  EXPECT_EQ(a.m_hWnd, nullptr);
  EXPECT_FALSE(platform::IsWindow(first));
  sheet.PressButton(PSBTN_BACK);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  EXPECT_NE(a.m_hWnd, first) << "a new window each time the page is shown";
  EXPECT_EQ(a.GetDlgItem(IDC_NAME)->GetWindowText(), "from data");
  EXPECT_EQ(log, (std::vector<std::string>{"A.SetActive", "A.Next", "A.KillActive", "B.SetActive",
                                           "B.Back", "B.KillActive", "A.SetActive"}));
}

TEST_F(WizardTest, NextAnsweredWithMinusOneStays) {
  sheet.Create();
  sheet.SetActivePage(0);
  a.nextAnswer = -1;
  HWND window = a.m_hWnd;
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  EXPECT_EQ(a.m_hWnd, window) << "the page is left as it is";
  EXPECT_EQ(log.back(), "A.Next");
}

TEST_F(WizardTest, NextMayNameAPageByTemplate) {
  sheet.Create();
  sheet.SetActivePage(0);
  a.nextAnswer = IDD_PAGE_C;
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 2);
}

TEST_F(WizardTest, NextOnTheLastPageAndBackOnTheFirstStay) {
  sheet.Create();
  sheet.SetActivePage(2);
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 2);
  sheet.SetActivePage(0);
  sheet.PressButton(PSBTN_BACK);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
}

TEST_F(WizardTest, APageRefusingActivationIsPassedOver) {
  b.activate = FALSE;
  sheet.Create();
  sheet.SetActivePage(0);
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 2);
  EXPECT_EQ(b.m_hWnd, nullptr);
  c.activate = FALSE;
  sheet.SetActivePage(0);
  sheet.PressButton(PSBTN_NEXT);
  EXPECT_EQ(sheet.GetActiveIndex(), 0) << "nothing further accepts: back where it was";
}

TEST_F(WizardTest, RefusedDataKeepsThePage) {
  class Limited : public CPropertyPage {
   public:
    Limited() : CPropertyPage(IDD_PAGE_B) {}
    CString text;

   protected:
    void DoDataExchange(CDataExchange* dx) override {
      DDX_Text(dx, IDC_NAME, text);
      DDV_MaxChars(dx, text, 3);
    }
  } limited;
  CPropertySheet two("Two");
  two.AddPage(&limited);
  two.AddPage(&a);
  two.Create();
  two.SetActivePage(0);
  limited.GetDlgItem(IDC_NAME)->SetWindowText("toolong");
  two.PressButton(PSBTN_NEXT);
  EXPECT_EQ(two.GetActiveIndex(), 0);
  EXPECT_EQ(ui->LastBox().text, "Enter no more than 3 characters.");
}

TEST_F(WizardTest, PressButtonMessageFromAPage) {
  sheet.Create();
  sheet.SetActivePage(0);
  // A page asks by posting, as a double click does; nothing happens until pumped.
  a.GetParent()->PostMessage(PSM_PRESSBUTTON, PSBTN_NEXT, 0);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  platform::PumpMessages();
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  b.GetParent()->SendMessage(PSM_PRESSBUTTON, PSBTN_NEXT, 0);
  EXPECT_EQ(sheet.GetActiveIndex(), 2);
}

TEST_F(WizardTest, FinishAndCancel) {
  sheet.Create();
  sheet.SetActivePage(2);
  c.finish = FALSE;
  sheet.PressButton(PSBTN_FINISH);
  EXPECT_FALSE(sheet.IsFinished());
  c.finish = TRUE;
  sheet.PressButton(PSBTN_FINISH);
  EXPECT_TRUE(sheet.IsFinished());
  EXPECT_EQ(sheet.GetResult(), ID_WIZFINISH);
  sheet.PressButton(PSBTN_CANCEL);
  EXPECT_FALSE(sheet.IsCancelled()) << "an ended wizard takes no more buttons";
}

TEST_F(WizardTest, DoModalRunsTheBackendAndNeverDeletesPages) {
  ui->OnWizard([this](CPropertySheet& s) {
    EXPECT_EQ(s.GetActiveIndex(), 0);
    EXPECT_EQ(s.GetWizardButtons(), PSWIZB_BACK | PSWIZB_NEXT) << "pumped before the user acts";
    s.PressButton(PSBTN_NEXT);
    s.PressButton(PSBTN_NEXT);
    s.PressButton(PSBTN_FINISH);
    EXPECT_EQ(c.GetDlgItem(IDC_FRAME)->GetDlgCtrlID(), IDC_FRAME);
  });
  EXPECT_EQ(sheet.DoModal(), ID_WIZFINISH);
  EXPECT_EQ(sheet.m_hWnd, nullptr);
  EXPECT_EQ(c.m_hWnd, nullptr);
  ui->OnWizard(nullptr);
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(a.GetCaption(), "Page A") << "pages outlive the sheet";
}

TEST_F(WizardTest, WithoutBackendTheWizardIsCancelled) {
  uimodel::BackendScope none(nullptr);
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_TRUE(log.empty());
}

}  // namespace
