#include "host/desktop/tests/desktop_fixture.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>

#include "host/core/registry_files.h"

namespace velmora::desktop {

namespace fs = std::filesystem;

QApplication& App() {
  static int argc = 1;
  static char name[] = "desktop_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

namespace {

// What the run window shows once the run has ended.
void ReadRunWindow(const RunWindow& run, std::string& log, std::string& result,
                   std::string& warning) {
  log.clear();
  for (int i = 0; i < run.statusLog()->count(); ++i)
    log += run.statusLog()->item(i)->text().toStdString() + "\n";
  result = run.resultLabel()->text().toStdString();
  warning = run.warningLabel()->isVisibleTo(&run) ? run.warningLabel()->text().toStdString() : "";
}

}  // namespace

void DesktopTest::SetUp() {
  App();
  dir_ =
      fs::temp_directory_path() / ("velmora-gui-test-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  ::setenv("VELMORA_REGISTRY", (dir_ / "registry.db").c_str(), 1);
  ::setenv("VELMORA_DATA", (dir_ / "data").c_str(), 1);
  // What COM1 to COM6 are comes from the test alone.
  for (int n = 1; n <= 6; ++n) ::unsetenv(("VELMORA_COM" + std::to_string(n)).c_str());
}

void DesktopTest::TearDown() {
  fs::remove_all(dir_);
}

int DesktopTest::Drive(GuiOptions options, int operation, std::function<void(QWidget*)> onWindow) {
  options.plugin = KV70_PLUGIN_PATH;
  DesktopApp app(options);
  int status = -1;
  bool done = false;
  app.onFinished = [&](int code) {
    status = code;
    done = true;
  };
  EXPECT_TRUE(app.Begin(status));
  app.backend().onWindowShown = [&](QWidget* w) {
    QTimer::singleShot(0, w, [w, onWindow] { onWindow(w); });
  };
  app.startWindow()->operations()->setCurrentRow(operation);
  QTimer::singleShot(0, app.startWindow(),
                     [&] { QTest::mouseClick(app.startWindow()->start(), Qt::LeftButton); });
  // The run window is closed by the test once the result is there, which brings back the
  // start window; closing that ends velmora-gui.
  QTimer poll;
  bool runClosed = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (RunWindow* run = app.runWindow(); run && !run->running() && run->isVisible()) {
      ReadRunWindow(*run, runLog_, result_, warning_);
      run->cancelButton()->click();
      runClosed = true;
    } else if (runClosed && !app.runWindow() && app.startWindow()->isVisible()) {
      app.startWindow()->close();
    }
  });
  poll.start(10);
  while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return status;
}

int DesktopTest::RunAuto(GuiOptions options) {
  options.plugin = KV70_PLUGIN_PATH;
  options.unattended = true;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = -1;
  {
    DesktopApp app(options);
    bool done = false;
    app.onFinished = [&](int code) {
      status = code;
      done = true;
    };
    if (app.Begin(status)) {
      while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    runLog_.clear();
    result_.clear();
    warning_.clear();
    if (const RunWindow* run = app.runWindow()) ReadRunWindow(*run, runLog_, result_, warning_);
  }
  out_ = ::testing::internal::GetCapturedStdout();
  err_ = ::testing::internal::GetCapturedStderr();
  return status;
}

void DesktopTest::RegisterSample() {
  const fs::path firmware = dir_ / "data" / "Firmware";
  fs::create_directories(firmware);
  const fs::path target = firmware / "velmora-sample.x";
  fs::copy_file(std::string(SAMPLES_DIR) + "/velmora-sample.x", target);
  const std::string reg = Path("firmware.reg");
  std::ofstream(reg) << "REGEDIT4\n\n"
                     << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n"
                     << "\"InstallDirectory\"=\"" << (dir_ / "data").string() << "\"\n\n"
                     << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\Sample "
                        "application 2.1]\n"
                     << "\"Description\"=\"Sample application 2.1\"\n"
                     << "\"DeviceType\"=\"KV70\"\n"
                     << "\"FirmwarePath\"=\"" << target.string() << "\"\n"
                     << "\"OriginalInstall\"=dword:00000000\n";
  const RegistryFileResult result = ImportRegistryFile(reg);
  ASSERT_TRUE(result.ok()) << result.message;
}

}  // namespace velmora::desktop
