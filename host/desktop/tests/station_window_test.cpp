// The Station window on the real widgets: slots added by typing a port and pressing Add
// slot, started all at once, each row showing its device's serial number and result;
// Stop all cancels every running slot; a running slot cannot be removed.
#include "host/desktop/station_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

class StationWindowTest : public DesktopTest {
 protected:
  StationSettings Settings(const std::string& operation) {
    StationSettings settings;
    settings.velmora = VELMORA_PATH;
    settings.operation = operation;
    settings.runOptions = {"--plugin", KV70_PLUGIN_PATH};
    return settings;
  }
  static void AddByHand(StationWindow& window, const QString& port) {
    window.PortEdit()->clear();
    QTest::keyClicks(window.PortEdit(), port);
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
  }
  // Reads the children until none runs (a hang guard of its own: each child gives up).
  static void RunOut(StationWindow& window) {
    for (int i = 0; i < 20000 && window.AnyRunning(); ++i) window.PollNow(50);
    ASSERT_FALSE(window.AnyRunning());
  }
  static QString Cell(StationWindow& window, int row, int column) {
    return window.Table()->item(row, column)->text();
  }
};

TEST_F(StationWindowTest, SixDumpsEachWithItsSerialAndFile) {
  const std::string logs = Path("logs");
  std::filesystem::create_directories(logs);
  StationSettings settings = Settings("dump");
  settings.logDir = logs;
  StationWindow window(settings);
  window.show();
  for (int k = 0; k < 6; ++k) AddByHand(window, QString("sim:serial=GUI-%1").arg(k));
  ASSERT_EQ(window.Table()->rowCount(), 6);
  EXPECT_TRUE(window.PortEdit()->text().isEmpty());
  EXPECT_FALSE(window.StopAllButton()->isEnabled());
  QTest::mouseClick(window.StartAllButton(), Qt::LeftButton);
  EXPECT_TRUE(window.StopAllButton()->isEnabled());
  RunOut(window);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Cell(window, k, StationWindow::kSerial), QString("GUI-%1").arg(k));
    EXPECT_EQ(Cell(window, k, StationWindow::kResult), "succeeded");
    auto* bar =
        qobject_cast<QProgressBar*>(window.Table()->cellWidget(k, StationWindow::kProgress));
    EXPECT_EQ(bar->value(), 100);
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(logs)) {
    EXPECT_EQ(entry.path().filename().string().rfind("GUI-", 0), 0u) << entry.path();
    EXPECT_EQ(std::filesystem::file_size(entry.path()), 1u << 20);
    ++files;
  }
  EXPECT_EQ(files, 6);
}

TEST_F(StationWindowTest, StopAllCancelsAndOnlyAnIdleSlotIsRemoved) {
  StationWindow window(Settings("config"));
  window.show();
  // Devices in real time: the runs are still going when Stop all is pressed.
  for (int k = 0; k < 3; ++k) AddByHand(window, QString("sim:serial=S%1,realtime=1").arg(k));
  QTest::mouseClick(window.StartAllButton(), Qt::LeftButton);
  window.Table()->selectRow(1);
  EXPECT_FALSE(window.RemoveButton()->isEnabled());
  EXPECT_FALSE(window.RemoveSlot(1));
  EXPECT_TRUE(window.StopButton()->isEnabled());
  QTest::mouseClick(window.StopAllButton(), Qt::LeftButton);
  RunOut(window);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Cell(window, k, StationWindow::kResult), "cancelled");
  window.Table()->selectRow(1);
  EXPECT_TRUE(window.RemoveButton()->isEnabled());
  QTest::mouseClick(window.RemoveButton(), Qt::LeftButton);
  ASSERT_EQ(window.Table()->rowCount(), 2);
  EXPECT_EQ(Cell(window, 1, StationWindow::kPort), "sim:serial=S2,realtime=1");
  // One slot started again by itself.
  window.Table()->selectRow(0);
  QTest::mouseClick(window.StartButton(), Qt::LeftButton);
  EXPECT_TRUE(window.AnyRunning());
  QTest::mouseClick(window.StopButton(), Qt::LeftButton);
  RunOut(window);
  EXPECT_EQ(Cell(window, 0, StationWindow::kResult), "cancelled");
  EXPECT_EQ(Cell(window, 1, StationWindow::kResult), "cancelled");
}

}  // namespace
}  // namespace velmora::desktop
