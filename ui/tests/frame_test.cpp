// The page frame: resources made current, the wizard buttons posted after activation,
// and the side panel painted over control 1015.
#include <gtest/gtest.h>

#include "ui/log_file_page.h"
#include "ui/software_selection_page.h"
#include "ui/tests/pages_fixture.h"
#include "framework/uimodel.h"

namespace pages_test {
namespace {

// A frame page on any template, whose data exchange can be made to fail.
class TestPage : public CWizardPageFrame {
 public:
  explicit TestPage(UINT templateId) : CWizardPageFrame(templateId) {}
  bool failExchange = false;

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    if (failExchange) dx->Fail();
  }
};

using FrameTest = PagesTest;

TEST_F(FrameTest, ActivationPostsBackAndNextAfterItIsOver) {
  TestPage page(IDD_LOG_FILE);
  CPropertySheet sheet("Velmora");
  sheet.AddPage(&page);
  sheet.Create();
  ASSERT_TRUE(sheet.SetActivePage(0));
  EXPECT_EQ(sheet.GetWizardButtons(), 0u) << "posted, not sent";
  platform::PumpMessages();
  EXPECT_EQ(sheet.GetWizardButtons(), PSWIZB_BACK | PSWIZB_NEXT);
}

TEST_F(FrameTest, ARefusedActivationPostsNothing) {
  TestPage page(IDD_LOG_FILE);
  page.failExchange = true;
  CPropertySheet sheet("Velmora");
  sheet.AddPage(&page);
  sheet.Create();
  EXPECT_FALSE(sheet.SetActivePage(0));
  platform::PumpMessages();
  EXPECT_EQ(sheet.GetWizardButtons(), 0u);
}

TEST_F(FrameTest, ActivationMakesThePluginResourcesCurrent) {
  TestPage page(IDD_LOG_FILE);
  CPropertySheet sheet("Velmora");
  sheet.AddPage(&page);
  sheet.Create();
  // The host may have switched to its own resources since the page was made.
  AfxSetResourceHandle(nullptr);
  sheet.SetActivePage(0);
  EXPECT_EQ(AfxGetResourceHandle(), module());
}

TEST_F(FrameTest, ThePagesCarryTheirTemplatesAndCaptions) {
  CSoftwareSelectionPage selection(IDS_DEVICE_TYPE, IDS_SRECORD_FILE_FILTER);
  CLogFilePage log;
  EXPECT_EQ(selection.m_nIDTemplate, IDD_SOFTWARE_SELECTION);
  EXPECT_EQ(selection.GetCaption(), "Velmora - KV70 Software Selection");
  EXPECT_EQ(log.m_nIDTemplate, IDD_LOG_FILE);
  EXPECT_EQ(log.GetCaption(), "Velmora - KV70 Log File Selection");
}

// The page's pixels inside `frame` are the side panel stretched onto it, pixel for pixel,
// and the pixels around it are the page's background.
void ExpectPanelExactlyOver(const CWnd& page, const CRect& frame) {
  CBitmap picture;
  ASSERT_TRUE(picture.LoadBitmap(AfxFindResourceHandle(IDB_SIDE_PANEL, RT_BITMAP), IDB_SIDE_PANEL));
  BITMAP info{};
  picture.GetBitmap(&info);
  ASSERT_EQ(info.bmWidth, 150);
  ASSERT_EQ(info.bmHeight, 250);
  CBitmap expected;
  ASSERT_TRUE(expected.CreateBitmap(frame.Width(), frame.Height(), 1, 32, nullptr));
  CDC source, target;
  source.CreateCompatibleDC(nullptr);
  target.CreateCompatibleDC(nullptr);
  source.SelectObject(&picture);
  target.SelectObject(&expected);
  ASSERT_TRUE(target.StretchBlt(0, 0, frame.Width(), frame.Height(), &source, 0, 0, 150, 250, SRCCOPY));

  const uimodel::PixelSurface& surface = *uimodel::SurfaceOf(page);
  int wrong = 0;
  for (int y = 0; y < frame.Height(); ++y) {
    for (int x = 0; x < frame.Width(); ++x) wrong += surface.At(frame.left + x, frame.top + y) != target.GetPixel(x, y);
  }
  EXPECT_EQ(wrong, 0);
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  for (int y = frame.top; y < frame.bottom; ++y) {
    EXPECT_EQ(surface.At(frame.left - 1, y), background);
    EXPECT_EQ(surface.At(frame.right, y), background);
  }
  for (int x = frame.left; x < frame.right; ++x) {
    EXPECT_EQ(surface.At(x, frame.top - 1), background);
    EXPECT_EQ(surface.At(x, frame.bottom), background);
  }
}

TEST_F(FrameTest, TheSidePanelFillsControl1015OnBothPages) {
  CSoftwareSelectionPage selection(IDS_DEVICE_TYPE, IDS_SRECORD_FILE_FILTER);
  CLogFilePage log;
  for (CWizardPageFrame* page : std::initializer_list<CWizardPageFrame*>{&selection, &log}) {
    SCOPED_TRACE(page->GetCaption().GetString());
    Wizard wizard(*page);
    CRect frame;
    page->GetDlgItem(IDC_SIDE_PANEL_FRAME)->GetWindowRect(frame);
    page->ScreenToClient(frame);
    // 4, 4, 100, 152 dialog units of "MS Sans Serif" 8.
    EXPECT_EQ(frame, CRect(6, 7, 156, 254));
    ExpectPanelExactlyOver(*page, frame);
  }
}

TEST_F(FrameTest, ATemplateWithoutTheFrameShowsNoPicture) {
  TestPage page(IDD_REGISTER_FIRMWARE);
  CPropertySheet sheet("Velmora");
  sheet.AddPage(&page);
  sheet.Create();
  ASSERT_TRUE(sheet.SetActivePage(0));
  platform::PumpMessages();
  ASSERT_NE(uimodel::SurfaceOf(page), nullptr);
  for (COLORREF pixel : uimodel::SurfaceOf(page)->pixels) ASSERT_EQ(pixel, GetSysColor(COLOR_BTNFACE));
}

TEST_F(FrameTest, DrawingStretchesTheWholePictureOntoAnyRectangle) {
  CSidePanelBitmap panel;
  ASSERT_TRUE(panel.LoadBitmap(module(), IDB_SIDE_PANEL));
  CBitmap canvas, reference;
  ASSERT_TRUE(canvas.CreateBitmap(40, 30, 1, 32, nullptr));
  ASSERT_TRUE(reference.CreateBitmap(30, 5, 1, 32, nullptr));
  CDC dc, source, ref;
  dc.CreateCompatibleDC(nullptr);
  source.CreateCompatibleDC(nullptr);
  ref.CreateCompatibleDC(nullptr);
  dc.SelectObject(&canvas);
  ref.SelectObject(&reference);
  source.SelectObject(&panel);
  ASSERT_TRUE(ref.StretchBlt(0, 0, 30, 5, &source, 0, 0, 150, 250, SRCCOPY));
  source.DeleteDC();  // Draw selects the picture itself

  panel.Draw(&dc, CRect(5, 5, 35, 10));  // much wider than tall: proportions give way
  int wrong = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 5 && x < 35 && y >= 5 && y < 10;
      wrong += dc.GetPixel(x, y) != (inside ? ref.GetPixel(x - 5, y - 5) : 0u);
    }
  }
  EXPECT_EQ(wrong, 0);

  CSidePanelBitmap empty;
  empty.Draw(&dc, CRect(0, 0, 40, 30));  // nothing to draw, and no failure
  EXPECT_EQ(dc.GetPixel(0, 0), 0u);
}

}  // namespace
}  // namespace pages_test
