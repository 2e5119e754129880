// The unattended wizard every front end drives, on the pages of FakeDevice.so: which page
// inputs fit which pages, and the one reason given when they do not.
#include "host/core/unattended_pages.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/uimodel.h"
#include "host/core/host_module.h"
#include "host/core/plugin_library.h"
#include "host/core/summary_page.h"
#include "host/tests/fake_device.h"

namespace velmora {
namespace {

using testing::Fake;
using testing::kInstall;
using testing::kLogSave;
using testing::kReadout;

// What the wizard told its view, one line an event.
class RecordingView final : public UnattendedView {
 public:
  std::vector<std::string> events;
  void Selected(const std::string& item) override { events.push_back("select " + item); }
  void Typed(const std::string& label, const std::string& text) override {
    events.push_back("type " + label + ": " + text);
  }
  void Pressing(int button) override {
    events.push_back(button == PSBTN_FINISH ? "finish" : "next");
  }
};

// Boxes are taken with OK; the wizard is driven unattended.
class DrivingBackend final : public uimodel::Backend {
 public:
  explicit DrivingBackend(PageInputs inputs) : inputs_(std::move(inputs)) {}
  int MessageBox(const platform::MessageBoxRequest&) override { return IDOK; }
  void RunModalDialog(CDialog& dialog) override { uimodel::PressEscape(dialog); }
  bool RunFileDialog(CFileDialog&, CString&) override { return false; }
  void RunWizard(CPropertySheet& sheet) override { end = DriveUnattended(sheet, inputs_, view); }
  UnattendedEnd end;
  RecordingView view;

 private:
  PageInputs inputs_;
};

class UnattendedPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterHostModule();
    testing::ResetFakePages();
  }

  // The operation's pages and the summary, as the run's wizard has them.
  std::shared_ptr<DrivingBackend> Drive(int op, PageInputs inputs) {
    auto backend = std::make_shared<DrivingBackend>(std::move(inputs));
    uimodel::BackendScope scope(backend);
    CPropertySheet sheet("Velmora");
    for (int p = 0; p < Fake().PageCount(op); ++p) sheet.AddPage(Fake().Page(op, p));
    SummaryPage summary([] { return SummaryTexts{}; }, sheet.GetPageCount() > 0);
    sheet.AddPage(&summary);
    sheet.SetWizardMode();
    sheet.DoModal();
    return backend;
  }
};

TEST_F(UnattendedPagesTest, InputsThatDoNotFitThePagesAreRefusedWithOneReason) {
  using Kind = UnattendedEnd::Kind;
  const std::string longName = "/tmp/" + std::string(70, 'n') + ".log";
  struct Case {
    const char* what;
    int op;
    std::optional<std::string> firmware;
    std::optional<std::string> logFile;
    Kind kind;
    std::string problem;
  };
  const Case cases[] = {
      {"a list and no choice", kInstall, std::nullopt, std::nullopt, Kind::BadInput,
       "--firmware is needed: the page \"Fake - Choose Package\" asks for a choice from its "
       "list \"Packages\""},
      {"a choice the list lacks", kInstall, "Gamma 3.0", std::nullopt, Kind::BadInput,
       "\"Gamma 3.0\" is not in the list \"Packages\""},
      {"a log file and no field", kInstall, "Alpha 1.0", "/tmp/fake.log", Kind::BadInput,
       "--log-file: no page of this operation has a field for it"},
      {"a choice and no list", kReadout, "Alpha 1.0", std::nullopt, Kind::BadInput,
       "--firmware: no page of this operation has a list to choose from"},
      {"both and neither taken", kReadout, "Alpha 1.0", "/tmp/fake.log", Kind::BadInput,
       "--log-file: no page of this operation has a field for it"},
      {"a field left empty", kLogSave, std::nullopt, std::nullopt, Kind::Refused,
       "the page \"Fake - Output File\" did not accept the page inputs"},
      {"a name the field would cut", kLogSave, std::nullopt, longName, Kind::BadInput,
       "--log-file: the field \"Output file\" takes at most 64 characters and " + longName +
           " has 79; it would be cut to another name. Give a shorter path"},
      {"a choice in another case", kInstall, "alpha 1.0", std::nullopt, Kind::Finished, ""},
      {"a log file", kLogSave, std::nullopt, "/tmp/fake.log", Kind::Finished, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::ResetFakePages();
    const auto driven = Drive(c.op, PageInputs{c.firmware, c.logFile});
    EXPECT_EQ(driven->end.kind, c.kind);
    EXPECT_EQ(driven->end.problem, c.problem);
  }
}

TEST_F(UnattendedPagesTest, TheWizardSaysWhatItChoseTypedAndPressed) {
  const auto install = Drive(kInstall, PageInputs{"alpha 1.0", std::nullopt});
  EXPECT_EQ(install->end.listText, "Alpha 1.0");
  EXPECT_EQ(install->view.events, (std::vector<std::string>{"select Alpha 1.0", "next", "finish"}));
  const auto save = Drive(kLogSave, PageInputs{std::nullopt, "/tmp/fake.log"});
  EXPECT_EQ(save->end.fieldText, "/tmp/fake.log");
  EXPECT_EQ(save->view.events,
            (std::vector<std::string>{"type Output file: /tmp/fake.log", "next", "finish"}));
}

// A last page that keeps refusing Finish ends the wizard with a reason; pressing Finish
// again and again would never end an unattended run.
TEST_F(UnattendedPagesTest, ALastPageThatRefusesFinishEndsTheWizard) {
  class StubbornSummary final : public SummaryPage {
   public:
    StubbornSummary() : SummaryPage([] { return SummaryTexts{}; }, false) {}
    BOOL OnWizardFinish() override { return FALSE; }
  };
  auto backend = std::make_shared<DrivingBackend>(PageInputs{});
  uimodel::BackendScope scope(backend);
  CPropertySheet sheet("Velmora");
  StubbornSummary summary;
  sheet.AddPage(&summary);
  sheet.SetWizardMode();
  sheet.DoModal();
  EXPECT_EQ(backend->end.kind, UnattendedEnd::Kind::Refused);
  EXPECT_NE(backend->end.problem.find("did not accept the page inputs"), std::string::npos)
      << backend->end.problem;
  EXPECT_FALSE(sheet.IsFinished());
  EXPECT_EQ(NextRefusedText("Ready", PSBTN_FINISH, "Not yet."),
            "the page \"Ready\" did not accept Finish: Not yet.");
}

TEST(PageFields, ALabelIsTheTextRightBeforeItsControl) {
  for (const auto& [text, label] : std::vector<std::pair<std::string, std::string>>{
           {"&Log File:", "Log File"},
           {" Available &Software : ", "Available Software"},
           {"Fish && Chips:", "Fish & Chips"},
           {":", ""}}) {
    EXPECT_EQ(ControlLabel(text), label) << text;
  }
}

}  // namespace
}  // namespace velmora
