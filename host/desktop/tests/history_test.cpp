// velmora-gui's service records: the runs it makes leave them, and the History window
// (reached from the start window) lists, filters and exports them.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "host/core/service_record.h"
#include "host/core/sha256.h"
#include "host/desktop/history_window.h"
#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

std::vector<ServiceRecord> Records() {
  std::string error;
  std::vector<ServiceRecord> records;
  std::unique_ptr<RecordStore> store = OpenRecordStore(error);
  EXPECT_TRUE(store) << error;
  if (store) {
    EXPECT_TRUE(store->List(RecordFilter{}, records, error)) << error;
  }
  return records;
}

std::string Sha256Of(const std::string& path) {
  std::string hex, error;
  std::uint64_t size = 0;
  EXPECT_TRUE(Sha256OfFile(path, hex, size, error)) << error;
  return hex;
}

TEST_F(DesktopTest, RunsOfTheDesktopLeaveRecordsWithWhatTheLineTold) {
  RegisterSample();
  GuiOptions upgrade;
  upgrade.device = "sim:serial=KV70-GUI0001,program-refuse=all";
  upgrade.operation = "upgrade";
  upgrade.firmware = "Sample application 2.1";
  upgrade.yes = true;
  EXPECT_EQ(RunAuto(upgrade), 1) << out_ << err_;
  EXPECT_NE(warning_.find("incomplete application"), std::string::npos) << warning_;
  EXPECT_NE(out_.find("Service record 1."), std::string::npos) << out_;
  GuiOptions dump;
  dump.device = "sim:serial=KV70-GUI0001,pull=300-999999999";
  dump.operation = "dump";
  dump.logFile = Path("fs.log");
  dump.giveUpSeconds = 60;
  EXPECT_EQ(RunAuto(dump), 1) << out_ << err_;

  const std::vector<ServiceRecord> records = Records();
  ASSERT_EQ(records.size(), 2u);
  const ServiceRecord& u = records[0];
  EXPECT_EQ(u.operation, "upgrade");
  EXPECT_EQ(u.result, "failed");
  EXPECT_EQ(u.exitStatus, 1);
  EXPECT_EQ(u.failureNumber, 405);
  EXPECT_EQ(u.serial, "KV70-GUI0001");
  EXPECT_EQ(u.port, "sim:serial=KV70-GUI0001,program-refuse=all");
  EXPECT_EQ(u.eraseReached, std::optional<bool>(true));
  ASSERT_TRUE(u.firmware);
  EXPECT_EQ(u.firmware->description, "Sample application 2.1");
  EXPECT_EQ(u.firmware->sha256, Sha256Of(std::string(SAMPLES_DIR) + "/velmora-sample.x"));
  EXPECT_EQ(u.firmware->softwareWord, std::optional<std::uint32_t>(0x564D0021));
  const ServiceRecord& d = records[1];
  EXPECT_EQ(d.operation, "dump");
  EXPECT_EQ(d.result, "failed");
  ASSERT_TRUE(d.logFile);
  EXPECT_EQ(d.logFile->path, Path("fs.log"));
  EXPECT_EQ(d.logFile->bytes, std::filesystem::file_size(Path("fs.log")));
  EXPECT_EQ(d.logFile->sha256, Sha256Of(Path("fs.log")));
  EXPECT_FALSE(d.logFile->complete);
}

TEST_F(DesktopTest, HistoryWindowListsFiltersBySerialAndExportsCsv) {
  for (const char* serial : {"KV70-0000101", "KV70-0000202", "KV70-0000103"}) {
    GuiOptions config;
    config.device = std::string("sim:serial=") + serial;
    config.operation = "config";
    ASSERT_EQ(RunAuto(config), 0) << out_ << err_;
  }
  GuiOptions options;
  options.plugin = KV70_PLUGIN_PATH;
  DesktopApp app(options);
  int status = 0;
  ASSERT_TRUE(app.Begin(status));
  QTest::mouseClick(app.startWindow()->history(), Qt::LeftButton);
  HistoryWindow* history = app.historyWindow();
  ASSERT_TRUE(history);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
  QTableWidget* table = history->table();
  ASSERT_EQ(table->rowCount(), 3);
  const int serialColumn = static_cast<int>(HistoryWindow::Headings().indexOf("Serial number"));
  const int resultColumn = static_cast<int>(HistoryWindow::Headings().indexOf("Result"));
  EXPECT_EQ(table->item(0, serialColumn)->text(), "KV70-0000101");
  EXPECT_EQ(table->item(2, resultColumn)->text(), "succeeded");

  // The filter takes part of a serial number, letter case aside.
  QTest::keyClicks(history->serialFilter(), "kv70-00001");
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(0, serialColumn)->text(), "KV70-0000101");
  EXPECT_EQ(table->item(1, serialColumn)->text(), "KV70-0000103");
  EXPECT_EQ(history->statusLabel()->text(), "2 of 3 records");

  // Export writes the rows shown, with the header line, where the file dialog says.
  const std::string csv = Path("history.csv");
  history->SetSavePathAsker([&](QWidget*) { return QString::fromStdString(csv); });
  QTest::mouseClick(history->exportButton(), Qt::LeftButton);
  std::ifstream in(csv);
  std::stringstream text;
  text << in.rdbuf();
  const std::vector<ServiceRecord> records = Records();
  EXPECT_EQ(text.str(),
            RecordCsvHeader() + "\n" + RecordCsv(records[0]) + "\n" + RecordCsv(records[2]) + "\n");
  // A dialog cancelled writes nothing; a place that cannot be written is said.
  history->SetSavePathAsker([](QWidget*) { return QString(); });
  QTest::mouseClick(history->exportButton(), Qt::LeftButton);
  QString error;
  EXPECT_FALSE(history->ExportCsv(QString::fromStdString(Path("no/such/dir/h.csv")), error));
  EXPECT_FALSE(error.isEmpty());

  // Nothing matches: nothing to export.
  QTest::keyClicks(history->serialFilter(), "9");
  EXPECT_EQ(table->rowCount(), 0);
  EXPECT_FALSE(history->exportButton()->isEnabled());
  history->serialFilter()->clear();
  EXPECT_EQ(table->rowCount(), 3);
}

TEST_F(DesktopTest, HistoryWindowSaysWhenTheRecordsCannotBeRead) {
  App();
  HistoryWindow window([](std::vector<ServiceRecord>&, std::string& error) {
    error = "not a registry database";
    return false;
  });
  EXPECT_EQ(window.table()->rowCount(), 0);
  EXPECT_TRUE(window.statusLabel()->text().contains("not a registry database"));
}

}  // namespace
}  // namespace velmora::desktop
