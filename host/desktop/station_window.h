// velmora-gui's Station window: a row per slot (port, serial, status, progress, time
// left, result), slots added and removed, started and stopped one by one or all at once.
// The same children as velmora station (a `velmora run --json` process per run) and the
// same model from host/core; a timer reads the children without blocking the window.
#pragma once
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "host/core/station_model.h"
#include "host/core/station_runner.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velmora::desktop {

class StationWindow : public QWidget {
 public:
  // `settings.velmora`: the velmora the children run (beside velmora-gui).
  explicit StationWindow(StationSettings settings, QWidget* parent = nullptr);
  ~StationWindow() override;

  int AddSlot(const QString& port);
  bool RemoveSlot(int slot);
  void StartSlot(int slot);
  void StopSlot(int slot);
  void StartAll();
  void StopAll();
  bool AnyRunning() const { return runner_->AnyRunning(); }
  // Reads the children now (the timer does it every 100 ms) and redraws the rows.
  void PollNow(int timeoutMs = 0);

  const StationModel& Model() const { return model_; }
  QTableWidget* Table() const { return table_; }
  QLineEdit* PortEdit() const { return portEdit_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* RemoveButton() const { return remove_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* StartAllButton() const { return startAll_; }
  QPushButton* StopAllButton() const { return stopAll_; }

  enum Column { kPort, kSerial, kStatus, kProgress, kTimeLeft, kResult, kColumns };

 private:
  void Refresh();
  void UpdateButtons();
  int SelectedSlot() const;
  double Now() const;

  StationModel model_;
  std::unique_ptr<StationRunner> runner_;
  QElapsedTimer clock_;
  QTimer timer_;
  QTableWidget* table_ = nullptr;
  QLineEdit* portEdit_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* startAll_ = nullptr;
  QPushButton* stopAll_ = nullptr;
};

struct GuiOptions;
// velmora-gui --station: the window with a slot per port of `ports`, the run options from
// `options`; returns the exit status when the window is closed (64 for wrong usage).
int RunStation(const GuiOptions& options, const QStringList& ports,
               const std::optional<std::string>& logDir);

}  // namespace velmora::desktop
