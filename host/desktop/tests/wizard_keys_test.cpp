// velmora-gui as a keyboard and mouse user meets it: Enter on the focused button, the
// pages' mnemonics, the list's Insert and Delete where a mouse user finds them, focus
// and placement of boxes, one look, the start window's keys, and the questions a run
// asks before it is stopped. Qt Test events on the real widgets, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "framework/plugin_abi.h"
#include "host/desktop/desktop_app.h"
#include "host/desktop/model_view.h"
#include "host/desktop/model_windows.h"
#include "host/desktop/run_window.h"
#include "host/desktop/tests/desktop_fixture.h"
#include "platform/clock.h"
#include "platform/comm_trace.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace velmora::desktop {
namespace {

namespace fs = std::filesystem;

// The app with its start window, driven by the test until it says stop.
class Gui {
 public:
  explicit Gui(GuiOptions options) : app_(Prepare(std::move(options))) {
    app_.onFinished = [this](int code) {
      status_ = code;
      done_ = true;
    };
    int status = 0;
    EXPECT_TRUE(app_.Begin(status));
    app_.backend().onWindowShown = [this](QWidget* w) {
      QTimer::singleShot(0, w, [this, w] {
        if (onWindow) onWindow(w);
      });
    };
  }
  DesktopApp& operator*() { return app_; }
  DesktopApp* operator->() { return &app_; }
  std::function<void(QWidget*)> onWindow;
  // Closes the start window (velmora-gui ends) and returns the exit status.
  int Close() {
    app_.startWindow()->close();
    return done_ ? status_ : -1;
  }

 private:
  static GuiOptions Prepare(GuiOptions options) {
    options.plugin = KV70_PLUGIN_PATH;
    return options;
  }
  DesktopApp app_;
  bool done_ = false;
  int status_ = -1;
};

// The window system says when a window is active; keys and focus need that first.
void Activate(QWidget* window) {
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
}

void WaitUntil(const std::function<bool()>& done) {
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

TEST_F(DesktopTest, EnterPressesTheFocusedButtonAndACancelledWizardSaysSoOnce) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  bool sawWizard = false;
  app.onWindow = [&](QWidget* w) {
    auto* wizard = dynamic_cast<WizardWindow*>(w);
    ASSERT_NE(wizard, nullptr);
    sawWizard = true;
    Activate(wizard);
    ASSERT_TRUE(wizard->finish()->isVisible()) << "the summary page";
    EXPECT_TRUE(wizard->finish()->isDefault());
    // A page without controls starts at the default button, never at Cancel.
    EXPECT_TRUE(wizard->finish()->hasFocus());
    const QImage plain = wizard->cancel()->grab().toImage();
    wizard->cancel()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(wizard->cancel()->hasFocus());
    // The focused button shows it.
    EXPECT_NE(wizard->cancel()->grab().toImage(), plain);
    // Enter on Cancel is Cancel: the run (an erase, for an upgrade) does not start.
    QTest::keyClick(wizard->cancel(), Qt::Key_Return);
  };
  ::testing::internal::CaptureStdout();
  app->StartOperation(1, 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(sawWizard);
  EXPECT_EQ(app->runWindow(), nullptr) << "no run";
  EXPECT_EQ(Count(out, "Cancelled before the operation started."), 1) << out;
  EXPECT_TRUE(app->startWindow()->start()->isEnabled());
  EXPECT_EQ(app.Close(), 2);
}

TEST_F(DesktopTest, EnterOrADoubleClickOnAnOperationStartsIt) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  StartWindow* start = app->startWindow();
  int wizards = 0;
  app.onWindow = [&](QWidget* w) {
    auto* wizard = dynamic_cast<WizardWindow*>(w);
    ASSERT_NE(wizard, nullptr);
    ++wizards;
    // The wizard opens centred on the start window.
    const QPoint centre = start->frameGeometry().center();
    EXPECT_LE((wizard->frameGeometry().center() - centre).manhattanLength(), 4)
        << wizard->frameGeometry().center().x() << "," << wizard->frameGeometry().center().y();
    EXPECT_FALSE(wizard->windowFlags() & Qt::WindowMaximizeButtonHint);
    QTest::mouseClick(wizard->cancel(), Qt::LeftButton);
  };
  // Where the window system put it; the wizard is to be centred on it.
  const QRect screen = start->screen()->availableGeometry();
  start->move(screen.center() - start->rect().center());
  Activate(start);
  QListWidget* list = start->operations();
  list->setCurrentRow(1);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(wizards, 1);
  const QRect item = list->visualItemRect(list->item(2));
  // A double click as the mouse makes it: a click, then the second press.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
  EXPECT_EQ(wizards, 1) << "one click only chooses";
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item.center());
  EXPECT_EQ(wizards, 2);
  EXPECT_EQ(app.Close(), 2);
}

TEST_F(DesktopTest, TheStartWindowKeepsItsWidthWhateverTheDeviceText) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  StartWindow* start = app->startWindow();
  QApplication::processEvents();
  const int width = start->width();
  start->connection()->setEditText("rfc2217://terminal-server-in-the-workshop.example.net:4001");
  ASSERT_TRUE(start->ApplyConnection());
  QApplication::processEvents();
  EXPECT_EQ(start->width(), width);
  app.Close();
}

// The software list: its keys in a context menu and a hint line; the refusal for want of
// a selection points at them; the box centres on the wizard and gives the focus back.
TEST_F(DesktopTest, TheSoftwareListsKeysAreFoundByMouseAndNamedWhenNothingIsChosen) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  bool sawBox = false, sawDialog = false;
  WizardWindow* wizardShown = nullptr;
  QListWidget* list = nullptr;
  app.onWindow = [&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      // Next with nothing to choose: the plug-in's refusal, with the pointer beside it.
      sawBox = true;
      EXPECT_TRUE(box->text().startsWith("No software version was selected."));
      EXPECT_EQ(box->informativeText(), QString(kNoSelectionPointer));
      EXPECT_EQ(box->parentWidget(), wizardShown);
      EXPECT_LE(
          (box->frameGeometry().center() - wizardShown->frameGeometry().center()).manhattanLength(),
          4);
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (auto* dialog = dynamic_cast<DialogWindow*>(w)) {
      sawDialog = true;
      EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
      auto edits = dialog->view()->findChildren<QLineEdit*>();
      ASSERT_EQ(edits.size(), 2);
      QTest::keyClicks(edits[0], "Sample application 2.1");
      // Cancel focused and Enter: Cancel, not the default Add Entry.
      QPushButton* cancel = nullptr;
      for (auto* b : dialog->findChildren<QPushButton*>())
        if (b->text() == "Cancel") cancel = b;
      ASSERT_NE(cancel, nullptr);
      cancel->setFocus(Qt::TabFocusReason);
      QTest::keyClick(cancel, Qt::Key_Return);
      return;
    }
    auto* wizard = dynamic_cast<WizardWindow*>(w);
    ASSERT_NE(wizard, nullptr);
    wizardShown = wizard;
    Activate(wizard);
    list = wizard->view()->findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    ASSERT_NE(wizard->view()->hint(), nullptr);
    EXPECT_TRUE(wizard->view()->hint()->isVisible());
    EXPECT_EQ(wizard->view()->hint()->text(), QString(kInsertDeleteHint));
    // The page starts in its list; Alt+A (the group's mnemonic) brings the focus back
    // there from elsewhere, and the list shows it.
    EXPECT_TRUE(list->hasFocus());
    wizard->next()->setFocus();
    const QImage unfocused = list->grab().toImage();
    QTest::keyClick(wizard, Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(list->hasFocus());
    EXPECT_NE(list->grab().toImage(), unfocused);
    // Alt+N presses Next (a mnemonic's press shows for a moment before it acts).
    QTest::keyClick(list, Qt::Key_N, Qt::AltModifier);
    WaitUntil([&] { return sawBox; });
    // The box gave the focus back to the list in the wizard, not to the start window.
    EXPECT_TRUE(QTest::qWaitForWindowActive(wizard));
    EXPECT_EQ(QApplication::activeWindow(), wizard);
    EXPECT_TRUE(list->hasFocus()) << "the focus is back in the list";
    // The context menu's Add... opens the register dialog.
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      QStringList texts;
      for (QAction* action : menu->actions()) texts << action->text();
      EXPECT_EQ(texts, (QStringList{"&Add...", "&Delete"}));
      EXPECT_FALSE(menu->actions()[1]->isEnabled()) << "nothing to delete";
      QTest::keyClick(menu, Qt::Key_A);
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                list->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(list->viewport(), &menuEvent);
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(list->count(), 0) << "Enter on Cancel registered nothing";
    QTest::mouseClick(wizard->cancel(), Qt::LeftButton);
  };
  app->StartOperation(0, 1);
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(app.Close(), 2);
}

// The log file page: Alt+L reaches the field, Browse lines up with it, a long path is
// read from its start, and the page is drawn in the host's colours and font.
TEST_F(DesktopTest, TheLogFilePageHasWorkingMnemonicsAndTheHostsLook) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  bool seen = false;
  app.onWindow = [&](QWidget* w) {
    auto* wizard = dynamic_cast<WizardWindow*>(w);
    ASSERT_NE(wizard, nullptr);
    seen = true;
    Activate(wizard);
    ModelView* view = wizard->view();
    auto* edit = view->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(wizard, Qt::Key_L, Qt::AltModifier);
    EXPECT_TRUE(edit->hasFocus());
    QPushButton* browse = nullptr;
    for (auto* b : view->findChildren<QPushButton*>())
      if (b->text() == "B&rowse...") browse = b;
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->geometry().top(), edit->geometry().top());
    EXPECT_EQ(browse->geometry().height(), edit->geometry().height());
    // A long path put there from outside shows its start.
    const std::string path = "/home/technician/kv70/dumps/site-" + std::string(80, 'x') + ".log";
    wizard->next()->setFocus();
    view->onAction([&](CWnd& page) { uimodel::TypeText(page, 1004, path.c_str()); });
    EXPECT_EQ(edit->cursorPosition(), 0);
    // The host's font, and its window colour where the page has no control.
    EXPECT_EQ(view->font(), QApplication::font());
    const QImage pixels = view->grab().toImage();
    const QColor corner = pixels.pixelColor(pixels.width() - 2, pixels.height() - 2);
    EXPECT_EQ(corner, view->palette().color(QPalette::Window)) << corner.name().toStdString();
    EXPECT_NE(corner, QColor(0xc0, 0xc0, 0xc0));
    // The group's caption sits on the frame's line: the frame line passes through the
    // caption's middle, not below it.
    auto* group = view->findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    const QImage frame = group->grab().toImage();
    const int line = group->fontMetrics().height() / 2;
    EXPECT_NE(frame.pixelColor(2, line), group->palette().color(QPalette::Window));
    QTest::mouseClick(wizard->cancel(), Qt::LeftButton);
  };
  app->StartOperation(2, 1);
  EXPECT_TRUE(seen);
  app.Close();
}

TEST_F(DesktopTest, TheConfigurationDialogsColumnsFillItsList) {
  GuiOptions options;
  options.device = "sim";
  Gui app(options);
  bool seen = false;
  app.onWindow = [&](QWidget* w) {
    if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    } else if (auto* dialog = dynamic_cast<DialogWindow*>(w)) {
      seen = true;
      auto* tree = dialog->view()->findChild<QTreeWidget*>();
      ASSERT_NE(tree, nullptr);
      int sum = 0;
      for (int c = 0; c < tree->columnCount(); ++c) sum += tree->columnWidth(c);
      EXPECT_GE(sum, tree->viewport()->width());
      EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
      for (auto* b : dialog->findChildren<QPushButton*>())
        if (b->text() == "OK") QTest::mouseClick(b, Qt::LeftButton);
    } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->button(QMessageBox::Ok)->click();
    }
  };
  app->StartOperation(1, 1);
  while (app->runWindow() && app->runWindow()->running())
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  EXPECT_TRUE(seen);
  // Close after the run: back to the start window, ready for the next operation.
  ASSERT_NE(app->runWindow(), nullptr);
  QTest::mouseClick(app->runWindow()->cancelButton(), Qt::LeftButton);
  EXPECT_EQ(app->runWindow(), nullptr);
  EXPECT_TRUE(app->startWindow()->isVisible());
  EXPECT_TRUE(app->startWindow()->start()->isEnabled());
  EXPECT_EQ(app.Close(), 0);
}

// --- The run window with a stand-in run ---------------------------------------------

void Send(const RunRecord& record, UINT msg, LPARAM lParam) {
  platform::SendMessage(record.hostWindow, msg, 0, lParam);
}

// What a run's port reports when the flash monitor's erase request for two sectors goes
// out: 02 | 01 | length | 02, first sector, last sector | sum | 03 00.
void EraseRequestOnTheLine() {
  std::vector<BYTE> frame = {0x02, 0x01, 0x00, 0x09, 0x02, 0x02, 0x40,
                             0x00, 0x00, 0x02, 0x41, 0x00, 0x00};
  unsigned sum = 0;
  for (std::size_t i = 1; i < frame.size(); ++i) sum += frame[i];
  frame.insert(frame.end(),
               {static_cast<BYTE>(sum >> 8 & 0xFF), static_cast<BYTE>(sum & 0xFF), 0x03, 0x00});
  if (platform::WireTap* tap = platform::CurrentWireTap())
    tap->OnWrite(frame.data(), static_cast<DWORD>(frame.size()));
}

bool Cancelled(const RunRecord& record) {
  return platform::WaitForSingleObject(record.cancelEvent, 0) == WAIT_OBJECT_0;
}

// Answers the question the next action opens with `answer`, after checking its text.
void AnswerQuestion(RunWindow& run, QMessageBox::StandardButton answer, const QString& says,
                    int& asked) {
  QTimer::singleShot(0, &run, [&run, answer, says, &asked] {
    QMessageBox* box = run.openQuestion();
    ASSERT_NE(box, nullptr);
    ++asked;
    EXPECT_TRUE(box->text().contains(says)) << box->text().toStdString();
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    box->button(answer)->click();
  });
}

TEST_F(DesktopTest, AnUpgradeThatHasBegunErasingIsNotStoppedWithoutAQuestion) {
  RunWindow run(
      [](RunRecord& record) {
        // The question follows the line: the erase request has gone out.
        EraseRequestOnTheLine();
        const char erasing[] = "Erasing program flash...";
        Send(record, WM_OPERATION_STATUS, reinterpret_cast<LPARAM>(erasing));
        // At least once: on a loaded machine the cancel may come before this thread runs on.
        do {
          Send(record, WM_OPERATION_PROGRESS, 10);
        } while (!Cancelled(record));
        platform::PostMessage(record.hostWindow, WM_OPERATION_COMPLETE, 0, 0);
        return OPERATION_CANCELED;
      },
      RunRequest{0, 1}, "Software upgrade");
  run.show();
  run.Begin();
  WaitUntil([&] { return run.statusLog()->count() > 0; });
  const QString says = "left without a working application";
  int asked = 0;
  // Cancel, Escape and the window's close button each ask; No goes on.
  AnswerQuestion(run, QMessageBox::No, says, asked);
  QTest::mouseClick(run.cancelButton(), Qt::LeftButton);
  AnswerQuestion(run, QMessageBox::No, says, asked);
  QTest::keyClick(&run, Qt::Key_Escape);
  AnswerQuestion(run, QMessageBox::No, says, asked);
  run.close();
  EXPECT_EQ(asked, 3);
  EXPECT_TRUE(run.running());
  // Yes stops it.
  AnswerQuestion(run, QMessageBox::Yes, says, asked);
  QTest::mouseClick(run.cancelButton(), Qt::LeftButton);
  WaitUntil([&] { return !run.running(); });
  EXPECT_EQ(run.outcome(), "Software upgrade was cancelled.");
  // The bar stays where the run stopped and says how it ended.
  EXPECT_EQ(run.progress()->value(), 10);
  EXPECT_EQ(run.progress()->text(), "10% cancelled");
}

TEST_F(DesktopTest, ADumpAsksBeforeStoppingAndShowsItsBytesAndTimeLeft) {
  platform::VirtualClock clock;
  platform::ScopedClock scope(clock);
  const std::string log = Path("dump.log");
  RunWindow run(
      [&log, &clock](RunRecord& record) {
        std::ofstream file(log, std::ios::binary);
        Send(record, WM_OPERATION_PROGRESS, 0);
        // 1 MiB at 32 KiB per 10 s of device time; the device reports after 32 and
        // then every 33 blocks of 1 KiB.
        for (int blocks : {32, 65, 98, 131}) {
          const auto have = static_cast<size_t>(file.tellp());
          file << std::string(static_cast<size_t>(blocks) * 1024 - have, '\xA5');
          file.flush();
          clock.AdvanceToUs(static_cast<std::uint64_t>(blocks) * 10'000'000 / 32);
          Send(record, WM_OPERATION_PROGRESS, blocks * 100 / 1024);
        }
        while (!Cancelled(record)) Send(record, WM_OPERATION_PROGRESS, 131 * 100 / 1024);
        platform::PostMessage(record.hostWindow, WM_OPERATION_COMPLETE, 0, 0);
        return OPERATION_CANCELED;
      },
      RunRequest{2, 1}, "File system dump");
  run.SetOutputFile(QString::fromStdString(log));
  run.show();
  run.Begin();
  WaitUntil([&] { return run.progress()->value() == 12; });
  // 131 of 1,024 KiB after 40.9 s: 12 % of the phase, 9 % of it in 30.9 s since 3 %.
  EXPECT_TRUE(run.progressDetail()->text().endsWith("  131 of 1,024 KiB"))
      << run.progressDetail()->text().toStdString();
  EXPECT_TRUE(run.progressDetail()->text().contains(" left"))
      << run.progressDetail()->text().toStdString();
  int asked = 0;
  AnswerQuestion(run, QMessageBox::No, "will be incomplete", asked);
  QTest::mouseClick(run.cancelButton(), Qt::LeftButton);
  EXPECT_TRUE(run.running());
  AnswerQuestion(run, QMessageBox::Yes, QString::fromStdString(log), asked);
  QTest::keyClick(&run, Qt::Key_Escape);
  WaitUntil([&] { return !run.running(); });
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(run.progress()->text(), "12% cancelled");
  EXPECT_EQ(run.progressDetail()->text(), "131 of 1,024 KiB");
}

// The "Close Velmora now?" box goes when the run it asks about ends, as No.
TEST_F(DesktopTest, TheCloseQuestionDoesNotOutliveItsRun) {
  std::atomic<bool> stop{false};
  RunWindow run(
      [&stop](RunRecord& record) {
        // A safe point far off: the run goes on for a while after the cancel.
        while (!stop) Send(record, WM_OPERATION_PROGRESS, 40);
        platform::PostMessage(record.hostWindow, WM_OPERATION_COMPLETE, 0, 0);
        return Cancelled(record) ? OPERATION_CANCELED : OPERATION_SUCCEEDED;
      },
      RunRequest{1, 1}, "Configuration retrieval");
  bool closeAsked = false;
  run.onCloseRequested = [&] { closeAsked = true; };
  run.show();
  run.Begin();
  WaitUntil([&] { return run.progress()->value() == 40; });
  // Nothing to lose: the first Cancel asks nothing.
  QTest::mouseClick(run.cancelButton(), Qt::LeftButton);
  ASSERT_TRUE(run.running());
  bool boxSeen = false;
  QTimer::singleShot(0, &run, [&] {
    ASSERT_NE(run.openQuestion(), nullptr);
    boxSeen = run.openQuestion()->text().contains("Close Velmora now?");
    stop = true;  // the run reaches its safe point while the box is open
  });
  QTest::mouseClick(run.cancelButton(), Qt::LeftButton);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(run.openQuestion(), nullptr);
  EXPECT_FALSE(run.running());
  EXPECT_FALSE(closeAsked);
  EXPECT_EQ(run.outcome(), "Configuration retrieval was cancelled.");
}

// --help is text: no display needed, and only velmora-gui's own options named.
TEST(DesktopHelpTest, HelpNeedsNoDisplayAndNamesOnlyItsOwnOptions) {
  App();
  QProcess gui;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("DISPLAY");
  environment.remove("WAYLAND_DISPLAY");
  environment.remove("QT_QPA_PLATFORM");
  gui.setProcessEnvironment(environment);
  gui.start(VELMORA_GUI_PATH, {"--help"});
  ASSERT_TRUE(gui.waitForFinished(30000));
  // The usage line names the program by its path, which may hold anything (a checkout
  // in a folder named "x-platform"): only the text after it counts.
  const QString out =
      QString::fromLocal8Bit(gui.readAllStandardOutput()).replace(VELMORA_GUI_PATH, "velmora-gui");
  EXPECT_EQ(gui.exitCode(), 0) << gui.readAllStandardError().toStdString();
  EXPECT_TRUE(out.contains("--device")) << out.toStdString();
  EXPECT_TRUE(out.contains("velmora-gui --device /dev/ttyUSB0")) << out.toStdString();
  for (const char* foreign : {"--help-all", "--trace", "velmora run", "-platform", "--qwindow"})
    EXPECT_FALSE(out.contains(foreign)) << foreign;
}

}  // namespace
}  // namespace velmora::desktop
