// Drawing: bitmaps from resources, nearest-neighbour stretching, and a page that paints
// its side panel into the rectangle of control 1015.
#include <gtest/gtest.h>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

constexpr COLORREF A = 0xFF0000, B = 0x00FF00, C = 0xFFFF00, D = 0x0000FF;

// A bitmap of one row of the given colours.
void MakeRow(CBitmap& bitmap, std::vector<COLORREF> colours) {
  ASSERT_TRUE(bitmap.CreateBitmap(static_cast<int>(colours.size()), 1, 1, 32, colours.data()));
}

struct StretchCase {
  const char* name;
  std::vector<COLORREF> source;
  int width;                      // target width (height 1)
  std::vector<COLORREF> expected;
};

const StretchCase kStretchCases[] = {
    {"Double", {A, B}, 4, {A, A, B, B}},
    {"Same", {A, B, C}, 3, {A, B, C}},
    {"Halve", {A, B, C, D}, 2, {B, D}},
    {"ThreeToTwo", {A, B, C}, 2, {A, C}},
    {"OneToMany", {C}, 3, {C, C, C}},
};

class StretchTest : public UiTest, public ::testing::WithParamInterface<StretchCase> {};

TEST_P(StretchTest, NearestNeighbour) {
  const StretchCase& c = GetParam();
  CBitmap source, target;
  MakeRow(source, c.source);
  target.CreateBitmap(c.width + 2, 1, 1, 32, nullptr);
  CDC src, dst;
  src.CreateCompatibleDC(nullptr);
  dst.CreateCompatibleDC(nullptr);
  src.SelectObject(&source);
  dst.SelectObject(&target);
  ASSERT_TRUE(dst.StretchBlt(1, 0, c.width, 1, &src, 0, 0, static_cast<int>(c.source.size()), 1, SRCCOPY));
  EXPECT_EQ(dst.GetPixel(0, 0), 0u) << "left of the target untouched";
  for (int x = 0; x < c.width; ++x) EXPECT_EQ(dst.GetPixel(1 + x, 0), c.expected[static_cast<size_t>(x)]) << x;
  EXPECT_EQ(dst.GetPixel(c.width + 1, 0), 0u) << "right of the target untouched";
}

INSTANTIATE_TEST_SUITE_P(Cases, StretchTest, ::testing::ValuesIn(kStretchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UiTest, StretchBltRefusesWhatItCannotDo) {
  CBitmap bitmap;
  MakeRow(bitmap, {A});
  CDC dc, window;
  dc.CreateCompatibleDC(nullptr);
  dc.SelectObject(&bitmap);
  EXPECT_FALSE(dc.StretchBlt(0, 0, 1, 1, &dc, 0, 0, 1, 1, 0x00EE0086));  // not SRCCOPY
  EXPECT_FALSE(dc.StretchBlt(0, 0, 0, 1, &dc, 0, 0, 1, 1, SRCCOPY));
  EXPECT_FALSE(dc.StretchBlt(0, 0, 1, 1, &window, 0, 0, 1, 1, SRCCOPY)) << "no source surface";
  EXPECT_EQ(dc.SetMapMode(8), 0) << "only MM_TEXT";
  EXPECT_EQ(dc.GetMapMode(), MM_TEXT);
  EXPECT_EQ(dc.GetPixel(5, 5), 0xFFFFFFFFu);
}

TEST_F(UiTest, SelectObjectReturnsThePreviousBitmap) {
  CBitmap first, second;
  MakeRow(first, {A});
  MakeRow(second, {B});
  CDC dc;
  EXPECT_EQ(dc.SelectObject(&first), nullptr) << "not a memory context yet";
  dc.CreateCompatibleDC(nullptr);
  CBitmap* stock = dc.SelectObject(&first);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(dc.SelectObject(&second), &first);
  EXPECT_EQ(dc.GetPixel(0, 0), B);
  EXPECT_EQ(dc.SelectObject(stock), &second);
  // A bitmap deleted while selected leaves the context drawing on its pixels, not freed
  // memory.
  dc.SelectObject(&first);
  first.DeleteObject();
  EXPECT_EQ(dc.GetPixel(0, 0), A);
}

TEST_F(UiTest, BitmapsLoadFromModules) {
  CBitmap tiny;
  ASSERT_TRUE(tiny.LoadBitmap(module.handle(), IDB_TINY));
  BITMAP info{};
  ASSERT_NE(tiny.GetBitmap(&info), 0);
  EXPECT_EQ(info.bmWidth, 4);
  EXPECT_EQ(info.bmHeight, 2);
  const uimodel::PixelSurface* pixels = uimodel::PixelsOf(tiny);
  EXPECT_EQ(pixels->At(0, 0), 0xFF0000u);
  EXPECT_EQ(pixels->At(2, 1), 0x800000u);
  EXPECT_EQ(pixels->At(3, 1), 0u) << "an index beyond the palette reads black";
  EXPECT_FALSE(tiny.LoadBitmap(module.handle(), IDB_TINY)) << "already holds one";

  CBitmap missing;
  EXPECT_FALSE(missing.LoadBitmap(module.handle(), 4321));
  EXPECT_EQ(missing.GetBitmap(&info), 0);

  // Found through the framework's module search, as a page finds its picture.
  HINSTANCE holder = AfxFindResourceHandle(IDB_PANEL, RT_BITMAP);
  EXPECT_EQ(holder, module.handle());
  CBitmap panel;
  EXPECT_TRUE(panel.Attach(LoadBitmap(holder, MAKEINTRESOURCE(IDB_PANEL))));
  panel.GetBitmap(&info);
  EXPECT_EQ(info.bmWidth, 150);
  EXPECT_EQ(info.bmHeight, 250);
}

// A page that paints its panel into control 1015, the way a wizard page frame does.
class PanelPage : public CPropertyPage {
 public:
  explicit PanelPage(UINT templateId) : CPropertyPage(templateId) {
    panel.Attach(LoadBitmap(AfxFindResourceHandle(IDB_PANEL, RT_BITMAP), MAKEINTRESOURCE(IDB_PANEL)));
  }
  CBitmap panel;
  int paints = 0;

 protected:
  void OnPaint() override {
    ++paints;
    CPaintDC dc(this);
    CWnd* frame = GetDlgItem(IDC_FRAME);
    if (!frame) return;
    CRect rect;
    frame->GetWindowRect(rect);
    ScreenToClient(rect);
    BITMAP info;
    panel.GetBitmap(&info);
    CSize size(info.bmWidth, info.bmHeight);
    CPoint origin(0, 0);
    dc.DPtoLP(&size);
    dc.DPtoLP(&origin);
    CDC memory;
    memory.CreateCompatibleDC(&dc);
    memory.SetMapMode(dc.GetMapMode());
    CBitmap* old = memory.SelectObject(&panel);
    dc.StretchBlt(rect.left, rect.top, rect.Width(), rect.Height(), &memory, origin.x, origin.y,
                  size.cx, size.cy, SRCCOPY);
    memory.SelectObject(old);
    memory.DeleteDC();
  }
};

TEST_F(UiTest, ThePanelFillsTheFrameExactly) {
  PanelPage page(IDD_PAGE_A);
  CPropertySheet sheet("Wizard");
  sheet.AddPage(&page);
  sheet.Create();
  sheet.SetActivePage(0);
  platform::PumpMessages();  // the first paint is asked for when the page appears
  ASSERT_EQ(page.paints, 1);
  const uimodel::PixelSurface& s = *uimodel::SurfaceOf(page);
  // Control 1015 at 4, 4, 100, 152 dialog units: 6, 7 to 156, 254 in pixels; the 150 x
  // 250 picture is squeezed into 150 x 247.
  const CRect frame(6, 7, 156, 254);
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(s.At(frame.left - 1, frame.top), background);
  EXPECT_EQ(s.At(frame.left, frame.top - 1), background);
  EXPECT_EQ(s.At(frame.right, frame.top), background);
  EXPECT_EQ(s.At(frame.left, frame.bottom), background);
  EXPECT_EQ(s.At(frame.left, frame.top), kPalette[0]);
  EXPECT_EQ(s.At(frame.right - 1, frame.top), kPalette[15]) << "the picture's last column";
  // Source rows 224 to 239 are colour 14, 240 to 249 colour 0; squeezed, the change falls
  // between target rows 236 and 237.
  EXPECT_EQ(s.At(frame.left + 20, frame.top + 236), kPalette[14]);
  EXPECT_EQ(s.At(frame.left + 20, frame.top + 237), kPalette[0]);
  // Every pixel of the frame comes from the picture: none is background.
  int background_inside = 0;
  for (int y = frame.top; y < frame.bottom; ++y) {
    for (int x = frame.left; x < frame.right; ++x) background_inside += s.At(x, y) == background;
  }
  EXPECT_EQ(background_inside, 0);
}

TEST_F(UiTest, PaintingIsClippedToTheInvalidArea) {
  PanelPage page(IDD_PAGE_A);
  CPropertySheet sheet("Wizard");
  sheet.AddPage(&page);
  sheet.Create();
  sheet.SetActivePage(0);
  platform::PumpMessages();
  // Paint over a part with another colour, then ask for a repaint of a corner only.
  {
    CClientDC dc(&page);
    dc.FillSolidRect(CRect(0, 0, 200, 300), 0x123456);
  }
  page.InvalidateRect(CRect(6, 7, 10, 10), FALSE);
  page.UpdateWindow();
  EXPECT_EQ(page.paints, 2);
  const uimodel::PixelSurface& s = *uimodel::SurfaceOf(page);
  EXPECT_EQ(s.At(6, 7), kPalette[0]);
  EXPECT_EQ(s.At(10, 10), 0x123456u);
  page.UpdateWindow();
  EXPECT_EQ(page.paints, 2) << "a valid window is not painted again";
}

TEST_F(UiTest, APageWithoutTheFrameDrawsNothing) {
  PanelPage page(IDD_PAGE_NO_FRAME);
  CPropertySheet sheet("Wizard");
  sheet.AddPage(&page);
  sheet.Create();
  sheet.SetActivePage(0);
  platform::PumpMessages();
  EXPECT_EQ(page.paints, 1);
  const uimodel::PixelSurface& s = *uimodel::SurfaceOf(page);
  for (COLORREF pixel : s.pixels) ASSERT_EQ(pixel, GetSysColor(COLOR_BTNFACE));
}

}  // namespace
