// velmora-gui --auto with the safeguards of an unattended velmora run, and what a run
// that failed after erasing says: against the in-process simulator in virtual time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "host/core/run_warnings.h"
#include "host/desktop/desktop_app.h"
#include "host/desktop/model_windows.h"
#include "host/desktop/run_window.h"
#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

namespace fs = std::filesystem;

// A list page is a choice the script must make: without --firmware, or with one the list
// does not hold, the run ends as wrong usage before the device is made.
TEST_F(DesktopTest, AutoUpgradeNeedsAFirmwareTheListHolds) {
  RegisterSample();
  const struct {
    std::optional<std::string> firmware;
    std::string complaint;
  } cases[] = {
      {std::nullopt,
       "velmora-gui: --firmware is needed: the page \"Velmora - KV70 Software Selection\" asks "
       "for a choice from its list \"Available Software\"\n"},
      {"Sample application 9.9",
       "velmora-gui: \"Sample application 9.9\" is not in the list \"Available Software\"\n"},
  };
  for (const auto& c : cases) {
    const std::string prog = Path("prog.bin");
    GuiOptions options;
    options.operation = "upgrade";
    options.device = "sim:prog-out=" + prog;
    options.firmware = c.firmware;
    options.yes = true;
    EXPECT_EQ(RunAuto(options), 64) << out_ << err_;
    EXPECT_NE(err_.find(c.complaint), std::string::npos) << err_;
    EXPECT_EQ(runLog_, "") << "no run was started";
    EXPECT_FALSE(fs::exists(prog)) << "the device was never made";
  }
}

// --firmware with a file registers it once through the register dialog; a changed file
// of the same name whose replacement is declined is not taken for the entry already
// there, which still names the old file.
TEST_F(DesktopTest, AutoUpgradeWithAFileUsesThatFileOrNone) {
  const std::string app = Path("app.x");
  fs::copy_file(std::string(SAMPLES_DIR) + "/velmora-sample.x", app);
  GuiOptions options;
  options.operation = "upgrade";
  options.device = "sim";
  options.firmware = app;
  options.yes = true;
  EXPECT_EQ(RunAuto(options), 0) << out_ << err_;
  EXPECT_EQ(Count(out_, "Registering " + app + " as \"app\""), 1) << out_;
  EXPECT_EQ(RunAuto(options), 0) << out_ << err_;
  EXPECT_EQ(Count(out_, "Registering"), 0) << "the same file is registered once: " << out_;

  std::ofstream(app, std::ios::app) << "\n";
  options.yes = false;
  EXPECT_EQ(RunAuto(options), 64) << out_ << err_;
  EXPECT_NE(err_.find("--firmware: " + app + " was not registered as \"app\""), std::string::npos)
      << err_;
  EXPECT_EQ(runLog_, "") << "no run was started";
}

// A registry file that is no registry is refused before anything is shown, with or
// without --auto, and is left as it was.
TEST_F(DesktopTest, ARegistryFileThatIsNoneIsRefusedUpFront) {
  const std::string bad = Path("notes.db");
  const std::string content = "not a database at all\n";
  std::ofstream(bad) << content;
  ::setenv("VELMORA_REGISTRY", bad.c_str(), 1);
  const std::string complaint = bad + " is not a Velmora registry file";
  for (const bool unattended : {true, false}) {
    GuiOptions options;
    options.plugin = KV70_PLUGIN_PATH;
    options.device = "sim";
    options.unattended = unattended;
    options.operation = "config";
    QString boxText;
    // Somebody at the screen is told in a box as well.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxText = box->text();
        box->accept();
      }
    });
    closer.start(5);
    DesktopApp app(options);
    int status = -1;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(app.Begin(status));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 64);
    EXPECT_NE(err.find("velmora-gui: " + complaint), std::string::npos) << err;
    EXPECT_EQ(app.startWindow(), nullptr);
    EXPECT_EQ(boxText.toStdString().find(complaint), unattended ? std::string::npos : 0)
        << boxText.toStdString();
  }
  std::ifstream in(bad);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
}

// With the cable out for good nothing moves: after the limit of virtual time without a
// change of progress the run is cancelled through its cancel event and counts as failed.
// The retries fill one line of the log, counted, not one line each.
TEST_F(DesktopTest, AnAutoRunThatStandsStillIsGivenUp) {
  const struct {
    std::optional<std::uint32_t> option;
    int seconds;
  } cases[] = {{std::nullopt, 300}, {60, 60}};
  for (const auto& c : cases) {
    const std::string log = Path("fs.log");
    fs::remove(log);
    GuiOptions options;
    options.operation = "dump";
    options.device = "sim:pull=300-999999999";
    options.logFile = log;
    options.giveUpSeconds = c.option;
    EXPECT_EQ(RunAuto(options), 1) << out_ << err_;
    const std::string reason = "no progress for " + std::to_string(c.seconds) + " s: gave up";
    EXPECT_NE(out_.find("velmora-gui: " + reason + " (cancelling the run)\n"), std::string::npos)
        << out_;
    EXPECT_NE(out_.find("File system dump failed: " + reason + ".\n"), std::string::npos) << out_;
    EXPECT_EQ(result_, "File system dump failed: " + reason + ".");
    const std::string waiting =
        "Timeout getting response from KV!  Check the cables!  Waiting for reconnect...";
    EXPECT_EQ(Count(runLog_, waiting + "\n"), 1) << runLog_;
    EXPECT_NE(runLog_.find(waiting + " (again, "), std::string::npos) << runLog_;
    EXPECT_LT(Count(runLog_, "\n"), 60) << runLog_;
    // A dump erases nothing, but what it read so far is no whole dump.
    EXPECT_EQ(warning_, "The log file " + log + " holds " + std::to_string(fs::file_size(log)) +
                            " of 1048576 bytes: it is not a complete dump.");
  }
}

TEST(GiveUpLimit, DefaultsTo300SecondsForAutoRunsAndNeverForWatchedOnes) {
  using Limit = std::optional<std::uint32_t>;
  const struct {
    bool unattended;
    Limit option;
    Limit expected;
  } cases[] = {
      {true, std::nullopt, 300},
      {false, std::nullopt, std::nullopt},
      {true, 60, 60},
      {false, 60, 60},
      {true, 0, std::nullopt},
      {false, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    GuiOptions options;
    options.unattended = c.unattended;
    options.giveUpSeconds = c.option;
    EXPECT_EQ(GiveUpLimit(options), c.expected) << c.unattended << " " << c.option.value_or(12345);
  }
}

// A run that stops after the program flash was erased says so; one that never erased,
// or that succeeded, does not.
TEST_F(DesktopTest, AnAutoRunThatFailedAfterErasingWarnsOfAnIncompleteApplication) {
  RegisterSample();
  const struct {
    std::string operation;
    std::string device;
    int status;
    bool warns;
  } cases[] = {
      {"upgrade", "sim:program-refuse=all", 1, true},
      {"upgrade", "sim", 0, false},
      {"config", "sim:monitor-silent=1", 1, false},
  };
  for (const auto& c : cases) {
    GuiOptions options;
    options.operation = c.operation;
    options.device = c.device;
    if (c.operation == "upgrade") options.firmware = "Sample application 2.1";
    options.yes = true;
    EXPECT_EQ(RunAuto(options), c.status) << c.device << "\n" << out_ << err_;
    const std::string warning = IncompleteProgramWarning();
    EXPECT_EQ(out_.find(warning + "\n") != std::string::npos, c.warns) << c.device << "\n" << out_;
    EXPECT_EQ(warning_, c.warns ? warning : "") << c.device;
  }
}

// Somebody at the screen sees the warning in the run window.
TEST_F(DesktopTest, TheRunWindowShowsTheWarningAfterAFailedUpgrade) {
  RegisterSample();
  GuiOptions options;
  options.device = "sim:program-refuse=all";
  const int status = Drive(options, 0, [](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->button(box->buttons().size() > 1 ? QMessageBox::Yes : QMessageBox::Ok)->click();
    } else if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      // The catalogue's one entry is selected: Next, then Finish.
      QTest::mouseClick(wizard->next(), Qt::LeftButton);
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    }
  });
  EXPECT_EQ(status, 1) << runLog_;
  EXPECT_EQ(result_, "Software upgrade failed.");
  EXPECT_EQ(warning_, IncompleteProgramWarning()) << runLog_;
}

// A firmware file with neither an end record nor a count record programs; the run window
// says, where it stays in view after the run, that its completeness could not be checked.
TEST_F(DesktopTest, TheRunWindowSaysAFilesCompletenessCouldNotBeChecked) {
  RegisterSample();
  const fs::path copy = dir_ / "data" / "Firmware" / "velmora-sample.x";
  std::string cut;
  {
    std::ifstream in(copy);
    std::string line;
    for (int i = 0; i < 200 && std::getline(in, line); ++i) cut += line + "\n";
  }
  std::ofstream(copy, std::ios::trunc) << cut;
  GuiOptions options;
  options.operation = "upgrade";
  options.device = "sim";
  options.firmware = "Sample application 2.1";
  options.yes = true;
  EXPECT_EQ(RunAuto(options), 0) << out_ << err_;
  const std::string note = "The firmware file " + copy.string() +
                           " has neither an end record (S7, S8 or S9) nor a count record (S5 or "
                           "S6): its completeness could not be checked.";
  EXPECT_EQ(result_, "Software upgrade succeeded.");
  EXPECT_EQ(warning_, note) << runLog_;
  EXPECT_EQ(Count(runLog_, note), 1) << runLog_;
}

// The port's reason is in the run window when the plug-in's failure box comes up, not
// only after it was closed.
TEST_F(DesktopTest, TheRunWindowSaysWhyThePortWouldNotOpenBeforeTheFailureBox) {
  const std::string file = Path("capture.bin");
  std::ofstream(file) << "data";
  GuiOptions options;
  options.device = file;
  std::string shownWithTheBox = "<no box>";
  const int status = Drive(options, 1, [&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      shownWithTheBox.clear();
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* run = dynamic_cast<RunWindow*>(top);
        if (run && run->warningLabel()->isVisibleTo(run))
          shownWithTheBox = run->warningLabel()->text().toStdString();
      }
      box->button(QMessageBox::Ok)->click();
    } else if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    }
  });
  const std::string why = "COM1: " + file + " is not a serial port (a regular file).";
  EXPECT_EQ(status, 1) << runLog_;
  EXPECT_EQ(shownWithTheBox, why);
  EXPECT_EQ(warning_, why);
}

}  // namespace
}  // namespace velmora::desktop
