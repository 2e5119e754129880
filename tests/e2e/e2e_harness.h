// End-to-end harness: DevKV70.so driven through its seven exports as a host drives it,
// against the in-process KV70 simulator, in virtual time, with the scripted UI backend
// playing the user.
//
// What one Harness object sets up for its lifetime (one per test):
//   - DevKV70.so loaded with dlopen (the build's copy by default), its exports looked up;
//   - a platform::VirtualClock installed (sleeps and read time-outs cost no real time);
//   - the simulator's "sim" comm backend registered (the previous backend is restored);
//   - VELMORA_REGISTRY pointing at a registry file in a fresh temporary directory;
//   - a ScriptedUi installed as the UI backend (queue answers and dialog scripts on Ui());
//   - a host window owned by the test thread.
// Environment variables it sets (VELMORA_COM<n>, VELMORA_REGISTRY, VELMORA_KV70_MONITOR;
// the last is unset at the start) are put back as they
// were, and named simulator instances are forgotten, when the harness goes.
//
// A run (Run): DoOperation on a worker thread while the test thread pumps the host
// window's messages until the worker has returned and the completion message is in. The
// outcome holds the result, every status text (copied when it arrived), every progress
// position, message boxes and dialogs, all in one ordered event list as well, and the
// host window's caption after the run.
//
// Typical use:
//   kv70::e2e::Harness h;
//   h.UseDevice("serial=KV70-1,options=01");
//   h.Ui().QueueDialog(IDD_CONFIGURATION, [](CDialog& d) { uimodel::ClickButton(d, IDOK); });
//   auto run = h.Run(kv70::e2e::kConfigRetrieval);
//   EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
//   EXPECT_EQ(h.Simulator()->GetCounters().reboots, 1u);
//
// Cancelling: CancelWhenStatus / CancelWhenProgress / CancelAfterProgressMessages arm a
// trigger that signals the run's cancel event from the host window's procedure when the
// message arrives (before the plug-in's send returns, so the plug-in's next cancellation
// point sees it). SignalCancel signals at once, from any thread (a dialog script, say).
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "framework/plugin_abi.h"
#include "framework/testing/scripted_ui.h"
#include "framework/uimodel.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/sync.h"
#include "sim/device.h"

namespace kv70::e2e {

// Operation indices of the plug-in's registry.
constexpr int kSoftwareUpgrade = 0;
constexpr int kConfigRetrieval = 1;
constexpr int kFileSystemDump = 2;

// The path of the DevKV70.so this build made.
std::string DefaultPluginPath();

// The seven exports; null where the module lacks one.
struct Exports {
  PFN_GetNumberOperations GetNumberOperations = nullptr;
  PFN_GetOperation GetOperation = nullptr;
  PFN_GetDescription GetDescription = nullptr;
  PFN_GetNumberOfPages GetNumberOfPages = nullptr;
  PFN_GetPage GetPage = nullptr;
  PFN_GetText GetText = nullptr;
  PFN_DoOperation DoOperation = nullptr;
};

// One thing the host saw during a run, in the order it saw it.
struct HostEvent {
  enum Kind { Status, Progress, Box, Dialog, Complete } kind;
  std::string text;  // Status: the text; Box: the box text; Dialog: its caption
  long value = 0;    // Progress: the position; Box: the answer; Dialog: the template id
};
void PrintTo(const HostEvent& event, std::ostream* os);

struct RunOutcome {
  int result = -1;                               // what DoOperation returned
  std::vector<std::string> statuses;             // WM_OPERATION_STATUS texts
  std::vector<long> progress;                    // WM_OPERATION_PROGRESS positions
  std::vector<HostEvent> events;                 // all of the above, boxes and dialogs, in order
  std::vector<ScriptedUi::Box> boxes;            // message boxes of this run
  std::vector<ScriptedUi::ShownDialog> dialogs;  // dialogs of this run, as they opened
  int completions = 0;                           // WM_OPERATION_COMPLETE messages received
  std::string caption;                           // the host window's caption after the run
  bool cancelSignalled = false;                  // the cancel event was set when the run ended

  // The status texts and dialogs as "S:<text>", "D:<template id>", "B:<text>", "C" (no
  // progress): the shape of a run at a glance, for EXPECT_EQ.
  std::vector<std::string> Outline() const;
};

class Harness {
 public:
  explicit Harness(const std::string& pluginPath = DefaultPluginPath());
  ~Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  // Whether the module loaded and has all seven exports (a failure was reported if not).
  bool Loaded() const;
  const Exports& GetExports() const { return exports_; }

  // Puts a simulated device on COM<comPort>: VELMORA_COM<n> := "sim:" + settings.
  void UseDevice(const std::string& settings, int comPort = 1);
  // VELMORA_COM<n> := value as given (a device path, "sim:...", or "" to unset).
  void SetPortName(int comPort, const std::string& value);
  // VELMORA_KV70_MONITOR := path: the runs upload that file as the monitor program ("" to
  // unset: the embedded image).
  void UseMonitorProgram(const std::string& path);

  ScriptedUi& Ui() { return *ui_; }
  platform::VirtualClock& Clock() { return clock_; }
  std::string RegistryPath() const { return registryPath_; }
  HWND HostWindow() const { return hostWindow_; }

  // Cancel triggers; each fires once. Cleared by ClearCancel.
  void CancelWhenStatus(const std::string& text);
  void CancelWhenProgress(long position);
  void CancelAfterProgressMessages(std::size_t count);
  void SignalCancel() { cancel_.Set(); }
  // Runs `action` once, on the test thread, when the status `text` arrives: the plug-in
  // waits in its send until the action has returned, so whatever the action does happens
  // at that exact point of the run (a file changed while the flash is erased, say).
  void WhenStatus(const std::string& text, std::function<void()> action);
  void ClearCancel();

  // Runs operation `operationIndex` on COM<comPort> and returns what the host saw. The
  // host window keeps its caption between runs; the cancel event is not reset (call
  // ClearCancel).
  RunOutcome Run(int operationIndex, int comPort = 1);
  // The same with a record of the caller's (null window or event allowed), for edge cases.
  RunOutcome RunRecordAsGiven(RunRecord record);

  // The simulated device behind the most recently opened sim port (null before one was
  // opened), or the named one. Inspect between runs, or hold its Mutex().
  std::shared_ptr<kv70sim::Device> Simulator() const;
  std::shared_ptr<kv70sim::Device> Simulator(const std::string& name) const;

 private:
  class RecordingUi;
  struct Trigger {
    std::optional<std::string> status;
    std::optional<long> progress;
    std::optional<std::size_t> afterProgressCount;
  };

  LRESULT OnHostMessage(UINT message, LPARAM lParam);
  void Add(HostEvent event);
  void SetEnv(const std::string& name, const std::string& value);

  platform::VirtualClock clock_;
  platform::ScopedClock useClock_{clock_};
  platform::CommBackendFactory previousBackend_;
  std::string tempDir_;
  std::string registryPath_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
  std::shared_ptr<ScriptedUi> ui_;
  std::shared_ptr<RecordingUi> recordingUi_;
  std::unique_ptr<uimodel::BackendScope> uiScope_;
  platform::Event cancel_;
  HWND hostWindow_ = nullptr;

  mutable std::mutex mutex_;  // the fields below: the host window and the UI both add
  RunOutcome current_;
  std::vector<Trigger> triggers_;
  std::vector<std::pair<std::string, std::function<void()>>> statusActions_;

  void* module_ = nullptr;
  Exports exports_;
};

}  // namespace kv70::e2e
