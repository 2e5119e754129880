// The run: the caption the plug-in sets, each status text, a progress bar with the
// percentage and the elapsed time, and Cancel (a second press offers to close). The
// run is on a worker thread; a timer of the event loop serves the host window, so the
// window never stops repainting. At the end: how it ended, and a warning when a run
// that did not succeed may have left the device without a whole application.
#pragma once
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/core/run_plan.h"
#include "host/core/run_progress.h"
#include "host/core/run_recorder.h"
#include "host/core/run_session.h"

namespace velmora::desktop {

class RunWindow : public QDialog, public RunObserver {
 public:
  RunWindow(RunFunction run, const RunRequest& request, const QString& operationName,
            QWidget* parent = nullptr);
  ~RunWindow() override;

  // Cancel the run once its progress stands still this long (give_up.h); none: never.
  void GiveUpAfter(std::optional<std::uint32_t> seconds) { session_.GiveUpAfter(seconds); }
  // The file the run writes (a dump's log file): its bytes show beside the bar, and
  // stopping the run asks first, since the file would be left incomplete.
  void SetOutputFile(const QString& path) { outputFile_ = path; }
  // Starts the run; the event loop carries it. onEnded gets the result.
  void Begin();
  // The file the run's dump writes (the page's field), to say at the end whether it
  // holds the whole file system.
  void SetLogFile(const std::string& path) { logFile_ = path; }
  // As the Cancel button's first press: the run stops at its next safe point.
  void RequestCancel();
  std::function<void(int result)> onEnded;
  // Called when the progress first reaches half way (a screenshot of a run in progress).
  std::function<void()> onHalfWay;
  // A second Cancel that was answered Yes: the user wants Velmora closed now.
  std::function<void()> onCloseRequested;
  // Each line of the host's own (a cancel under way, a run given up) as it comes.
  std::function<void(const std::string&)> onNotice;

  QLabel* caption() const { return caption_; }
  QListWidget* statusLog() const { return log_; }
  QProgressBar* progress() const { return progress_; }
  // Beside the bar: the phase's time left and the bytes written ("384 of 1,024 KiB").
  QLabel* progressDetail() const { return detail_; }
  // The question asked before the run is stopped or Velmora closed, while it is open.
  QMessageBox* openQuestion() const { return question_; }
  QPushButton* cancelButton() const { return cancel_; }
  QLabel* resultLabel() const { return result_; }
  QLabel* warningLabel() const { return warning_; }
  bool running() const { return running_; }

  // After the run: whether it was given up for standing still, the line that says how it
  // ended ("File system dump failed: no progress for 300 s: gave up."), and the warning
  // about the program flash or the firmware file's completeness (empty when there is none
  // to give).
  bool gaveUp() const { return session_.GaveUp(); }
  const std::string& outcome() const { return outcome_.line; }
  // How the run ended, as velmora says it: its exit status and the record's word.
  const RunOutcome& runOutcome() const { return outcome_; }
  int exitStatus() const { return outcome_.exitStatus; }
  const std::string& warning() const { return warningText_; }
  // What crossed the line during the run (the device's record, whether the erase was
  // reached, what was read).
  LineSummary line() { return line_.Summary(); }
  // The run waits, once the line has left the boot ROM, until the begun record of
  // `recorder` is stored.
  void HoldForRecord(RunRecorder& recorder) { line_.HoldForRecord(recorder); }

  // RunObserver, on the GUI thread.
  void Start() override;
  void Caption(const std::string& caption) override;
  void Status(const std::string& text) override;
  void Progress(long position) override;
  void Tick() override;
  void Notice(const std::string& text) override;
  void PortProblem(const std::string& line) override;

  void reject() override;  // Escape and the close button: as Cancel

 private:
  void OnCancel();
  void Serve();
  // Asks `text` with Yes and No (No the default) while the run goes on; the box goes
  // when the run ends first, which counts as No.
  bool Ask(const QString& text);
  // What stopping the run now would cost; empty when nothing needs a question.
  QString StopQuestion();
  void ShowDetail();
  void ShowWarning();

  RunSession session_;
  RunLine line_;
  std::string logFile_;
  RunRequest request_;
  QString operationName_;
  QTimer pump_;
  QLabel* caption_;
  QListWidget* log_;
  QProgressBar* progress_;
  QLabel* detail_;
  QLabel* elapsed_;
  QPushButton* cancel_;
  QLabel* result_;
  QLabel* warning_;
  RunOutcome outcome_;
  std::string warningText_;
  std::string portProblem_;  // as the port met it, during the run
  // The status log holds a text repeated without anything between once, then one line
  // that counts the repeats: a device that does not answer is retried for as long as the
  // run goes on, and a line for each retry would bury the rest and cost the list ever
  // more to lay out.
  std::string lastStatus_;
  QListWidgetItem* repeatItem_ = nullptr;
  unsigned long repeats_ = 0;
  std::string completenessNote_;  // the status saying a file's completeness is unknown
  std::uint64_t startMs_ = 0;
  bool running_ = false;
  bool halfWay_ = false;
  QString outputFile_;
  RunProgress estimate_;
  QPointer<QMessageBox> question_;
};

}  // namespace velmora::desktop
