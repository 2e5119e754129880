// The History window: the service records of this machine's runs, newest last, a filter
// by serial number, and an export of the rows shown to a CSV file (the same columns as
// `velmora history --csv`).
#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

#include "host/core/service_record.h"

namespace velmora::desktop {

class HistoryWindow : public QDialog {
 public:
  // Reads the records (all of them, oldest first); false with the reason.
  using Loader = std::function<bool(std::vector<ServiceRecord>&, std::string&)>;
  // Asks where to write the CSV file; an empty text when the user cancelled.
  using SavePathAsker = std::function<QString(QWidget* parent)>;

  explicit HistoryWindow(Loader load, QWidget* parent = nullptr);

  // Rereads the records and shows those the filter lets through.
  void Reload();
  // Writes the rows shown, with the header line; false with the reason.
  bool ExportCsv(const QString& path, QString& error) const;

  QTableWidget* table() const { return table_; }
  QLineEdit* serialFilter() const { return filter_; }
  QPushButton* exportButton() const { return export_; }
  QPushButton* reloadButton() const { return reload_; }
  QLabel* statusLabel() const { return status_; }
  // Replaces the file dialog (tests).
  void SetSavePathAsker(SavePathAsker ask) { askPath_ = std::move(ask); }

  // The column headings, in order.
  static QStringList Headings();

 private:
  void Show();
  void Export();

  Loader load_;
  SavePathAsker askPath_;
  std::vector<ServiceRecord> records_;
  std::vector<const ServiceRecord*> shown_;
  QLineEdit* filter_;
  QTableWidget* table_;
  QLabel* status_;
  QPushButton* reload_;
  QPushButton* export_;
};

// The loader of this machine's records: the registry database's store.
HistoryWindow::Loader LocalRecords();

}  // namespace velmora::desktop
