// Dialog templates as data. Positions are dialog units (x, y, width, height); every
// control is a visible child, and the code of each dialog hides what it does not use.
#include "resources/dialogs.h"

#include <iterator>

#include "resources/resource.h"

namespace kv70::resources {

namespace {

// Controls without an id of their own.
constexpr int kNoId = -1;

constexpr const char kFont[] = "MS Sans Serif";
constexpr int kPointSize = 8;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPopupDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
// Pages are created hidden and disabled; the wizard enables and shows the current one.
constexpr DWORD kWizardPage = WS_CHILD | WS_DISABLED | WS_CAPTION;

constexpr DWORD kStaticText = kChild | SS_LEFT;
constexpr DWORD kGroupBox = kChild | BS_GROUPBOX;
constexpr DWORD kPushButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kDefaultButton = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kLineEdit = kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kOptionList =
    kChild | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
// The picture panel of both wizard pages: a black frame with a sunken edge.
constexpr DlgControl kSidePanelFrame = {ControlClass::Static,
                                        IDC_SIDE_PANEL_FRAME,
                                        "",
                                        4,
                                        4,
                                        100,
                                        152,
                                        kChild | SS_BLACKFRAME | SS_SUNKEN};

// cls, id, text, x, y, cx, cy, style
constexpr DlgControl kSoftwareSelectionControls[] = {
    kSidePanelFrame,
    {ControlClass::Static, kNoId,
     "Velmora needs to know which software should be used to update the KV70.  The software "
     "versions listed below are currently available for transfer to the KV70.\n\nSelect "
     "software from the list, and press Next to continue.",
     112, 4, 180, 48, kStaticText},
    {ControlClass::GroupBox, kNoId, "&Available Software", 112, 60, 182, 56, kGroupBox},
    {ControlClass::ListBox, IDC_SOFTWARE_LIST, "", 116, 72, 164, 40,
     kChild | WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
         LBS_WANTKEYBOARDINPUT},
};

constexpr DlgControl kLogFileControls[] = {
    kSidePanelFrame,
    {ControlClass::Static, kNoId,
     "Velmora needs to know where to save the KV70 file system information.\n\nSelect a file "
     "and press Next to continue.",
     116, 4, 176, 32, kStaticText},
    {ControlClass::GroupBox, kNoId, "&Log file", 116, 44, 179, 32, kGroupBox},
    {ControlClass::Edit, IDC_LOG_FILE_NAME, "", 119, 57, 116, 12, kLineEdit},
    {ControlClass::Button, IDC_LOG_BROWSE, "B&rowse...", 239, 55, 52, 16, kPushButton},
};

constexpr DlgControl kRegisterFirmwareControls[] = {
    {ControlClass::GroupBox, kNoId, "Firmware Information", 4, 4, 240, 68, kGroupBox},
    {ControlClass::Static, kNoId, "&Description:", 12, 15, 68, 8, kStaticText},
    {ControlClass::Edit, IDC_FIRMWARE_DESCRIPTION, "", 12, 23, 164, 14, kLineEdit},
    {ControlClass::Static, kNoId, "&Path:", 12, 42, 52, 8, kStaticText},
    {ControlClass::Edit, IDC_FIRMWARE_PATH, "", 12, 50, 164, 14, kLineEdit},
    {ControlClass::Button, IDC_FIRMWARE_BROWSE, "&Browse...", 184, 50, 50, 14, kPushButton},
    {ControlClass::Button, IDC_ADD_ENTRY, "&Add Entry", 250, 8, 50, 14, kDefaultButton},
    {ControlClass::Button, IDC_CANCEL, "Cancel", 250, 28, 50, 14, kPushButton},
};

constexpr DlgControl kConfigurationControls[] = {
    {ControlClass::Button, IDC_CONFIG_OK, "OK", 203, 7, 50, 14, kDefaultButton},
    {ControlClass::Button, IDC_CONFIG_SAVE, "&Save...", 203, 25, 50, 14, kPushButton},
    {ControlClass::Button, IDC_CONFIG_PRINT, "&Print...", 203, 44, 50, 14, kPushButton},
    {ControlClass::Static, IDC_SERIAL_LABEL, "NAME S/N:", 7, 9, 65, 8, kStaticText},
    {ControlClass::Edit, IDC_SERIAL_NUMBER, "", 48, 7, 145, 12, kLineEdit | ES_READONLY},
    {ControlClass::GroupBox, IDC_INSTALLED_GROUP, "Installed Options", 7, 24, 186, 139, kGroupBox},
    {ControlClass::ListView, IDC_INSTALLED_LIST, "", 12, 34, 176, 124, kOptionList},
    {ControlClass::GroupBox, IDC_TEMPORARY_GROUP, "Temporary Options", 7, 168, 186, 57, kGroupBox},
    {ControlClass::ListView, IDC_TEMPORARY_LIST, "", 12, 178, 176, 42, kOptionList},
};

template <std::size_t N>
constexpr int Count(const DlgControl (&)[N]) {
  return static_cast<int>(N);
}

}  // namespace

const DlgTemplate kSoftwareSelectionTemplate = {IDD_SOFTWARE_SELECTION,
                                                "Velmora - KV70 Software Selection",
                                                296,
                                                165,
                                                kFont,
                                                kPointSize,
                                                kWizardPage,
                                                kSoftwareSelectionControls,
                                                Count(kSoftwareSelectionControls)};

const DlgTemplate kLogFileTemplate = {IDD_LOG_FILE,
                                      "Velmora - KV70 Log File Selection",
                                      296,
                                      165,
                                      kFont,
                                      kPointSize,
                                      kWizardPage,
                                      kLogFileControls,
                                      Count(kLogFileControls)};

const DlgTemplate kRegisterFirmwareTemplate = {IDD_REGISTER_FIRMWARE,
                                               "Register Firmware",
                                               304,
                                               77,
                                               kFont,
                                               kPointSize,
                                               kPopupDialog,
                                               kRegisterFirmwareControls,
                                               Count(kRegisterFirmwareControls)};

const DlgTemplate kConfigurationTemplate = {
    IDD_CONFIGURATION,      "Device Configuration",       260, 234, kFont, kPointSize, kPopupDialog,
    kConfigurationControls, Count(kConfigurationControls)};

namespace {
constexpr const DlgTemplate* kTemplates[] = {&kSoftwareSelectionTemplate, &kLogFileTemplate,
                                             &kRegisterFirmwareTemplate, &kConfigurationTemplate};
}  // namespace

std::span<const DlgTemplate* const> DialogTemplates() {
  return kTemplates;
}

}  // namespace kv70::resources
