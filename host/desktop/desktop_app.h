// velmora-gui from start to end: the start window (operations, COM port, Start), the
// wizard of the chosen operation, the run, and the exit status (as velmora's).
#pragma once
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/plugin_library.h"
#include "host/core/run_recorder.h"
#include "host/desktop/gui_backend.h"
#include "host/desktop/history_window.h"
#include "host/desktop/run_window.h"
#include "host/desktop/screenshots.h"
#include "platform/serial_ports.h"

namespace velmora::desktop {

struct GuiOptions {
  std::string plugin;
  std::optional<std::string> device;
  int port = 1;
  std::optional<std::string> screenshots;
  bool unattended = false;               // --auto
  std::optional<std::string> operation;  // what --auto runs (index or name word)
  std::optional<std::string> firmware;
  std::optional<std::string> logFile;
  bool yes = false;
  std::optional<std::uint32_t> giveUpSeconds;  // --give-up-after; unset: the default
  std::optional<std::string> ledger;           // the depot's ledger, reached at the start
};

// How long a run may stand still before it is given up: --give-up-after (0: never), else
// 300 s for --auto runs and never for runs somebody watches (give_up.h).
std::optional<std::uint32_t> GiveUpLimit(const GuiOptions& options);

// The start window: the plug-in's operations with their descriptions, the COM port
// (1 to 6, each with what it resolves to), what the chosen COM port is connected to, and
// Start. "Connected to" offers this machine's serial ports, the simulated KV70 and any
// text (a device path, rfc2217://HOST:PORT); a choice there sets the COM port as --device
// does, and a value that is no device is said beside it and kept for correcting.
class StartWindow : public QWidget {
 public:
  using PortLister = std::function<std::vector<platform::SerialPortInfo>()>;

  explicit StartWindow(
      const PluginLibrary& plugin, int port,
      PortLister listPorts = [] { return platform::ListSerialPorts(); });
  QListWidget* operations() const { return operations_; }
  QComboBox* port() const { return port_; }
  QComboBox* connection() const { return connection_; }
  QLabel* connectionProblem() const { return connectionProblem_; }
  QPushButton* start() const { return start_; }
  QPushButton* history() const { return history_; }
  QLabel* description() const { return description_; }
  int chosenOperation() const { return operations_->currentRow(); }
  int chosenPort() const { return port_->currentIndex() + 1; }
  // Rereads the machine's serial ports and what each COM port resolves to.
  void RefreshPorts();
  // Makes the chosen COM port what "Connected to" says, if it says something else now.
  // False, with the reason shown, when that is no device.
  bool ApplyConnection();

  // The user closed the window; false keeps it open (a run still goes on).
  std::function<bool()> onClose;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void RefreshComPorts();
  void ShowConnection();  // what the chosen COM port resolves to now
  std::string ConnectionValue() const;

  const PluginLibrary& plugin_;
  PortLister listPorts_;
  QListWidget* operations_;
  QLabel* description_;
  QComboBox* port_;
  QComboBox* connection_;
  QLabel* connectionProblem_;
  QPushButton* start_;
  QPushButton* history_;
  bool showing_ = false;  // the window itself is changing the connection's text
};

// The application's style, with a dotted focus frame inside the button that has the
// focus, so that it stands apart from the default button (the one Enter presses from
// the other controls). Once, before the first window.
void InstallFocusStyle();

class DesktopApp {
 public:
  explicit DesktopApp(GuiOptions options);
  ~DesktopApp();

  // Loads the plug-in, sets up the device and shows the start window (with --auto,
  // goes on by itself). False with the exit status when it cannot begin.
  bool Begin(int& status);
  // The exit status once the app has finished (see finished()).
  bool finished() const { return finished_; }
  int status() const { return status_; }
  // Called once with the exit status.
  std::function<void(int)> onFinished;

  GuiBackend& backend() { return *backend_; }
  StartWindow* startWindow() const { return start_.get(); }
  RunWindow* runWindow() const { return run_.get(); }
  // The History window, once the start window's History button opened it.
  HistoryWindow* historyWindow() const { return history_.get(); }
  void ShowHistory();
  // The service record of the last run, once it has ended and the record was kept.
  std::optional<std::int64_t> recordId() const { return recordId_; }
  // Starts the chosen operation: the wizard, then the run.
  void StartOperation(int operation, int port);
  // A stop signal (SIGINT, SIGTERM, SIGHUP): as the user's Cancel. A run stops at its
  // next safe point and velmora-gui then ends as a cancelled run does; before the run
  // velmora-gui ends at once, cancelled.
  void StopRequested();

 private:
  void Finish(int status);
  // The run window was closed: back to the start window for the next operation.
  void RunClosed();
  // Says why velmora-gui cannot begin: on standard error, and in a box when somebody
  // is there to read it.
  void Refuse(const std::string& text);

  GuiOptions options_;
  Screenshots screenshots_;
  std::unique_ptr<PluginLibrary> plugin_;
  std::shared_ptr<GuiBackend> backend_;
  std::unique_ptr<StartWindow> start_;
  std::unique_ptr<RunWindow> run_;
  std::unique_ptr<HistoryWindow> history_;
  std::unique_ptr<RunRecorder> recorder_;  // the run's service record
  std::optional<std::int64_t> recordId_;
  bool finished_ = false;
  bool inOperation_ = false;  // the wizard or a run of StartOperation is under way
  int status_ = 0;
  bool stopRequested_ = false;
  bool inWizard_ = false;
};

}  // namespace velmora::desktop
