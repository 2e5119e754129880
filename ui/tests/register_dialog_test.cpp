// The register firmware dialog through the scripted user.
#include <gtest/gtest.h>

#include "framework/uimodel.h"
#include "ui/register_firmware_dialog.h"
#include "ui/tests/pages_fixture.h"

namespace pages_test {
namespace {

constexpr char kFilter[] = "SRecord Files (*.x)|*.x|All files (*.*)|*.*||";
constexpr char kEmptyFields[] =
    "One or more required fields has been left empty.  In order to add a firmware entry, all "
    "fields must be "
    "completed.\n\nPlease review the settings and try again.";

using RegisterDialogTest = PagesTest;

// What the user typed when pressing OK, and what the dialog did about it.
struct Attempt {
  bool ended = false;
  CString description;
  CString path;
};

// Types both fields, presses OK, and cancels when the dialog stays open.
ScriptedUi::DialogScript TypeAndAdd(const std::string& description, const std::string& path,
                                    Attempt& attempt) {
  return [description, path, &attempt](CDialog& dialog) {
    uimodel::TypeText(dialog, IDC_FIRMWARE_DESCRIPTION, description.c_str());
    uimodel::TypeText(dialog, IDC_FIRMWARE_PATH, path.c_str());
    uimodel::ClickButton(dialog, IDC_ADD_ENTRY);
    attempt.ended = dialog.IsEnded();
    attempt.description = dialog.GetDlgItem(IDC_FIRMWARE_DESCRIPTION)->GetWindowText();
    attempt.path = dialog.GetDlgItem(IDC_FIRMWARE_PATH)->GetWindowText();
    if (!attempt.ended) uimodel::ClickButton(dialog, IDC_CANCEL);
  };
}

struct RefusalCase {
  const char* name;
  const char* description;
  const char* file;      // under the scratch directory; "" for none typed
  const char* expected;  // "%s" stands for the typed path
};

const RefusalCase kRefusals[] = {
    {"NoDescription", "", "good.x", kEmptyFields},
    {"NoPath", "Release 1", "", kEmptyFields},
    {"NothingAtAll", "", "", kEmptyFields},
    {"Backslash", "Release\\1", "good.x",
     "The description may not contain a backslash.\n\nEnter another description and try again."},
    {"MissingFile", "Release 1", "missing.x",
     "The specified firmware file %s is invalid.\n\nSelect another software version and try "
     "again."},
    {"NotAnSRecordFile", "Release 1", "text.x",
     "The specified firmware file %s is invalid.\n\nSelect another software version and try "
     "again."},
};

class RefusalTest : public RegisterDialogTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, OkIsRefusedAndTheInputStays) {
  const RefusalCase& c = GetParam();
  MakeFirmware("good.x");
  MakeFile("text.x", "This is not firmware.\n");
  const std::string path = *c.file ? Path(c.file) : "";
  Attempt attempt;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE, TypeAndAdd(c.description, path, attempt));
  CRegisterFirmwareDialog dialog(kFilter);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_FALSE(attempt.ended);
  EXPECT_EQ(attempt.description, c.description);
  EXPECT_EQ(attempt.path, path.c_str());
  std::string expected = c.expected;
  if (auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text, expected);
  EXPECT_EQ(ui().LastBox().caption, "DevKV70");
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
}

// Add Entry reads every record, as Next does: a file spoilt after its first lines is
// refused with the line, and nothing is accepted.
TEST_F(RegisterDialogTest, AddEntryRefusesABadRecordFarIntoTheFileAndNamesTheLine) {
  std::string text = SRecordText();
  const std::size_t last = text.rfind("S315");
  text[text.find('\n', last) - 1] ^= 0x01;  // the checksum of the sixth line
  const std::string path = MakeFile("bad.x", text);
  Attempt attempt;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE, TypeAndAdd("Release 1", path, attempt));
  CRegisterFirmwareDialog dialog(kFilter);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_FALSE(attempt.ended);
  ASSERT_EQ(ui().BoxCount(), 1u);
  const std::string box = ui().LastBox().text;
  EXPECT_EQ(box.rfind("The specified firmware file " + path +
                          " is invalid.\n\nSelect another software version and try again.\n\n"
                          "Line 6 ",
                      0),
            0u)
      << box;
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegisterDialogTest, AValidFileAndAnyDescriptionEndWithOk) {
  const std::string file = MakeFirmware("fw.x");
  Attempt attempt;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE,
                   TypeAndAdd("   ", file, attempt));  // spaces count as given
  CRegisterFirmwareDialog dialog(kFilter);
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.m_strDescription, "   ");
  EXPECT_EQ(dialog.m_strPath, file.c_str());
  EXPECT_EQ(ui().BoxCount(), 0u);
  const auto shown = ui().Dialogs();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Register Firmware");
  EXPECT_EQ(shown[0].Find(IDC_FIRMWARE_DESCRIPTION)->text, "") << "empty at first";
  EXPECT_EQ(shown[0].Find(IDC_FIRMWARE_PATH)->text, "");
}

TEST_F(RegisterDialogTest, CancelClosesWithEmptyFields) {
  ui().QueueDialog(IDD_REGISTER_FIRMWARE,
                   [](CDialog& dialog) { uimodel::ClickButton(dialog, IDC_CANCEL); });
  CRegisterFirmwareDialog dialog(kFilter);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(ui().BoxCount(), 0u);
}

TEST_F(RegisterDialogTest, BrowseKeepsTheDescriptionAndTakesTheChosenFile) {
  const std::string file = MakeFirmware("chosen.x");
  ui().QueueFile(file.c_str());
  CString description, path;
  HWND owner = nullptr;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE, [&](CDialog& dialog) {
    owner = dialog.m_hWnd;
    uimodel::TypeText(dialog, IDC_FIRMWARE_DESCRIPTION, "Typed first");
    uimodel::TypeText(dialog, IDC_FIRMWARE_PATH, "C:\\old.x");
    uimodel::ClickButton(dialog, IDC_FIRMWARE_BROWSE);
    description = dialog.GetDlgItem(IDC_FIRMWARE_DESCRIPTION)->GetWindowText();
    path = dialog.GetDlgItem(IDC_FIRMWARE_PATH)->GetWindowText();
    uimodel::PressEnter(dialog);
  });
  CRegisterFirmwareDialog dialog(kFilter);
  ASSERT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(description, "Typed first");
  EXPECT_EQ(path, file.c_str());
  EXPECT_EQ(dialog.m_strPath, file.c_str());

  const auto requests = ui().FileRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].open);
  EXPECT_EQ(requests[0].flags, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
  EXPECT_EQ(requests[0].flags, 0x1004u);
  EXPECT_EQ(requests[0].defExt, "");
  EXPECT_EQ(requests[0].initialName, "C:\\old.x") << "the current path";
  EXPECT_EQ(requests[0].owner, owner);
  ASSERT_EQ(requests[0].filters.size(), 2u);
  EXPECT_EQ(requests[0].filters[0].description, "SRecord Files (*.x)");
  EXPECT_EQ(requests[0].filters[0].pattern, "*.x");
}

TEST_F(RegisterDialogTest, BrowseCancelledLeavesThePath) {
  ui().QueueFileCancel();
  CString path;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE, [&](CDialog& dialog) {
    uimodel::TypeText(dialog, IDC_FIRMWARE_PATH, "typed.x");
    uimodel::ClickButton(dialog, IDC_FIRMWARE_BROWSE);
    path = dialog.GetDlgItem(IDC_FIRMWARE_PATH)->GetWindowText();
    uimodel::PressEscape(dialog);
  });
  CRegisterFirmwareDialog dialog(kFilter);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(path, "typed.x");
  EXPECT_EQ(ui().FileRequests().size(), 1u);
}

TEST_F(RegisterDialogTest, AFileLockedForWritingByAnotherProgramStillReads) {
  const std::string file = MakeFirmware("busy.x");
  // Someone reading it too (denying writers, as the reader does) does not stop the check.
  CFile other(file.c_str(), CFile::modeRead | CFile::shareDenyWrite);
  Attempt attempt;
  ui().QueueDialog(IDD_REGISTER_FIRMWARE, TypeAndAdd("Busy", file, attempt));
  CRegisterFirmwareDialog dialog(kFilter);
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

}  // namespace
}  // namespace pages_test
