#include "host/desktop/history_window.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <fstream>

namespace velmora::desktop {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FailureCell(const ServiceRecord& r) {
  // The text shown names its number already ("Program failure! [405] - ...").
  if (!r.failureText.empty()) return Q(r.failureText);
  return r.failureNumber ? QString::number(*r.failureNumber) : QString();
}

QString FirmwareCell(const ServiceRecord& r) {
  if (!r.firmware) return {};
  QString text = Q(r.firmware->description);
  if (r.firmware->softwareWord) {
    char word[16];
    std::snprintf(word, sizeof word, " (%08X)", *r.firmware->softwareWord);
    text += word;
  }
  if (r.eraseReached && *r.eraseReached && r.result != "succeeded") text += ", erase reached";
  return text;
}

QString LogFileCell(const ServiceRecord& r) {
  if (!r.logFile) return {};
  return Q(r.logFile->path) + ", " + QString::number(r.logFile->bytes) + " bytes" +
         (r.logFile->complete ? "" : ", incomplete");
}

}  // namespace

QStringList HistoryWindow::Headings() {
  return {"Id",      "Started",  "Operation", "Serial number", "Result",  "Exit",
          "Failure", "Firmware", "Log file",  "Port",          "Station", "User"};
}

HistoryWindow::HistoryWindow(Loader load, QWidget* parent)
    : QDialog(parent),
      load_(std::move(load)),
      askPath_([](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, "Export the service records",
                                            "velmora-history.csv", "CSV files (*.csv)");
      }),
      filter_(new QLineEdit(this)),
      table_(new QTableWidget(this)),
      status_(new QLabel(this)),
      reload_(new QPushButton("&Reload", this)),
      export_(new QPushButton("&Export to CSV...", this)) {
  setWindowTitle("Velmora - History");
  auto* layout = new QVBoxLayout(this);
  auto* filterRow = new QHBoxLayout;
  auto* filterLabel = new QLabel("&Serial number:", this);
  filterLabel->setBuddy(filter_);
  filter_->setPlaceholderText("all devices");
  filter_->setClearButtonEnabled(true);
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filter_, 1);
  filterRow->addWidget(reload_);
  layout->addLayout(filterRow);

  table_->setColumnCount(static_cast<int>(Headings().size()));
  table_->setHorizontalHeaderLabels(Headings());
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setMinimumSize(860, 260);
  resize(1000, 480);
  layout->addWidget(table_, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(export_);
  auto* close = new QPushButton("&Close", this);
  bottom->addWidget(close);
  layout->addLayout(bottom);

  connect(filter_, &QLineEdit::textChanged, this, [this] { Show(); });
  connect(reload_, &QPushButton::clicked, this, [this] { Reload(); });
  connect(export_, &QPushButton::clicked, this, [this] { Export(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  Reload();
}

void HistoryWindow::Reload() {
  records_.clear();
  std::string error;
  if (load_ && !load_(records_, error)) {
    records_.clear();
    status_->setText("The records could not be read: " + Q(error));
    table_->setRowCount(0);
    shown_.clear();
    return;
  }
  Show();
}

void HistoryWindow::Show() {
  const QString wanted = filter_->text().trimmed();
  shown_.clear();
  for (const ServiceRecord& r : records_) {
    if (!wanted.isEmpty() && (!r.serial || !Q(*r.serial).contains(wanted, Qt::CaseInsensitive)))
      continue;
    shown_.push_back(&r);
  }
  table_->setRowCount(static_cast<int>(shown_.size()));
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    const ServiceRecord& r = *shown_[static_cast<std::size_t>(row)];
    const QStringList cells = {
        QString::number(r.id), Q(r.started),
        Q(r.operation),        r.serial ? Q(*r.serial) : QString(),
        Q(r.result),           r.exitStatus ? QString::number(*r.exitStatus) : QString(),
        FailureCell(r),        FirmwareCell(r),
        LogFileCell(r),        "COM" + QString::number(r.comPort) + ": " + Q(r.port),
        Q(r.station),          Q(r.user)};
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      table_->setItem(row, column, item);
    }
  }
  table_->resizeColumnsToContents();
  // A long failure text or path is read in its tool tip; the other columns stay in view.
  for (int column = 0; column < table_->columnCount(); ++column)
    table_->setColumnWidth(column, std::min(table_->columnWidth(column), 300));
  status_->setText(QString::number(shown_.size()) + " of " + QString::number(records_.size()) +
                   " records");
  export_->setEnabled(!shown_.empty());
}

bool HistoryWindow::ExportCsv(const QString& path, QString& error) const {
  const std::string name = path.toLocal8Bit().toStdString();
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (out) {
    out << RecordCsvHeader() << "\n";
    for (const ServiceRecord* r : shown_) out << RecordCsv(*r) << "\n";
    out.flush();
  }
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

void HistoryWindow::Export() {
  const QString path = askPath_ ? askPath_(this) : QString();
  if (path.isEmpty()) return;
  QString error;
  if (ExportCsv(path, error)) {
    status_->setText(QString::number(shown_.size()) + " records written to " + path);
  } else {
    QMessageBox::warning(this, "Velmora - History",
                         "The records were not exported: " + error + ".");
  }
}

HistoryWindow::Loader LocalRecords() {
  return [](std::vector<ServiceRecord>& records, std::string& error) {
    std::unique_ptr<RecordStore> store = OpenRecordStore(error);
    return store && store->List(RecordFilter{}, records, error);
  };
}

}  // namespace velmora::desktop
