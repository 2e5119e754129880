#include "host/run_session.h"

#include <atomic>
#include <exception>
#include <string>
#include <thread>

#include "host/give_up.h"
#include "host/interrupts.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace velmora {

namespace {

// How often the main thread looks at Ctrl-C and redraws the elapsed time while nothing
// arrives from the run. This is the host's own pace, not a wait on the device.
constexpr DWORD kPumpSliceMs = 100;

// The host window: created and destroyed on the thread that pumps it.
class HostWindow {
 public:
  explicit HostWindow(platform::WindowProc proc)
      : hwnd_(platform::CreateWindowObject(std::move(proc), "Velmora")) {}
  ~HostWindow() { platform::DestroyWindowObject(hwnd_); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

}  // namespace

RunSession::RunSession(RunFunction run, RunView& view) : run_(std::move(run)), view_(view) {}

int RunSession::Run(const RunRequest& request) {
  completed_ = false;
  cancelRequested_ = false;
  giveUpReason_.clear();
  ProgressWatch watch(giveUpSeconds_);
  watch.Start(platform::GetClock().NowMs());
  platform::Event cancel(true, false);
  // Looked at with every message and every pump slice; the cancel event is the run's
  // own way to stop, so the plug-in ends as it would for the user's Cancel.
  auto giveUpWhenStill = [&] {
    if (cancelRequested_ || !watch.Due(platform::GetClock().NowMs())) return;
    cancelRequested_ = true;
    giveUpReason_ = watch.Reason();
    cancel.Set();
    view_.Notice("velmora: " + giveUpReason_ + " (cancelling the run)");
  };
  // The caption is read before each message is shown, so that a caption set just before
  // a status text is printed above it.
  std::string caption;
  auto followCaption = [&](HWND hwnd) {
    const std::string now = platform::GetWindowText(hwnd);
    if (now != caption) {
      caption = now;
      view_.Caption(now);
    }
  };
  HostWindow window([&](HWND hwnd, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
    switch (msg) {
      case WM_OPERATION_STATUS:
        followCaption(hwnd);
        // The text lives only until this send returns: the view copies it.
        view_.Status(lParam ? reinterpret_cast<const char*>(lParam) : "");
        giveUpWhenStill();
        return 0;
      case WM_OPERATION_PROGRESS:
        followCaption(hwnd);
        view_.Progress(static_cast<long>(lParam));
        watch.Progress(static_cast<long>(lParam), platform::GetClock().NowMs());
        return 0;
      case WM_OPERATION_COMPLETE:
        completed_ = true;
        return 0;
      default:
        return 0;
    }
  });
  RunRecord record{request.comPort, request.operationIndex, window.get(), cancel.get()};

  view_.Start();
  const int interruptsBefore = InterruptCount();
  std::atomic<bool> done{false};
  int result = OPERATION_FAILED;
  std::exception_ptr failure;
  const HWND hwnd = window.get();
  caption = platform::GetWindowText(hwnd);
  std::thread worker([&] {
    try {
      result = run_(record);
    } catch (...) {
      failure = std::current_exception();
    }
    done.store(true);
    platform::WakeWindowThread(hwnd);
  });

  while (!done.load()) {
    platform::PumpMessages(true, kPumpSliceMs);
    followCaption(hwnd);
    if (!cancelRequested_ && InterruptCount() != interruptsBefore) {
      cancelRequested_ = true;
      cancel.Set();
      view_.Notice("Cancelling... (the run stops at its next safe point)");
    }
    giveUpWhenStill();
    view_.Tick();
  }
  worker.join();
  // The completion message was posted just before DoOperation returned.
  platform::PumpMessages(false);
  followCaption(hwnd);
  view_.Finish();
  if (failure) std::rethrow_exception(failure);
  return result;
}

}  // namespace velmora
