// velmora-gui's outputs and stops: a long log-file name used whole, a log file over a
// file the run reads refused, a dump that stops short said so, and a stop signal taken as
// the user's Cancel. Against the in-process simulator in virtual time.
#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/desktop/desktop_app.h"
#include "host/desktop/stop_signals.h"
#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kOneMiB = 1024 * 1024;

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string PartialText(const std::string& log) {
  return "The log file " + log + " holds " + std::to_string(fs::file_size(log)) + " of " +
         std::to_string(kOneMiB) + " bytes: it is not a complete dump.";
}

// A folder path of about `length` characters below `base`, made.
std::string LongFolder(const std::string& base, std::size_t length) {
  std::string folder = base;
  while (folder.size() < length) folder += "/" + std::string(50, 'd');
  fs::create_directories(folder);
  return folder;
}

// The page's field once cut a longer name to 255 characters: the dump went to a file the
// user never named, and with --yes replaced one of that name.
TEST_F(DesktopTest, AutoDumpWritesALogFileWhosePathIsLongerThan255Characters) {
  const std::string log = LongFolder(Path("long"), 220) + "/kv70-filesystem-dump-2026.log";
  ASSERT_GT(log.size(), 255u);
  const std::string cut = log.substr(0, 255);
  std::ofstream(cut) << "somebody's file\n";
  GuiOptions options;
  options.operation = "dump";
  options.device = "sim";
  options.logFile = log;
  options.yes = true;
  EXPECT_EQ(RunAuto(options), 0) << out_ << err_;
  ASSERT_TRUE(fs::exists(log)) << out_;
  EXPECT_EQ(fs::file_size(log), kOneMiB);
  EXPECT_EQ(Content(cut), "somebody's file\n");
}

// The log file may not be a file the run reads: the registered firmware would be emptied.
TEST_F(DesktopTest, ALogFileOverAFileTheRunReadsIsRefusedUpFront) {
  RegisterSample();
  const std::string firmware = (dir_ / "data" / "Firmware" / "velmora-sample.x").string();
  const std::string before = Content(firmware);
  GuiOptions options;
  options.operation = "dump";
  options.device = "sim";
  options.logFile = firmware;
  options.yes = true;
  EXPECT_EQ(RunAuto(options), 64) << out_ << err_;
  EXPECT_NE(err_.find("--log-file " + firmware +
                      ": that is the firmware file of the catalogue entry \"Sample application "
                      "2.1\""),
            std::string::npos)
      << err_;
  EXPECT_EQ(runLog_, "") << "no run was started";
  EXPECT_EQ(Content(firmware), before);
}

// A dump that was stopped says how much of the file system its log file holds, in the
// run window and on standard output.
TEST_F(DesktopTest, ADumpStoppedShortSaysWhatItsLogFileHolds) {
  const std::string log = Path("fs.log");
  GuiOptions options;
  options.operation = "dump";
  options.device = "sim:pull=300-999999999";
  options.logFile = log;
  options.giveUpSeconds = 60;
  EXPECT_EQ(RunAuto(options), 1) << out_ << err_;
  ASSERT_TRUE(fs::exists(log));
  EXPECT_GT(fs::file_size(log), 0u);
  EXPECT_LT(fs::file_size(log), kOneMiB);
  EXPECT_EQ(warning_, PartialText(log)) << runLog_;
  EXPECT_NE(out_.find(PartialText(log) + "\n"), std::string::npos) << out_;
}

// SIGTERM (as `timeout` sends) during a run is the user's Cancel: the run ends cancelled,
// velmora-gui with status 2, and the partial log is said so.
TEST_F(DesktopTest, AStopSignalDuringARunCancelsIt) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string log = Path("fs.log");
    fs::remove(log);
    GuiOptions options;
    options.plugin = KV70_PLUGIN_PATH;
    options.unattended = true;
    options.operation = "dump";
    options.device = "sim:pull=300-999999999";
    options.logFile = log;
    options.giveUpSeconds = 0;
    ::testing::internal::CaptureStdout();
    int status = -1;
    std::string warning;
    {
      DesktopApp app(options);
      bool done = false;
      app.onFinished = [&](int code) {
        status = code;
        done = true;
      };
      ASSERT_TRUE(app.Begin(status));
      StopSignals stops([&app] { app.StopRequested(); });
      bool sent = false;
      while (!done) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        const RunWindow* run = app.runWindow();
        if (!sent && run && run->statusLog()->count() > 0 &&
            run->statusLog()->item(run->statusLog()->count() - 1)->text().startsWith("Timeout")) {
          sent = true;
          std::raise(signal);
        }
      }
      if (const RunWindow* run = app.runWindow()) warning = run->warning();
    }
    out_ = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 2) << signal << "\n" << out_;
    EXPECT_NE(out_.find("Cancelling... (the run stops at its next safe point)"), std::string::npos)
        << out_;
    EXPECT_NE(out_.find("File system dump was cancelled."), std::string::npos) << out_;
    ASSERT_TRUE(fs::exists(log));
    EXPECT_EQ(warning, PartialText(log));
  }
}

// Before a run, a stop signal ends velmora-gui as a Cancel in the wizard does.
TEST_F(DesktopTest, AStopSignalBeforeARunEndsVelmoraGuiCancelled) {
  GuiOptions options;
  options.plugin = KV70_PLUGIN_PATH;
  options.device = "sim";
  ::testing::internal::CaptureStdout();
  int status = -1;
  {
    DesktopApp app(options);
    bool done = false;
    app.onFinished = [&](int code) {
      status = code;
      done = true;
    };
    ASSERT_TRUE(app.Begin(status));
    StopSignals stops([&app] { app.StopRequested(); });
    std::raise(SIGTERM);
    while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(app.runWindow(), nullptr);
  }
  out_ = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 2);
  EXPECT_NE(out_.find("Cancelled before the operation started."), std::string::npos) << out_;
}

}  // namespace
}  // namespace velmora::desktop
