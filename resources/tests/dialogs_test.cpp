// Dialog templates: frame, styles and the controls each dialog's code relies on.
#include "resources/dialogs.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/module.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace {

const DlgTemplate& Template(UINT id) {
  HMODULE module = kv70::testing::UseKV70Resources();
  const platform::ResourceEntry* entry = platform::FindResource(module, id, RT_DIALOG);
  if (!entry) throw std::runtime_error("no template " + std::to_string(id));
  return *static_cast<const DlgTemplate*>(entry->data);
}

const DlgControl* Control(const DlgTemplate& t, int id) {
  for (int i = 0; i < t.controlCount; ++i) {
    if (t.controls[i].id == id) return &t.controls[i];
  }
  return nullptr;
}

struct Expected {
  UINT dialog;
  int id;
  ControlClass cls;
  const char* text;
  int x, y, cx, cy;
  DWORD requiredStyle;
};

TEST(DialogTemplates, ControlsSitWhereTheirDialogsExpectThem) {
  const Expected rows[] = {
      {111, 1015, ControlClass::Static, "", 4, 4, 100, 152, SS_BLACKFRAME | SS_SUNKEN},
      {111, 1002, ControlClass::ListBox, "", 116, 72, 164, 40,
       WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT},
      {112, 1015, ControlClass::Static, "", 4, 4, 100, 152, SS_BLACKFRAME | SS_SUNKEN},
      {112, 1004, ControlClass::Edit, "", 119, 57, 116, 12, ES_AUTOHSCROLL},
      {112, 1003, ControlClass::Button, "B&rowse...", 239, 55, 52, 16, 0},
      {134, 1011, ControlClass::Edit, "", 12, 23, 164, 14, ES_AUTOHSCROLL},
      {134, 1008, ControlClass::Edit, "", 12, 50, 164, 14, ES_AUTOHSCROLL},
      {134, 1003, ControlClass::Button, "&Browse...", 184, 50, 50, 14, 0},
      {134, 1, ControlClass::Button, "&Add Entry", 250, 8, 50, 14, BS_DEFPUSHBUTTON},
      {134, 2, ControlClass::Button, "Cancel", 250, 28, 50, 14, 0},
      {2013, 1, ControlClass::Button, "OK", 203, 7, 50, 14, BS_DEFPUSHBUTTON},
      {2013, 5049, ControlClass::Button, "&Save...", 203, 25, 50, 14, 0},
      {2013, 5050, ControlClass::Button, "&Print...", 203, 44, 50, 14, 0},
      {2013, 5053, ControlClass::Static, "NAME S/N:", 7, 9, 65, 8, 0},
      {2013, 5052, ControlClass::Edit, "", 48, 7, 145, 12,
       ES_READONLY | ES_AUTOHSCROLL | WS_BORDER},
      {2013, 65535, ControlClass::GroupBox, "Installed Options", 7, 24, 186, 139, 0},
      {2013, 5051, ControlClass::ListView, "", 12, 34, 176, 124,
       LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER},
      {2013, 5055, ControlClass::GroupBox, "Temporary Options", 7, 168, 186, 57, 0},
      {2013, 5054, ControlClass::ListView, "", 12, 178, 176, 42,
       LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("dialog " + std::to_string(row.dialog) + " control " + std::to_string(row.id));
    const DlgControl* c = Control(Template(row.dialog), row.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->cls, row.cls);
    EXPECT_STREQ(c->text, row.text);
    EXPECT_EQ(c->x, row.x);
    EXPECT_EQ(c->y, row.y);
    EXPECT_EQ(c->cx, row.cx);
    EXPECT_EQ(c->cy, row.cy);
    EXPECT_EQ(c->style & row.requiredStyle, row.requiredStyle);
    EXPECT_TRUE(c->style & WS_CHILD);
  }
}

TEST(DialogTemplates, FramesHaveTheirCaptionsSizesAndStyles) {
  struct Frame {
    UINT id;
    const char* caption;
    int cx, cy;
    DWORD style;
  } rows[] = {
      {111, "Velmora - KV70 Software Selection", 296, 165, WS_CHILD | WS_DISABLED | WS_CAPTION},
      {112, "Velmora - KV70 Log File Selection", 296, 165, WS_CHILD | WS_DISABLED | WS_CAPTION},
      {134, "Register Firmware", 304, 77, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME},
      {2013, "Device Configuration", 260, 234, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME},
  };
  for (const auto& row : rows) {
    const DlgTemplate& t = Template(row.id);
    EXPECT_EQ(t.id, row.id);
    EXPECT_STREQ(t.caption, row.caption);
    EXPECT_EQ(t.cx, row.cx);
    EXPECT_EQ(t.cy, row.cy);
    EXPECT_EQ(t.style, row.style) << row.id;
    EXPECT_STREQ(t.font, "MS Sans Serif");
    EXPECT_EQ(t.pointSize, 8);
  }
}

TEST(DialogTemplates, ExplanatoryTextsAreExact) {
  const DlgTemplate& selection = Template(111);
  EXPECT_STREQ(selection.controls[1].text,
               "Velmora needs to know which software should be used to update the KV70.  The "
               "software versions listed below are currently available for transfer to the "
               "KV70.\n\nSelect software from the list, and press Next to continue.");
  EXPECT_STREQ(selection.controls[2].text, "&Available Software");
  const DlgTemplate& log = Template(112);
  EXPECT_STREQ(log.controls[1].text,
               "Velmora needs to know where to save the KV70 file system information.\n\nSelect "
               "a file and press Next to continue.");
  EXPECT_STREQ(log.controls[2].text, "&Log file");
}

TEST(DialogTemplates, RegisterDialogFirstFocusableControlIsTheDescription) {
  const DlgTemplate& t = Template(134);
  int first = -1;
  for (int i = 0; i < t.controlCount && first < 0; ++i) {
    if (t.controls[i].style & WS_TABSTOP) first = i;
  }
  ASSERT_GE(first, 0);
  EXPECT_EQ(t.controls[first].id, IDC_FIRMWARE_DESCRIPTION);
}

TEST(DialogTemplates, ControlsLieInsideTheirDialog) {
  for (const DlgTemplate* t : kv70::resources::DialogTemplates()) {
    for (int i = 0; i < t->controlCount; ++i) {
      const DlgControl& c = t->controls[i];
      EXPECT_LE(c.x + c.cx, t->cx) << t->id << " control " << i;
      EXPECT_LE(c.y + c.cy, t->cy) << t->id << " control " << i;
    }
  }
}

}  // namespace
