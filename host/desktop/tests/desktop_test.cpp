// velmora-gui driven through its windows as a user would, under Qt's offscreen platform,
// against the in-process simulator in virtual time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/desktop/desktop_app.h"
#include "host/desktop/model_windows.h"
#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

namespace fs = std::filesystem;

QString Q(const CString& text) {
  return QString::fromLocal8Bit(text.GetString());
}

// Every visible control of the model has a widget of its kind at its rectangle (within
// one pixel) with its text and state. Returns what differs, one line each.
std::vector<std::string> CompareWithModel(const ModelView& view) {
  std::vector<std::string> problems;
  const auto& controls = view.State().controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    QWidget* w = view.WidgetAt(i);
    const std::string where = "control " + std::to_string(c.id) + " \"" + c.text.str() + "\": ";
    if (!w) {
      problems.push_back(where + "no widget");
      continue;
    }
    if (w->isVisibleTo(view.window()) != static_cast<bool>(c.visible))
      problems.push_back(where + "visibility");
    if (!c.visible) continue;
    // Where the control shows: its rectangle, or for a button beside a field, the
    // field's line (ShownRect).
    const QRect g = w->geometry();
    const QRect r = ShownRect(controls, i, view.fontMetrics());
    if (std::abs(g.left() - r.left()) > 1 || std::abs(g.top() - r.top()) > 1 ||
        std::abs(g.width() - r.width()) > 1 || std::abs(g.height() - r.height()) > 1) {
      problems.push_back(where + "at " + std::to_string(g.left()) + "," + std::to_string(g.top()));
    }
    if (w->isEnabled() != static_cast<bool>(c.enabled)) problems.push_back(where + "enabled state");
    switch (c.kind) {
      case uimodel::Kind::Button: {
        auto* b = qobject_cast<QPushButton*>(w);
        if (!b || b->text() != Q(c.text) || b->isDefault() != ((c.style & 0xF) == BS_DEFPUSHBUTTON))
          problems.push_back(where + "button");
        break;
      }
      case uimodel::Kind::GroupBox: {
        auto* g2 = qobject_cast<QGroupBox*>(w);
        if (!g2 || g2->title() != Q(c.text)) problems.push_back(where + "group box");
        break;
      }
      case uimodel::Kind::Edit: {
        auto* e = qobject_cast<QLineEdit*>(w);
        if (!e || e->text() != Q(c.text) || e->isReadOnly() != ((c.style & ES_READONLY) != 0))
          problems.push_back(where + "edit");
        break;
      }
      case uimodel::Kind::ListBox: {
        auto* l = qobject_cast<QListWidget*>(w);
        bool same =
            l && l->count() == static_cast<int>(c.items.size()) && l->currentRow() == c.selection;
        for (int r = 0; same && r < l->count(); ++r) same = l->item(r)->text() == Q(c.items[r]);
        if (!same) problems.push_back(where + "list box");
        break;
      }
      case uimodel::Kind::ListView: {
        auto* t = qobject_cast<QTreeWidget*>(w);
        bool same = t && t->columnCount() == static_cast<int>(c.columns.size()) &&
                    t->topLevelItemCount() == static_cast<int>(c.items.size());
        for (int col = 0; same && col < t->columnCount(); ++col) {
          // The last column fills what the others leave, at least its own width.
          const bool last = col + 1 == t->columnCount();
          same = t->headerItem()->text(col) == Q(c.columns[col]) &&
                 (last ? t->columnWidth(col) >= c.columnWidths[col]
                       : t->columnWidth(col) == c.columnWidths[col]);
        }
        for (int r = 0; same && r < t->topLevelItemCount(); ++r) {
          QStringList cells;
          for (int col = 0; col < t->columnCount(); ++col) cells << t->topLevelItem(r)->text(col);
          same = cells.join('\t') == Q(c.items[r]);
        }
        if (!same) problems.push_back(where + "list view");
        break;
      }
      default: {
        if (qobject_cast<QFrame*>(w) && !qobject_cast<QLabel*>(w)) break;  // the picture frame
        auto* l = qobject_cast<QLabel*>(w);
        if (!l || (l->text() != Q(c.text) && l->text() != WithoutMnemonic(Q(c.text))))
          problems.push_back(where + "label");
        break;
      }
    }
  }
  return problems;
}

template <typename T>
T* Find(QWidget* w, const QString& text) {
  for (T* child : w->findChildren<T*>()) {
    if constexpr (std::is_same_v<T, QPushButton>) {
      if (child->text() == text && child->isVisible()) return child;
    } else {
      if (child->isVisible()) return child;
    }
  }
  return nullptr;
}

std::vector<std::string> Problems(QWidget* w) {
  if (auto* wizard = dynamic_cast<WizardWindow*>(w)) return CompareWithModel(*wizard->view());
  if (auto* dialog = dynamic_cast<DialogWindow*>(w)) return CompareWithModel(*dialog->view());
  return {"not a model window"};
}

TEST_F(DesktopTest, UpgradeRegistersAFileThroughTheDialogAndProgramsIt) {
  const std::string sample = std::string(SAMPLES_DIR) + "/velmora-sample.x";
  const std::string prog = Path("prog.bin");
  GuiOptions options;
  options.device = "sim:prog-out=" + prog;
  std::vector<std::string> seen;
  int step = 0;
  const int status = Drive(options, 0, [&](QWidget* w) {
    seen.push_back(w->windowTitle().toStdString());
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->button(box->buttons().size() > 1 ? QMessageBox::Yes : QMessageBox::Ok)->click();
      return;
    }
    EXPECT_EQ(Problems(w), std::vector<std::string>{}) << w->windowTitle().toStdString();
    if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      // The empty list: Insert opens the register dialog; then Next, then Finish.
      auto* list = wizard->view()->findChild<QListWidget*>();
      ASSERT_NE(list, nullptr);
      QTest::keyClick(list, Qt::Key_Insert);
      EXPECT_EQ(list->count(), 1);
      EXPECT_EQ(list->currentRow(), 0);
      EXPECT_EQ(Problems(w), std::vector<std::string>{});
      QTest::mouseClick(wizard->next(), Qt::LeftButton);
      EXPECT_TRUE(wizard->finish()->isVisible());
      EXPECT_EQ(Problems(w), std::vector<std::string>{}) << "summary page";
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    } else if (auto* dialog = dynamic_cast<DialogWindow*>(w)) {
      ++step;
      auto edits = dialog->view()->findChildren<QLineEdit*>();
      ASSERT_EQ(edits.size(), 2);
      QTest::keyClicks(edits[0], "Sample application 2.1");
      QTest::keyClicks(edits[1], QString::fromStdString(sample));
      EXPECT_EQ(Problems(w), std::vector<std::string>{});
      QTest::mouseClick(Find<QPushButton>(dialog, "&Add Entry"), Qt::LeftButton);
    }
  });
  EXPECT_EQ(status, 0) << runLog_;
  EXPECT_EQ(step, 1);
  EXPECT_NE(runLog_.find("Updating the software of the KV70..."), std::string::npos) << runLog_;
  EXPECT_NE(runLog_.find("The software upgrade was completed successfully."), std::string::npos)
      << runLog_;
  EXPECT_EQ(result_, "Software upgrade succeeded.");
  std::ifstream flash(prog, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(flash)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 0x424u);
  EXPECT_EQ(bytes.substr(0x420, 4), std::string("\x56\x4D\x00\x21", 4));
}

TEST_F(DesktopTest, ConfigurationDialogOfARunIsDrawnFromItsModelAndClosedWithOk) {
  GuiOptions options;
  options.device = "sim";
  bool dialogSeen = false;
  const int status = Drive(options, 1, [&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      box->button(QMessageBox::Ok)->click();
      return;
    }
    EXPECT_EQ(Problems(w), std::vector<std::string>{}) << w->windowTitle().toStdString();
    if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    } else if (auto* dialog = dynamic_cast<DialogWindow*>(w)) {
      dialogSeen = true;
      EXPECT_EQ(dialog->windowTitle(), "Device Configuration");
      auto* serial = dialog->view()->findChild<QLineEdit*>();
      ASSERT_NE(serial, nullptr);
      EXPECT_EQ(serial->text(), "KV70-0012345");
      EXPECT_TRUE(serial->isReadOnly());
      auto* ok = Find<QPushButton>(dialog, "OK");
      ASSERT_NE(ok, nullptr);
      EXPECT_TRUE(ok->isDefault());
      QTest::mouseClick(ok, Qt::LeftButton);
    }
  });
  EXPECT_EQ(status, 0) << runLog_;
  EXPECT_TRUE(dialogSeen);
  EXPECT_NE(runLog_.find("The configuration information was retrieved successfully."),
            std::string::npos)
      << runLog_;
}

TEST_F(DesktopTest, DumpWritesTheTypedLogFileAndRefusesAnEmptyName) {
  const std::string log = Path("kv70-fs.log");
  const std::string fsOut = Path("fs-out.bin");
  GuiOptions options;
  options.device = "sim:fs-out=" + fsOut;
  int refusals = 0;
  const int status = Drive(options, 2, [&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      ++refusals;
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      box->button(QMessageBox::Ok)->click();
      return;
    }
    EXPECT_EQ(Problems(w), std::vector<std::string>{}) << w->windowTitle().toStdString();
    if (auto* wizard = dynamic_cast<WizardWindow*>(w)) {
      // Next with no name: the page refuses with its box and stays.
      QTest::mouseClick(wizard->next(), Qt::LeftButton);
      ASSERT_TRUE(wizard->next()->isVisible());
      auto* edit = wizard->view()->findChild<QLineEdit*>();
      ASSERT_NE(edit, nullptr);
      QTest::keyClicks(edit, QString::fromStdString(log));
      QTest::mouseClick(wizard->next(), Qt::LeftButton);
      EXPECT_EQ(Problems(w), std::vector<std::string>{}) << "summary page";
      QTest::mouseClick(wizard->finish(), Qt::LeftButton);
    }
  });
  EXPECT_EQ(status, 0) << runLog_;
  EXPECT_EQ(refusals, 1);
  EXPECT_NE(runLog_.find("The file system dump completed successfully."), std::string::npos)
      << runLog_;
  std::ifstream dumped(log, std::ios::binary), device(fsOut, std::ios::binary);
  const std::string a((std::istreambuf_iterator<char>(dumped)), std::istreambuf_iterator<char>());
  const std::string b((std::istreambuf_iterator<char>(device)), std::istreambuf_iterator<char>());
  EXPECT_EQ(a.size(), 1024u * 1024u);
  EXPECT_EQ(a, b);
}

TEST_F(DesktopTest, StartWindowShowsWhatEachComPortIs) {
  GuiOptions options;
  options.plugin = KV70_PLUGIN_PATH;
  options.device = "sim:realtime=0";
  options.port = 3;
  DesktopApp app(options);
  int status = -1;
  ASSERT_TRUE(app.Begin(status));
  QComboBox* ports = app.startWindow()->port();
  ASSERT_EQ(ports->count(), 6);
  EXPECT_EQ(ports->currentIndex(), 2);
  EXPECT_TRUE(ports->itemText(2).contains("simulated KV70")) << ports->itemText(2).toStdString();
  ::unsetenv("VELMORA_COM5");
  EXPECT_TRUE(ports->itemText(4).contains("/dev/ttyS4")) << ports->itemText(4).toStdString();
  EXPECT_EQ(app.startWindow()->operations()->count(), 3);
}

}  // namespace
}  // namespace velmora::desktop
