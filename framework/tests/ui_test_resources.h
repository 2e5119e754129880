// A test module with dialog templates, a bitmap and a few strings, registered as an
// extension module for the life of a fixture, with the scripted backend installed.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/afxwin.h"
#include "framework/testing/scripted_ui.h"
#include "framework/uimodel.h"

namespace uitest {

// Ids of the test resources.
constexpr UINT IDD_FORM = 9001;          // a dialog with one control of each class
constexpr UINT IDD_PAGE_A = 9101;        // wizard pages with the picture frame
constexpr UINT IDD_PAGE_B = 9102;
constexpr UINT IDD_PAGE_C = 9103;
constexpr UINT IDD_PAGE_NO_FRAME = 9104; // a page without the picture frame
constexpr UINT IDD_MISSING = 9999;
constexpr UINT IDB_PANEL = 9131;         // 150 x 250, 16 colours
constexpr UINT IDB_TINY = 9132;          // 4 x 2, for exact scaling checks
constexpr UINT IDS_PAGE_CAPTION = 9201;

constexpr int IDC_NAME = 1011;
constexpr int IDC_PATH = 1008;
constexpr int IDC_BROWSE = 1003;
constexpr int IDC_LIST = 1002;
constexpr int IDC_OPTIONS = 1050;
constexpr int IDC_FRAME = 1015;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

inline constexpr DlgControl kFormControls[] = {
    {ControlClass::GroupBox, -1, "Group", 4, 4, 240, 68, kChild | BS_GROUPBOX},
    {ControlClass::Edit, IDC_NAME, "", 12, 23, 164, 14, kChild | WS_BORDER | ES_AUTOHSCROLL},
    {ControlClass::Edit, IDC_PATH, "", 12, 50, 164, 14, kChild | WS_BORDER | ES_AUTOHSCROLL},
    {ControlClass::Button, IDC_BROWSE, "&Browse...", 184, 50, 50, 14, kChild | BS_PUSHBUTTON},
    {ControlClass::ListBox, IDC_LIST, "", 116, 72, 164, 40,
     kChild | WS_BORDER | LBS_NOTIFY | LBS_WANTKEYBOARDINPUT},
    {ControlClass::ListView, IDC_OPTIONS, "", 12, 120, 176, 42, kChild | LVS_REPORT},
    {ControlClass::Button, 1, "OK", 250, 8, 50, 14, kChild | BS_DEFPUSHBUTTON},
    {ControlClass::Button, 2, "Cancel", 250, 28, 50, 14, kChild | BS_PUSHBUTTON},
    {ControlClass::Button, 5049, "&Save...", 250, 48, 50, 14, WS_CHILD | BS_PUSHBUTTON},
};
inline constexpr DlgTemplate kForm = {IDD_FORM, "Form", 304, 170, "MS Sans Serif", 8,
                                      WS_POPUP | WS_CAPTION | DS_MODALFRAME, kFormControls,
                                      static_cast<int>(std::size(kFormControls))};

inline constexpr DlgControl kPageControls[] = {
    {ControlClass::Static, IDC_FRAME, "", 4, 4, 100, 152, kChild | SS_BLACKFRAME | SS_SUNKEN},
    {ControlClass::Edit, IDC_NAME, "", 119, 57, 116, 12, kChild | WS_BORDER},
    {ControlClass::ListBox, IDC_LIST, "", 116, 72, 164, 40,
     kChild | WS_BORDER | LBS_NOTIFY | LBS_WANTKEYBOARDINPUT},
};
inline constexpr DlgControl kPageNoFrameControls[] = {
    {ControlClass::Edit, IDC_NAME, "", 119, 57, 116, 12, kChild | WS_BORDER},
};
constexpr DWORD kPageStyle = WS_CHILD | WS_DISABLED | WS_CAPTION;
inline constexpr DlgTemplate kPageA = {IDD_PAGE_A, "Page A", 296, 165, "MS Sans Serif", 8,
                                       kPageStyle, kPageControls, 3};
inline constexpr DlgTemplate kPageB = {IDD_PAGE_B, "Page B", 296, 165, "MS Sans Serif", 8,
                                       kPageStyle, kPageControls, 3};
inline constexpr DlgTemplate kPageC = {IDD_PAGE_C, "Page C", 296, 165, "MS Sans Serif", 8,
                                       kPageStyle, kPageControls, 3};
inline constexpr DlgTemplate kPageNoFrame = {IDD_PAGE_NO_FRAME, "Plain", 296, 165, "MS Sans Serif",
                                             8, kPageStyle, kPageNoFrameControls, 1};

// Colours of the test palettes; none is the dialog background.
inline constexpr unsigned int kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
    0x404040, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

// The panel: every row has its own colour band (row / 16), and the last column is
// white, so that edges and scaling show.
inline const std::vector<unsigned char>& PanelPixels() {
  static const std::vector<unsigned char> pixels = [] {
    std::vector<unsigned char> p(150 * 250);
    for (int y = 0; y < 250; ++y) {
      for (int x = 0; x < 150; ++x) p[static_cast<size_t>(y) * 150 + x] = x == 149 ? 15 : (y / 16) % 15;
    }
    return p;
  }();
  return pixels;
}
// A B C D over E F G H; index 16 is outside the palette.
inline constexpr unsigned char kTinyPixels[8] = {9, 10, 11, 12, 13, 14, 1, 16};

class UiTestModule {
 public:
  UiTestModule() {
    panel_ = BitmapResource{150, 250, 16, kPalette, PanelPixels().data()};
    tiny_ = BitmapResource{4, 2, 16, kPalette, kTinyPixels};
    table_ = {
        {RT_DIALOG, IDD_FORM, &kForm, sizeof(kForm)},
        {RT_DIALOG, IDD_PAGE_A, &kPageA, sizeof(kPageA)},
        {RT_DIALOG, IDD_PAGE_B, &kPageB, sizeof(kPageB)},
        {RT_DIALOG, IDD_PAGE_C, &kPageC, sizeof(kPageC)},
        {RT_DIALOG, IDD_PAGE_NO_FRAME, &kPageNoFrame, sizeof(kPageNoFrame)},
        {RT_BITMAP, IDB_PANEL, &panel_, sizeof(panel_)},
        {RT_BITMAP, IDB_TINY, &tiny_, sizeof(tiny_)},
        {RT_STRING, IDS_PAGE_CAPTION, "Caption from strings", std::strlen("Caption from strings")},
    };
    handle_ = platform::RegisterModule("uitest", &table_, table_.data(), table_.size());
    AfxRegisterExtensionModule(handle_);
  }
  ~UiTestModule() {
    AfxUnregisterExtensionModule(handle_);
    platform::UnregisterModule(handle_);
  }
  UiTestModule(const UiTestModule&) = delete;
  UiTestModule& operator=(const UiTestModule&) = delete;
  HINSTANCE handle() const { return handle_; }

 private:
  BitmapResource panel_{};
  BitmapResource tiny_{};
  std::vector<platform::ResourceEntry> table_;
  HINSTANCE handle_ = nullptr;
};

// Every UI test: the module registered, a fresh scripted backend installed, and the
// calling thread's queue drained afterwards.
class UiTest : public ::testing::Test {
 protected:
  UiTest() : ui(std::make_shared<ScriptedUi>()), scope_(ui) {}
  ~UiTest() override { platform::PumpMessages(); }

  UiTestModule module;
  std::shared_ptr<ScriptedUi> ui;

 private:
  uimodel::BackendScope scope_;
};

// Dialog units of the default metric (6 x 13 base units) to pixels, worked by hand for
// the values the tests use.
inline CRect Pixels(int x, int y, int cx, int cy) {
  auto mx = [](int v) { return (v * 6 + 2) / 4; };
  auto my = [](int v) { return (v * 13 + 4) / 8; };
  return CRect(mx(x), my(y), mx(x) + mx(cx), my(y) + my(cy));
}

}  // namespace uitest
