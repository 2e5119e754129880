// Windows types, macros and constants the framework and the plug-in are written against,
// with their numbers as on Windows. platform/window.h has the basic messages and
// platform/msgbox.h the message box styles and results; this header adds the rest.
#pragma once
#include <cstdint>

#include "platform/msgbox.h"
#include "platform/window.h"

// ---------------------------------------------------------------------------------------
// Basic types and macros

using COLORREF = DWORD;
using DWORD_PTR = std::uintptr_t;
using LPRECT = struct tagRECT*;
using LPCRECT = const struct tagRECT*;
using LPPOINT = struct tagPOINT*;
using LPSIZE = struct tagSIZE*;

struct HDC__;
using HDC = HDC__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HGDIOBJ;

constexpr WORD LOWORD(DWORD_PTR v) {
  return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(DWORD_PTR v) {
  return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(DWORD low, DWORD high) {
  return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
constexpr LPARAM MAKELPARAM(DWORD low, DWORD high) {
  return static_cast<LPARAM>(static_cast<DWORD>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}
constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>(((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF));
}
// A resource id passed where a resource name is expected.
inline LPCTSTR MAKEINTRESOURCE(UINT id) {
  return reinterpret_cast<LPCTSTR>(static_cast<std::uintptr_t>(id & 0xFFFF));
}
inline bool IS_INTRESOURCE(LPCTSTR name) {
  return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}

// ---------------------------------------------------------------------------------------
// Messages and notifications (numbers as on Windows). window.h has the basic ones.

constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;

constexpr UINT BN_CLICKED = 0;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT LBN_DBLCLK = 2;
constexpr UINT EN_CHANGE = 0x0300;
constexpr int LB_ERR = -1;
constexpr int LB_OKAY = 0;

constexpr int IDC_STATIC = -1;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWNA = 8;

constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_TAB = 0x09;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_ESCAPE = 0x1B;
constexpr UINT VK_SPACE = 0x20;
constexpr UINT VK_PRIOR = 0x21;
constexpr UINT VK_NEXT = 0x22;
constexpr UINT VK_END = 0x23;
constexpr UINT VK_HOME = 0x24;
constexpr UINT VK_LEFT = 0x25;
constexpr UINT VK_UP = 0x26;
constexpr UINT VK_RIGHT = 0x27;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT VK_INSERT = 0x2D;
constexpr UINT VK_DELETE = 0x2E;

// Property sheet messages and values.
constexpr UINT PSM_SETCURSEL = WM_USER + 101;
constexpr UINT PSM_SETWIZBUTTONS = WM_USER + 112;  // 1136
constexpr UINT PSM_PRESSBUTTON = WM_USER + 113;    // 1137
constexpr DWORD PSWIZB_BACK = 0x1;
constexpr DWORD PSWIZB_NEXT = 0x2;
constexpr DWORD PSWIZB_FINISH = 0x4;
constexpr DWORD PSWIZB_DISABLEDFINISH = 0x8;
constexpr int PSBTN_BACK = 0;
constexpr int PSBTN_NEXT = 1;
constexpr int PSBTN_FINISH = 2;
constexpr int PSBTN_OK = 3;
constexpr int PSBTN_APPLYNOW = 4;
constexpr int PSBTN_CANCEL = 5;
constexpr int PSBTN_HELP = 6;
constexpr int ID_WIZBACK = 0x3023;
constexpr int ID_WIZNEXT = 0x3024;
constexpr int ID_WIZFINISH = 0x3025;

// List view.
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr int LVCFMT_CENTER = 2;
constexpr int LVSCW_AUTOSIZE = -1;
constexpr int LVSCW_AUTOSIZE_USEHEADER = -2;

// Drawing.
constexpr int MM_TEXT = 1;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_BTNFACE = 15;
COLORREF GetSysColor(int index);

// File dialog flags.
constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_CREATEPROMPT = 0x00002000;
