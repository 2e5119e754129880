// Dialog templates as data: what a dialog or property page is made of before it is
// created. Positions are dialog units; the window model converts them to pixels with the
// font's dialog base units.
#pragma once
#include "platform/winbase.h"

// Window styles the model honours.
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD WS_EX_CLIENTEDGE = 0x0200;

constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_BLACKFRAME = 0x0007;
constexpr DWORD SS_SUNKEN = 0x1000;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr DWORD LBS_WANTKEYBOARDINPUT = 0x0400;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;

enum class ControlClass { Static, Button, GroupBox, Edit, ListBox, ListView };

struct DlgControl {
  ControlClass cls;
  int id;            // -1 or 65535 for controls without an id of their own
  const char* text;  // initial text (button caption, static text); may be ""
  int x, y, cx, cy;  // dialog units
  DWORD style;       // WS_*, BS_*, SS_*, ES_*, LBS_*, LVS_* bits
};

struct DlgTemplate {
  UINT id;
  const char* caption;
  int cx, cy;        // dialog units
  const char* font;  // "MS Sans Serif"
  int pointSize;     // 8
  DWORD style;
  const DlgControl* controls;
  int controlCount;
};

// A bitmap resource: palette-indexed pixels, one byte per pixel, rows top to bottom.
struct BitmapResource {
  int width;
  int height;
  int colors;                   // palette entries (16)
  const unsigned int* palette;  // 0x00RRGGBB
  const unsigned char* pixels;  // width * height palette indexes
};
