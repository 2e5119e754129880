#include "tests/e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "framework/uimodel.h"
#include "platform/dynamic_library.h"
#include "platform/testing/system_for_tests.h"
#include "platform/window.h"
#include "sim/sim_port.h"

namespace kv70::e2e {

std::string DefaultPluginPath() {
  return KV70_E2E_PLUGIN_PATH;
}

void PrintTo(const HostEvent& event, std::ostream* os) {
  static const char* const kinds[] = {"Status", "Progress", "Box", "Dialog", "Complete"};
  *os << kinds[event.kind] << "(\"" << event.text << "\", " << event.value << ")";
}

std::vector<std::string> RunOutcome::Outline() const {
  std::vector<std::string> outline;
  for (const HostEvent& e : events) {
    switch (e.kind) {
      case HostEvent::Status:
        outline.push_back("S:" + e.text);
        break;
      case HostEvent::Box:
        outline.push_back("B:" + e.text);
        break;
      case HostEvent::Dialog:
        outline.push_back("D:" + std::to_string(e.value));
        break;
      case HostEvent::Complete:
        outline.push_back("C");
        break;
      case HostEvent::Progress:
        break;
    }
  }
  return outline;
}

// Forwards to the scripted backend and puts boxes and dialogs into the run's event list,
// where they fall between the status texts.
class Harness::RecordingUi : public uimodel::Backend {
 public:
  RecordingUi(Harness& harness, std::shared_ptr<ScriptedUi> ui)
      : harness_(harness), ui_(std::move(ui)) {}

  int MessageBox(const platform::MessageBoxRequest& request) override {
    const int answer = ui_->MessageBox(request);
    harness_.Add({HostEvent::Box, request.text, answer});
    return answer;
  }
  void RunModalDialog(CDialog& dialog) override {
    harness_.Add(
        {HostEvent::Dialog, dialog.GetCaption().str(), static_cast<long>(dialog.GetTemplateId())});
    ui_->RunModalDialog(dialog);
  }
  bool RunFileDialog(CFileDialog& dialog, CString& path) override {
    return ui_->RunFileDialog(dialog, path);
  }
  void RunWizard(CPropertySheet& sheet) override { ui_->RunWizard(sheet); }
  void SetWaitCursor(bool on) override { ui_->SetWaitCursor(on); }

 private:
  Harness& harness_;
  std::shared_ptr<ScriptedUi> ui_;
};

Harness::Harness(const std::string& pluginPath) {
  kv70sim::ForgetInstances();
  previousBackend_ = platform::RegisterCommBackend("sim", kv70sim::OpenSimPort);

  tempDir_ = platform_test::MakeTempDir("kv70-e2e-");
  if (!tempDir_.empty()) {
    registryPath_ = tempDir_ + "/registry.db";
  } else {
    ADD_FAILURE() << "no temporary directory for the registry";
  }
  SetEnv("VELMORA_REGISTRY", registryPath_);
  // A monitor program named by whoever started the tests must not leak into them.
  SetEnv("VELMORA_KV70_MONITOR", "");

  ui_ = std::make_shared<ScriptedUi>();
  recordingUi_ = std::make_shared<RecordingUi>(*this, ui_);
  uiScope_ = std::make_unique<uimodel::BackendScope>(recordingUi_);

  hostWindow_ = platform::CreateWindowObject(
      [this](HWND, UINT message, WPARAM, LPARAM lParam) { return OnHostMessage(message, lParam); });

  std::string why;
  module_ = platform::LoadDynamicLibrary(pluginPath, why);
  if (!module_) {
    ADD_FAILURE() << "loading " << pluginPath << ": " << why;
    return;
  }
  const auto find = [this](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        platform::FindExport(module_, name));
    if (!slot) ADD_FAILURE() << "DevKV70 has no export " << name;
  };
  find(exports_.GetNumberOperations, "GetNumberOperations");
  find(exports_.GetOperation, "GetOperation");
  find(exports_.GetDescription, "GetDescription");
  find(exports_.GetNumberOfPages, "GetNumberOfPages");
  find(exports_.GetPage, "GetPage");
  find(exports_.GetText, "GetText");
  find(exports_.DoOperation, "DoOperation");
}

Harness::~Harness() {
  if (module_) platform::FreeDynamicLibrary(module_);
  platform::DestroyWindowObject(hostWindow_);
  uiScope_.reset();
  kv70sim::ForgetInstances();
  platform::RegisterCommBackend("sim", previousBackend_);
  for (auto it = savedEnv_.rbegin(); it != savedEnv_.rend(); ++it) {
    if (it->second) {
      platform_test::SetEnv(it->first.c_str(), it->second->c_str());
    } else {
      platform_test::UnsetEnv(it->first.c_str());
    }
  }
  if (!tempDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(tempDir_, ignored);
  }
}

bool Harness::Loaded() const {
  return module_ && exports_.GetNumberOperations && exports_.GetOperation &&
         exports_.GetDescription && exports_.GetNumberOfPages && exports_.GetPage &&
         exports_.GetText && exports_.DoOperation;
}

void Harness::SetEnv(const std::string& name, const std::string& value) {
  // Only the first change of a variable is remembered: that is what goes back.
  bool saved = false;
  for (const auto& entry : savedEnv_) saved = saved || entry.first == name;
  if (!saved) {
    const char* old = std::getenv(name.c_str());
    savedEnv_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  if (value.empty()) {
    platform_test::UnsetEnv(name.c_str());
  } else {
    platform_test::SetEnv(name.c_str(), value.c_str());
  }
}

void Harness::UseDevice(const std::string& settings, int comPort) {
  SetPortName(comPort, settings.empty() ? "sim" : "sim:" + settings);
}

void Harness::SetPortName(int comPort, const std::string& value) {
  SetEnv("VELMORA_COM" + std::to_string(comPort), value);
}

void Harness::UseMonitorProgram(const std::string& path) {
  SetEnv("VELMORA_KV70_MONITOR", path);
}

void Harness::CancelWhenStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  triggers_.push_back({text, std::nullopt, std::nullopt});
}

void Harness::CancelWhenProgress(long position) {
  std::lock_guard lock(mutex_);
  triggers_.push_back({std::nullopt, position, std::nullopt});
}

void Harness::CancelAfterProgressMessages(std::size_t count) {
  std::lock_guard lock(mutex_);
  triggers_.push_back({std::nullopt, std::nullopt, count});
}

void Harness::WhenStatus(const std::string& text, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  statusActions_.emplace_back(text, std::move(action));
}

void Harness::ClearCancel() {
  std::lock_guard lock(mutex_);
  triggers_.clear();
  cancel_.Reset();
}

void Harness::Add(HostEvent event) {
  std::lock_guard lock(mutex_);
  switch (event.kind) {
    case HostEvent::Status:
      current_.statuses.push_back(event.text);
      break;
    case HostEvent::Progress:
      current_.progress.push_back(event.value);
      break;
    case HostEvent::Complete:
      ++current_.completions;
      break;
    default:
      break;
  }
  current_.events.push_back(event);
  // Triggers fire while the sender still waits, so the next cancellation point sees them.
  for (auto it = triggers_.begin(); it != triggers_.end();) {
    const bool fire =
        (it->status && event.kind == HostEvent::Status && *it->status == event.text) ||
        (it->progress && event.kind == HostEvent::Progress && *it->progress == event.value) ||
        (it->afterProgressCount && current_.progress.size() >= *it->afterProgressCount);
    if (fire) {
      cancel_.Set();
      it = triggers_.erase(it);
    } else {
      ++it;
    }
  }
}

LRESULT Harness::OnHostMessage(UINT message, LPARAM lParam) {
  switch (message) {
    case WM_OPERATION_STATUS: {
      // The text lives only until the send returns: copy it now.
      const std::string text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      Add({HostEvent::Status, text, 0});
      // Outside the lock: an action may use the plug-in, whose sends come back here.
      std::function<void()> action;
      {
        std::lock_guard lock(mutex_);
        for (auto it = statusActions_.begin(); it != statusActions_.end(); ++it) {
          if (it->first != text) continue;
          action = std::move(it->second);
          statusActions_.erase(it);
          break;
        }
      }
      if (action) action();
      return 0;
    }
    case WM_OPERATION_PROGRESS:
      Add({HostEvent::Progress, {}, static_cast<long>(lParam)});
      return 0;
    case WM_OPERATION_COMPLETE:
      Add({HostEvent::Complete, {}, 0});
      return 0;
    default:
      return 0;
  }
}

RunOutcome Harness::Run(int operationIndex, int comPort) {
  return RunRecordAsGiven({comPort, operationIndex, hostWindow_, cancel_.get()});
}

RunOutcome Harness::RunRecordAsGiven(RunRecord record) {
  RunOutcome outcome;
  if (!Loaded()) return outcome;
  const std::size_t boxesBefore = ui_->BoxCount();
  const std::size_t dialogsBefore = ui_->DialogCount();
  {
    std::lock_guard lock(mutex_);
    current_ = RunOutcome();
  }
  std::atomic<bool> done{false};
  std::atomic<int> result{-1};
  PFN_DoOperation doOperation = exports_.DoOperation;
  std::thread worker([&] {
    result = doOperation(&record);
    done = true;
    platform::WakeWindowThread(hostWindow_);
  });
  // Pumping blocks in real time only while no message is due: the worker's sends and its
  // end both wake this thread.
  while (!done) platform::PumpMessages(true, INFINITE);
  worker.join();
  platform::PumpMessages(false);  // the completion message posted before the return

  {
    std::lock_guard lock(mutex_);
    outcome = std::move(current_);
    current_ = RunOutcome();
  }
  outcome.result = result;
  outcome.caption = platform::GetWindowText(hostWindow_);
  outcome.cancelSignalled = cancel_.IsSet();
  const auto boxes = ui_->Boxes();
  outcome.boxes.assign(boxes.begin() + static_cast<std::ptrdiff_t>(boxesBefore), boxes.end());
  const auto dialogs = ui_->Dialogs();
  outcome.dialogs.assign(dialogs.begin() + static_cast<std::ptrdiff_t>(dialogsBefore),
                         dialogs.end());
  return outcome;
}

std::shared_ptr<kv70sim::Device> Harness::Simulator() const {
  return kv70sim::LastInstance();
}

std::shared_ptr<kv70sim::Device> Harness::Simulator(const std::string& name) const {
  return kv70sim::FindInstance(name);
}

}  // namespace kv70::e2e
