// The terminal UI over real framework pages, those of FakeDevice.so (a plug-in of the
// tests' own, loaded through its exports as velmora loads any plug-in): how a page reads
// as text, what typed commands do, and how an unattended wizard fills pages, presses
// Next and stops on a page that refuses.
#include "host/terminal/host_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "framework/uimodel.h"
#include "host/core/host_module.h"
#include "host/core/plugin_library.h"
#include "host/core/summary_page.h"
#include "host/terminal/dialog_view.h"
#include "host/terminal/interrupts.h"
#include "host/tests/fake_device.h"
#include "host/tests/test_console.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace velmora {
namespace {

using testing::Fake;
using testing::kInstall;
using testing::kLogSave;
using testing::kReadout;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HostUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterHostModule();
    testing::ResetFakePages();
  }

  // Runs the operation's pages and the summary page through `ui` as velmora does.
  HostUi::WizardEnd RunWizard(int op, HostUi& ui) {
    uimodel::BackendScope scope(std::shared_ptr<uimodel::Backend>(&ui, [](uimodel::Backend*) {}));
    CPropertySheet sheet("Velmora");
    for (int p = 0; p < Fake().PageCount(op); ++p) sheet.AddPage(Fake().Page(op, p));
    SummaryPage summary(
        [op] {
          SummaryTexts texts;
          texts.summary = Fake().Text(op, 0).value_or("");
          texts.connect = FillComPort(Fake().Text(op, 1).value_or(""), 5);
          return texts;
        },
        sheet.GetPageCount() > 0);
    sheet.AddPage(&summary);
    sheet.SetWizardMode();
    sheet.DoModal();
    return ui.LastWizardEnd();
  }

  testing::TestConsole console_;
};

TEST_F(HostUiTest, APageReadsAsTextWithItsListFieldsAndButtons) {
  CPropertySheet sheet("Velmora");
  sheet.AddPage(Fake().Page(kInstall, 0));
  sheet.AddPage(Fake().Page(kLogSave, 0));
  ASSERT_TRUE(sheet.Create());
  ASSERT_TRUE(sheet.SetActivePage(0));
  const DialogView list = DescribeDialog(*sheet.GetActivePage());
  EXPECT_EQ(list.caption, "Fake - Choose Package");
  const ViewElement* items = list.FirstList();
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items->label, "Packages");
  EXPECT_EQ(items->selection, 1);
  const std::vector<std::string> lines = RenderDialog(list);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "     1. Alpha 1.0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "   * 2. Beta 2.0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  Choose the package to install."), lines.end());

  ASSERT_TRUE(sheet.SetActivePage(1));
  const DialogView output = DescribeDialog(*sheet.GetActivePage());
  const ViewElement* edit = output.FirstEdit();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->key, "e1");
  EXPECT_EQ(edit->label, "Output file");
  const ViewElement* browse = output.FindButton("browse");
  ASSERT_NE(browse, nullptr);
  EXPECT_EQ(browse->text, "Browse...");
  EXPECT_EQ(output.FindButton("br"), browse);
  const std::vector<std::string> rendered = RenderDialog(output);
  EXPECT_NE(std::find(rendered.begin(), rendered.end(), "  Output file: [e1] \"\""),
            rendered.end());
  EXPECT_NE(std::find(rendered.begin(), rendered.end(), "  Buttons: <Browse...>"), rendered.end());
  sheet.DestroyWindow();
}

TEST_F(HostUiTest, TypedCommandsNameWhatThePageOffers) {
  DialogView view;
  ViewElement list;
  list.kind = ViewElement::Kind::List;
  list.id = 1002;
  list.items = {"a", "b", "c"};
  ViewElement edit;
  edit.kind = ViewElement::Kind::Edit;
  edit.id = 1004;
  edit.key = "e1";
  ViewElement add;
  add.kind = ViewElement::Kind::Button;
  add.id = 1;
  add.key = "add entry";
  ViewElement cancel;
  cancel.kind = ViewElement::Kind::Button;
  cancel.id = 2;
  cancel.key = "cancel";
  view.elements = {list, edit, add, cancel};

  using Kind = UserCommand::Kind;
  struct Row {
    const char* typed;
    bool wizard;
    Kind kind;
    int id;
    int index;
  };
  const Row rows[] = {
      {"", true, Kind::Default, 0, -1},         {"n", true, Kind::Next, 0, -1},
      {"Back", true, Kind::Back, 0, -1},        {"c", true, Kind::Cancel, 0, -1},
      {"2", true, Kind::Select, 1002, 1},       {"open 3", true, Kind::Open, 1002, 2},
      {"o 1", true, Kind::Open, 1002, 0},       {"ins", true, Kind::Insert, 1002, -1},
      {"DELETE", true, Kind::Delete, 1002, -1}, {"4", true, Kind::Unknown, 0, -1},
      {"e1", false, Kind::Edit, 1004, -1},      {"add", false, Kind::Press, 1, -1},
      {"Add Entry", false, Kind::Press, 1, -1}, {"cancel", false, Kind::Press, 2, -1},
      {"n", false, Kind::Unknown, 0, -1},       {"?", false, Kind::Help, 0, -1},
  };
  for (const Row& row : rows) {
    const UserCommand command = ParseUserCommand(row.typed, view, row.wizard);
    EXPECT_EQ(command.kind, row.kind) << row.typed;
    if (row.id) {
      EXPECT_EQ(command.id, row.id) << row.typed;
    }
    if (row.index >= 0) {
      EXPECT_EQ(command.index, row.index) << row.typed;
    }
  }
  const UserCommand typed = ParseUserCommand("e1   /tmp/my file.log ", view, false);
  EXPECT_TRUE(typed.hasText);
  EXPECT_EQ(typed.text, "/tmp/my file.log");
  EXPECT_FALSE(ParseUserCommand("e1", view, false).hasText);
  const UserCommand emptied = ParseUserCommand("e1 \"\"", view, false);
  EXPECT_TRUE(emptied.hasText);
  EXPECT_EQ(emptied.text, "");
  EXPECT_EQ(StripMnemonic("Fish && &Chips"), "Fish & Chips");
  EXPECT_EQ(CommandWord("B&rowse..."), "browse");
}

TEST_F(HostUiTest, UnattendedWizardSelectsTheNamedItemAndFinishes) {
  UiSettings settings;
  settings.listChoice = "Alpha 1.0";
  HostUi ui(console_.console(), settings);
  EXPECT_EQ(RunWizard(kInstall, ui), HostUi::WizardEnd::Finished);
  EXPECT_EQ(Fake().Text(kInstall, 0).value_or(""), "Install Alpha 1.0");
  const std::string out = console_.Output();
  EXPECT_TRUE(Contains(out, "-> selects \"Alpha 1.0\"")) << out;
  EXPECT_TRUE(Contains(out, "-> Next")) << out;
  EXPECT_TRUE(Contains(out, "Plug the fake device into COM5 (100% fake).")) << out;
  EXPECT_TRUE(Contains(out, "-> Finish")) << out;
}

TEST_F(HostUiTest, UnattendedWizardRefusesAnItemThatIsNotListed) {
  UiSettings settings;
  settings.listChoice = "Gamma 3.0";
  HostUi ui(console_.console(), settings);
  EXPECT_EQ(RunWizard(kInstall, ui), HostUi::WizardEnd::BadInput);
  EXPECT_TRUE(Contains(ui.WizardProblem(), "\"Gamma 3.0\" is not in the list \"Packages\""))
      << ui.WizardProblem();
}

TEST_F(HostUiTest, UnattendedWizardStopsOnAPageThatRefusesNextWithItsMessage) {
  HostUi ui(console_.console(), UiSettings{});
  EXPECT_EQ(RunWizard(kLogSave, ui), HostUi::WizardEnd::Refused);
  EXPECT_TRUE(Contains(ui.WizardProblem(),
                       "\"Fake - Output File\" did not accept Next: No file was given."))
      << ui.WizardProblem();
  EXPECT_TRUE(Contains(console_.Output(), "--- Velmora (warning) ---\nNo file was given.\n-> OK"))
      << console_.Output();
}

TEST_F(HostUiTest, UnattendedWizardFillsTheEditControl) {
  UiSettings settings;
  settings.editText = "/tmp/fake.log";
  HostUi ui(console_.console(), settings);
  EXPECT_EQ(RunWizard(kLogSave, ui), HostUi::WizardEnd::Finished);
  EXPECT_TRUE(Contains(console_.Output(), "-> Output file: \"/tmp/fake.log\""))
      << console_.Output();
}

// A field cuts what is typed at its limit; a page input it would cut names another file,
// so it is refused whole, and a typed one leaves the field as it was.
TEST_F(HostUiTest, AnInputLongerThanTheFieldTakesIsNeverCut) {
  const std::string longName = "/tmp/" + std::string(70, 'n') + ".log";
  {
    UiSettings settings;
    settings.editText = longName;
    HostUi ui(console_.console(), settings);
    EXPECT_EQ(RunWizard(kLogSave, ui), HostUi::WizardEnd::BadInput);
    EXPECT_EQ(ui.WizardProblem(),
              "--log-file: the field \"Output file\" takes at most 64 "
              "characters and " +
                  longName +
                  " has 79; it would be cut to another name. Give a "
                  "shorter path");
    EXPECT_EQ(ui.FieldText(), "");
  }
  {
    UiSettings settings;
    settings.interactive = true;
    HostUi ui(console_.console(), settings);
    console_.Type("e1 /tmp/short.log\ne1 " + longName + "\nn\nf\n");
    EXPECT_EQ(RunWizard(kLogSave, ui), HostUi::WizardEnd::Finished);
    EXPECT_TRUE(Contains(console_.Output(),
                         "The field takes at most 64 characters; that text has 79. The field is "
                         "unchanged."))
        << console_.Output();
    EXPECT_EQ(ui.FieldText(), "/tmp/short.log");
  }
}

TEST_F(HostUiTest, APageInputThatNoPageTakesIsAUsageError) {
  UiSettings settings;
  settings.editText = "/tmp/fake.log";
  HostUi ui(console_.console(), settings);
  EXPECT_EQ(RunWizard(kReadout, ui), HostUi::WizardEnd::BadInput);
  EXPECT_TRUE(Contains(ui.WizardProblem(), "--log-file")) << ui.WizardProblem();
}

TEST_F(HostUiTest, InteractiveWizardFollowsTypedCommands) {
  UiSettings settings;
  settings.interactive = true;
  HostUi ui(console_.console(), settings);
  // Next without a name is refused (OK to the box), then the name, Back, Next, Finish.
  console_.Type("e1 \"\"\nn\n\ne1 /tmp/typed.log\nn\nb\nn\nf\n");
  EXPECT_EQ(RunWizard(kLogSave, ui), HostUi::WizardEnd::Finished);
  const std::string out = console_.Output();
  EXPECT_TRUE(Contains(out, "No file was given.")) << out;
  EXPECT_TRUE(Contains(out, "Output file: [e1] \"/tmp/typed.log\"")) << out;
  EXPECT_TRUE(Contains(out, "=== Velmora - Summary === (page 2 of 2)")) << out;
}

TEST_F(HostUiTest, DoubleClickReachesTheNextPageWithItsOwnButtons) {
  UiSettings settings;
  settings.interactive = true;
  HostUi ui(console_.console(), settings);
  // The double click posts Next; the summary page then posts Back and Finish, which
  // must be in force before the page is shown, or "f" would be refused.
  console_.Type("open 1\nf\n");
  EXPECT_EQ(RunWizard(kInstall, ui), HostUi::WizardEnd::Finished);
  const std::string out = console_.Output();
  EXPECT_FALSE(Contains(out, "not offered")) << out;
  EXPECT_TRUE(Contains(out, "[b] Back  [f] Finish  [c] Cancel")) << out;
}

TEST_F(HostUiTest, InteractiveWizardEndsCancelledAtTheEndOfInput) {
  UiSettings settings;
  settings.interactive = true;
  HostUi ui(console_.console(), settings);
  console_.Type("1\n");
  console_.EndInput();
  EXPECT_EQ(RunWizard(kInstall, ui), HostUi::WizardEnd::Cancelled);
}

TEST_F(HostUiTest, ModalDialogsDuringARunAreShownAndTakenWithEnter) {
  HostUi ui(console_.console(), UiSettings{});
  uimodel::BackendScope scope(std::shared_ptr<uimodel::Backend>(&ui, [](uimodel::Backend*) {}));
  const HWND window =
      platform::CreateWindowObject([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  platform::Event cancel(true, false);
  RunRecord record{1, kReadout, window, cancel.get()};
  EXPECT_EQ(Fake().DoOperation(record), OPERATION_SUCCEEDED);
  platform::DestroyWindowObject(window);
  const std::string out = console_.Output();
  EXPECT_TRUE(Contains(out, "=== Readings ===")) << out;
  EXPECT_TRUE(Contains(out, "  Serial: SN-0042")) << out;
  EXPECT_TRUE(Contains(out, "    Name    Value")) << out;
  EXPECT_TRUE(Contains(out, "    Memory  Jan 1999")) << out;
  EXPECT_TRUE(Contains(out, "-> Enter")) << out;
}

TEST_F(HostUiTest, QuestionsAreAnsweredNoUnlessYesWasGiven) {
  for (bool yes : {false, true}) {
    UiSettings settings;
    settings.yes = yes;
    HostUi ui(console_.console(), settings);
    uimodel::BackendScope scope(std::shared_ptr<uimodel::Backend>(&ui, [](uimodel::Backend*) {}));
    EXPECT_EQ(platform::MessageBox(nullptr, "Go on?", "Test", MB_YESNO | MB_ICONQUESTION),
              yes ? IDYES : IDNO);
    EXPECT_EQ(platform::MessageBox(nullptr, "Noted.", "Test", MB_OK), IDOK);
  }
  const std::string out = console_.Output();
  EXPECT_TRUE(
      Contains(out, "--- Test (question) ---\nGo on?\n-> No (nobody to ask; --yes answers Yes)"))
      << out;
  EXPECT_TRUE(Contains(out, "-> Yes (--yes)")) << out;
}

TEST_F(HostUiTest, InteractiveQuestionsAskUntilAnAnswerFits) {
  UiSettings settings;
  settings.interactive = true;
  HostUi ui(console_.console(), settings);
  uimodel::BackendScope scope(std::shared_ptr<uimodel::Backend>(&ui, [](uimodel::Backend*) {}));
  console_.Type("perhaps\nn\n");
  EXPECT_EQ(platform::MessageBox(nullptr, "Go on?", "Test", MB_YESNO), IDNO);
  EXPECT_TRUE(Contains(console_.Output(), "Please answer with one of: [y]es  [n]o"))
      << console_.Output();
}

TEST(ConsoleReadLine, ACtrlCThatLandsBetweenTwoReadsInterruptsTheNextOne) {
  InstallInterruptHandler();
  testing::TestConsole console;
  const int seen = InterruptCount();
  RaiseInterruptForTest();
  // Whoever read before may already have emptied the pipe; the count still tells.
  DrainInterruptPipe();
  console.Type("y\n");
  std::string line;
  EXPECT_EQ(console.console().ReadLine("> ", line, seen), Console::Read::Interrupted);
  // Counted once: the next read with the count brought up to date takes the line.
  EXPECT_EQ(console.console().ReadLine("> ", line, InterruptCount()), Console::Read::Line);
  EXPECT_EQ(line, "y");
}

TEST(PluginLibrary, AFileThatIsNotAPluginIsRefusedWithAReason) {
  try {
    PluginLibrary library("/no/such/plugin.so");
    FAIL() << "loaded";
  } catch (const PluginError& e) {
    EXPECT_TRUE(Contains(e.what(), "/no/such/plugin.so")) << e.what();
  }
  // libframework.so loads but offers none of the exports.
  try {
    PluginLibrary library(FRAMEWORK_PATH);
    FAIL() << "loaded";
  } catch (const PluginError& e) {
    EXPECT_TRUE(Contains(e.what(), "GetNumberOperations")) << e.what();
  }
}

TEST(PluginLibrary, TextsComeBackTerminatedWhateverTheirLength) {
  EXPECT_EQ(Fake().OperationCount(), 5);
  EXPECT_EQ(Fake().OperationName(1), "Settings readout");
  EXPECT_EQ(Fake().OperationName(9), "");
  EXPECT_FALSE(Fake().Text(0, 4).has_value());
  EXPECT_EQ(Fake().Text(2, 2).value_or(""), "log save");
  EXPECT_EQ(Fake().Page(1, 0), nullptr);
  EXPECT_NE(Fake().Page(0, 0), nullptr);
}

}  // namespace
}  // namespace velmora
