// The run: the caption the plug-in sets, each status text, a progress bar with the
// percentage and the elapsed time, and Cancel (a second press offers to close). The
// run is on a worker thread; a timer of the event loop serves the host window, so the
// window never stops repainting.
#pragma once
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "host/core/run_session.h"

namespace velmora::desktop {

class RunWindow : public QDialog, public RunObserver {
 public:
  RunWindow(RunFunction run, const RunRequest& request, const QString& operationName,
            QWidget* parent = nullptr);
  ~RunWindow() override;

  // Starts the run; the event loop carries it. onEnded gets the result.
  void Begin();
  std::function<void(int result)> onEnded;
  // Called when the progress first reaches half way (a screenshot of a run in progress).
  std::function<void()> onHalfWay;
  // A second Cancel that was answered Yes: the user wants Velmora closed now.
  std::function<void()> onCloseRequested;

  QLabel* caption() const { return caption_; }
  QListWidget* statusLog() const { return log_; }
  QProgressBar* progress() const { return progress_; }
  QPushButton* cancelButton() const { return cancel_; }
  QLabel* resultLabel() const { return result_; }
  bool running() const { return running_; }

  // RunObserver, on the GUI thread.
  void Start() override;
  void Caption(const std::string& caption) override;
  void Status(const std::string& text) override;
  void Progress(long position) override;
  void Tick() override;
  void Notice(const std::string& text) override;

  void reject() override;  // Escape and the close button: as Cancel

 private:
  void OnCancel();
  void Serve();

  RunSession session_;
  RunRequest request_;
  QString operationName_;
  QTimer pump_;
  QLabel* caption_;
  QListWidget* log_;
  QProgressBar* progress_;
  QLabel* elapsed_;
  QPushButton* cancel_;
  QLabel* result_;
  std::uint64_t startMs_ = 0;
  bool running_ = false;
  bool halfWay_ = false;
};

}  // namespace velmora::desktop
