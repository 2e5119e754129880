// velmora-gui from start to end: the start window (operations, COM port, Start), the
// wizard of the chosen operation, the run, and the exit status (as velmora's).
#pragma once
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/core/plugin_library.h"
#include "host/desktop/gui_backend.h"
#include "host/desktop/run_window.h"
#include "host/desktop/screenshots.h"

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
};

// The start window: the plug-in's operations with their descriptions, the COM port
// (1 to 6, each with what it resolves to) and Start.
class StartWindow : public QWidget {
 public:
  explicit StartWindow(const PluginLibrary& plugin, int port);
  QListWidget* operations() const { return operations_; }
  QComboBox* port() const { return port_; }
  QPushButton* start() const { return start_; }
  QLabel* description() const { return description_; }
  int chosenOperation() const { return operations_->currentRow(); }
  int chosenPort() const { return port_->currentIndex() + 1; }
  // Rereads what each COM port resolves to.
  void RefreshPorts();

 private:
  const PluginLibrary& plugin_;
  QListWidget* operations_;
  QLabel* description_;
  QComboBox* port_;
  QPushButton* start_;
};

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
  // Starts the chosen operation: the wizard, then the run.
  void StartOperation(int operation, int port);

 private:
  void Finish(int status);

  GuiOptions options_;
  Screenshots screenshots_;
  std::unique_ptr<PluginLibrary> plugin_;
  std::shared_ptr<GuiBackend> backend_;
  std::unique_ptr<StartWindow> start_;
  std::unique_ptr<RunWindow> run_;
  bool finished_ = false;
  int status_ = 0;
};

}  // namespace velmora::desktop
