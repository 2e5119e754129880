// The software selection page through the scripted user: listing and preselection,
// Next and double click, Delete, and Insert with the register dialog.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "catalogue/registry_values.h"
#include "framework/uimodel.h"
#include "platform/files.h"
#include "ui/software_selection_page.h"
#include "ui/tests/pages_fixture.h"

namespace pages_test {
namespace {

using Names = std::vector<std::string>;

// The separator of the paths the plug-in makes (the firmware directory and its copies).
std::string Sep() {
  return platform::PathSeparator();
}

class SelectionPageTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    CreateFirmwareKey();
    ui().SetQuestionAnswer(IDYES);
  }
  // The descriptions in the list box and its selection.
  static Names Items(const CWnd& page) {
    Names names;
    for (const auto& item : Control(page, IDC_SOFTWARE_LIST).items) names.emplace_back(item.str());
    return names;
  }
  static int Selection(const CWnd& page) { return Control(page, IDC_SOFTWARE_LIST).selection; }
  // Types into the register dialog and presses Add Entry.
  void RegisterWith(const std::string& description, const std::string& path) {
    ui().QueueDialog(IDD_REGISTER_FIRMWARE, [=](CDialog& dialog) {
      uimodel::TypeText(dialog, IDC_FIRMWARE_DESCRIPTION, description.c_str());
      uimodel::TypeText(dialog, IDC_FIRMWARE_PATH, path.c_str());
      uimodel::ClickButton(dialog, IDC_ADD_ENTRY);
    });
  }

  CSoftwareSelectionPage page{IDS_DEVICE_TYPE, IDS_SRECORD_FILE_FILTER};
};

TEST_F(SelectionPageTest, NothingIsSelectedBeforeThePageIsShown) {
  WriteEntry("a", "Release 1", "KV70", MakeFirmware("a.x"));
  EXPECT_EQ(page.GetSelectedDescription(), "");
  EXPECT_EQ(page.GetSelectedPath(), "");
}

TEST_F(SelectionPageTest, ShowingThePageListsTheDeviceTypeAndDropsMissingFiles) {
  WriteEntry("a", "Release 1", "KV70", MakeFirmware("a.x"));
  WriteEntry("b", "Gone", "KV70", Path("gone.x"));
  WriteEntry("c", "Other device", "KV80", MakeFirmware("c.x"));
  WriteEntry("d", "Lower case", "kv70", MakeFirmware("d.x"));
  Wizard wizard(page);
  EXPECT_EQ(Items(page), Names{"Release 1"});
  EXPECT_EQ(Subkeys(), (Names{"a", "c", "d"}));
  EXPECT_EQ(wizard.sheet().GetWizardButtons(), PSWIZB_BACK | PSWIZB_NEXT);
}

TEST_F(SelectionPageTest, TheNewestFileIsPreselectedEachTimeThePageIsShown) {
  WriteEntry("a", "Old", "KV70", MakeFirmware("a.x", 300));
  WriteEntry("b", "Newest", "KV70", MakeFirmware("b.x", 10));
  WriteEntry("c", "Middle", "KV70", MakeFirmware("c.x", 200));
  Wizard wizard(page);
  EXPECT_EQ(Items(page), (Names{"Old", "Newest", "Middle"}));
  EXPECT_EQ(Selection(page), 1);
  EXPECT_EQ(page.GetSelectedDescription(), "Newest");

  ASSERT_TRUE(uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 2));
  wizard.Press(PSBTN_NEXT);
  ASSERT_EQ(wizard.Active(), 1);
  EXPECT_EQ(page.GetSelectedDescription(), "Middle") << "the user's choice";
  EXPECT_EQ(page.GetSelectedPath(), Path("c.x").c_str());
  wizard.Press(PSBTN_BACK);
  ASSERT_EQ(wizard.Active(), 0);
  EXPECT_EQ(Selection(page), 1) << "recomputed on every activation";
  EXPECT_EQ(page.GetSelectedDescription(), "Newest");
}

TEST_F(SelectionPageTest, OfEqualTimesTheLaterPositionWins) {
  const std::string a = MakeFirmware("a.x", 50), b = MakeFirmware("b.x", 50);
  std::filesystem::last_write_time(b, std::filesystem::last_write_time(a));
  WriteEntry("a", "First", "KV70", a);
  WriteEntry("b", "Second", "KV70", b);
  Wizard wizard(page);
  EXPECT_EQ(Selection(page), 1);
}

TEST_F(SelectionPageTest, NextWithoutASelectionIsRefused) {
  Wizard wizard(page);
  EXPECT_EQ(Items(page), Names{});
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "No software version was selected.\n\nSelect a software version file from the list or "
            "add a firmware "
            "entry and try again.");
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(ui().LastBox().caption, "DevKV70");
}

TEST_F(SelectionPageTest, AFileThatIsNoLongerFirmwareIsRefusedAtNext) {
  const std::string file = MakeFirmware("a.x");
  WriteEntry("a", "Release 1", "KV70", file);
  Wizard wizard(page);
  std::ofstream(file, std::ios::trunc) << "Some notes, not firmware.\n";
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "The location (" + file +
                ") of Release 1 points to an invalid software file.\n\nEither select another "
                "software version, or check the location and try again.");
}

TEST_F(SelectionPageTest, ADoubleClickIsNextWithItsChecks) {
  WriteEntry("a", "Good", "KV70", MakeFirmware("a.x", 10));
  WriteEntry("b", "Bad", "KV70", MakeFile("b.x", "not firmware\n"));
  Wizard wizard(page);
  ASSERT_TRUE(uimodel::DoubleClickItem(page, IDC_SOFTWARE_LIST, 1));
  EXPECT_EQ(wizard.Active(), 0) << "posted: nothing happens before the wizard pumps";
  platform::PumpMessages();
  EXPECT_EQ(wizard.Active(), 0) << "refused";
  EXPECT_EQ(ui().BoxCount(), 1u);
  ASSERT_TRUE(uimodel::DoubleClickItem(page, IDC_SOFTWARE_LIST, 0));
  platform::PumpMessages();
  EXPECT_EQ(wizard.Active(), 1);
  EXPECT_EQ(page.GetSelectedDescription(), "Good");
}

// A refresh in which the first entry's file vanished after the catalogue was read: its
// item is missing from the list box.
class FirstFileVanishes : public CSoftwareSelectionPage {
 public:
  FirstFileVanishes() : CSoftwareSelectionPage(IDS_DEVICE_TYPE, IDS_SRECORD_FILE_FILTER) {}
  void RefreshList() override {
    CSoftwareSelectionPage::RefreshList();
    static_cast<CListBox*>(GetDlgItem(IDC_SOFTWARE_LIST))->DeleteString(0);
  }
};

TEST_F(SelectionPageTest, TheSelectionNamesTheEntryTheUserSees) {
  WriteEntry("a", "Vanished", "KV70", MakeFirmware("a.x", 300));
  WriteEntry("b", "Second", "KV70", MakeFirmware("b.x", 200));
  WriteEntry("c", "Third", "KV70", MakeFirmware("c.x", 100));
  FirstFileVanishes vanishing;
  Wizard wizard(vanishing);
  EXPECT_EQ(Items(vanishing), (Names{"Second", "Third"}));
  ASSERT_TRUE(uimodel::SelectItem(vanishing, IDC_SOFTWARE_LIST, 0));
  wizard.Press(PSBTN_NEXT);
  ASSERT_EQ(wizard.Active(), 1);
  EXPECT_EQ(vanishing.GetSelectedDescription(), "Second");
  EXPECT_EQ(vanishing.GetSelectedPath(), Path("b.x").c_str());
  wizard.Press(PSBTN_BACK);
  EXPECT_EQ(Selection(vanishing), 1) << "the newest, Third, is item 1";
}

// --- Delete -----------------------------------------------------------------------------

TEST_F(SelectionPageTest, DeleteAsksThenRemovesFileAndEntry) {
  SetInstallDirectory();
  const std::string file = MakeFirmware("install/Firmware/a.x");
  WriteEntry("Key a", "Release 1", "KV70", file);
  WriteEntry("z", "Release 2", "KV70", MakeFirmware("b.x"));
  Wizard wizard(page);
  ASSERT_TRUE(uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0));
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "This operation will unregister Release 1 with Velmora and delete the file " + file +
                ".\n\nPress yes to continue the operation.");
  EXPECT_EQ(ui().LastBox().style, MB_YESNO);
  EXPECT_FALSE(FileExists(file.c_str()));
  EXPECT_EQ(Subkeys(), Names{"z"});
  EXPECT_EQ(Items(page), Names{"Release 2"});
  EXPECT_EQ(Selection(page), 0);
}

TEST_F(SelectionPageTest, DeleteAnsweredNoChangesNothing) {
  const std::string file = MakeFirmware("a.x");
  WriteEntry("a", "Release 1", "KV70", file);
  Wizard wizard(page);
  ui().SetQuestionAnswer(IDNO);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_EQ(ui().BoxCount(), 1u);
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_EQ(Subkeys(), Names{"a"});
  EXPECT_EQ(Items(page), Names{"Release 1"});
}

TEST_F(SelectionPageTest, DeleteWithoutASelectionDoesNothing) {
  WriteEntry("a", "Release 1", "KV70", MakeFirmware("a.x"));
  Wizard wizard(page);
  static_cast<CListBox*>(page.GetDlgItem(IDC_SOFTWARE_LIST))->SetCurSel(-1);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_EQ(ui().BoxCount(), 0u);
  EXPECT_EQ(Subkeys(), Names{"a"});
}

// Whoever holds the file open (an upgrade loading it, or another program) keeps its entry:
// unregistered with the file left behind, the copy would lie in the firmware directory
// with nothing naming it.
TEST_F(SelectionPageTest, AFileAnotherProgramHoldsIsReportedAndTheEntryStays) {
  SetInstallDirectory();
  const std::string file = MakeFirmware("install/Firmware/a.x");
  WriteEntry("a", "Release 1", "KV70", file);
  Wizard wizard(page);
  CFile holder(file.c_str(),
               CFile::modeRead | CFile::shareExclusive);  // another program has it open
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  const auto texts = BoxTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("Release 1 is in use: ", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find(file), std::string::npos) << texts[0];
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_EQ(Subkeys(), Names{"a"});
}

TEST_F(SelectionPageTest, AnEntryThatCannotBeRemovedIsReported) {
  WriteEntry("a", "Release 1", "KV70", MakeFirmware("a.x"));
  CreateKey(std::string(kFirmwareKeyPath) + "\\a\\child");  // a key with subkeys stays
  Wizard wizard(page);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  const auto texts = BoxTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], "There was a error removing the entry from the registry.");
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
}

// --- Insert -----------------------------------------------------------------------------

TEST_F(SelectionPageTest, InsertInAnEmptyListOpensTheRegisterDialog) {
  Wizard wizard(page);
  ASSERT_EQ(Items(page), Names{});
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  const auto shown = ui().Dialogs();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].templateId, IDD_REGISTER_FIRMWARE);
  EXPECT_EQ(ui().BoxCount(), 0u) << "cancelled: nothing else happens";
}

TEST_F(SelectionPageTest, RegisteringCopiesIntoANewFirmwareDirectory) {
  const std::string install = SetInstallDirectory();
  const std::string source = MakeFirmware("incoming/Release.x", 5);
  WriteEntry("old", "Old", "KV70", MakeFirmware("old.x", 500));
  Wizard wizard(page);
  RegisterWith("Release 2", source);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  EXPECT_EQ(ui().BoxCount(), 0u) << (ui().BoxCount() ? ui().LastBox().text : "");
  const std::string destination = install + Sep() + "Firmware" + Sep() + "Release.x";
  EXPECT_TRUE(FileExists((install + "/Firmware/Release.x").c_str()));
  EXPECT_EQ(ReadValue("Release 2", kValueFirmwarePath), RawValue::Sz(destination));
  EXPECT_EQ(ReadValue("Release 2", kValueDeviceType), RawValue::Sz("KV70"));
  EXPECT_EQ(ReadValue("Release 2", kValueDescription), RawValue::Sz("Release 2"));
  EXPECT_EQ(ReadValue("Release 2", kValueOriginalInstall), RawValue::Dword(0));
  EXPECT_EQ(Items(page), (Names{"Old", "Release 2"}));
  EXPECT_EQ(page.GetSelectedDescription(), "Release 2") << "the fresh copy is the newest";
  EXPECT_EQ(ui().WaitCursorChanges(), (std::vector<bool>{true, false}));
  EXPECT_TRUE(FileExists(source.c_str())) << "the original stays";
}

TEST_F(SelectionPageTest, AFileAlreadyInTheFirmwareDirectoryIsNotCopied) {
  const std::string install = SetInstallDirectory();
  const std::string file = MakeFirmware("install/Firmware/fw.x", 1000);
  Wizard wizard(page);
  RegisterWith("In place", file);  // the same place written with other separators
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  EXPECT_EQ(ui().BoxCount(), 0u);
  EXPECT_EQ(ReadValue("In place", kValueFirmwarePath),
            RawValue::Sz(install + Sep() + "Firmware" + Sep() + "fw.x"));
  EXPECT_EQ(Items(page), Names{"In place"});
  const auto age =
      std::filesystem::file_time_type::clock::now() - std::filesystem::last_write_time(file);
  EXPECT_GT(age, std::chrono::seconds(900)) << "not written again";
}

// Two entries never share one file: the second fw.x is stored under a free name, and
// the first entry keeps its own content.
TEST_F(SelectionPageTest, ASecondFileOfTheSameNameGetsAFreeNameOfItsOwn) {
  const std::string install = SetInstallDirectory();
  const std::string a = MakeFirmware("a/fw.x", 100, 'A');
  const std::string b = MakeFirmware("b/fw.x", 50, 'B');
  MakeFile("install/Firmware/fw (2).x", "a stray file no entry names\n");
  Wizard wizard(page);
  RegisterWith("FWX1", a);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  RegisterWith("FWX2", b);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  RegisterWith("FWX3", a);  // a file that already lies there, named by another entry
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  EXPECT_EQ(ui().BoxCount(), 0u) << "nothing to ask: no file of an entry is replaced";

  EXPECT_EQ(ReadValue("FWX1", kValueFirmwarePath),
            RawValue::Sz(install + Sep() + "Firmware" + Sep() + "fw.x"));
  EXPECT_EQ(ReadValue("FWX2", kValueFirmwarePath),
            RawValue::Sz(install + Sep() + "Firmware" + Sep() + "fw (3).x"));
  EXPECT_EQ(ReadValue("FWX3", kValueFirmwarePath),
            RawValue::Sz(install + Sep() + "Firmware" + Sep() + "fw (4).x"));
  auto content = [](const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(content(install + "/Firmware/fw.x"), SRecordText('A'));
  EXPECT_EQ(content(install + "/Firmware/fw (3).x"), SRecordText('B'));
  EXPECT_EQ(content(install + "/Firmware/fw (4).x"), SRecordText('A'));
  EXPECT_EQ(content(install + "/Firmware/fw (2).x"), "a stray file no entry names\n");
}

// Only a file of the name that no entry names is replaced, after the question.
TEST_F(SelectionPageTest, AFileNoEntryNamesIsReplacedOnlyAfterTheQuestion) {
  const std::string install = SetInstallDirectory();
  const std::string existing = MakeFirmware("install/Firmware/fw.x", 100, 'A');
  const std::string incoming = MakeFirmware("incoming/fw.x", 50, 'B');
  const std::string before = SRecordText('A');
  Wizard wizard(page);

  ui().SetQuestionAnswer(IDNO);
  RegisterWith("Incoming", incoming);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text, "The file " + install + Sep() + "Firmware" + Sep() + "fw.x" +
                                     " already exists in the firmware directory, and no other "
                                     "registered software version uses it.\n\n"
                                     "Press yes to replace it with " +
                                     incoming + ".");
  EXPECT_EQ(ui().LastBox().style, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
      << "No is the default";
  {
    // Closed again before the replacement: Windows replaces no file that is open.
    std::ifstream in(existing);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before) << "No changes nothing";
  }
  EXPECT_EQ(Subkeys(), Names{});

  ui().SetQuestionAnswer(IDYES);
  RegisterWith("Incoming", incoming);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  std::ifstream replaced(existing);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(replaced), {}), SRecordText('B'));
  EXPECT_EQ(ReadValue("Incoming", kValueFirmwarePath),
            RawValue::Sz(install + Sep() + "Firmware" + Sep() + "fw.x"));
}

// Delete takes the file with the entry only when it is the entry's own copy in the
// firmware directory; a file elsewhere, or one another entry names too, stays.
TEST_F(SelectionPageTest, DeleteLeavesFilesThatAreNotTheEntrysOwnCopy) {
  const std::string install = SetInstallDirectory();
  const std::string users = MakeFirmware("user/fw.x", 100);
  const std::string shared = MakeFirmware("install/Firmware/shared.x", 50);
  WriteEntry("Imported", "Imported", "KV70", users);
  WriteEntry("Shared 1", "Shared 1", "KV70", shared);
  WriteEntry("Shared 2", "Shared 2", "KV70", shared);
  Wizard wizard(page);

  ASSERT_TRUE(uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0));
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_EQ(ui().LastBox().text,
            "This operation will unregister Imported with Velmora and leave the file " + users +
                " in place: it is not this entry's own copy in the firmware directory.\n\n"
                "Press yes to continue the operation.");
  EXPECT_TRUE(FileExists(users.c_str()));
  EXPECT_EQ(Subkeys(), (Names{"Shared 1", "Shared 2"}));

  ASSERT_TRUE(uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0));
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_TRUE(FileExists(shared.c_str())) << "Shared 2 still names it";
  EXPECT_EQ(Subkeys(), Names{"Shared 2"});
  ASSERT_TRUE(uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0));
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_FALSE(FileExists(shared.c_str())) << "the last entry's own copy goes with it";
  EXPECT_EQ(Subkeys(), Names{});
}

// Next reads every record: a file spoilt after its first lines is refused with the line.
TEST_F(SelectionPageTest, NextRefusesAFileWithABadRecordAndNamesTheLine) {
  std::string text = SRecordText();
  text.replace(text.find("S315024000200"), 2, "S4");  // the fourth line
  const std::string file = MakeFile("bad.x", text);
  WriteEntry("a", "Release 1", "KV70", file);
  Wizard wizard(page);
  EXPECT_EQ(page.OnWizardNext(), -1);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "The location (" + file +
                ") of Release 1 points to an invalid software file.\n\nEither select another "
                "software version, or check the location and try again.\n\n"
                "Line 4 of the file has the unknown record type S4.");
}

TEST_F(SelectionPageTest, WithoutAnInstallDirectoryNothingIsRegisteredSilently) {
  const std::string file = MakeFirmware("fw.x");
  Wizard wizard(page);
  RegisterWith("Release", file);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  EXPECT_EQ(ui().Dialogs().size(), 1u);
  EXPECT_EQ(ui().BoxCount(), 0u);
  EXPECT_EQ(Subkeys(), Names{});
}

TEST_F(SelectionPageTest, AFailedCopyIsReportedAndRegistersNothing) {
  const std::string install = SetInstallDirectory();
  MakeFile("install/Firmware", "a file where the directory should be");
  const std::string file = MakeFirmware("fw.x");
  Wizard wizard(page);
  RegisterWith("Release", file);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  ASSERT_EQ(ui().BoxCount(), 1u);
  const std::string text = ui().LastBox().text;
  EXPECT_EQ(text.rfind("There was a fatal error (", 0), 0u) << text;
  EXPECT_NE(text.find(") while copying " + file + " to " + install + Sep() + "Firmware" + Sep() +
                      "fw.x.\n\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(Subkeys(), Names{});
  EXPECT_FALSE(ui().WaitCursorShown());
}

TEST_F(SelectionPageTest, AFailedRegistrationIsReported) {
  SetInstallDirectory();
  // Without the catalogue key nothing can be added.
  ASSERT_EQ(platform::RegDeleteKey(HKEY_LOCAL_MACHINE, kFirmwareKeyPath), kOk);
  const std::string file = MakeFirmware("fw.x");
  Wizard wizard(page);
  RegisterWith("Release", file);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT));
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text, "There was a failure adding the entry to the registry.");
}

}  // namespace
}  // namespace pages_test

namespace pages_test {
namespace {

// A running upgrade keeps its firmware file open, as a reader denying writers, from its
// check to its end. While it does, its entry is neither deleted nor replaced: not by
// Delete, not by a registration under its description, not by a copy over its file.
TEST_F(SelectionPageTest, AnEntryARunHoldsIsNeitherDeletedNorReplaced) {
  const std::string install = SetInstallDirectory();
  const std::string file = MakeFirmware("install/Firmware/a.x");
  const std::string elsewhere = MakeFirmware("b.x");
  WriteEntry("Release 1", "Release 1", "KV70", file);
  WriteEntry("Release 2", "Release 2", "KV70", elsewhere);
  const std::string stray = MakeFirmware("install/Firmware/c.x");
  const std::string source = MakeFirmware("incoming/c.x", 5, '1');
  const auto inUse = [](const std::string& name, const std::string& path) {
    return name +
           " is in use: a software upgrade that is running now is loading it, or another "
           "program holds its file " +
           path +
           " open. It cannot be deleted or replaced while it is.\n\nTry again when that "
           "upgrade has ended or that program has let go of the file.";
  };
  Wizard wizard(page);
  {
    CFile run;
    ASSERT_TRUE(run.Open(file.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    CFile other;
    ASSERT_TRUE(other.Open(elsewhere.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    CFile third;
    ASSERT_TRUE(third.Open(stray.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    const struct {
      const char* name;
      std::function<void()> act;
      std::string says;
    } cases[] = {
        {"Delete",
         [&] {
           uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0);
           uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE);
         },
         inUse("Release 1", file)},
        {"Delete of an entry naming a file elsewhere",
         [&] {
           uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 1);
           uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE);
         },
         inUse("Release 2", elsewhere)},
        {"registering under its description",
         [&] {
           RegisterWith("release 1", MakeFirmware("incoming/other.x", 5, '2'));
           uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT);
         },
         inUse("release 1", file)},
        {"a new entry whose copy would replace a held file no entry names",
         [&] {
           RegisterWith("Release 3", source);
           uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT);
         },
         inUse("Release 3", install + Sep() + "Firmware" + Sep() + "c.x")},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      const std::size_t before = ui().BoxCount();
      c.act();
      ASSERT_EQ(ui().BoxCount(), before + 1);
      EXPECT_EQ(ui().LastBox().text, c.says);
      EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
      EXPECT_TRUE(FileExists(file.c_str()));
      EXPECT_EQ(ReadValue("Release 1", kValueFirmwarePath), RawValue::Sz(file));
      EXPECT_EQ(Subkeys(), (Names{"Release 1", "Release 2"}));
    }
  }
  // The run has ended: Delete goes on as always.
  uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0);
  ASSERT_TRUE(uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE));
  EXPECT_FALSE(FileExists(file.c_str()));
  EXPECT_EQ(Subkeys(), Names{"Release 2"});
}

}  // namespace
}  // namespace pages_test
